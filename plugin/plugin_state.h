// Host plug-in interface: the library-wide state and the six entry points.
#pragma once

#include <atomic>
#include <cstdint>

#include "dialog/gamma_dialog.h"
#include "framework/slice_pool.h"
#include "gamma/frame_slices.h"
#include "gamma/gamma_tables.h"
#include "gamma/kernels.h"
#include "live/live_settings.h"
#include "plugin/host_records.h"
#include "settings/settings_store.h"

namespace zvk {

struct PluginState {
    SettingsStore store;
    GammaTables tables;
    // Every use of the store and every table request goes through here.
    LiveSettings live{store, tables};
    // The kernels Init chose (the same set at every Init).
    std::atomic<const Kernels*> kernels{&PortableKernels()};
    // How fast the chosen kernels are on one core (measured at Init).
    KernelSpeeds speeds = {};
    fw::SlicePool slicePool;
    // The format as SetFormat stored it, and what a frame needs of it (the
    // kernel, the pixel count, how many slices), published as one word.
    int32_t width = 0;
    int32_t height = 0;
    int32_t colourFormat = 0;
    int32_t yuvVariant = 0;
    std::atomic<uint64_t> framePlan{0};
    // From Init to Close: frames are corrected.
    std::atomic<bool> running{false};
    GammaDialog dialog{live, tables};
};

// The one instance, alive for the library's whole life.
PluginState& State();

void Init(const InitParams* params);
int32_t SetFormat(const FrameFormat* format);
int32_t Process(const FrameParams* params);
void NoOp();
void ShowDialog(const DialogParams* params);
void Close();

const PluginDescriptor* Descriptor();

}  // namespace zvk
