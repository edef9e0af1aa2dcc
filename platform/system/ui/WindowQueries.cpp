// Questions about windows: existence, geometry, family (parents, owners, ancestors, siblings),
// titles, searching and enumerating, for this process's windows and the other programs' windows
// the display shows.
#include <algorithm>
#include <cstring>
#include <strings.h>

#include "platform/system/ui/User.h"
#include "platform/system/ui/UserInternal.h"

namespace lumacap::ui {
namespace {

// Top-level windows in the order EnumWindows and FindWindow walk them: this process's, topmost
// first, then other programs'.
std::vector<Window*> TopLevelsL(UserState& u) {
    std::vector<Window*> all(u.topLevels);
    all.insert(all.end(), u.foreign.begin(), u.foreign.end());
    return all;
}

bool ClassMatches(UserState& u, const Window& w, LPCSTR name,
                  const std::shared_ptr<WindowClass>& registered) {
    if (!name) return true;
    if (w.foreign) {
        // Another program's window is found by either part of its WM_CLASS.
        return !IS_INTRESOURCE(name) && (strcasecmp(w.cls->name.c_str(), name) == 0 ||
                                         strcasecmp(w.instanceName.c_str(), name) == 0);
    }
    return registered && w.cls == registered;
}

std::vector<HWND> Handles(const std::vector<Window*>& windows) {
    std::vector<HWND> out;
    out.reserve(windows.size());
    for (Window* w : windows) out.push_back(w->handle);
    return out;
}

}  // namespace
}  // namespace lumacap::ui

using namespace lumacap::ui;

BOOL WINAPI IsWindow(HWND hWnd) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    return u.FindL(hWnd) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND hWnd) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    return w && u.VisibleOnScreenL(w) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd) {
    return WithWindow(hWnd, FALSE,
                      [](UserState&, Window& w) { return (w.style & WS_DISABLED) ? FALSE : TRUE; });
}

BOOL WINAPI IsZoomed(HWND hWnd) {
    return WithWindow(hWnd, FALSE,
                      [](UserState&, Window& w) { return (w.style & WS_MAXIMIZE) ? TRUE : FALSE; });
}

BOOL WINAPI IsIconic(HWND hWnd) {
    return WithWindow(hWnd, FALSE,
                      [](UserState&, Window& w) { return (w.style & WS_MINIMIZE) ? TRUE : FALSE; });
}

BOOL WINAPI IsChild(HWND hWndParent, HWND hWnd) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    Window* w = u.FindL(hWnd);
    for (Window* p = w ? w->parent : nullptr; p; p = p->parent)
        if (p->handle == hWndParent) return TRUE;
    return FALSE;
}

DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId) {
    return WithWindow(hWnd, DWORD{0}, [&](UserState&, Window& w) {
        if (lpdwProcessId) *lpdwProcessId = w.Local() ? GetCurrentProcessId() : w.processId;
        return w.ownerTid;
    });
}

BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect) {
    if (!lpRect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithWindow(hWnd, FALSE, [&](UserState&, Window& w) {
        *lpRect = RECT{0, 0, w.ClientWidth(), w.ClientHeight()};
        return TRUE;
    });
}

BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect) {
    if (!lpRect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithWindow(hWnd, FALSE, [&](UserState& u, Window& w) {
        *lpRect = u.WindowScreenRectL(&w);
        return TRUE;
    });
}

BOOL WINAPI ClientToScreen(HWND hWnd, LPPOINT lpPoint) {
    if (!lpPoint) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithWindow(hWnd, FALSE, [&](UserState& u, Window& w) {
        const POINT o = u.ClientOriginL(&w);
        lpPoint->x += o.x;
        lpPoint->y += o.y;
        return TRUE;
    });
}

BOOL WINAPI ScreenToClient(HWND hWnd, LPPOINT lpPoint) {
    if (!lpPoint) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return WithWindow(hWnd, FALSE, [&](UserState& u, Window& w) {
        const POINT o = u.ClientOriginL(&w);
        lpPoint->x -= o.x;
        lpPoint->y -= o.y;
        return TRUE;
    });
}

HWND WINAPI GetParent(HWND hWnd) {
    return WithWindow(hWnd, HWND{nullptr},
                      [](UserState&, Window& w) { return w.parent ? w.parent->handle : w.owner; });
}

HWND WINAPI GetDesktopWindow() {
    UserState& u = UserState::Get();
    return u.desktopWindow.handle;
}

HWND WINAPI GetAncestor(HWND hwnd, UINT gaFlags) {
    return WithWindow(hwnd, HWND{nullptr}, [&](UserState& u, Window& w) -> HWND {
        if (&w == &u.desktopWindow) return nullptr;
        switch (gaFlags) {
            case GA_PARENT:
                return w.parent ? w.parent->handle : u.desktopWindow.handle;
            case GA_ROOT:
                return u.TopLevelOfL(&w)->handle;
            case GA_ROOTOWNER: {
                Window* x = u.TopLevelOfL(&w);
                for (int guard = 0; x && x->owner && guard < 1000; ++guard) {
                    Window* owner = u.FindL(x->owner);
                    if (!owner) break;
                    x = u.TopLevelOfL(owner);
                }
                return x->handle;
            }
            default:
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
        }
    });
}

HWND WINAPI WindowFromPoint(POINT pt) {
    UserState& u = UserState::Get();
    HWND ours = nullptr, foreign = nullptr;
    uint64_t foreignId = 0;
    std::shared_ptr<DisplayBackend> backend;
    {
        std::lock_guard<std::mutex> lock(u.mutex);
        for (Window* w : u.topLevels) {
            if (!w->Visible() || (w->style & WS_MINIMIZE) || !PtInRect(&w->rect, pt)) continue;
            Window* hit = w;
            for (bool descended = true; descended;) {
                descended = false;
                const POINT o = u.ClientOriginL(hit);
                const POINT local{pt.x - o.x, pt.y - o.y};
                for (Window* c : hit->children) {
                    if (c->Visible() && !(c->style & WS_DISABLED) && PtInRect(&c->rect, local)) {
                        hit = c;
                        descended = true;
                        break;
                    }
                }
            }
            ours = hit->handle;
            break;
        }
        // Other programs' windows, topmost first.
        for (Window* w : u.foreign) {
            if (!w->Visible() || (w->style & WS_MINIMIZE) || !PtInRect(&w->rect, pt)) continue;
            foreign = w->handle;
            foreignId = w->displayId;
            break;
        }
        backend = u.backend;
    }
    if (!ours || !foreign) return ours ? ours : foreign;
    // Both lie under the point: the display knows which is on top.
    return backend->ForeignOnTop(foreignId, pt) ? foreign : ours;
}

HWND WINAPI GetWindow(HWND hWnd, UINT uCmd) {
    return WithWindow(hWnd, HWND{nullptr}, [&](UserState& u, Window& w) -> HWND {
        if (uCmd == GW_CHILD) return w.children.empty() ? nullptr : w.children.front()->handle;
        if (uCmd == GW_OWNER) return w.owner;
        if (&w == &u.desktopWindow) return nullptr;
        const std::vector<Window*> list = w.parent ? w.parent->children : TopLevelsL(u);
        auto it = std::find(list.begin(), list.end(), &w);
        switch (uCmd) {
            case GW_HWNDFIRST:
                return list.front()->handle;
            case GW_HWNDLAST:
                return list.back()->handle;
            case GW_HWNDNEXT:
                return (it + 1) == list.end() ? nullptr : (*(it + 1))->handle;
            case GW_HWNDPREV:
                return it == list.begin() ? nullptr : (*(it - 1))->handle;
            default:
                SetLastError(ERROR_INVALID_PARAMETER);
                return nullptr;
        }
    });
}

HWND WINAPI FindWindowExA(HWND hWndParent, HWND hWndChildAfter, LPCSTR lpszClass,
                          LPCSTR lpszWindow) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    if (hWndParent == u.desktopWindow.handle) hWndParent = nullptr;
    std::vector<Window*> list;
    if (hWndParent) {
        Window* p = u.FindL(hWndParent);
        if (!p) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        list = p->children;
    } else {
        list = TopLevelsL(u);
    }
    auto it = list.begin();
    if (hWndChildAfter) {
        it = std::find_if(list.begin(), list.end(),
                          [&](Window* w) { return w->handle == hWndChildAfter; });
        if (it == list.end()) return nullptr;
        ++it;
    }
    const std::shared_ptr<WindowClass> registered = lpszClass ? FindClassL(u, lpszClass) : nullptr;
    for (; it != list.end(); ++it) {
        if (!ClassMatches(u, **it, lpszClass, registered)) continue;
        // Window names compare without regard to case, as the system's do.
        if (lpszWindow && strcasecmp((*it)->title.c_str(), lpszWindow) != 0) continue;
        return (*it)->handle;
    }
    return nullptr;
}

HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName) {
    return FindWindowExA(nullptr, nullptr, lpClassName, lpWindowName);
}

BOOL WINAPI EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam) {
    if (!lpEnumFunc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::vector<HWND> handles;
    {
        UserState& u = UserState::Get();
        std::lock_guard<std::mutex> lock(u.mutex);
        handles = Handles(TopLevelsL(u));
    }
    // The callback runs without USER's lock: it may create, destroy or ask about windows.
    for (HWND h : handles)
        if (IsWindow(h) && !lpEnumFunc(h, lParam)) return FALSE;
    return TRUE;
}

BOOL WINAPI EnumChildWindows(HWND hWndParent, WNDENUMPROC lpEnumFunc, LPARAM lParam) {
    if (!lpEnumFunc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!hWndParent || hWndParent == GetDesktopWindow()) return EnumWindows(lpEnumFunc, lParam);
    // All descendants, each child followed by its own children.
    std::vector<HWND> handles =
        WithWindow(hWndParent, std::vector<HWND>{}, [](UserState&, Window& w) {
            std::vector<HWND> out;
            std::vector<Window*> stack(w.children.rbegin(), w.children.rend());
            while (!stack.empty()) {
                Window* x = stack.back();
                stack.pop_back();
                out.push_back(x->handle);
                stack.insert(stack.end(), x->children.rbegin(), x->children.rend());
            }
            return out;
        });
    for (HWND h : handles)
        if (IsWindow(h) && !lpEnumFunc(h, lParam)) return FALSE;
    return TRUE;
}

int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
    // The text is read where USER keeps it, without asking the window (as for other programs'
    // windows), so a window whose thread is busy cannot hold the caller.
    return WithWindow(hWnd, 0, [&](UserState&, Window& w) {
        if (!lpString || nMaxCount <= 0) return static_cast<int>(w.title.size());
        const int n = std::min<int>(nMaxCount - 1, static_cast<int>(w.title.size()));
        std::memcpy(lpString, w.title.data(), static_cast<size_t>(n));
        lpString[n] = '\0';
        return n;
    });
}

int WINAPI GetWindowTextLengthA(HWND hWnd) {
    return GetWindowTextA(hWnd, nullptr, 0);
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString) {
    const bool local = WithWindow(hWnd, false, [](UserState&, Window& w) { return w.Local(); });
    if (!local) {
        if (IsWindow(hWnd)) SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    return SendMessageA(hWnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(lpString)) ? TRUE : FALSE;
}

int WINAPI GetDlgCtrlID(HWND hWnd) {
    return static_cast<int>(GetWindowLongPtrA(hWnd, GWLP_ID));
}

LRESULT WINAPI CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg, WPARAM wParam,
                               LPARAM lParam) {
    return lpPrevWndFunc ? lpPrevWndFunc(hWnd, Msg, wParam, lParam) : 0;
}
