// The DLL's entry. OpenSSL, linked in statically, keeps state for each thread that
// used it (its error queue, its caches); its own DLL would free that when a thread
// ends, and so does this one: each query runs on a thread of its own.
#include <windows.h>

#include <openssl/crypto.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_THREAD_DETACH) OPENSSL_thread_stop();
    return TRUE;
}
