// A DLL of the host's that calls the plug-in's Close from its own DllMain
// when it is unloaded with FreeLibrary: Close then runs under the loader
// lock, as a host's clean-up at detach may run it.
#include <windows.h>

namespace {
void (*gCloseAtDetach)() = nullptr;
}

extern "C" __declspec(dllexport) void __cdecl CloseAtDetach(void (*close)())
{
    gCloseAtDetach = close;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH && !reserved && gCloseAtDetach)
        gCloseAtDetach();
    return TRUE;
}
