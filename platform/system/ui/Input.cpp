// The pointer: position, confinement, capture, the cursor shape, and routing pointer events as
// mouse messages to the window under the pointer (or the capturing window).
#include "platform/system/ui/Input.h"

#include <algorithm>

#include "platform/system/ui/User.h"

namespace lumacap::ui {
namespace {

// The deepest visible, enabled window under a screen point, and where in it the point is.
Window* WindowAtL(UserState& u, POINT pt, int* hit) {
    for (Window* top : u.topLevels) {
        if (!top->Visible() || !PtInRect(&top->rect, pt)) continue;
        Window* w = top;
        for (bool descended = true; descended;) {
            descended = false;
            const POINT o = u.ClientOriginL(w);
            const POINT local{pt.x - o.x, pt.y - o.y};
            for (Window* c : w->children) {
                if (c->Visible() && !(c->style & WS_DISABLED) && PtInRect(&c->rect, local)) {
                    w = c;
                    descended = true;
                    break;
                }
            }
        }
        const POINT o = u.ClientOriginL(w);
        const RECT client{o.x, o.y, o.x + w->ClientWidth(), o.y + w->ClientHeight()};
        *hit = PtInRect(&client, pt)
                   ? HTCLIENT
                   : ((w->style & WS_CAPTION) == WS_CAPTION ? HTCAPTION : HTBORDER);
        return (top->style & WS_DISABLED) ? nullptr : w;
    }
    *hit = HTNOWHERE;
    return nullptr;
}

WPARAM KeyStateL(const UserState& u) {
    return u.leftDown ? MK_LBUTTON : 0;
}

void QueueMouseL(UserState& u, UINT clientMsg, UINT ncMsg) {
    int hit = HTNOWHERE;
    Window* w = nullptr;
    if (u.capture) {
        w = u.FindL(u.capture);
        hit = HTCLIENT;
    }
    if (!w) w = WindowAtL(u, u.cursorPos, &hit);
    if (!w) {
        // Over the desktop: the desktop shows the arrow.
        u.cursor = SystemArrowCursor();
        return;
    }
    const POINT o = u.ClientOriginL(w);
    const bool client = hit == HTCLIENT;
    const POINT p = client ? POINT{u.cursorPos.x - o.x, u.cursorPos.y - o.y} : u.cursorPos;
    MSG m{w->handle,
          client ? clientMsg : ncMsg,
          client ? KeyStateL(u) : static_cast<WPARAM>(hit),
          MAKELPARAM(p.x, p.y),
          GetTickCount(),
          u.cursorPos};
    auto& input = w->queue->input;
    // Pointer moves coalesce: a move still waiting is updated rather than followed by another.
    if (m.message == WM_MOUSEMOVE || m.message == WM_NCMOUSEMOVE) {
        if (!input.empty() && input.back().msg.hwnd == m.hwnd &&
            input.back().msg.message == m.message && input.back().msg.wParam == m.wParam) {
            input.back() = InputMessage{m, hit};
            w->queue->cv.notify_all();
            return;
        }
    }
    input.push_back(InputMessage{m, hit});
    w->queue->cv.notify_all();
}

POINT ConfineL(const UserState& u, POINT p) {
    p.x = std::clamp<LONG>(p.x, 0, u.screenWidth - 1);
    p.y = std::clamp<LONG>(p.y, 0, u.screenHeight - 1);
    if (u.clipActive) {
        p.x = std::clamp<LONG>(p.x, u.clipRect.left, u.clipRect.right - 1);
        p.y = std::clamp<LONG>(p.y, u.clipRect.top, u.clipRect.bottom - 1);
    }
    return p;
}

void MoveL(UserState& u, int x, int y) {
    const POINT p = ConfineL(u, POINT{x, y});
    if (p.x == u.cursorPos.x && p.y == u.cursorPos.y) return;
    u.cursorPos = p;
    QueueMouseL(u, WM_MOUSEMOVE, WM_NCMOUSEMOVE);
}

void NotifyCaptureChanged(HWND old, HWND now) {
    if (!old || old == now) return;
    DWORD owner = GetWindowThreadProcessId(old, nullptr);
    if (owner == GetCurrentThreadId()) {
        SendMessageA(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(now));
    } else if (owner) {
        PostMessageA(old, WM_CAPTURECHANGED, 0, reinterpret_cast<LPARAM>(now));
    }
}

}  // namespace

void PointerMoveTo(int x, int y) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    MoveL(u, x, y);
}

void PointerButton(bool down) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    if (u.leftDown == down) return;
    u.leftDown = down;
    QueueMouseL(u, down ? WM_LBUTTONDOWN : WM_LBUTTONUP, down ? WM_NCLBUTTONDOWN : WM_NCLBUTTONUP);
}

}  // namespace lumacap::ui

using namespace lumacap::ui;

BOOL WINAPI GetCursorPos(LPPOINT lpPoint) {
    if (!lpPoint) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    *lpPoint = u.cursorPos;
    return TRUE;
}

BOOL WINAPI SetCursorPos(int X, int Y) {
    PointerMoveTo(X, Y);
    return TRUE;
}

BOOL WINAPI ClipCursor(const RECT* lpRect) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    if (!lpRect) {
        u.clipActive = false;
        return TRUE;
    }
    RECT r{std::max<LONG>(lpRect->left, 0), std::max<LONG>(lpRect->top, 0),
           std::min<LONG>(lpRect->right, u.screenWidth),
           std::min<LONG>(lpRect->bottom, u.screenHeight)};
    // A rectangle off the screen or empty confines the pointer to the nearest point the system can.
    if (r.right <= r.left) r.right = r.left + 1;
    if (r.bottom <= r.top) r.bottom = r.top + 1;
    u.clipRect = r;
    u.clipActive = true;
    MoveL(u, u.cursorPos.x, u.cursorPos.y);
    return TRUE;
}

BOOL WINAPI GetClipCursor(LPRECT lpRect) {
    if (!lpRect) return FALSE;
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    *lpRect = u.clipActive ? u.clipRect : RECT{0, 0, u.screenWidth, u.screenHeight};
    return TRUE;
}

HWND WINAPI SetCapture(HWND hWnd) {
    UserState& u = UserState::Get();
    HWND old;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = u.FindL(hWnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        old = u.capture;
        u.capture = hWnd;
    }
    NotifyCaptureChanged(old, hWnd);
    return old;
}

BOOL WINAPI ReleaseCapture() {
    UserState& u = UserState::Get();
    HWND old = nullptr;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = u.FindL(u.capture);
        if (w && w->ownerTid != GetCurrentThreadId())
            return TRUE;  // another thread's capture stays
        old = u.capture;
        u.capture = nullptr;
    }
    NotifyCaptureChanged(old, nullptr);
    return TRUE;
}

HWND WINAPI GetCapture() {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(u.capture);
    return w && w->ownerTid == GetCurrentThreadId() ? w->handle : nullptr;
}

HCURSOR WINAPI SetCursor(HCURSOR hCursor) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    HCURSOR old = u.cursor;
    u.cursor = hCursor;
    return old;
}

HCURSOR WINAPI GetCursor() {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    return u.cursor;
}
