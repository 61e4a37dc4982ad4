// Window framework: owners of GDI objects for one drawing operation. None
// can be copied (a copy would delete the object twice); a select puts back
// what it replaced. Windows only.
#pragma once

#include <windows.h>

#include <utility>

namespace zvk::fw {

// A device context that is deleted with its owner (a memory context).
class CDC {
public:
    CDC() = default;
    ~CDC()
    {
        if (m_hDC)
            ::DeleteDC(m_hDC);
    }
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    void Attach(HDC dc) { m_hDC = dc; }
    BOOL CreateCompatibleDC(const CDC& other)
    {
        m_hDC = ::CreateCompatibleDC(other.m_hDC);
        return m_hDC != nullptr;
    }

    HGDIOBJ GetCurrentObject(UINT type) const { return ::GetCurrentObject(m_hDC, type); }
    int SetMapMode(int mode) const { return ::SetMapMode(m_hDC, mode); }
    BOOL SetWindowExt(int x, int y) const { return ::SetWindowExtEx(m_hDC, x, y, nullptr); }
    BOOL SetViewportExt(int x, int y) const { return ::SetViewportExtEx(m_hDC, x, y, nullptr); }
    BOOL SetViewportOrg(int x, int y) const { return ::SetViewportOrgEx(m_hDC, x, y, nullptr); }
    int SetROP2(int mode) const { return ::SetROP2(m_hDC, mode); }
    BOOL Polyline(const POINT* points, int count) const { return ::Polyline(m_hDC, points, count); }
    BOOL MoveTo(int x, int y) const { return ::MoveToEx(m_hDC, x, y, nullptr); }
    BOOL LineTo(int x, int y) const { return ::LineTo(m_hDC, x, y); }
    COLORREF SetPixel(int x, int y, COLORREF colour) const { return ::SetPixel(m_hDC, x, y, colour); }
    int FillRect(const RECT& rect, HBRUSH brush) const { return ::FillRect(m_hDC, &rect, brush); }
    BOOL BitBlt(int x, int y, int cx, int cy, const CDC& source, int sx, int sy, DWORD rop) const
    {
        return ::BitBlt(m_hDC, x, y, cx, cy, source.m_hDC, sx, sy, rop);
    }

    HDC m_hDC = nullptr;
};

// The client area of a window, released (not deleted) at the end.
class CClientDC : public CDC {
public:
    explicit CClientDC(HWND window) : window_(window) { m_hDC = ::GetDC(window); }
    ~CClientDC()
    {
        ::ReleaseDC(window_, m_hDC);
        m_hDC = nullptr;
    }

private:
    HWND window_;
};

// One GDI object, deleted with its owner; movable, not copyable.
template <class Handle>
class GdiObject {
public:
    GdiObject() = default;
    ~GdiObject() { DeleteObject(); }
    GdiObject(const GdiObject&) = delete;
    GdiObject& operator=(const GdiObject&) = delete;
    GdiObject(GdiObject&& other) noexcept : m_hObject(std::exchange(other.m_hObject, nullptr)) {}
    GdiObject& operator=(GdiObject&& other) noexcept
    {
        if (this != &other) {
            DeleteObject();
            m_hObject = std::exchange(other.m_hObject, nullptr);
        }
        return *this;
    }

    Handle GetSafeHandle() const { return m_hObject; }
    void DeleteObject()
    {
        if (m_hObject)
            ::DeleteObject(m_hObject);
        m_hObject = nullptr;
    }

protected:
    Handle m_hObject = nullptr;
};

class CBitmap : public GdiObject<HBITMAP> {
public:
    BOOL CreateCompatibleBitmap(const CDC& dc, int width, int height)
    {
        DeleteObject();
        m_hObject = ::CreateCompatibleBitmap(dc.m_hDC, width, height);
        return m_hObject != nullptr;
    }
};

class CBrush : public GdiObject<HBRUSH> {
public:
    explicit CBrush(COLORREF colour) { m_hObject = ::CreateSolidBrush(colour); }
};

class CPen : public GdiObject<HPEN> {
public:
    CPen(int style, int width, COLORREF colour) { m_hObject = ::CreatePen(style, width, colour); }
};

// Selects an object into a context and puts the one it replaced back.
class SelectScope {
public:
    SelectScope(const CDC& dc, HGDIOBJ object) : dc_(dc.m_hDC), previous_(::SelectObject(dc_, object)) {}
    ~SelectScope()
    {
        if (previous_)
            ::SelectObject(dc_, previous_);
    }
    SelectScope(const SelectScope&) = delete;
    SelectScope& operator=(const SelectScope&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

}  // namespace zvk::fw
