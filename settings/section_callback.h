// The host's answer to "does this section still exist?", asked by the
// settings store when it saves; C calling convention, the 64-bit identifier
// passed low half first. Its own header, so that the host's records need not
// include the store.
#pragma once

#include <cstdint>

namespace zvk {

using SectionCallback = int32_t (*)(int64_t sectionId);

}  // namespace zvk
