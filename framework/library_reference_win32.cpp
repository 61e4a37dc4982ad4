#include <windows.h>

#include "framework/module_lifetime.h"

namespace zvk::fw {

LibraryReference LibraryReference::Take()
{
    HMODULE module = nullptr;
    LibraryReference reference;
    if (::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&LibraryReference::Take),
                             &module))
        reference.module_ = module;
    return reference;
}

void LibraryReference::LeaveThread()
{
    const auto module = static_cast<HMODULE>(module_);
    module_ = nullptr;
    if (module)
        ::FreeLibraryAndExitThread(module, 0);
    ::ExitThread(0);
}

void LibraryReference::ReleaseUnused()
{
    if (module_)
        ::FreeLibrary(static_cast<HMODULE>(module_));
    module_ = nullptr;
}

}  // namespace zvk::fw
