// Painting: invalidation, the coalesced WM_PAINT's BeginPaint and EndPaint (drawing confined to
// the invalid region itself), and the contexts of windows and of the screen.
#include <algorithm>

#include "platform/system/ui/Gdi.h"
#include "platform/system/ui/User.h"
#include "platform/system/ui/UserInternal.h"

namespace lumacap::ui {
namespace {

// What a window drew reaches the display through its top-level window's picture.
void ContentChangedOf(HWND hwnd) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hwnd);
    if (w && w->Local()) u.backend->ContentChanged(u.TopLevelOfL(w)->handle);
}

}  // namespace
}  // namespace lumacap::ui

using namespace lumacap::ui;

BOOL WINAPI InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    if (!hWnd) {
        for (Window* w : u.topLevels) u.InvalidateL(w, nullptr, bErase != FALSE);
        return TRUE;
    }
    Window* w = u.FindL(hWnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    u.InvalidateL(w, lpRect, bErase != FALSE);
    return TRUE;
}

BOOL WINAPI ValidateRect(HWND hWnd, const RECT* lpRect) {
    return WithWindow(hWnd, FALSE, [&](UserState&, Window& w) {
        if (lpRect) {
            w.update.Subtract(*lpRect);
        } else {
            w.update.Clear();
        }
        if (w.update.Empty()) {
            w.erase = false;
            auto& d = w.queue->dirty;
            d.erase(std::remove(d.begin(), d.end(), hWnd), d.end());
        }
        return TRUE;
    });
}

BOOL WINAPI GetUpdateRect(HWND hWnd, LPRECT lpRect, BOOL) {
    return WithWindow(hWnd, FALSE, [&](UserState&, Window& w) {
        if (lpRect) *lpRect = w.update.Bounds();
        return w.update.Empty() ? FALSE : TRUE;
    });
}

BOOL WINAPI UpdateWindow(HWND hWnd) {
    const int state = WithWindow(hWnd, -1, [](UserState& u, Window& w) {
        return w.update.Empty() || !u.VisibleOnScreenL(&w) ? 0 : 1;
    });
    if (state < 0) return FALSE;
    if (state > 0) SendMessageA(hWnd, WM_PAINT, 0, 0);
    return TRUE;
}

HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint) {
    if (!lpPaint) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    RECT rc{0, 0, 0, 0};
    bool erase = false;
    std::shared_ptr<Surface> surface;
    std::vector<RECT> region;
    const bool found = WithWindow(hWnd, false, [&](UserState&, Window& w) {
        const RECT client{0, 0, w.ClientWidth(), w.ClientHeight()};
        for (const RECT& r : w.update.Rects()) {
            const RECT c = Intersection(r, client);
            if (!EmptyRect(c)) region.push_back(c);
        }
        const RECT b = w.update.Bounds();
        if (!IntersectRect(&rc, &b, &client)) rc = RECT{0, 0, 0, 0};
        erase = w.erase;
        w.update.Clear();
        w.erase = false;
        auto& d = w.queue->dirty;
        d.erase(std::remove(d.begin(), d.end(), hWnd), d.end());
        surface = w.surface;
        return true;
    });
    if (!found) return nullptr;
    HDC hdc = CreateWindowDC(hWnd, std::move(surface), rc, true);
    // The paint reaches only the invalid region, not all of its bounding box.
    if (hdc && region.size() > 1) LimitToRegion(hdc, region);
    *lpPaint = PAINTSTRUCT{};
    lpPaint->hdc = hdc;
    lpPaint->rcPaint = rc;
    if (erase && hdc)
        lpPaint->fErase =
            SendMessageA(hWnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0) ? FALSE : TRUE;
    return hdc;
}

BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint) {
    if (!lpPaint) return FALSE;
    ReleaseWindowDC(lpPaint->hdc);
    ContentChangedOf(hWnd);
    return TRUE;
}

HDC WINAPI GetDC(HWND hWnd) {
    UserState& u = UserState::Get();
    std::shared_ptr<Surface> surface;
    RECT clip{0, 0, 0, 0};
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        if (hWnd == u.desktopWindow.handle)
            hWnd = nullptr;  // the desktop's context is the screen's
        if (!hWnd) {
            surface = u.desktop;
            clip = RECT{0, 0, u.screenWidth, u.screenHeight};
        } else {
            Window* w = u.FindL(hWnd);
            if (!w) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
            // Another program's window can be read (what the screen shows of it), not drawn on.
            surface = w->surface;
            clip = RECT{0, 0, w->ClientWidth(), w->ClientHeight()};
        }
    }
    return CreateWindowDC(hWnd, std::move(surface), clip, false);
}

int WINAPI ReleaseDC(HWND hWnd, HDC hDC) {
    if (!ReleaseWindowDC(hDC)) return 0;
    if (hWnd) ContentChangedOf(hWnd);
    return 1;
}
