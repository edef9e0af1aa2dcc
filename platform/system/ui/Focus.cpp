// Activation and keyboard focus: which top-level window is active, which window gets the keys,
// and the messages that tell windows when either changes.
#include "platform/system/ui/User.h"
#include "platform/system/ui/UserInternal.h"

namespace lumacap::ui {
namespace {

// Sends to windows of the calling thread; posts to others, whose threads may be waiting on this
// one.
void Deliver(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    const DWORD owner = GetWindowThreadProcessId(hwnd, nullptr);
    if (owner == GetCurrentThreadId()) {
        SendMessageA(hwnd, message, wParam, lParam);
    } else if (owner) {
        PostMessageA(hwnd, message, wParam, lParam);
    }
}

bool Inside(UserState& u, HWND hwnd, HWND ancestor) {
    for (Window* w = u.FindL(hwnd); w; w = w->parent)
        if (w->handle == ancestor) return true;
    return false;
}

}  // namespace

void ActivateWindow(HWND topLevel, int how) {
    UserState& u = UserState::Get();
    HWND old;
    bool oldIconic = false, newIconic = false, dropFocus = false;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = topLevel ? u.FindL(topLevel) : nullptr;
        if (topLevel && (!w || !w->Local() || w->parent)) return;
        old = u.active;
        if (old == topLevel) return;
        if (Window* o = u.FindL(old)) oldIconic = (o->style & WS_MINIMIZE) != 0;
        if (w) newIconic = (w->style & WS_MINIMIZE) != 0;
        u.active = topLevel;
        dropFocus = old && Inside(u, u.focus, old);
        u.backend->ActiveChanged(topLevel);
    }
    if (old && IsWindow(old)) {
        Deliver(old, WM_NCACTIVATE, FALSE, 0);
        Deliver(old, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, oldIconic ? 1 : 0),
                reinterpret_cast<LPARAM>(topLevel));
    }
    if (dropFocus) {
        // The focus left with the window that lost activation.
        HWND focus = nullptr;
        {
            std::lock_guard<std::mutex> lock(u.mutex);
            if (Inside(u, u.focus, old)) {
                focus = u.focus;
                u.focus = nullptr;
            }
        }
        if (focus) Deliver(focus, WM_KILLFOCUS, 0, 0);
    }
    if (topLevel) {
        SendMessageA(topLevel, WM_NCACTIVATE, TRUE, 0);
        SendMessageA(topLevel, WM_ACTIVATE, MAKEWPARAM(how, newIconic ? 1 : 0),
                     reinterpret_cast<LPARAM>(old));
    }
}

}  // namespace lumacap::ui

using namespace lumacap::ui;

HWND WINAPI GetActiveWindow() {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(u.active);
    return w && w->ownerTid == GetCurrentThreadId() ? w->handle : nullptr;
}

HWND WINAPI GetForegroundWindow() {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    return u.active;
}

HWND WINAPI SetActiveWindow(HWND hWnd) {
    HWND old = GetActiveWindow();
    if (hWnd) {
        const bool ok = WithWindow(hWnd, false, [](UserState&, Window& w) {
            return w.Local() && !w.parent && w.ownerTid == GetCurrentThreadId();
        });
        if (!ok) return nullptr;
    }
    ActivateWindow(hWnd, WA_ACTIVE);
    return old;
}

BOOL WINAPI SetForegroundWindow(HWND hWnd) {
    HWND top = GetAncestor(hWnd, GA_ROOT);
    if (!top) return FALSE;
    const DWORD owner = GetWindowThreadProcessId(top, nullptr);
    if (owner == GetCurrentThreadId()) {
        ActivateWindow(top, WA_ACTIVE);
        return TRUE;
    }
    if (!owner) return FALSE;
    return RunOnWindowThread(top, [top] { ActivateWindow(top, WA_ACTIVE); }) ? TRUE : FALSE;
}

HWND WINAPI GetFocus() {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(u.focus);
    return w && w->ownerTid == GetCurrentThreadId() ? w->handle : nullptr;
}

HWND WINAPI SetFocus(HWND hWnd) {
    UserState& u = UserState::Get();
    HWND top = nullptr;
    if (hWnd) {
        std::lock_guard<std::mutex> lock(u.mutex);
        Window* w = u.FindL(hWnd);
        if (!w) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        if (w->ownerTid != GetCurrentThreadId()) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        for (Window* x = w; x; x = x->parent)
            if (x->style & (WS_DISABLED | WS_MINIMIZE)) return nullptr;
        top = u.TopLevelOfL(w)->handle;
    }
    // The focus lives in the active window: giving it to another window activates that one.
    if (top && top != GetForegroundWindow()) ActivateWindow(top, WA_ACTIVE);
    HWND old;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        old = u.focus;
        if (old == hWnd) return old;
        if (hWnd && !u.FindL(hWnd)) return nullptr;
        u.focus = hWnd;
    }
    if (old && IsWindow(old)) Deliver(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hWnd), 0);
    if (hWnd && IsWindow(hWnd)) SendMessageA(hWnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    return old;
}
