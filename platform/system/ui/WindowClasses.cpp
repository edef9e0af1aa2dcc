// Window classes: registration, lookup by name or atom, and the system's own classes.
#include <algorithm>
#include <cstring>

#include "platform/system/ui/User.h"
#include "platform/system/ui/UserInternal.h"

namespace lumacap::ui {

std::shared_ptr<WindowClass> FindClassL(UserState& u, LPCSTR name) {
    if (!name) return nullptr;
    if (IS_INTRESOURCE(name)) {
        const ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
        for (auto& [k, c] : u.classes)
            if (c->atom == atom) return c;
        return nullptr;
    }
    auto it = u.classes.find(LowerCase(name));
    return it == u.classes.end() ? nullptr : it->second;
}

LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

void RegisterSystemClassesL(UserState& u) {
    auto cls = std::make_shared<WindowClass>();
    cls->name = WC_STATIC;
    cls->style = CS_DBLCLKS | CS_PARENTDC | CS_GLOBALCLASS;
    cls->proc = &StaticWndProc;
    cls->cursor = SystemArrowCursor();
    cls->atom = u.nextAtom++;
    cls->system = true;
    u.classes[LowerCase(WC_STATIC)] = cls;
}

}  // namespace lumacap::ui

using namespace lumacap::ui;

ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXA) || !wc->lpfnWndProc || !wc->lpszClassName ||
        IS_INTRESOURCE(wc->lpszClassName) || !*wc->lpszClassName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    const std::string key = LowerCase(wc->lpszClassName);
    if (u.classes.count(key)) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto cls = std::make_shared<WindowClass>();
    cls->name = wc->lpszClassName;
    cls->style = wc->style;
    cls->proc = wc->lpfnWndProc;
    cls->instance = wc->hInstance;
    cls->cursor = wc->hCursor;
    cls->background = wc->hbrBackground;
    cls->atom = u.nextAtom++;
    u.classes[key] = cls;
    return cls->atom;
}

ATOM WINAPI RegisterClassA(const WNDCLASSA* wc) {
    if (!wc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    WNDCLASSEXA ex{sizeof(WNDCLASSEXA), wc->style,        wc->lpfnWndProc,   wc->cbClsExtra,
                   wc->cbWndExtra,      wc->hInstance,    wc->hIcon,         wc->hCursor,
                   wc->hbrBackground,   wc->lpszMenuName, wc->lpszClassName, nullptr};
    return RegisterClassExA(&ex);
}

BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    auto cls = FindClassL(u, lpClassName);
    if (!cls || cls->system) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    for (auto& [h, w] : u.windows)
        if (w->cls == cls) {
            SetLastError(ERROR_CLASS_HAS_WINDOWS);
            return FALSE;
        }
    u.classes.erase(LowerCase(cls->name.c_str()));
    return TRUE;
}

BOOL WINAPI GetClassInfoA(HINSTANCE, LPCSTR lpClassName, LPWNDCLASSA wc) {
    UserState& u = UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    auto cls = FindClassL(u, lpClassName);
    if (!cls || !wc) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    *wc = WNDCLASSA{cls->style,  cls->proc,       0,       0,          cls->instance, nullptr,
                    cls->cursor, cls->background, nullptr, lpClassName};
    return TRUE;
}

int WINAPI GetClassNameA(HWND hWnd, LPSTR lpClassName, int nMaxCount) {
    if (!lpClassName || nMaxCount <= 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    return WithWindow(hWnd, 0, [&](UserState&, Window& w) {
        const int n = std::min<int>(nMaxCount - 1, static_cast<int>(w.cls->name.size()));
        std::memcpy(lpClassName, w.cls->name.data(), static_cast<size_t>(n));
        lpClassName[n] = '\0';
        return n;
    });
}
