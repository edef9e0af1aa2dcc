// Rectangle arithmetic, the system's metrics and colours, and the frame arithmetic of
// AdjustWindowRect.
#include <algorithm>

#include "platform/system/ui/User.h"
#include "platform/system/ui/UserInternal.h"

using namespace lumacap::ui;

// ---- rectangles ----

BOOL WINAPI SetRect(LPRECT r, int l, int t, int rr, int b) {
    if (!r) return FALSE;
    *r = RECT{l, t, rr, b};
    return TRUE;
}
BOOL WINAPI SetRectEmpty(LPRECT r) {
    return SetRect(r, 0, 0, 0, 0);
}
BOOL WINAPI CopyRect(LPRECT d, const RECT* s) {
    if (!d || !s) return FALSE;
    *d = *s;
    return TRUE;
}
BOOL WINAPI IsRectEmpty(const RECT* r) {
    return !r || r->right <= r->left || r->bottom <= r->top;
}
BOOL WINAPI PtInRect(const RECT* r, POINT pt) {
    return r && pt.x >= r->left && pt.x < r->right && pt.y >= r->top && pt.y < r->bottom;
}
BOOL WINAPI InflateRect(LPRECT r, int dx, int dy) {
    if (!r) return FALSE;
    r->left -= dx;
    r->right += dx;
    r->top -= dy;
    r->bottom += dy;
    return TRUE;
}
BOOL WINAPI OffsetRect(LPRECT r, int dx, int dy) {
    if (!r) return FALSE;
    r->left += dx;
    r->right += dx;
    r->top += dy;
    r->bottom += dy;
    return TRUE;
}
BOOL WINAPI IntersectRect(LPRECT d, const RECT* a, const RECT* b) {
    if (!d || !a || !b) return FALSE;
    *d = Intersection(*a, *b);
    return IsRectEmpty(d) ? FALSE : TRUE;
}
BOOL WINAPI UnionRect(LPRECT d, const RECT* a, const RECT* b) {
    if (!d || !a || !b) return FALSE;
    if (IsRectEmpty(a)) {
        *d = IsRectEmpty(b) ? RECT{0, 0, 0, 0} : *b;
    } else if (IsRectEmpty(b)) {
        *d = *a;
    } else {
        *d = RECT{std::min(a->left, b->left), std::min(a->top, b->top),
                  std::max(a->right, b->right), std::max(a->bottom, b->bottom)};
    }
    return IsRectEmpty(d) ? FALSE : TRUE;
}
BOOL WINAPI EqualRect(const RECT* a, const RECT* b) {
    return a && b && a->left == b->left && a->top == b->top && a->right == b->right &&
           a->bottom == b->bottom;
}

// ---- system metrics and colours ----

int WINAPI GetSystemMetrics(int nIndex) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    switch (nIndex) {
        case SM_CXSCREEN:
            return u.screenWidth;
        case SM_CYSCREEN:
            return u.screenHeight;
        case SM_XVIRTUALSCREEN:
            return u.virtualScreen.left;
        case SM_YVIRTUALSCREEN:
            return u.virtualScreen.top;
        case SM_CXVIRTUALSCREEN:
            return u.virtualScreen.right - u.virtualScreen.left;
        case SM_CYVIRTUALSCREEN:
            return u.virtualScreen.bottom - u.virtualScreen.top;
        case SM_CXBORDER:
        case SM_CYBORDER:
        case SM_CXFRAME:
        case SM_CYFRAME:
            return 1;
        case SM_CYCAPTION:
            return 20;
        case SM_CXICON:
        case SM_CYICON:
        case SM_CXCURSOR:
        case SM_CYCURSOR:
            return 32;
        case SM_CXDOUBLECLK:
        case SM_CYDOUBLECLK:
            return 4;
        case SM_CXDRAG:
        case SM_CYDRAG:
            return 4;
        case SM_CXMIN:
            return 112;
        case SM_CYMIN:
            return 27;
        case SM_CMONITORS:
            return 1;
        default:
            return 0;
    }
}

UINT WINAPI GetDoubleClickTime() {
    return 500;
}

BOOL WINAPI AdjustWindowRectEx(LPRECT lpRect, DWORD dwStyle, BOOL, DWORD dwExStyle) {
    if (!lpRect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // The frame USER gives a window of this style (menus are not drawn here: they add nothing).
    Window probe;
    probe.style = dwStyle;
    probe.exStyle = dwExStyle;
    const RECT in = probe.Insets();
    lpRect->left -= in.left;
    lpRect->top -= in.top;
    lpRect->right += in.right;
    lpRect->bottom += in.bottom;
    return TRUE;
}

BOOL WINAPI AdjustWindowRect(LPRECT lpRect, DWORD dwStyle, BOOL bMenu) {
    return AdjustWindowRectEx(lpRect, dwStyle, bMenu, 0);
}

DWORD WINAPI GetSysColor(int nIndex) {
    static const COLORREF kColors[] = {
        RGB(200, 200, 200),  // COLOR_SCROLLBAR
        RGB(58, 110, 165),   // COLOR_BACKGROUND
        RGB(153, 180, 209),  // COLOR_ACTIVECAPTION
        RGB(191, 205, 219),  // COLOR_INACTIVECAPTION
        RGB(240, 240, 240),  // COLOR_MENU
        RGB(255, 255, 255),  // COLOR_WINDOW
        RGB(100, 100, 100),  // COLOR_WINDOWFRAME
        RGB(0, 0, 0),        // COLOR_MENUTEXT
        RGB(0, 0, 0),        // COLOR_WINDOWTEXT
        RGB(0, 0, 0),        // COLOR_CAPTIONTEXT
        RGB(180, 180, 180),  // COLOR_ACTIVEBORDER
        RGB(244, 247, 252),  // COLOR_INACTIVEBORDER
        RGB(171, 171, 171),  // COLOR_APPWORKSPACE
        RGB(0, 120, 215),    // COLOR_HIGHLIGHT
        RGB(255, 255, 255),  // COLOR_HIGHLIGHTTEXT
        RGB(240, 240, 240),  // COLOR_BTNFACE
        RGB(160, 160, 160),  // COLOR_BTNSHADOW
        RGB(109, 109, 109),  // COLOR_GRAYTEXT
        RGB(0, 0, 0),        // COLOR_BTNTEXT
        RGB(0, 0, 0),        // COLOR_INACTIVECAPTIONTEXT
        RGB(255, 255, 255),  // COLOR_BTNHIGHLIGHT
    };
    if (nIndex < 0 || nIndex >= static_cast<int>(sizeof(kColors) / sizeof(kColors[0]))) return 0;
    return kColors[nIndex];
}

HBRUSH WINAPI GetSysColorBrush(int nIndex) {
    if (nIndex < 0 || nIndex > COLOR_BTNHIGHLIGHT) return nullptr;
    // The (HBRUSH)(COLOR_xxx + 1) form every brush consumer understands.
    return reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(nIndex + 1));
}
