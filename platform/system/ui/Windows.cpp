// Windows: creation and destruction, parents, visibility (shown, hidden, minimized, maximized),
// placement and z-order, and the styles and values kept with each window.
#include <algorithm>
#include <cstring>

#include "platform/system/ui/User.h"
#include "platform/system/ui/UserInternal.h"
#include "platform/system/win/Trace.h"

#ifndef ERROR_TLW_WITH_WSCHILD
#define ERROR_TLW_WITH_WSCHILD 1406L
#endif

namespace lumacap::ui {
namespace {

constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 480;

void SendDestroy(HWND hwnd) {
    SendMessageA(hwnd, WM_DESTROY, 0, 0);
    std::vector<HWND> kids = WithWindow(hwnd, std::vector<HWND>{}, [](UserState&, Window& w) {
        std::vector<HWND> out;
        for (Window* c : w.children) out.push_back(c->handle);
        return out;
    });
    for (HWND k : kids) SendDestroy(k);
}

// Looks up a window this process may change: other programs' windows and the desktop are
// refused with ERROR_ACCESS_DENIED.
Window* FindLocalL(UserState& u, HWND hwnd) {
    Window* w = u.FindL(hwnd);
    if (!w) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    if (!w->Local()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return w;
}

// Everything in a window that just appeared needs painting.
void InvalidateShownL(UserState& u, Window* w) {
    std::vector<Window*> stack{w};
    while (!stack.empty()) {
        Window* x = stack.back();
        stack.pop_back();
        if (!x->Visible()) continue;
        u.InvalidateL(x, nullptr, true);
        for (Window* c : x->children) stack.push_back(c);
    }
}

POINT ClientOriginInParentL(const Window* w) {
    const RECT in = w->Insets();
    return POINT{w->rect.left + in.left, w->rect.top + in.top};
}

}  // namespace
}  // namespace lumacap::ui

using namespace lumacap::ui;

// ---- creation and destruction ----

HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName, DWORD dwStyle,
                            int X, int Y, int nWidth, int nHeight, HWND hWndParent, HMENU hMenu,
                            HINSTANCE hInstance, LPVOID lpParam) {
    UserState& u = UserState::Get();
    HWND hwnd;
    CREATESTRUCTA cs{};
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        auto cls = FindClassL(u, lpClassName);
        if (!cls) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        // The desktop as a parent makes a top-level window; other programs' windows cannot hold
        // this one's.
        if (hWndParent == u.desktopWindow.handle) hWndParent = nullptr;
        Window* parent = hWndParent ? u.FindL(hWndParent) : nullptr;
        if (hWndParent && !parent) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        const bool child = (dwStyle & WS_CHILD) != 0;
        if (child && !parent) {
            SetLastError(ERROR_TLW_WITH_WSCHILD);
            return nullptr;
        }
        if (parent && !parent->Local()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        auto w = std::make_shared<Window>();
        w->handle = reinterpret_cast<HWND>(u.nextHandle);
        u.nextHandle += 2;
        w->cls = cls;
        w->proc = cls->proc;
        w->style = dwStyle & ~static_cast<DWORD>(WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE);
        w->exStyle = dwExStyle;
        w->title = lpWindowName ? lpWindowName : "";
        w->instance = hInstance;
        w->queue = u.CurrentQueueL();
        w->ownerTid = w->queue->tid;
        if (child) {
            w->parent = parent;
            w->id = static_cast<LONG_PTR>(reinterpret_cast<uintptr_t>(hMenu));
        } else if (parent) {
            // A top-level window with a parent is owned by it.
            w->owner = u.TopLevelOfL(parent)->handle;
        }
        if (X == CW_USEDEFAULT) X = Y = 0;
        if (nWidth == CW_USEDEFAULT) {
            nWidth = child ? 0 : kDefaultWidth;
            nHeight = child ? 0 : kDefaultHeight;
        }
        nWidth = std::max(0, nWidth);
        nHeight = std::max(0, nHeight);
        w->rect = RECT{X, Y, X + nWidth, Y + nHeight};
        w->restoreRect = w->rect;
        ReplaceSurfaceL(w.get());
        hwnd = w->handle;
        u.windows[reinterpret_cast<uintptr_t>(hwnd)] = w;
        InsertInZOrderL(u, w.get(), HWND_TOP);
        u.NotifyBackendL(w.get());
        cs = CREATESTRUCTA{lpParam,
                           hInstance,
                           hMenu,
                           hWndParent,
                           nHeight,
                           nWidth,
                           Y,
                           X,
                           static_cast<LONG>(dwStyle),
                           lpWindowName,
                           lpClassName,
                           dwExStyle};
    }
    if (!SendMessageA(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs)) && IsWindow(hwnd)) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    if (!IsWindow(hwnd) || SendMessageA(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        if (IsWindow(hwnd)) DestroyWindow(hwnd);
        SetLastError(ERROR_CAN_NOT_COMPLETE);
        return nullptr;
    }
    RECT client{};
    GetClientRect(hwnd, &client);
    POINT origin{0, 0};
    WithWindow(hwnd, 0, [&](UserState&, Window& w) {
        origin = ClientOriginInParentL(&w);
        return 0;
    });
    SendMessageA(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    SendMessageA(hwnd, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
    if (dwStyle & WS_MAXIMIZE) {
        ShowWindow(hwnd, (dwStyle & WS_VISIBLE) ? SW_SHOWMAXIMIZED : SW_MAXIMIZE);
    } else if (dwStyle & WS_MINIMIZE) {
        ShowWindow(hwnd, SW_SHOWMINNOACTIVE);
    } else if (dwStyle & WS_VISIBLE) {
        ShowWindow(hwnd, SW_SHOW);
    }
    LUMACAP_TRACE(kUi, "window %p created: class %s, %dx%d at %d,%d%s", static_cast<void*>(hwnd),
                  IS_INTRESOURCE(lpClassName) ? "#atom" : lpClassName, nWidth, nHeight, X, Y,
                  (dwStyle & WS_CHILD) ? ", child" : "");
    return IsWindow(hwnd) ? hwnd : nullptr;
}

BOOL WINAPI DestroyWindow(HWND hWnd) {
    UserState& u = UserState::Get();
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = u.FindL(hWnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return FALSE;
        }
        if (w->ownerTid != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
        if (w->destroying) return TRUE;
        std::vector<Window*> all;
        CollectPostOrder(w, &all);
        for (Window* x : all) x->destroying = true;
        w->style &= ~static_cast<DWORD>(WS_VISIBLE);
        u.NotifyBackendL(w);
    }
    // Owned windows go first, as on Windows.
    std::vector<HWND> owned;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        for (auto& [h, w] : u.windows)
            if (w->owner == hWnd && !w->destroying) owned.push_back(w->handle);
    }
    for (HWND o : owned) DestroyWindow(o);
    bool released = false;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        for (Window* c = u.FindL(u.capture); c; c = c->parent)
            if (c->handle == hWnd) {
                u.capture = nullptr;
                released = true;
                break;
            }
        if (released) u.backend->PointerHeld(nullptr, u.clipActive ? &u.clipRect : nullptr);
    }
    // WM_DESTROY goes to the window first and then to its children, while all of them still exist.
    SendDestroy(hWnd);
    // Then the children are destroyed before the window: WM_NCDESTROY children first.
    std::vector<HWND> order;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        if (Window* w = u.FindL(hWnd)) {
            std::vector<Window*> all;
            CollectPostOrder(w, &all);
            for (Window* x : all) order.push_back(x->handle);
        }
    }
    std::vector<HWND> removed;
    for (HWND h : order) {
        SendMessageA(h, WM_NCDESTROY, 0, 0);
        std::lock_guard<std::mutex> lock(u.mutex);
        if (Window* x = u.FindL(h)) {
            // Its children are gone by now; remove just this one.
            for (Window* c : std::vector<Window*>(x->children)) u.RemoveSilentlyL(c, &removed);
            u.RemoveSilentlyL(x, &removed);
        }
    }
    NotifyWindowsGone(removed);
    return TRUE;
}

HWND WINAPI SetParent(HWND hWndChild, HWND hWndNewParent) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    if (hWndNewParent == u.desktopWindow.handle) hWndNewParent = nullptr;
    Window* w = FindLocalL(u, hWndChild);
    Window* p = hWndNewParent ? FindLocalL(u, hWndNewParent) : nullptr;
    if (!w || (hWndNewParent && !p)) return nullptr;
    for (Window* x = p; x; x = x->parent) {
        if (x == w) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
    }
    HWND old = w->parent ? w->parent->handle : nullptr;
    if (w->parent == p) return old;
    Window* oldTop = u.TopLevelOfL(w);
    std::vector<Window*>& list = w->parent ? w->parent->children : u.topLevels;
    list.erase(std::remove(list.begin(), list.end(), w), list.end());
    if (oldTop == w) {
        u.backend->WindowDestroyed(hWndChild);  // it stops being a window of its own on screen
    } else {
        u.backend->ContentChanged(oldTop->handle);
    }
    w->parent = p;
    w->owner = nullptr;
    InsertInZOrderL(u, w, HWND_TOP);
    if (w->Visible()) u.InvalidateL(w, nullptr, true);
    u.NotifyBackendL(w);
    return old;
}

// ---- styles and values ----

LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex) {
    return WithWindow(hWnd, LONG_PTR{0}, [&](UserState&, Window& w) -> LONG_PTR {
        switch (nIndex) {
            case GWLP_WNDPROC:
                return reinterpret_cast<LONG_PTR>(w.proc);
            case GWLP_HINSTANCE:
                return reinterpret_cast<LONG_PTR>(w.instance);
            case GWLP_HWNDPARENT:
                return reinterpret_cast<LONG_PTR>(w.parent ? w.parent->handle : w.owner);
            case GWLP_ID:
                return w.id;
            case GWL_STYLE:
                return static_cast<LONG_PTR>(w.style);
            case GWL_EXSTYLE:
                return static_cast<LONG_PTR>(w.exStyle);
            case GWLP_USERDATA:
                return w.userData;
            default:
                SetLastError(ERROR_INVALID_INDEX);
                return 0;
        }
    });
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = FindLocalL(u, hWnd);
    if (!w) return 0;
    LONG_PTR old = 0;
    switch (nIndex) {
        case GWLP_WNDPROC:
            if (w->ownerTid != GetCurrentThreadId()) {
                SetLastError(ERROR_ACCESS_DENIED);
                return 0;
            }
            old = reinterpret_cast<LONG_PTR>(w->proc);
            w->proc = reinterpret_cast<WNDPROC>(dwNewLong);
            break;
        case GWLP_ID:
            old = w->id;
            w->id = dwNewLong;
            break;
        case GWL_STYLE:
            old = static_cast<LONG_PTR>(w->style);
            w->style = static_cast<DWORD>(dwNewLong);
            // A frame that appears or goes changes the client area's size.
            ReplaceSurfaceL(w);
            if (w->Visible()) u.InvalidateL(w, nullptr, true);
            u.NotifyBackendL(w);
            break;
        case GWL_EXSTYLE:
            old = static_cast<LONG_PTR>(w->exStyle);
            w->exStyle = static_cast<DWORD>(dwNewLong);
            u.NotifyBackendL(w);
            break;
        case GWLP_USERDATA:
            old = w->userData;
            w->userData = dwNewLong;
            break;
        default:
            SetLastError(ERROR_INVALID_INDEX);
            return 0;
    }
    return old;
}

LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex) {
    return static_cast<LONG>(GetWindowLongPtrA(hWnd, nIndex));
}

BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
    bool wasDisabled = false, changed = false;
    {
        UserState& u = UserState::Get();
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = FindLocalL(u, hWnd);
        if (!w) return FALSE;
        wasDisabled = (w->style & WS_DISABLED) != 0;
        changed = wasDisabled == (bEnable != FALSE);
        if (bEnable) {
            w->style &= ~static_cast<DWORD>(WS_DISABLED);
        } else {
            w->style |= WS_DISABLED;
            // A disabled window loses the keyboard.
            for (Window* f = u.FindL(u.focus); f; f = f->parent)
                if (f == w) u.focus = nullptr;
            if (u.capture == hWnd) u.capture = nullptr;
        }
    }
    if (changed) SendMessageA(hWnd, WM_ENABLE, bEnable ? TRUE : FALSE, 0);
    return wasDisabled ? TRUE : FALSE;
}

// ---- visibility and placement ----

BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
    UserState& u = UserState::Get();
    bool was = false, show = nCmdShow != SW_HIDE, activate = false;
    bool minimize = false, maximize = false, restore = false, topLevel = false;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = FindLocalL(u, hWnd);
        if (!w) return FALSE;
        was = w->Visible();
        topLevel = !w->parent;
        const bool iconic = (w->style & WS_MINIMIZE) != 0, zoomed = (w->style & WS_MAXIMIZE) != 0;
        switch (nCmdShow) {
            case SW_MINIMIZE:
            case SW_SHOWMINIMIZED:
            case SW_SHOWMINNOACTIVE:
                minimize = !iconic;
                break;
            case SW_SHOWMAXIMIZED:
                maximize = !zoomed;
                activate = true;
                break;
            case SW_SHOWNORMAL:
            case SW_RESTORE:
                restore = iconic || zoomed;
                activate = true;
                break;
            case SW_SHOW:
            case SW_SHOWDEFAULT:
                activate = true;
                break;
            default:
                break;
        }
        activate = activate && topLevel && !(w->style & WS_DISABLED);
        if (was == show && !minimize && !maximize && !restore) {
            if (!activate || u.active == hWnd) return was ? TRUE : FALSE;
        }
    }
    if (was != show) SendMessageA(hWnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    UINT sizeType = SIZE_RESTORED;
    int cw = 0, ch = 0;
    POINT origin{0, 0};
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = u.FindL(hWnd);
        if (!w) return was ? TRUE : FALSE;
        if (minimize) {
            if (!(w->style & WS_MAXIMIZE)) w->restoreRect = w->rect;
            w->style = (w->style | WS_MINIMIZE) & ~static_cast<DWORD>(WS_MAXIMIZE);
            sizeType = SIZE_MINIMIZED;
            if (u.active == hWnd) u.active = nullptr;
        } else if (maximize) {
            if (!(w->style & WS_MINIMIZE)) w->restoreRect = w->rect;
            w->style = (w->style | WS_MAXIMIZE) & ~static_cast<DWORD>(WS_MINIMIZE);
            // The frame's sides and bottom lie just off the screen; the caption stays on it.
            const RECT in = w->Insets();
            const RECT area = w->parent
                                  ? RECT{0, 0, w->parent->ClientWidth(), w->parent->ClientHeight()}
                                  : RECT{0, 0, u.screenWidth, u.screenHeight};
            w->rect = RECT{area.left - in.left, area.top - in.left, area.right + in.right,
                           area.bottom + in.bottom};
            sizeType = SIZE_MAXIMIZED;
        } else if (restore) {
            w->style &= ~static_cast<DWORD>(WS_MINIMIZE | WS_MAXIMIZE);
            w->rect = w->restoreRect;
        }
        if (minimize || maximize || restore) ReplaceSurfaceL(w);
        if (show) {
            w->style |= WS_VISIBLE;
            InvalidateShownL(u, w);
        } else {
            w->style &= ~static_cast<DWORD>(WS_VISIBLE);
            if (u.capture == hWnd) u.capture = nullptr;
            if (u.active == hWnd) u.active = nullptr;
        }
        cw = sizeType == SIZE_MINIMIZED ? 0 : w->ClientWidth();
        ch = sizeType == SIZE_MINIMIZED ? 0 : w->ClientHeight();
        origin = ClientOriginInParentL(w);
        u.NotifyBackendL(w);
    }
    if (minimize || maximize || restore) {
        SendMessageA(hWnd, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
        SendMessageA(hWnd, WM_SIZE, sizeType, MAKELPARAM(cw, ch));
    }
    if (activate && show && !minimize) ActivateWindow(hWnd, WA_ACTIVE);
    return was ? TRUE : FALSE;
}

BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy,
                         UINT uFlags) {
    UserState& u = UserState::Get();
    WINDOWPOS pos{hWnd, hWndInsertAfter, X, Y, cx, cy, uFlags};
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = FindLocalL(u, hWnd);
        if (!w) return FALSE;
        if (uFlags & SWP_NOMOVE) {
            pos.x = w->rect.left;
            pos.y = w->rect.top;
        }
        if (uFlags & SWP_NOSIZE) {
            pos.cx = w->rect.right - w->rect.left;
            pos.cy = w->rect.bottom - w->rect.top;
        }
    }
    // The window may change where it goes before it goes there.
    if (!(uFlags & SWP_NOSENDCHANGING))
        SendMessageA(hWnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&pos));
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = u.FindL(hWnd);
        if (!w) return FALSE;
        RECT r{pos.x, pos.y, pos.x + std::max(0, pos.cx), pos.y + std::max(0, pos.cy)};
        const bool sized = (r.right - r.left) != (w->rect.right - w->rect.left) ||
                           (r.bottom - r.top) != (w->rect.bottom - w->rect.top);
        const bool moved = r.left != w->rect.left || r.top != w->rect.top;
        if (!sized) pos.flags |= SWP_NOCLIENTSIZE;
        if (!moved) pos.flags |= SWP_NOCLIENTMOVE;
        w->rect = r;
        if (!(uFlags & SWP_NOZORDER)) {
            if (hWndInsertAfter == HWND_TOPMOST) w->exStyle |= WS_EX_TOPMOST;
            if (hWndInsertAfter == HWND_NOTOPMOST) w->exStyle &= ~static_cast<DWORD>(WS_EX_TOPMOST);
            InsertInZOrderL(u, w, hWndInsertAfter);
        }
        if (sized) {
            ReplaceSurfaceL(w);
            if (!(uFlags & SWP_NOREDRAW)) u.InvalidateL(w, nullptr, true);
        }
        u.NotifyBackendL(w);
    }
    SendMessageA(hWnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    if (uFlags & SWP_SHOWWINDOW) ShowWindow(hWnd, SW_SHOWNA);
    if (uFlags & SWP_HIDEWINDOW) ShowWindow(hWnd, SW_HIDE);
    return TRUE;
}

BOOL WINAPI MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint) {
    return SetWindowPos(hWnd, nullptr, X, Y, nWidth, nHeight,
                        SWP_NOZORDER | SWP_NOACTIVATE | (bRepaint ? 0 : SWP_NOREDRAW));
}
