#include "app/app_state.h"

unsigned short traceFlags = 0;
