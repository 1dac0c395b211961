// The backend table of authenticated time (engine/nts_backend.h) made of OpenSSL. On
// Windows it is the one export of TavrinoNts.dll; natively the tests call it directly.
#pragma once

#include "engine/nts_backend.h"

#if defined(_WIN32) && defined(TAVRINO_NTS_BUILDING_DLL)
#define TAVRINO_NTS_API __declspec(dllexport)
#else
#define TAVRINO_NTS_API
#endif

extern "C" TAVRINO_NTS_API const NtsBackend* TavrinoNtsBackend(void);
