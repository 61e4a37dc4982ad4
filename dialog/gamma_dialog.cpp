#include "dialog/gamma_dialog.h"

#include <new>

#include "dialog/slider_scale.h"
#include "resources/resource_ids.h"

namespace zvk {
namespace {

constexpr int kFlashMs = 60;
// How long a window thread that answers may take to destroy the window.
constexpr DWORD kDestroyWaitMs = 10000;
// How often the window looks whether it still shows the current section.
constexpr UINT_PTR kSectionTimer = 1;
constexpr UINT kSectionCheckMs = 100;

int32_t GammaOf(const SettingsRecord& record, int channel)
{
    return channel == kRed ? record.RGamma : channel == kGreen ? record.GGamma : record.BGamma;
}

RefreshKind TextKind(int channel)
{
    return static_cast<RefreshKind>(kRefreshRedText + channel);
}

}  // namespace

AboutBox::AboutBox() : CDialog(IDD_ABOUT) {}

GammaDialog::GammaDialog(LiveSettings& live, const GammaTables& tables)
    : CDialog(IDD_GAMMA), m_live(live), m_tables(tables)
{
}

GammaDialog::~GammaDialog() = default;

fw::MessageMap GammaDialog::GetMessageMap() const
{
    static constexpr fw::MessageEntry kMap[] = {
        fw::OnMessage<&GammaDialog::OnClose>(WM_CLOSE),
        fw::OnCommand<&GammaDialog::OnCancelButton>(IDC_CANCEL),
        fw::OnCommand<&GammaDialog::OnOkButton>(IDC_OK),
        fw::OnCommand<&GammaDialog::OnAbout>(IDC_ABOUT),
        fw::OnMessage<&GammaDialog::OnDestroy>(WM_DESTROY),
        fw::OnHScroll<&GammaDialog::OnHScroll>(),
        fw::OnCommand<&GammaDialog::OnLink>(IDC_LINK),
        fw::OnCommand<&GammaDialog::OnDefaults>(IDC_DEFAULTS),
        fw::OnCommand<&GammaDialog::OnEnableBox>(IDC_ON),
        fw::OnPrivateMessage<&GammaDialog::OnRefresh>(WM_GAMMA_REFRESH),
        fw::OnPrivateMessage<&GammaDialog::OnDestroyRequest>(WM_GAMMA_DESTROY),
        fw::OnPrivateMessage<&GammaDialog::OnTimer>(WM_TIMER),
    };
    return fw::MapOf(kMap);
}

void GammaDialog::DoDataExchange(fw::DataExchange& exchange)
{
    exchange.Control(IDC_ON, m_chkOn);
    exchange.Control(IDC_OK, m_btnOk);
    exchange.Control(IDC_DEFAULTS, m_btnDefaults);
    exchange.Control(IDC_LINK, m_chkLink);
    exchange.Control(IDC_CURVE, m_curvePicture);
    exchange.Control(IDC_TEXT_RED, m_txtRed);
    exchange.Control(IDC_TEXT_BLUE, m_txtBlue);
    exchange.Control(IDC_SLIDER_RED, m_sldRed);
    exchange.Control(IDC_SLIDER_BLUE, m_sldBlue);
    exchange.Control(IDC_TEXT_GREEN, m_txtGreen);
    exchange.Control(IDC_SLIDER_GREEN, m_sldGreen);
}

void GammaDialog::Show(HWND hostWindow)
{
    if (m_hWnd && !ForgetLostWindow()) {
        SetFocus();
        FlashCaption(2);
        return;
    }
    // A window that failed to open leaves the host attached; attach anew.
    m_hostWnd.Attach(hostWindow);
    if (Create(&m_hostWnd))
        ShowWindow(SW_SHOW);
}

void GammaDialog::FlashCaption(int n)
{
    int toggles = 0;
    do {
        FlashWindow(TRUE);
        ::Sleep(kFlashMs);
    } while (++toggles < 2 * n);
}

bool GammaDialog::DestroyFromAnyThread(DWORD timeoutMs)
{
    const HWND window = m_hWnd;
    if (!window || ForgetLostWindow())
        return true;
    if (::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId()) {
        DestroyWindow();
        return true;
    }
    // A thread that does not take messages (hung, suspended, gone) leaves
    // the window as it is; it keeps the library loaded by itself. One that
    // answers gets longer for the destruction itself, which may wait for
    // the display (a window manager's word that the window is gone).
    DWORD_PTR unused = 0;
    if (::SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, timeoutMs, &unused))
        ::SendMessageTimeoutA(window, WM_GAMMA_DESTROY, 0, 0, SMTO_NORMAL, kDestroyWaitMs, &unused);
    return !::IsWindow(window);
}

LRESULT GammaDialog::OnDestroyRequest(WPARAM, LPARAM)
{
    DestroyWindow();
    return 0;
}

BOOL GammaDialog::OnInitDialog()
{
    PlaceWindow();
    m_live.TakeSnapshot();
    m_pCurveView.reset(new (std::nothrow) CurveView(&m_curvePicture));
    for (const fw::CSliderCtrl* slider : {&m_sldRed, &m_sldGreen, &m_sldBlue})
        slider->SetRange(kSliderMin, kSliderMax, TRUE);
    // Page size 0: a click into the channel or Page Up/Down moves nothing.
    for (const fw::CSliderCtrl* slider : {&m_sldRed, &m_sldGreen, &m_sldBlue})
        slider->SetPageSize(0);
    m_refreshPoster.Start();
    m_live.SetRefreshWindow(m_hWnd);
    m_sectionShown = false;
    SetTimer(kSectionTimer, kSectionCheckMs);
    Post(kRefreshAll);
    return TRUE;
}

// The stored position, or centred over the host window when there is none,
// it lies right of or below the screen, or the window would not touch any
// monitor there (one since unplugged), then kept on the screen.
void GammaDialog::PlaceWindow()
{
    const DialogPos stored = m_live.GetDialogPos();
    int x = stored.x;
    int y = stored.y;
    const int screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
    const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN);
    RECT own = {};
    GetWindowRect(&own);
    const int width = own.right - own.left;
    const int height = own.bottom - own.top;
    // Tested last: x and y are below the screen's size then, so the far
    // edges cannot overflow.
    const auto outOfReach = [&] {
        const RECT there = {x, y, x + width, y + height};
        return ::MonitorFromRect(&there, MONITOR_DEFAULTTONULL) == nullptr;
    };
    if ((x == kNoDialogPos && y == kNoDialogPos) || x >= screenWidth || y >= screenHeight || outOfReach()) {
        RECT host = {};
        m_hostWnd.GetWindowRect(&host);
        x = own.left + (host.left + host.right) / 2 - (own.left + own.right) / 2;
        y = own.top + (host.top + host.bottom) / 2 - (own.top + own.bottom) / 2;
        if (x + width >= screenWidth)
            x = screenWidth - width;
        if (y + height >= screenHeight)
            y = screenHeight - height;
        if (x < 0)
            x = 0;
        if (y < 0)
            y = 0;
    }
    SetWindowPos(nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

void GammaDialog::OnOkButton()
{
    DestroyWindow();
}

// Handled here rather than through a posted WM_CLOSE, which a full queue
// would lose: the window would stay, and Close would save what was cancelled.
void GammaDialog::OnCancelButton()
{
    OnClose();
}

void GammaDialog::OnClose()
{
    // Every section back to the opening, the tables with them.
    m_live.RestoreSnapshot();
    DestroyWindow();
}

void GammaDialog::OnAbout()
{
    // Modal to the host: its top-level window is disabled while the box
    // runs, as under any modal box, and so is this window, so that the box
    // cannot be opened twice. The host may still destroy its window and
    // unload the library from inside the loop: the windows' references to
    // the library are let go only once no code of ours runs, so it stays
    // until the loop has returned through here.
    HWND owner = m_hostWnd.m_hWnd ? ::GetAncestor(m_hostWnd.m_hWnd, GA_ROOT) : nullptr;
    if (!owner)
        owner = m_hWnd;
    const HWND self = m_hWnd;
    if (owner != self)
        EnableWindow(FALSE);
    m_aboutBox.DoModal(owner);
    if (owner != self && ::IsWindow(self) && m_hWnd == self) {
        EnableWindow(TRUE);
        // The system activates the box's owner when the box ends.
        ::SetActiveWindow(self);
    }
}

void GammaDialog::OnDestroy()
{
    // Owned by the host's window, the About box would outlive this one.
    if (m_aboutBox.m_hWnd)
        ::EndDialog(m_aboutBox.m_hWnd, IDCANCEL);
    RECT rect = {};
    GetWindowRect(&rect);
    m_live.SetDialogPos(rect.left, rect.top);
    LetGoOfWindowParts();
    Default();
}

void GammaDialog::OnWindowLost()
{
    // Its position went with it; so did the About box, on the same thread.
    m_aboutBox.ForgetLostWindow();
    LetGoOfWindowParts();
}

// What the open window holds besides its handle: the frames' refresh
// target, the poster thread, the curve's bitmap.
void GammaDialog::LetGoOfWindowParts()
{
    m_live.SetRefreshWindow(nullptr);
    m_refreshPoster.Stop();
    m_pCurveView.reset();
}

void GammaDialog::PostNcDestroy()
{
    m_hostWnd.Detach();
}

const fw::CSliderCtrl& GammaDialog::Slider(int channel) const
{
    return channel == kRed ? m_sldRed : channel == kGreen ? m_sldGreen : m_sldBlue;
}

void GammaDialog::OnHScroll(UINT, UINT, HWND scrollBar)
{
    // Every notification counts, each step of a drag included; the position
    // is read from the slider, not taken from the message.
    int moved = -1;
    for (int channel = kRed; channel <= kBlue && moved < 0; ++channel) {
        if (Slider(channel).m_hWnd == scrollBar)
            moved = channel;
    }
    if (moved >= 0) {
        const fw::CSliderCtrl& slider = Slider(moved);
        const bool linked = m_live.MoveGamma(moved, PositionToGamma(slider.GetPos()));
        Post(TextKind(moved));
        for (int other = kRed; linked && other <= kBlue; ++other) {
            if (other == moved)
                continue;
            Slider(other).SetPos(slider.GetPos());
            Post(TextKind(other));
        }
    }
    Post(kRefreshCurve);
    Default();
}

void GammaDialog::OnLink()
{
    const int binding = m_chkLink.GetCheck();
    m_live.SetBinding(binding);
    if (binding == BST_UNCHECKED)
        return;
    const int position = (m_sldGreen.GetPos() + m_sldBlue.GetPos() + m_sldRed.GetPos()) / 3;
    for (const fw::CSliderCtrl* slider : {&m_sldRed, &m_sldGreen, &m_sldBlue})
        slider->SetPos(position);
    m_live.SetAllGammas(PositionToGamma(position));
    Post(kRefreshRedText);
    Post(kRefreshGreenText);
    Post(kRefreshBlueText);
    Post(kRefreshCurve);
}

void GammaDialog::OnDefaults()
{
    // The snapshot stays: Cancel still returns to the opening.
    m_live.ResetToDefaults();
    Post(kRefreshAll);
}

void GammaDialog::OnEnableBox()
{
    m_live.SetEnable(m_chkOn.GetCheck());
    Post(kRefreshEnabling);
}

LRESULT GammaDialog::OnRefresh(WPARAM kind, LPARAM)
{
    if (kind > kRefreshEnabling)
        return 1;
    const uint32_t sectionChanges = m_live.SectionChanges();
    const SettingsRecord live = m_live.Current();
    const auto wants = [kind](RefreshKind step) { return kind == kRefreshAll || kind == step; };
    if (kind == kRefreshAll) {
        m_sectionShown = true;
        m_shownSectionChanges = sectionChanges;
        for (int channel = kRed; channel <= kBlue; ++channel)
            Slider(channel).SetPos(PositionOfGamma(GammaOf(live, channel)));
        m_chkLink.SetCheck(live.Binding ? BST_CHECKED : BST_UNCHECKED);
        m_chkOn.SetCheck(live.Enable ? BST_CHECKED : BST_UNCHECKED);
    }
    const fw::CStatic* texts[3] = {&m_txtRed, &m_txtGreen, &m_txtBlue};
    for (int channel = kRed; channel <= kBlue; ++channel) {
        if (wants(TextKind(channel))) {
            char text[kGammaTextSize];
            FormatGamma(GammaOf(live, channel), text);
            texts[channel]->SetWindowText(text);
        }
    }
    if (wants(kRefreshCurve))
        DrawCurves();
    if (wants(kRefreshEnabling)) {
        const BOOL enable = live.Enable ? TRUE : FALSE;
        const fw::CWnd* const switched[] = {&m_sldRed, &m_sldGreen, &m_sldBlue, &m_chkLink};
        for (const fw::CWnd* control : switched)
            control->EnableWindow(enable);
    }
    return 1;
}

// The frame path asks for a refresh after a section switch through the
// poster, which may lack its thread or event, and a post may find the queue
// full. The timer needs neither (WM_TIMER is made when the queue is read):
// a window still showing an earlier section catches up here.
LRESULT GammaDialog::OnTimer(WPARAM id, LPARAM)
{
    if (id == kSectionTimer && (!m_sectionShown || m_live.SectionChanges() != m_shownSectionChanges))
        OnRefresh(kRefreshAll, 0);
    return 0;
}

// The curves of the tables frames are corrected with: one whole published
// set, held while it is drawn.
void GammaDialog::DrawCurves()
{
    if (!m_pCurveView)
        return;
    const GammaTables::Reader tables(m_tables);
    if (!tables.get())
        return;
    m_pCurveView->DrawCurves(*tables.get());
}

}  // namespace zvk
