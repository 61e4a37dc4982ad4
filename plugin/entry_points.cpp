#include "framework/module_state.h"
#include "framework/system_files.h"
#include "framework/system_location.h"
#include "plugin/plugin_state.h"

namespace zvk {
namespace {

PluginState gState;

// Pixels in the stored format, or 0 when a dimension is 0 or below (their
// product would wrap to a huge count). A 32-bit product, as the host's.
uint32_t PixelCount(const PluginState& state)
{
    if (state.width <= 0 || state.height <= 0)
        return 0;
    return static_cast<uint32_t>(state.width) * static_cast<uint32_t>(state.height);
}

void CorrectFrame(PluginState& state, uint8_t* pixels)
{
    const uint32_t count = PixelCount(state);
    const GammaTables::Reader tables(state.tables);
    if (!tables.get())
        return;
    switch (state.colourFormat) {
    case kYuv422:
        if (count < 2)
            return;
        if (state.yuvVariant == kYuvVariantAveraged)
            state.kernels.yuvAveraged(pixels, count, tables->yuvDelta);
        else
            state.kernels.yuvFirstPixel(pixels, count, tables->yuvDelta);
        return;
    case kBgr24:
        if (count < 1)
            return;
        state.kernels.rgb24(pixels, count, tables->lut);
        return;
    default:
        return;
    }
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
    gState.store.Load(fw::ModuleBaseName(fw::OwnModule()), params ? params->sectionCallback : nullptr);
    gState.tables.Allocate();
    gState.kernels = BestKernels();
}

int32_t SetFormat(const FrameFormat* format)
{
    fw::ModuleStateGuard guard;
    if (format) {
        gState.width = format->width;
        gState.height = format->height;
        gState.colourFormat = format->colourFormat;
        gState.yuvVariant = format->yuvVariant;
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
    // Posted, never sent: the frame path does not wait for the dialog.
    if (view.refreshWindow)
        ::PostMessageA(static_cast<HWND>(view.refreshWindow), WM_GAMMA_REFRESH, kRefreshAll, 0);
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
    // Destroyed first, so the position it stores is saved below; no restore.
    if (gState.dialog.m_hWnd)
        gState.dialog.DestroyWindow();
    gState.tables.Release();
    gState.store.Save();
}

const PluginDescriptor* Descriptor()
{
    // Windows-1251 bytes, spelled out so that the source's own encoding
    // cannot change them.
    static const char kTitle[] = "\xCA\xEE\xF0\xF0\xE5\xEA\xF6\xE8\xFF \xE3\xE0\xEC\xEC\xFB RGB";
    static const char kDescription[] = "\xCA\xEE\xF0\xF0\xE5\xEA\xF6\xE8\xFF \xE3\xE0\xEC\xEC\xFB RGB.";
    static const PluginDescriptor descriptor = {kTitle, kDescription, Init,       SetFormat,
                                                Process, NoOp,         ShowDialog, Close};
    return &descriptor;
}

}  // namespace zvk
