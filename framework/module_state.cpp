#include "framework/module_state.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace zvk::fw {
namespace {

// Per thread, like the host's own module state: a guard on one thread must not
// change what another thread's dialogs load.
thread_local HINSTANCE tlsResourceModule = nullptr;

}  // namespace

HINSTANCE OwnModule()
{
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

HINSTANCE ResourceModule()
{
    return tlsResourceModule ? tlsResourceModule : GetModuleHandleA(nullptr);
}

std::string ModuleBaseName(HMODULE module)
{
    char path[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    std::string name(path, length < MAX_PATH ? length : MAX_PATH);
    const size_t slash = name.find_last_of("\\/");
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos)
        name.erase(dot);
    return name;
}

ModuleStateGuard::ModuleStateGuard() : previous_(tlsResourceModule)
{
    tlsResourceModule = OwnModule();
}

ModuleStateGuard::~ModuleStateGuard()
{
    tlsResourceModule = previous_;
}

}  // namespace zvk::fw
