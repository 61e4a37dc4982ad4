// The curve graph of the settings window: the three transfer curves of the
// RGB lookup table drawn into an off-screen bitmap that picture control 5061
// shows. The control repaints from the bitmap by itself; the view redraws
// the bitmap only when the curves change. Windows only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "framework/gdi.h"
#include "framework/window.h"
#include "gamma/gamma_tables.h"

namespace zvk {

enum CurveStyle { kCurveLine = 0, kCurveBars = 1, kCurveDots = 2 };

class CurveView {
public:
    explicit CurveView(fw::CStatic* pControl);
    virtual ~CurveView();
    CurveView(const CurveView&) = delete;
    CurveView& operator=(const CurveView&) = delete;

    // The settings window's graph: the three curves of the RGB table over
    // the background, mixed where they meet, then shown.
    void DrawCurves(const TableSet& tables);

    void Clear(COLORREF colour);
    void PlotTable(const int32_t* table, int count, COLORREF colour, int mixMode, int style, int sampling,
                   int32_t maxValue);
    void DrawPoints(COLORREF colour, int mixMode, int style);
    void Present();

    HBITMAP Bitmap() const { return m_bitmap.GetSafeHandle(); }

private:
    fw::CStatic* m_pControl;
    RECT m_rcClient = {};
    fw::CBitmap m_bitmap;
    int32_t m_nWidth = 0;
    int32_t m_nHeight = 0;
    std::unique_ptr<POINT[]> m_pPoints;
    std::unique_ptr<int32_t[]> m_rows;
};

}  // namespace zvk
