// Host plug-in interface: the library-wide state and the six entry points.
#pragma once

#include <atomic>
#include <cstdint>

#include "dialog/gamma_dialog.h"
#include "framework/slice_pool.h"
#include "gamma/frame_plan.h"
#include "gamma/frame_slices.h"
#include "gamma/gamma_tables.h"
#include "gamma/kernel_timing.h"
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
    // How fast the chosen kernels are on one core (measured at the first
    // Init, then published by speedsKnown).
    KernelSpeeds speeds = {};
    std::atomic<bool> speedsKnown{false};
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

// What the entry points promise a host, whatever order and threads it uses.
// What holds the library and when each lets go, and why nothing is torn
// down at process exit: framework/module_lifetime.h.
//
// - Any entry point may be called on any thread, beside any other, also
//   twice at once, and from a DllMain of the host's (under the loader lock).
//   None of them waits for a thread of ours, and none waits without a bound
//   for a thread of the host's: a host may kill its threads anywhere, inside
//   one of our calls included, and the calls that come after still return.
// - Process and SetFormat never wait at all: they only try the one lock, and
//   never call the window system or the host's section callback.
// - ShowDialog runs the window on its caller's thread. Init only posts to an
//   open window; Close reaches it from another thread only with messages
//   sent with a timeout.
// - Close is idempotent. It shuts the slice workers, so that a SetFormat
//   beside it starts none until the next Init, and asks the host's callback
//   with no lock of ours held.
// - While the process exits (the host's other threads are dead, perhaps
//   inside the window system or holding our lock) no entry point calls the
//   window system or starts a thread; Close then only saves, and only if our
//   lock is free.
// - Init and Close pair up as the host wants: the tables, the window and
//   the settings store outlive them; only frames and workers stop at Close.

void Init(const InitParams* params);
int32_t SetFormat(const FrameFormat* format);
int32_t Process(const FrameParams* params);
void NoOp();
void ShowDialog(const DialogParams* params);
void Close();

const PluginDescriptor* Descriptor();

}  // namespace zvk
