#include "dialog/curve_view.h"

#include <new>

#include "dialog/curve_points.h"

namespace zvk {
namespace {

constexpr COLORREF kBackground = RGB(0, 0, 64);
constexpr COLORREF kChannelColours[3] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255)};
constexpr int32_t kCurveMax = 255;

fw::CDC& Compatible(fw::CDC& memory, const fw::CDC& with)
{
    memory.CreateCompatibleDC(with);
    return memory;
}

// For one drawing operation: the control's client context and a memory
// context compatible with it, the view's bitmap selected into it.
struct BitmapSurface {
    BitmapSurface(HWND control, HBITMAP bitmap) : client(control), selected(Compatible(memory, client), bitmap) {}

    fw::CClientDC client;
    fw::CDC memory;
    fw::SelectScope selected;
};

}  // namespace

CurveView::CurveView(fw::CStatic* pControl) : m_pControl(pControl)
{
    m_pControl->GetClientRect(&m_rcClient);
    m_nWidth = m_rcClient.right - m_rcClient.left;
    m_nHeight = m_rcClient.bottom - m_rcClient.top;
    if (m_nWidth <= 0 || m_nHeight <= 0) {
        // Nothing to draw on: every operation then does nothing.
        m_nWidth = m_nHeight = 0;
        return;
    }
    m_pPoints.reset(new (std::nothrow) POINT[static_cast<size_t>(m_nWidth)]);
    m_rows.reset(new (std::nothrow) int32_t[static_cast<size_t>(m_nWidth)]);
    // Without memory for its points the curve is not drawn.
    if (!m_pPoints || !m_rows)
        return;
    for (int32_t i = 0; i < m_nWidth; ++i)
        m_pPoints[i] = {i, 0};
    fw::CClientDC client(m_pControl->m_hWnd);
    m_bitmap.CreateCompatibleBitmap(client, m_nWidth, m_nHeight);
    Clear(RGB(0, 0, 0));
    m_pControl->SetBitmap(m_bitmap.GetSafeHandle());
}

CurveView::~CurveView()
{
    // The control must stop showing the bitmap before it is deleted.
    m_pControl->SetBitmap(nullptr);
}

void CurveView::DrawCurves(const TableSet& tables)
{
    Clear(kBackground);
    for (int channel = kRed; channel <= kBlue; ++channel)
        PlotTable(tables.lut + 256 * channel, 256, kChannelColours[channel], R2_MERGEPEN, kCurveLine, kSampleLinear,
                  kCurveMax);
    Present();
}

void CurveView::Clear(COLORREF colour)
{
    if (!m_bitmap.GetSafeHandle())
        return;
    BitmapSurface surface(m_pControl->m_hWnd, m_bitmap.GetSafeHandle());
    fw::CBrush brush(colour);
    surface.memory.FillRect(m_rcClient, brush.GetSafeHandle());
}

void CurveView::PlotTable(const int32_t* table, int count, COLORREF colour, int mixMode, int style, int sampling,
                          int32_t maxValue)
{
    if (!m_bitmap.GetSafeHandle() || count < 2)
        return;
    ResampleTable(table, count, m_nWidth, m_nHeight, sampling, maxValue, m_rows.get());
    for (int32_t i = 0; i < m_nWidth; ++i)
        m_pPoints[i].y = m_rows[i];
    DrawPoints(colour, mixMode, style);
}

void CurveView::DrawPoints(COLORREF colour, int mixMode, int style)
{
    if (!m_bitmap.GetSafeHandle() || style < kCurveLine || style > kCurveDots)
        return;
    BitmapSurface surface(m_pControl->m_hWnd, m_bitmap.GetSafeHandle());
    const fw::CDC& memory = surface.memory;
    fw::CPen pen(PS_SOLID, 1, colour);
    fw::SelectScope selectedPen(memory, pen.GetSafeHandle());
    // Logical y counts upward from the bottom row.
    memory.SetMapMode(MM_ANISOTROPIC);
    memory.SetWindowExt(1, 1);
    memory.SetViewportExt(1, -1);
    memory.SetViewportOrg(0, m_nHeight - 1);
    memory.SetROP2(mixMode);
    const POINT* points = m_pPoints.get();
    // A point's own pixel is set plainly, whatever the mix: the system's
    // SetPixel would mix it too.
    const auto setPixel = [&](const POINT& point) {
        memory.SetROP2(R2_COPYPEN);
        memory.SetPixel(point.x, point.y, colour);
        memory.SetROP2(mixMode);
    };
    switch (style) {
    case kCurveLine:
        // The polyline leaves out its last point.
        memory.Polyline(points, m_nWidth);
        setPixel(points[m_nWidth - 1]);
        break;
    case kCurveBars:
        for (int32_t i = 0; i < m_nWidth; ++i) {
            memory.MoveTo(points[i].x, 0);
            memory.LineTo(points[i].x, points[i].y);
            setPixel(points[i]);
        }
        break;
    case kCurveDots:
        for (int32_t i = 0; i < m_nWidth; ++i)
            setPixel(points[i]);
        break;
    }
}

void CurveView::Present()
{
    if (!m_bitmap.GetSafeHandle())
        return;
    BitmapSurface surface(m_pControl->m_hWnd, m_bitmap.GetSafeHandle());
    surface.client.BitBlt(0, 0, m_rcClient.right - m_rcClient.left, m_rcClient.bottom - m_rcClient.top,
                          surface.memory, 0, 0, SRCCOPY);
}

}  // namespace zvk
