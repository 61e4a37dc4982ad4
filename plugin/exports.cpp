// The library's two exports, found by name (and ordinal) through ZVK_Gamma.def.
#include "plugin/plugin_state.h"

namespace __gnu_cxx {
void __freeres() noexcept;
}

namespace {

// The static C++ runtime keeps a pool for exceptions thrown when memory is
// short, allocated when the library loads and otherwise never given back: a
// host that loads and unloads the library would lose it every time.
struct RuntimeMemory {
    ~RuntimeMemory() { __gnu_cxx::__freeres(); }
};
// Destroyed after every static object of ours that was made after it, and
// the runtime's own pool is made before any of them.
const RuntimeMemory gRuntimeMemory;

}  // namespace

extern "C" {

const zvk::PluginDescriptor* __cdecl Zentavio_Plugin_PR()
{
    return zvk::Descriptor();
}

int32_t __cdecl Zentavio_Plugin_Version()
{
    return zvk::kHostInterfaceVersion;
}

}  // extern "C"
