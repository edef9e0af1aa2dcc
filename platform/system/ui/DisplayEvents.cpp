// USER's side of a real display: the window manager's moves, closes and activations reach each
// window on its own thread; other programs' windows become windows hosts can name.
#include "platform/system/ui/DisplayEvents.h"

#include <algorithm>

#include "platform/system/ui/User.h"
#include "platform/system/ui/UserInternal.h"
#include "platform/system/win/CodePage.h"

namespace lumacap::ui {
namespace {

Window* ForeignL(UserState& u, uint64_t id) {
    for (Window* w : u.foreign)
        if (w->displayId == id) return w;
    return nullptr;
}

std::shared_ptr<WindowClass> ForeignClass(const std::string& name) {
    auto cls = std::make_shared<WindowClass>();
    cls->name = name;
    cls->system = true;
    return cls;
}

}  // namespace

void DisplayScreenChanged(int primaryWidth, int primaryHeight, const RECT& virtualScreen) {
    if (primaryWidth <= 0 || primaryHeight <= 0) return;
    UserState& u = UserState::Instance();
    std::lock_guard<std::mutex> lock(u.mutex);
    u.screenWidth = primaryWidth;
    u.screenHeight = primaryHeight;
    u.virtualScreen = virtualScreen;
    u.ResetScreenL();
}

void DisplayMovedWindow(HWND hwnd, const RECT& client) {
    WINDOWPOS pos{hwnd, nullptr, 0, 0, 0, 0, SWP_NOZORDER | SWP_NOACTIVATE};
    const bool changed = WithWindow(hwnd, false, [&](UserState& u, Window& w) {
        if (!w.Local() || w.parent) return false;
        const RECT in = w.Insets();
        const RECT r{client.left - in.left, client.top - in.top, client.right + in.right,
                     client.bottom + in.bottom};
        const bool moved = r.left != w.rect.left || r.top != w.rect.top;
        const bool sized = r.right - r.left != w.rect.right - w.rect.left ||
                           r.bottom - r.top != w.rect.bottom - w.rect.top;
        if (!moved && !sized) return false;
        // The display has this place already: nothing goes back to it.
        w.rect = r;
        if (sized) {
            ReplaceSurfaceL(&w);
            u.InvalidateL(&w, nullptr, true);
        }
        pos.x = r.left;
        pos.y = r.top;
        pos.cx = r.right - r.left;
        pos.cy = r.bottom - r.top;
        if (!moved) pos.flags |= SWP_NOMOVE | SWP_NOCLIENTMOVE;
        if (!sized) pos.flags |= SWP_NOSIZE | SWP_NOCLIENTSIZE;
        return true;
    });
    if (!changed) return;
    RunOnWindowThread(hwnd, [pos]() mutable {
        if (IsWindow(pos.hwnd))
            SendMessageA(pos.hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&pos));
    });
}

void DisplayWindowState(HWND hwnd, bool minimized, bool maximized) {
    WPARAM type = SIZE_RESTORED;
    int cw = 0, ch = 0;
    const bool changed = WithWindow(hwnd, false, [&](UserState&, Window& w) {
        if (!w.Local() || w.parent) return false;
        DWORD style = w.style & ~static_cast<DWORD>(WS_MINIMIZE | WS_MAXIMIZE);
        if (minimized) {
            style |= WS_MINIMIZE;
        } else if (maximized) {
            style |= WS_MAXIMIZE;
        }
        if (style == w.style) return false;
        // What ShowWindow(SW_RESTORE) later goes back to: the place before the manager's change.
        if (!(w.style & (WS_MINIMIZE | WS_MAXIMIZE))) w.restoreRect = w.rect;
        w.style = style;
        type = minimized ? SIZE_MINIMIZED : maximized ? SIZE_MAXIMIZED : SIZE_RESTORED;
        cw = minimized ? 0 : w.ClientWidth();
        ch = minimized ? 0 : w.ClientHeight();
        return true;
    });
    if (!changed) return;
    RunOnWindowThread(hwnd, [hwnd, type, cw, ch] {
        if (IsWindow(hwnd)) SendMessageA(hwnd, WM_SIZE, type, MAKELPARAM(cw, ch));
    });
}

void DisplayClosedWindow(HWND hwnd) {
    RunOnWindowThread(hwnd, [hwnd] {
        if (IsWindow(hwnd)) SendMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
}

void DisplayExposed(HWND hwnd, const RECT& clientArea) {
    InvalidateRect(hwnd, &clientArea, FALSE);
}

void DisplayActivated(HWND topLevel) {
    if (!topLevel) {
        UserState& u = UserState::Instance();
        HWND active;
        {
            std::lock_guard<std::mutex> lock(u.mutex);
            active = u.active;
        }
        if (active) RunOnWindowThread(active, [] { ActivateWindow(nullptr, WA_INACTIVE); });
        return;
    }
    RunOnWindowThread(topLevel, [topLevel] {
        if (IsWindow(topLevel)) ActivateWindow(topLevel, WA_ACTIVE);
    });
}

bool TopLevelScene(HWND hwnd, Scene* scene, RECT* clientScreenRect) {
    return WithWindow(hwnd, false, [&](UserState& u, Window& w) {
        if (!w.Local() || w.parent || !w.Visible()) return false;
        *scene = u.SceneL(&w);
        const POINT o = u.ClientOriginL(&w);
        *clientScreenRect = RECT{o.x, o.y, o.x + w.ClientWidth(), o.y + w.ClientHeight()};
        return true;
    });
}

HWND DisplayForeignWindow(const ForeignWindowInfo& info) {
    UserState& u = UserState::Instance();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = ForeignL(u, info.id);
    if (!w) {
        auto fresh = std::make_shared<Window>();
        fresh->handle = reinterpret_cast<HWND>(u.nextHandle);
        u.nextHandle += 2;
        fresh->foreign = true;
        fresh->displayId = info.id;
        fresh->queue = u.noQueue;
        u.windows[reinterpret_cast<uintptr_t>(fresh->handle)] = fresh;
        u.foreign.push_back(fresh.get());
        w = fresh.get();
    }
    if (!w->cls || w->cls->name != info.className) w->cls = ForeignClass(info.className);
    w->instanceName = info.instanceName;
    // Titles are kept in the system code page, as every window's are.
    w->title = win::Utf8ToGbk(info.title);
    w->foreignInsets = info.frame;
    w->rect = RECT{info.client.left - info.frame.left, info.client.top - info.frame.top,
                   info.client.right + info.frame.right, info.client.bottom + info.frame.bottom};
    w->style = WS_OVERLAPPED | WS_CLIPSIBLINGS | (info.visible ? WS_VISIBLE : 0) |
               (info.iconic ? WS_MINIMIZE : 0) | (info.zoomed ? WS_MAXIMIZE : 0);
    w->processId = info.processId;
    return w->handle;
}

void DisplayForeignWindowGone(uint64_t id) {
    UserState& u = UserState::Instance();
    std::vector<HWND> removed;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        if (Window* w = ForeignL(u, id)) u.RemoveSilentlyL(w, &removed);
    }
    NotifyWindowsGone(removed);
}

void DisplayForeignOrder(const std::vector<uint64_t>& topmostFirst) {
    UserState& u = UserState::Instance();
    std::lock_guard<std::mutex> lock(u.mutex);
    std::vector<Window*> ordered;
    for (uint64_t id : topmostFirst)
        if (Window* w = ForeignL(u, id)) ordered.push_back(w);
    for (Window* w : u.foreign)
        if (std::find(ordered.begin(), ordered.end(), w) == ordered.end()) ordered.push_back(w);
    u.foreign.swap(ordered);
}

void DisplayLost(const std::string& why) {
    UserState& u = UserState::Instance();
    std::vector<HWND> removed;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        u.displayLost = true;
        for (Window* w : std::vector<Window*>(u.foreign)) u.RemoveSilentlyL(w, &removed);
    }
    NotifyWindowsGone(removed);
    InstallBackend(CreateHeadlessBackend(), why);
}

}  // namespace lumacap::ui
