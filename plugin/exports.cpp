// The library's two exports, found by name (and ordinal) through ZVK_Gamma.def,
// and its DllMain.
#include "framework/module_state.h"
#include "plugin/exception_records.h"
#include "plugin/plugin_state.h"

#include <cstdlib>

namespace __gnu_cxx {
void __freeres() noexcept;
}

namespace {

// The static C++ runtime keeps a pool for exceptions thrown when memory is
// short, allocated when the library loads and otherwise never given back: a
// host that loads and unloads the library would lose it every time.
struct RuntimeMemory {
    ~RuntimeMemory()
    {
        // Not at process exit (framework/module_lifetime.h).
        if (!zvk::fw::ProcessExiting())
            __gnu_cxx::__freeres();
    }
};
// Destroyed after every static object of ours that was made after it, and
// the runtime's own pool is made before any of them.
const RuntimeMemory gRuntimeMemory;

// The runtime's reserve for exceptions is its first allocation at load.
// Loaded where memory has already run out, the library would have none, and
// its first std::bad_alloc would end the host: it does not load then.
bool MemoryAtLoad()
{
    void* probe = std::malloc(1024);
    const bool had = probe != nullptr;
    std::free(probe);
    return had;
}

}  // namespace

extern "C" {

// The runtime's DllMainCRTStartup calls this before it destroys the static
// objects at detach.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return MemoryAtLoad() && zvk::AttachExceptionRecords();
    case DLL_THREAD_DETACH:
        zvk::ThreadEndsExceptionRecords();
        break;
    case DLL_PROCESS_DETACH:
        zvk::fw::NoteDetach(reserved != nullptr);
        zvk::DetachExceptionRecords();
        break;
    }
    return TRUE;
}

const zvk::PluginDescriptor* __cdecl Zentavio_Plugin_PR()
{
    return zvk::Descriptor();
}

int32_t __cdecl Zentavio_Plugin_Version()
{
    return zvk::kHostInterfaceVersion;
}

}  // extern "C"
