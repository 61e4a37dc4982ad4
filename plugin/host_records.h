// Host plug-in interface: the descriptor table and the records the host
// passes to the entry points. Layouts are the host's; offsets are checked for
// the 32-bit build, where the host's pointers are four bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/section_callback.h"

namespace zvk {

struct InitParams {
    int32_t reserved;
    SectionCallback sectionCallback;
};

struct FrameFormat {
    int32_t width;
    int32_t height;
    int32_t unused;
    int32_t colourFormat;  // 0 packed YUV 4:2:2, 1 24-bit BGR, else untouched
    int32_t yuvVariant;    // 2 selects the averaged YUV kernel
};

struct SectionInfo {
    int32_t idLow;
    int32_t idHigh;
    int32_t unused;
    char name[1];  // NUL-terminated, stored in the record itself; not used
};

struct FrameParams {
    uint8_t* pixels;
    int32_t unused[10];
    const SectionInfo* section;
};

struct DialogParams {
    void* hostWindow;
};

using InitEntry = void (*)(const InitParams*);
using SetFormatEntry = int32_t (*)(const FrameFormat*);
using ProcessEntry = int32_t (*)(const FrameParams*);
using NoOpEntry = void (*)();
using ShowDialogEntry = void (*)(const DialogParams*);
using CloseEntry = void (*)();

struct PluginDescriptor {
    const char* title;
    const char* description;
    InitEntry init;
    SetFormatEntry setFormat;
    ProcessEntry process;
    NoOpEntry noOp;
    ShowDialogEntry showDialog;
    CloseEntry close;
};

constexpr int32_t kHostInterfaceVersion = 3;

enum ColourFormat { kYuv422 = 0, kBgr24 = 1 };
constexpr int32_t kYuvVariantAveraged = 2;

inline int64_t SectionId(const SectionInfo& info)
{
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(info.idHigh)) << 32) |
                                static_cast<uint32_t>(info.idLow));
}

#if INTPTR_MAX == INT32_MAX
static_assert(offsetof(InitParams, sectionCallback) == 4, "InitParams layout");
static_assert(sizeof(InitParams) == 8, "InitParams layout");
static_assert(offsetof(FrameFormat, colourFormat) == 12, "FrameFormat layout");
static_assert(offsetof(FrameFormat, yuvVariant) == 16, "FrameFormat layout");
static_assert(offsetof(FrameParams, section) == 44, "FrameParams layout");
static_assert(offsetof(SectionInfo, idHigh) == 4, "SectionInfo layout");
static_assert(offsetof(SectionInfo, name) == 12, "SectionInfo layout");
static_assert(offsetof(DialogParams, hostWindow) == 0, "DialogParams layout");
static_assert(sizeof(PluginDescriptor) == 32, "the descriptor is eight 32-bit words");
static_assert(offsetof(PluginDescriptor, init) == 8, "descriptor layout");
static_assert(offsetof(PluginDescriptor, close) == 28, "descriptor layout");
#endif

}  // namespace zvk
