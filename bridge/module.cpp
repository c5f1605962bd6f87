// Windows module entry point, compiled only for Windows builds.
//
// The library has nothing to set up or tear down: every notification, process
// and thread attach and detach alike, is answered with success.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }

#ifdef _WIN64
// x64 code addresses everything relative to the instruction pointer, so the
// library would have no absolute address, and GNU ld then writes no base
// relocation table. Windows moves an image to a random base (ASLR) only if it
// has one, and scanners fail an image flagged DYNAMIC_BASE without it. This
// one address, which nothing reads, gives the table its one entry.
__attribute__((used)) static void const* const relocated_address =
    reinterpret_cast<void const*>(&DllMain);
#endif
