// CWindowCapture: capturing a window or the screen, with the cursor, into a reused DIB section.
#include "recorder/WindowCapture.h"

#include <atomic>
#include <cstring>

namespace {

// The captured area of a window (its client area) or of the screen; the window to read from is
// null for the screen.
bool CaptureArea(HWND hWnd, HWND* pSource, int* pcx, int* pcy) {
    *pSource = nullptr;
    if (hWnd && IsWindow(hWnd)) {
        RECT rc;
        if (!GetClientRect(hWnd, &rc)) return false;
        *pcx = rc.right - rc.left;
        *pcy = rc.bottom - rc.top;
        *pSource = hWnd;
    } else {
        *pcx = GetSystemMetrics(SM_CXSCREEN);
        *pcy = GetSystemMetrics(SM_CYSCREEN);
    }
    return *pcx > 0 && *pcy > 0;
}

// What the screen shows of the area, then the pointer drawn as the arrow whatever its shape, with
// its hot spot on the position.
void CopyArea(HDC hMem, HDC hdc, HWND hSource, int cx, int cy) {
    BitBlt(hMem, 0, 0, cx, cy, hdc, 0, 0, SRCCOPY);
    POINT pt;
    if (!GetCursorPos(&pt)) return;
    HCURSOR hCursor = LoadCursorA(nullptr, IDC_ARROW);
    // The arrow's hot spot does not change while the process runs: it is read once (its two
    // bitmaps are copies made for the asker), kept as x * 65536 + y.
    static std::atomic<long> s_hotspot{-1};
    long hotspot = s_hotspot.load(std::memory_order_relaxed);
    if (hCursor && hotspot < 0) {
        ICONINFO ii;
        if (GetIconInfo(hCursor, &ii)) {
            if (ii.hbmMask) DeleteObject(ii.hbmMask);
            if (ii.hbmColor) DeleteObject(ii.hbmColor);
            hotspot = static_cast<long>((ii.xHotspot & 0xFFFF) << 16 | (ii.yHotspot & 0xFFFF));
            s_hotspot.store(hotspot, std::memory_order_relaxed);
        }
    }
    if (hotspot >= 0) {
        pt.x -= hotspot >> 16;
        pt.y -= hotspot & 0xFFFF;
    }
    if (hSource) ScreenToClient(hSource, &pt);
    if (hCursor) DrawIconEx(hMem, pt.x, pt.y, hCursor, 0, 0, 0, nullptr, DI_NORMAL | DI_COMPAT);
}

}  // namespace

CWindowCapture::CWindowCapture()
    : m_hMemDC(nullptr), m_hBitmap(nullptr), m_hOldBitmap(nullptr), m_pBits(nullptr) {
    std::memset(&m_info, 0, sizeof(m_info));
}

CWindowCapture::~CWindowCapture() {
    Release();
}

void CWindowCapture::Release() {
    if (m_hMemDC) {
        if (m_hOldBitmap) SelectObject(m_hMemDC, m_hOldBitmap);
        DeleteDC(m_hMemDC);
    }
    if (m_hBitmap) DeleteObject(m_hBitmap);
    m_hMemDC = nullptr;
    m_hBitmap = nullptr;
    m_hOldBitmap = nullptr;
    m_pBits = nullptr;
    std::memset(&m_info, 0, sizeof(m_info));
}

bool CWindowCapture::Prepare(HDC hdc, int cx, int cy) {
    if (m_hMemDC && m_info.bmiHeader.biWidth == cx && m_info.bmiHeader.biHeight == -cy) return true;
    Release();
    BITMAPINFO info;
    std::memset(&info, 0, sizeof(info));
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = cx;
    info.bmiHeader.biHeight = -cy;  // top-down, as the screen is read
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    m_hMemDC = CreateCompatibleDC(hdc);
    if (!m_hMemDC) return false;
    m_hBitmap = CreateDIBSection(hdc, &info, DIB_RGB_COLORS, &m_pBits, nullptr, 0);
    if (!m_hBitmap || !m_pBits) {
        Release();
        return false;
    }
    m_hOldBitmap = SelectObject(m_hMemDC, m_hBitmap);
    m_info = info;
    return true;
}

bool CWindowCapture::Capture(HWND hWnd) {
    HWND hSource = nullptr;
    int cx = 0, cy = 0;
    if (!CaptureArea(hWnd, &hSource, &cx, &cy)) return false;
    HDC hdc = GetDC(hSource);
    if (!hdc) return false;
    const bool ok = Prepare(hdc, cx, cy);
    if (ok) CopyArea(m_hMemDC, hdc, hSource, cx, cy);
    ReleaseDC(hSource, hdc);
    return ok;
}

HBITMAP CWindowCapture::CaptureToBitmap(HWND hWnd) {
    HWND hSource = nullptr;
    int cx = 0, cy = 0;
    if (!CaptureArea(hWnd, &hSource, &cx, &cy)) return nullptr;
    HDC hdc = GetDC(hSource);
    if (!hdc) return nullptr;
    HDC hMem = CreateCompatibleDC(hdc);
    HBITMAP hBitmap = hMem ? CreateCompatibleBitmap(hdc, cx, cy) : nullptr;
    if (!hBitmap) {
        if (hMem) DeleteDC(hMem);
        ReleaseDC(hSource, hdc);
        return nullptr;
    }
    HGDIOBJ hOld = SelectObject(hMem, hBitmap);
    CopyArea(hMem, hdc, hSource, cx, cy);
    SelectObject(hMem, hOld);
    DeleteDC(hMem);
    ReleaseDC(hSource, hdc);
    return hBitmap;
}
