#include <new>

#include "framework/module_state.h"
#include "framework/system_files.h"
#include "framework/system_location.h"
#include "plugin/plugin_state.h"

namespace zvk {
namespace {

// Made when the library loads; taken down only when FreeLibrary unloads it,
// never at process exit (framework/module_lifetime.h).
class StateHolder {
public:
    StateHolder() { new (storage_) PluginState; }
    ~StateHolder()
    {
        if (!fw::ProcessExiting())
            Get().~PluginState();
    }
    StateHolder(const StateHolder&) = delete;
    StateHolder& operator=(const StateHolder&) = delete;
    PluginState& Get() { return *std::launder(reinterpret_cast<PluginState*>(storage_)); }

private:
    alignas(PluginState) unsigned char storage_[sizeof(PluginState)];
};

StateHolder gHolder;
PluginState& gState = gHolder.Get();

// How long Close waits for the settings window's thread.
constexpr DWORD kCloseWaitMs = 2000;

// Pixels in the stored format, or 0 when a dimension is 0 or below (their
// product would wrap to a huge count). A 32-bit product, as the host's.
uint32_t PixelCount(const PluginState& state)
{
    if (state.width <= 0 || state.height <= 0)
        return 0;
    return static_cast<uint32_t>(state.width) * static_cast<uint32_t>(state.height);
}

// The kernel the stored format selects, or false for a format left as it is.
bool FrameKernelOf(const PluginState& state, FrameKernel& kernel)
{
    switch (state.colourFormat) {
    case kYuv422:
        kernel = state.yuvVariant == kYuvVariantAveraged ? FrameKernel::kYuvAveraged : FrameKernel::kYuvFirstPixel;
        return true;
    case kBgr24:
        kernel = FrameKernel::kRgb24;
        return true;
    default:
        return false;
    }
}

// The frame plan in one word: SetFormat publishes it whole, so a frame
// never sees half of a change (1280x720 turned 720x1280 read as 1280x1280).
uint64_t Packed(const FramePlan& plan)
{
    return plan.pixels | uint64_t{static_cast<uint8_t>(plan.kernel)} << 32 |
           uint64_t{static_cast<uint8_t>(plan.slices)} << 40;
}

FramePlan Unpacked(uint64_t word)
{
    return {static_cast<uint32_t>(word), static_cast<FrameKernel>(static_cast<uint8_t>(word >> 32)),
            static_cast<uint8_t>(word >> 40)};
}

void CorrectFrame(PluginState& state, uint8_t* pixels)
{
    const FramePlan plan = Unpacked(state.framePlan.load(std::memory_order_acquire));
    if (plan.pixels == 0)
        return;
    // One whole set for the whole frame, every slice of it included.
    const GammaTables::Reader tables(state.tables);
    if (!tables.get())
        return;
    FrameJob job = {state.kernels.load(std::memory_order_acquire), plan.kernel, tables.get(), pixels, plan.pixels};
    if (plan.slices > 1)
        state.slicePool.Run(CorrectFrameSlice, &job, plan.slices);
    else
        CorrectFrameSlice(&job, 0, 1);
}

}  // namespace

PluginState& State()
{
    return gState;
}

void Init(const InitParams* params)
{
    fw::ModuleStateGuard guard;
    gState.store.UsePlatform(&fw::SystemLocation(), &fw::SystemFileSystem());
    // Made at the first Init only: the window's thread and frames may be
    // using the tables right now. Made before the load: a frame beside this
    // Init that enters its section after the load must find the pool to
    // build its tables in, or its later frames would use the zeroed set.
    gState.tables.EnsureAllocated();
    gState.live.Load(fw::ModuleBaseName(fw::OwnModule()), params ? params->sectionCallback : nullptr);
    gState.kernels.store(&BestKernels(), std::memory_order_release);
    // Copied once: a SetFormat beside a later Init reads the speeds.
    if (!gState.speedsKnown.load(std::memory_order_acquire)) {
        gState.speeds = BestKernelSpeeds();
        gState.speedsKnown.store(true, std::memory_order_release);
    }
    gState.slicePool.Reopen();
    gState.running.store(true, std::memory_order_release);
    if (fw::ProcessExiting())
        return;
    // A window opened before: it shows what was loaded, and its curve the
    // tables of that.
    if (const HWND window = gState.dialog.m_hWnd) {
        gState.live.BuildTablesIfNone();
        ::PostMessageA(window, WM_GAMMA_REFRESH, kRefreshAll, 0);
    }
}

int32_t SetFormat(const FrameFormat* format)
{
    fw::ModuleStateGuard guard;
    if (!format)
        return 1;
    gState.width = format->width;
    gState.height = format->height;
    gState.colourFormat = format->colourFormat;
    gState.yuvVariant = format->yuvVariant;
    FrameKernel kernel = FrameKernel::kRgb24;
    const uint32_t pixels = FrameKernelOf(gState, kernel) ? PixelCount(gState) : 0;
    const bool timed = gState.speedsKnown.load(std::memory_order_acquire);
    FramePlan plan = PlanFrames(kernel, pixels, timed ? &gState.speeds : nullptr, fw::ProcessorCount());
    // The workers are made here, never on the frame path, and kept until
    // Close once made; none after Close or at exit. Start keeps idle workers
    // as they are; it replaces those a Run holds, which may be one whose
    // thread the host killed.
    const int threads = gState.slicePool.Threads();
    if (plan.slices > 1 && !fw::ProcessExiting())
        gState.slicePool.Start(plan.slices > threads ? plan.slices : threads);
    const int started = gState.slicePool.Threads();
    plan.slices = plan.slices < started ? plan.slices : started;
    gState.framePlan.store(Packed(plan), std::memory_order_release);
    gState.live.ReserveSections();
    return 1;
}

int32_t Process(const FrameParams* params)
{
    fw::ModuleStateGuard guard;
    // Without its section a frame cannot be corrected safely: treat it like a
    // frame without pixels.
    if (!params || !params->pixels || !params->section)
        return 0;
    const LiveSettings::FrameView view = gState.live.EnterSection(SectionId(*params->section));
    // Posted, never sent, and by the dialog's own poster: the frame path
    // waits neither for the dialog nor for the window system's locks.
    if (view.refreshWindow)
        gState.dialog.RefreshFromAnyThread(static_cast<HWND>(view.refreshWindow));
    if (view.enable && gState.running.load(std::memory_order_acquire))
        CorrectFrame(gState, params->pixels);
    return 1;
}

void NoOp()
{
    fw::ModuleStateGuard guard;
}

void ShowDialog(const DialogParams* params)
{
    fw::ModuleStateGuard guard;
    if (fw::ProcessExiting())
        return;
    // The trackbar class must be registered before the template is made.
    static const INITCOMMONCONTROLSEX kControls = {sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&kControls);
    gState.dialog.Show(params ? static_cast<HWND>(params->hostWindow) : nullptr);
}

void Close()
{
    fw::ModuleStateGuard guard;
    // Frames from now until the next Init are left as they are. The tables
    // stay until the library unloads: a frame still in flight reads them.
    gState.running.store(false, std::memory_order_release);
    // The workers end with the frames; they hold the library until then.
    // No SetFormat beside this one starts new ones until the next Init.
    gState.slicePool.Shut();
    FramePlan plan = Unpacked(gState.framePlan.load(std::memory_order_relaxed));
    plan.slices = 1;
    gState.framePlan.store(Packed(plan), std::memory_order_release);
    if (fw::ProcessExiting()) {
        gState.live.SaveIfFree();
        return;
    }
    // Destroyed first, on its own thread, so the position it stores is saved
    // below; no restore. A window whose thread does not answer stays open,
    // and holds the library until it is destroyed.
    gState.dialog.DestroyFromAnyThread(kCloseWaitMs);
    gState.live.Save();
}

// What the host calls. Memory that runs out in the middle of a call ends
// that call (std::bad_alloc is the only exception our code raises); the
// host never sees it, and the state each step leaves is whole.
template <auto Entry, class... Args>
auto Guarded(Args... args) noexcept
{
    try {
        return Entry(args...);
    } catch (...) {
        return decltype(Entry(args...))();
    }
}

const PluginDescriptor* Descriptor()
{
    // Windows-1251 bytes, spelled out so that the source's own encoding
    // cannot change them.
    static const char kTitle[] = "\xCA\xEE\xF0\xF0\xE5\xEA\xF6\xE8\xFF \xE3\xE0\xEC\xEC\xFB RGB";
    static const char kDescription[] = "\xCA\xEE\xF0\xF0\xE5\xEA\xF6\xE8\xFF \xE3\xE0\xEC\xEC\xFB RGB.";
    static const PluginDescriptor descriptor = {kTitle,           kDescription,     Guarded<Init>,       Guarded<SetFormat>,
                                                Guarded<Process>, Guarded<NoOp>,    Guarded<ShowDialog>, Guarded<Close>};
    return &descriptor;
}

}  // namespace zvk
