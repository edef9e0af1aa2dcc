// The pointer: position, confinement, capture, the cursor shape, and routing pointer events as
// mouse messages to the window under the pointer (or the capturing window), with hit testing,
// double clicks and activation when the owning thread takes them out.
#include "platform/system/ui/Input.h"

#include <algorithm>
#include <cstdlib>

#include "platform/system/ui/User.h"
#include "platform/system/ui/UserInternal.h"

namespace lumacap::ui {
namespace {

bool Excluded(const Window* w, const std::vector<HWND>& exclude) {
    return std::find(exclude.begin(), exclude.end(), w->handle) != exclude.end();
}

// The deepest visible, enabled window at a screen point inside `w` (whose window rectangle holds
// the point), skipping the windows in `exclude`; null if `w` itself is excluded and no child
// takes the point.
Window* DeepestAtL(UserState& u, Window* w, POINT pt, const std::vector<HWND>& exclude) {
    const POINT o = u.ClientOriginL(w);
    const POINT local{pt.x - o.x, pt.y - o.y};
    for (Window* c : w->children) {
        if (!c->Visible() || (c->style & WS_DISABLED) || !PtInRect(&c->rect, local)) continue;
        if (Window* hit = DeepestAtL(u, c, pt, exclude)) return hit;
    }
    return Excluded(w, exclude) ? nullptr : w;
}

// The window that gets pointer input at a screen point, and where in it the point is by its
// frame alone.
Window* WindowAtL(UserState& u, POINT pt, int* hit, HWND over,
                  const std::vector<HWND>& exclude = {}) {
    *hit = HTNOWHERE;
    Window* only = over ? u.FindL(over) : nullptr;
    for (Window* top : u.topLevels) {
        if (only && top != only) continue;
        if (!top->Visible() || (top->style & WS_MINIMIZE) || !PtInRect(&top->rect, pt)) continue;
        if (top->style & WS_DISABLED) return nullptr;
        Window* w = DeepestAtL(u, top, pt, exclude);
        if (!w) continue;  // all of it let the point through: the window below gets it
        const POINT o = u.ClientOriginL(w);
        const RECT client{o.x, o.y, o.x + w->ClientWidth(), o.y + w->ClientHeight()};
        *hit = PtInRect(&client, pt)
                   ? HTCLIENT
                   : ((w->style & WS_CAPTION) == WS_CAPTION ? HTCAPTION : HTBORDER);
        return w;
    }
    return nullptr;
}

WPARAM KeyStateL(const UserState& u) {
    WPARAM k = u.buttons;
    if (u.asyncKeys[VK_SHIFT] & 0x80) k |= MK_SHIFT;
    if (u.asyncKeys[VK_CONTROL] & 0x80) k |= MK_CONTROL;
    return k;
}

UINT NonClientForm(UINT message) {
    return message == WM_MOUSEMOVE ? WM_NCMOUSEMOVE : message - WM_LBUTTONDOWN + WM_NCLBUTTONDOWN;
}

bool IsPress(UINT message) {
    return message == WM_LBUTTONDOWN || message == WM_RBUTTONDOWN || message == WM_MBUTTONDOWN;
}

void QueueMouseL(UserState& u, UINT clientMsg, HWND over, WPARAM extra = 0) {
    int hit = HTNOWHERE;
    Window* w = nullptr;
    if (u.capture) {
        w = u.FindL(u.capture);
        hit = HTCLIENT;
    }
    if (!w) w = WindowAtL(u, u.cursorPos, &hit, over);
    if (!w) {
        // Over the desktop: the desktop shows the arrow.
        u.cursor = SystemArrowCursor();
        return;
    }
    const bool wheel = clientMsg == WM_MOUSEWHEEL || clientMsg == WM_MOUSEHWHEEL;
    const bool client = hit == HTCLIENT || wheel;
    const POINT o = u.ClientOriginL(w);
    const POINT p =
        client && !wheel ? POINT{u.cursorPos.x - o.x, u.cursorPos.y - o.y} : u.cursorPos;
    MSG m{w->handle,
          client ? clientMsg : NonClientForm(clientMsg),
          client ? (KeyStateL(u) | extra) : static_cast<WPARAM>(hit),
          MAKELPARAM(p.x, p.y),
          GetTickCount(),
          u.cursorPos};
    auto& input = w->queue->input;
    // Pointer moves coalesce: a move still waiting is updated rather than followed by another.
    if (clientMsg == WM_MOUSEMOVE && !input.empty() && input.back().msg.hwnd == m.hwnd &&
        input.back().clientMessage == WM_MOUSEMOVE && input.back().msg.wParam == m.wParam) {
        input.back() = InputMessage{m, hit, u.cursorPos, clientMsg};
        w->queue->Wake(QS_MOUSEMOVE);
        return;
    }
    input.push_back(InputMessage{m, hit, u.cursorPos, clientMsg});
    w->queue->Wake(clientMsg == WM_MOUSEMOVE ? QS_MOUSEMOVE : QS_MOUSEBUTTON);
}

POINT ConfineL(const UserState& u, POINT p) {
    p.x = std::clamp<LONG>(p.x, u.virtualScreen.left, u.virtualScreen.right - 1);
    p.y = std::clamp<LONG>(p.y, u.virtualScreen.top, u.virtualScreen.bottom - 1);
    if (u.clipActive) {
        p.x = std::clamp<LONG>(p.x, u.clipRect.left, u.clipRect.right - 1);
        p.y = std::clamp<LONG>(p.y, u.clipRect.top, u.clipRect.bottom - 1);
    }
    return p;
}

void MoveL(UserState& u, int x, int y, HWND over) {
    const POINT p = ConfineL(u, POINT{x, y});
    if (p.x == u.cursorPos.x && p.y == u.cursorPos.y) return;
    u.cursorPos = p;
    QueueMouseL(u, WM_MOUSEMOVE, over);
}

// The display holds the pointer for the capturing window and keeps it in the confinement.
void TellDisplayL(UserState& u) {
    Window* c = u.FindL(u.capture);
    u.backend->PointerHeld(c ? u.TopLevelOfL(c)->handle : nullptr,
                           u.clipActive ? &u.clipRect : nullptr);
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

void PointerMoveTo(int x, int y, HWND over) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    MoveL(u, x, y, over);
}

void PointerButton(MouseButton button, bool down, HWND over) {
    static const UINT kMk[] = {MK_LBUTTON, MK_RBUTTON, MK_MBUTTON};
    static const UINT kVk[] = {VK_LBUTTON, VK_RBUTTON, VK_MBUTTON};
    static const UINT kDown[] = {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MBUTTONDOWN};
    const int i = static_cast<int>(button);
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    if (((u.buttons & kMk[i]) != 0) == down) return;
    if (down) {
        u.buttons |= kMk[i];
        u.asyncKeys[kVk[i]] = static_cast<BYTE>((u.asyncKeys[kVk[i]] ^ 1) | 0x80);
    } else {
        u.buttons &= ~kMk[i];
        u.asyncKeys[kVk[i]] &= 0x01;
    }
    QueueMouseL(u, down ? kDown[i] : kDown[i] + 1, over);
}

void PointerWheel(int delta, bool horizontal, HWND over) {
    if (delta == 0) return;
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    QueueMouseL(u, horizontal ? WM_MOUSEHWHEEL : WM_MOUSEWHEEL, over,
                static_cast<WPARAM>(static_cast<WORD>(static_cast<short>(delta))) << 16);
}

void ForgetLastClick() {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    u.lastClick.hwnd = nullptr;
}

bool TakeMouseMessage(UserState& u, ThreadQueue& q, std::unique_lock<std::mutex>& lk,
                      InputMessage im, MSG* out) {
    MSG m = im.msg;
    if (im.clientMessage == WM_MOUSEWHEEL || im.clientMessage == WM_MOUSEHWHEEL) {
        *out = m;
        return true;
    }
    HWND hwnd = m.hwnd;
    int hit = HTCLIENT;
    const bool captured = u.capture != nullptr;
    if (!captured) {
        // The window says where the point is; a window that lets it through hands the message
        // to the window below it.
        std::vector<HWND> through;
        for (int guard = 0;; ++guard) {
            lk.unlock();
            hit = static_cast<int>(
                SendMessageA(hwnd, WM_NCHITTEST, 0, MAKELPARAM(im.screen.x, im.screen.y)));
            lk.lock();
            if (hit != HTTRANSPARENT || guard >= 16) break;
            through.push_back(hwnd);
            int geometric;
            Window* below = WindowAtL(u, im.screen, &geometric, nullptr, through);
            if (!below) return false;
            if (below->queue.get() != &q) {
                im.msg.hwnd = below->handle;
                below->queue->input.push_front(im);
                below->queue->Wake(QS_MOUSEBUTTON);
                return false;
            }
            hwnd = below->handle;
        }
        if (hit == HTERROR && im.clientMessage != WM_MOUSEMOVE) return false;
    }
    Window* w = u.FindL(hwnd);
    if (!w) return false;
    UINT message = im.clientMessage;
    if (IsPress(message)) {
        const bool doubles = hit != HTCLIENT || (w->cls->style & CS_DBLCLKS);
        auto& last = u.lastClick;
        constexpr int kSlop = 2;  // half of SM_CXDOUBLECLK and SM_CYDOUBLECLK
        if (doubles && last.hwnd == hwnd && last.message == message &&
            m.time - last.time <= GetDoubleClickTime() &&
            std::abs(im.screen.x - last.pt.x) <= kSlop &&
            std::abs(im.screen.y - last.pt.y) <= kSlop) {
            message += 2;         // WM_xBUTTONDOWN to WM_xBUTTONDBLCLK
            last.hwnd = nullptr;  // a third press starts over
        } else {
            last.hwnd = hwnd;
            last.message = message;
            last.time = m.time;
            last.pt = im.screen;
        }
        Window* top = u.TopLevelOfL(w);
        if (top->handle != u.active && !(top->style & WS_DISABLED)) {
            const HWND topHandle = top->handle;
            lk.unlock();
            const LRESULT r =
                SendMessageA(hwnd, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(topHandle),
                             MAKELPARAM(hit, im.clientMessage));
            if (r != MA_NOACTIVATE && r != MA_NOACTIVATEANDEAT)
                ActivateWindow(topHandle, WA_CLICKACTIVE);
            lk.lock();
            if (r == MA_ACTIVATEANDEAT || r == MA_NOACTIVATEANDEAT) return false;
        }
    }
    if (!captured) {
        // The window under the pointer chooses the cursor before it sees the mouse message.
        lk.unlock();
        SendMessageA(hwnd, WM_SETCURSOR, reinterpret_cast<WPARAM>(hwnd), MAKELPARAM(hit, message));
        lk.lock();
    }
    w = u.FindL(hwnd);
    if (!w) return false;
    m.hwnd = hwnd;
    if (hit == HTCLIENT) {
        const POINT o = u.ClientOriginL(w);
        m.message = message;
        m.wParam = im.msg.message == im.clientMessage ? im.msg.wParam : KeyStateL(u);
        m.lParam = MAKELPARAM(im.screen.x - o.x, im.screen.y - o.y);
    } else {
        m.message = NonClientForm(message);
        m.wParam = static_cast<WPARAM>(hit);
        m.lParam = MAKELPARAM(im.screen.x, im.screen.y);
    }
    *out = m;
    return true;
}

void TrackKeyState(ThreadQueue& q, const MSG& msg, UINT sideVk) {
    // A press flips the toggle bit (Caps Lock's light) unless the key was down already.
    auto press = [&](UINT vk) {
        if (!(q.keys[vk] & 0x80)) q.keys[vk] = static_cast<BYTE>((q.keys[vk] ^ 1) | 0x80);
    };
    auto release = [&](UINT vk) { q.keys[vk] &= 0x01; };
    switch (msg.message) {
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
        case WM_NCLBUTTONDOWN:
        case WM_NCLBUTTONDBLCLK:
            press(VK_LBUTTON);
            break;
        case WM_LBUTTONUP:
        case WM_NCLBUTTONUP:
            release(VK_LBUTTON);
            break;
        case WM_RBUTTONDOWN:
        case WM_RBUTTONDBLCLK:
        case WM_NCRBUTTONDOWN:
        case WM_NCRBUTTONDBLCLK:
            press(VK_RBUTTON);
            break;
        case WM_RBUTTONUP:
        case WM_NCRBUTTONUP:
            release(VK_RBUTTON);
            break;
        case WM_MBUTTONDOWN:
        case WM_MBUTTONDBLCLK:
        case WM_NCMBUTTONDOWN:
        case WM_NCMBUTTONDBLCLK:
            press(VK_MBUTTON);
            break;
        case WM_MBUTTONUP:
        case WM_NCMBUTTONUP:
            release(VK_MBUTTON);
            break;
        case WM_KEYDOWN:
        case WM_SYSKEYDOWN:
            press(static_cast<UINT>(msg.wParam & 0xFF));
            if (sideVk) press(sideVk);
            break;
        case WM_KEYUP:
        case WM_SYSKEYUP:
            release(static_cast<UINT>(msg.wParam & 0xFF));
            if (sideVk) release(sideVk);
            break;
        default:
            break;
    }
}

}  // namespace lumacap::ui

using namespace lumacap::ui;

BOOL WINAPI GetCursorPos(LPPOINT lpPoint) {
    if (!lpPoint) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // A real display knows where the pointer is, over any program's window.
    if (CurrentBackend()->QueryPointer(lpPoint)) return TRUE;
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    *lpPoint = u.cursorPos;
    return TRUE;
}

BOOL WINAPI SetCursorPos(int X, int Y) {
    POINT p{X, Y};
    {
        UserState& u = UserState::Get();
        std::lock_guard<std::mutex> lock(u.mutex);
        p = ConfineL(u, p);
    }
    // The display moves its pointer and reports the move like any other; without one, USER
    // moves its own.
    if (!CurrentBackend()->WarpPointer(p.x, p.y)) PointerMoveTo(p.x, p.y);
    return TRUE;
}

BOOL WINAPI ClipCursor(const RECT* lpRect) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    if (!lpRect) {
        u.clipActive = false;
        TellDisplayL(u);
        return TRUE;
    }
    const RECT& v = u.virtualScreen;
    RECT r{std::max<LONG>(lpRect->left, v.left), std::max<LONG>(lpRect->top, v.top),
           std::min<LONG>(lpRect->right, v.right), std::min<LONG>(lpRect->bottom, v.bottom)};
    // A rectangle off the screen or empty confines the pointer to the nearest point the system can.
    if (r.right <= r.left) r.right = r.left + 1;
    if (r.bottom <= r.top) r.bottom = r.top + 1;
    u.clipRect = r;
    u.clipActive = true;
    TellDisplayL(u);
    MoveL(u, u.cursorPos.x, u.cursorPos.y, nullptr);
    return TRUE;
}

BOOL WINAPI GetClipCursor(LPRECT lpRect) {
    if (!lpRect) return FALSE;
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    *lpRect = u.clipActive ? u.clipRect : u.virtualScreen;
    return TRUE;
}

HWND WINAPI SetCapture(HWND hWnd) {
    UserState& u = UserState::Get();
    HWND old;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = u.FindL(hWnd);
        if (!w || !w->Local()) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        old = u.capture;
        u.capture = hWnd;
        TellDisplayL(u);
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
        TellDisplayL(u);
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
    if (old != hCursor) u.backend->CursorChanged(hCursor);
    return old;
}

HCURSOR WINAPI GetCursor() {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    return u.cursor;
}
