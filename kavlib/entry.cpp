// kavlib: the DLL entry point (Windows builds only).
//
// Everything the library needs at load time is done by the main pool's
// static initialiser (kavpool.cpp).  The entry point only turns off the
// per-thread attach and detach notifications, which the library never uses.
#if defined(_WIN32) && !defined(KAVLIB_STATIC)
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        DisableThreadLibraryCalls(module);
    return TRUE;
}
#endif
