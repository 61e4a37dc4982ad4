// The settings window: a modeless dialog over the host's window with three
// logarithmic sliders, the curve graph, the link and On boxes, Defaults,
// OK, Cancel and the About box. It keeps no copy of the settings: it reads
// and writes the live settings, which rebuild the tables, so the next frame
// is corrected with what the user set. Windows only; calls the framework's
// window layer, the live settings, the tables (for the curve) and the
// portable slider scale.
#pragma once

#include <memory>

#include "dialog/curve_view.h"
#include "framework/poster.h"
#include "framework/window.h"
#include "live/live_settings.h"

namespace zvk {

// Private message that brings the controls up to date; wParam a RefreshKind.
constexpr UINT WM_GAMMA_REFRESH = WM_USER + 400;
// Private message that asks the window to destroy itself: only its own
// thread can.
constexpr UINT WM_GAMMA_DESTROY = WM_USER + 401;

enum RefreshKind { kRefreshAll = 0, kRefreshRedText, kRefreshGreenText, kRefreshBlueText, kRefreshCurve,
                   kRefreshEnabling };

class AboutBox : public fw::CDialog {
public:
    AboutBox();
};

class GammaDialog : public fw::CDialog {
public:
    GammaDialog(LiveSettings& live, const GammaTables& tables);
    ~GammaDialog() override;

    // Opens the window over the host's, or brings an open one forward. A
    // window lost with its thread counts as closed.
    void Show(HWND hostWindow);
    // Toggles the caption 2 * n times, 60 ms apart (at least once).
    void FlashCaption(int n);
    // Destroys the window from any thread, on the thread that owns it, as
    // OK does (the position is stored, nothing restored). Waits at most
    // timeoutMs for that thread; false when the window is still open then.
    // A window lost with its thread is let go of here.
    bool DestroyFromAnyThread(DWORD timeoutMs);
    // Asks the window to refresh everything, from a thread that must never
    // wait (the frame path): a thread of the window's own posts it.
    void RefreshFromAnyThread(HWND window) { m_refreshPoster.Post(window, WM_GAMMA_REFRESH, kRefreshAll); }

    fw::CWnd m_hostWnd;

protected:
    fw::MessageMap GetMessageMap() const override;
    void DoDataExchange(fw::DataExchange& exchange) override;
    BOOL OnInitDialog() override;
    // The dialog keys do nothing: only OK, Cancel and the close box end it.
    void OnOK() override {}
    void OnCancel() override {}
    void PostNcDestroy() override;
    void OnWindowLost() override;

private:
    void OnOkButton();
    void OnCancelButton();
    void OnAbout();
    void OnClose();
    void OnDestroy();
    LRESULT OnDestroyRequest(WPARAM, LPARAM);
    void OnHScroll(UINT code, UINT position, HWND scrollBar);
    void OnLink();
    void OnDefaults();
    void OnEnableBox();
    LRESULT OnRefresh(WPARAM kind, LPARAM);
    LRESULT OnTimer(WPARAM id, LPARAM);

    void LetGoOfWindowParts();
    void PlaceWindow();
    void Post(RefreshKind kind) const { PostMessage(WM_GAMMA_REFRESH, kind); }
    void DrawCurves();
    const fw::CSliderCtrl& Slider(int channel) const;

    LiveSettings& m_live;
    const GammaTables& m_tables;

    fw::Poster m_refreshPoster;
    // The section changes the controls show the values of (see OnTimer).
    bool m_sectionShown = false;
    uint32_t m_shownSectionChanges = 0;
    AboutBox m_aboutBox;
    std::unique_ptr<CurveView> m_pCurveView;
    fw::CButton m_chkOn;
    fw::CButton m_btnOk;
    fw::CButton m_btnDefaults;
    fw::CButton m_chkLink;
    fw::CStatic m_curvePicture;
    fw::CStatic m_txtRed;
    fw::CStatic m_txtBlue;
    fw::CSliderCtrl m_sldRed;
    fw::CSliderCtrl m_sldBlue;
    fw::CStatic m_txtGreen;
    fw::CSliderCtrl m_sldGreen;
};

}  // namespace zvk
