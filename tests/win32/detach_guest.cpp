// A DLL of the host's that calls the plug-in's Close from its own DllMain at
// detach, under the loader lock, as a host's clean-up may: when it is
// unloaded with FreeLibrary (CloseAtDetach), or when the process exits
// (CloseAtExit; loaded before the plug-in, it is detached after it, with
// the host's other threads already killed wherever they were).
#include <windows.h>

namespace {
void (*gCloseAtDetach)() = nullptr;
void (*gCloseAtExit)() = nullptr;
}

extern "C" __declspec(dllexport) void __cdecl CloseAtDetach(void (*close)())
{
    gCloseAtDetach = close;
}

extern "C" __declspec(dllexport) void __cdecl CloseAtExit(void (*close)())
{
    gCloseAtExit = close;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason != DLL_PROCESS_DETACH)
        return TRUE;
    if (!reserved && gCloseAtDetach)
        gCloseAtDetach();
    if (reserved && gCloseAtExit)
        gCloseAtExit();
    return TRUE;
}
