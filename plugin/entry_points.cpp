#include "framework/module_state.h"
#include "framework/system_files.h"
#include "framework/system_location.h"
#include "plugin/plugin_state.h"

namespace zvk {
namespace {

PluginState gState;

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

void CorrectFrame(PluginState& state, uint8_t* pixels)
{
    FrameKernel kernel = FrameKernel::kRgb24;
    if (!FrameKernelOf(state, kernel))
        return;
    const uint32_t count = PixelCount(state);
    if (count < (kernel == FrameKernel::kRgb24 ? 1u : 2u))
        return;
    // One whole set for the whole frame, every slice of it included.
    const GammaTables::Reader tables(state.tables);
    if (!tables.get())
        return;
    FrameJob job = {&state.kernels, kernel, tables.get(), pixels, count};
    if (state.slices > 1)
        state.slicePool.Run(CorrectFrameSlice, &job, state.slices);
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
    gState.live.Load(fw::ModuleBaseName(fw::OwnModule()), params ? params->sectionCallback : nullptr);
    gState.tables.Allocate();
    gState.kernels = BestKernels();
    gState.speeds = MeasureKernelSpeeds(gState.kernels);
    // A window opened before: it shows what was loaded, and its curve the
    // tables of that.
    if (const HWND window = gState.dialog.m_hWnd) {
        gState.live.ShowTables();
        ::PostMessageA(window, WM_GAMMA_REFRESH, kRefreshAll, 0);
    }
}

int32_t SetFormat(const FrameFormat* format)
{
    fw::ModuleStateGuard guard;
    if (format) {
        gState.width = format->width;
        gState.height = format->height;
        gState.colourFormat = format->colourFormat;
        gState.yuvVariant = format->yuvVariant;
        // A frame one core corrects within about 1 ms is not split. The
        // workers are made here, never on the frame path, and kept until
        // Close once made.
        FrameKernel kernel = FrameKernel::kRgb24;
        int slices = 1;
        if (FrameKernelOf(gState, kernel))
            slices = SliceCount(gState.speeds.Of(kernel), PixelCount(gState), fw::ProcessorCount());
        if (slices > gState.slicePool.Threads())
            gState.slicePool.Start(slices);
        gState.slices = slices < gState.slicePool.Threads() ? slices : gState.slicePool.Threads();
    }
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
    if (view.enable)
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
    // The trackbar class must be registered before the template is made.
    static const INITCOMMONCONTROLSEX kControls = {sizeof(INITCOMMONCONTROLSEX), ICC_BAR_CLASSES};
    ::InitCommonControlsEx(&kControls);
    gState.dialog.Show(params ? static_cast<HWND>(params->hostWindow) : nullptr);
}

void Close()
{
    fw::ModuleStateGuard guard;
    // Destroyed first, on its own thread, so the position it stores is saved
    // below; no restore. A window whose thread does not answer stays open
    // with its tables, and holds the library until it is destroyed.
    // The workers end with the frames; they hold the library until then.
    gState.slicePool.Stop();
    gState.slices = 1;
    if (gState.dialog.DestroyFromAnyThread(kCloseWaitMs))
        gState.tables.Release();
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
