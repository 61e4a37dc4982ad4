// The library's two exports, found by name (and ordinal) through ZVK_Gamma.def.
#include "plugin/plugin_state.h"

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
