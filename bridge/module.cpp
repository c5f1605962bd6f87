// Windows module entry point, compiled only for Windows builds.
//
// The library has nothing to set up or tear down: every notification, process
// and thread attach and detach alike, is answered with success.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
