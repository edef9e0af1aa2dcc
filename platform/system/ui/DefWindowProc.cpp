// What every window does with the messages its procedure leaves alone: painting and erasing, the
// cursor, where a point is (the frame, the caption, the sides), the text, activation, moving and
// sizing with the pointer, and the system commands.
#include <algorithm>
#include <cstring>

#include "platform/system/ui/User.h"
#include "platform/system/ui/UserInternal.h"

namespace lumacap::ui {
namespace {

struct Frame {
    RECT window{};  // screen coordinates
    RECT client{};  // screen coordinates
    DWORD style = 0;
    HWND parent = nullptr;
    HCURSOR classCursor = nullptr;
    HBRUSH background = nullptr;
};

bool FrameOf(HWND hwnd, Frame* f) {
    return WithWindow(hwnd, false, [&](UserState& u, Window& w) {
        f->window = u.WindowScreenRectL(&w);
        const POINT o = u.ClientOriginL(&w);
        f->client = RECT{o.x, o.y, o.x + w.ClientWidth(), o.y + w.ClientHeight()};
        f->style = w.style;
        f->parent = w.parent ? w.parent->handle : nullptr;
        f->classCursor = w.cls->cursor;
        f->background = w.cls->background;
        return true;
    });
}

LRESULT HitTest(HWND hwnd, POINT pt) {
    Frame f;
    if (!FrameOf(hwnd, &f) || !PtInRect(&f.window, pt)) return HTNOWHERE;
    if (PtInRect(&f.client, pt)) return HTCLIENT;
    if ((f.style & WS_CAPTION) == WS_CAPTION && pt.y < f.client.top && pt.x >= f.client.left &&
        pt.x < f.client.right && pt.y > f.window.top)
        return HTCAPTION;
    if (!(f.style & WS_THICKFRAME)) return HTBORDER;
    // A sizing frame: its sides, and the corners where two sides meet.
    const bool left = pt.x < f.client.left, right = pt.x >= f.client.right;
    const bool top = pt.y <= f.window.top, bottom = pt.y >= f.client.bottom;
    if (top) return left ? HTTOPLEFT : right ? HTTOPRIGHT : HTTOP;
    if (bottom) return left ? HTBOTTOMLEFT : right ? HTBOTTOMRIGHT : HTBOTTOM;
    return left ? HTLEFT : HTRIGHT;
}

HCURSOR CursorForHit(int hit) {
    switch (hit) {
        case HTLEFT:
        case HTRIGHT:
            return LoadCursorA(nullptr, IDC_SIZEWE);
        case HTTOP:
        case HTBOTTOM:
            return LoadCursorA(nullptr, IDC_SIZENS);
        case HTTOPLEFT:
        case HTBOTTOMRIGHT:
            return LoadCursorA(nullptr, IDC_SIZENWSE);
        case HTTOPRIGHT:
        case HTBOTTOMLEFT:
            return LoadCursorA(nullptr, IDC_SIZENESW);
        default:
            return SystemArrowCursor();
    }
}

// The system's modal loop for moving a window by its caption or sizing it by a side: the window
// follows the pointer until the button comes up; Escape puts it back.
void TrackMoveSize(HWND hwnd, int hit, POINT start) {
    if (!(GetKeyState(VK_LBUTTON) & 0x8000)) return;
    RECT original;
    if (!GetWindowRect(hwnd, &original)) return;
    HWND parent = GetParent(hwnd);
    const bool child = (GetWindowLongA(hwnd, GWL_STYLE) & WS_CHILD) != 0;
    POINT parentOrigin{0, 0};
    if (child && parent) ClientToScreen(parent, &parentOrigin);
    SendMessageA(hwnd, WM_ENTERSIZEMOVE, 0, 0);
    SetCapture(hwnd);
    MSG msg;
    bool cancelled = false;
    while (IsWindow(hwnd) && GetCapture() == hwnd) {
        if (GetMessageA(&msg, nullptr, 0, 0) <= 0) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        if (msg.message == WM_KEYDOWN && msg.wParam == VK_ESCAPE) {
            cancelled = true;
            break;
        }
        if (msg.message == WM_LBUTTONUP) break;
        if (msg.message != WM_MOUSEMOVE || msg.hwnd != hwnd) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            continue;
        }
        const int dx = msg.pt.x - start.x, dy = msg.pt.y - start.y;
        RECT r = original;
        if (hit == HTCAPTION) {
            OffsetRect(&r, dx, dy);
        } else {
            if (hit == HTLEFT || hit == HTTOPLEFT || hit == HTBOTTOMLEFT) r.left += dx;
            if (hit == HTRIGHT || hit == HTTOPRIGHT || hit == HTBOTTOMRIGHT) r.right += dx;
            if (hit == HTTOP || hit == HTTOPLEFT || hit == HTTOPRIGHT) r.top += dy;
            if (hit == HTBOTTOM || hit == HTBOTTOMLEFT || hit == HTBOTTOMRIGHT) r.bottom += dy;
            r.right = std::max(r.right, r.left + 1);
            r.bottom = std::max(r.bottom, r.top + 1);
        }
        SetWindowPos(hwnd, nullptr, r.left - parentOrigin.x, r.top - parentOrigin.y,
                     r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    }
    if (GetCapture() == hwnd) ReleaseCapture();
    if (cancelled && IsWindow(hwnd))
        SetWindowPos(hwnd, nullptr, original.left - parentOrigin.x, original.top - parentOrigin.y,
                     original.right - original.left, original.bottom - original.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    if (IsWindow(hwnd)) SendMessageA(hwnd, WM_EXITSIZEMOVE, 0, 0);
}

LRESULT SetText(HWND hwnd, LPCSTR text) {
    return WithWindow(hwnd, LRESULT{FALSE}, [&](UserState& u, Window& w) {
        w.title = text ? text : "";
        u.NotifyBackendL(&w);
        return LRESULT{TRUE};
    });
}

LRESULT GetText(HWND hwnd, WPARAM size, LPSTR buffer) {
    if (!buffer || size == 0) return 0;
    return WithWindow(hwnd, LRESULT{0}, [&](UserState&, Window& w) {
        const size_t n = std::min<size_t>(size - 1, w.title.size());
        std::memcpy(buffer, w.title.data(), n);
        buffer[n] = '\0';
        return static_cast<LRESULT>(n);
    });
}

}  // namespace
}  // namespace lumacap::ui

using namespace lumacap::ui;

LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam) {
    switch (Msg) {
        case WM_NCCREATE:
            return TRUE;
        case WM_CLOSE:
            DestroyWindow(hWnd);
            return 0;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            if (BeginPaint(hWnd, &ps)) EndPaint(hWnd, &ps);
            return 0;
        }
        case WM_ERASEBKGND: {
            Frame f;
            if (!FrameOf(hWnd, &f) || !f.background) return 0;
            RECT rc;
            GetClipBox(reinterpret_cast<HDC>(wParam), &rc);
            FillRect(reinterpret_cast<HDC>(wParam), &rc, f.background);
            return 1;
        }
        case WM_SETCURSOR: {
            Frame f;
            if (!FrameOf(hWnd, &f)) return FALSE;
            // The parent decides first; a TRUE answer ends the matter.
            if (f.parent && SendMessageA(f.parent, WM_SETCURSOR, wParam, lParam)) return TRUE;
            const int hit = static_cast<short>(LOWORD(lParam));
            if (hit == HTCLIENT) {
                if (f.classCursor) SetCursor(f.classCursor);
            } else {
                SetCursor(CursorForHit(hit));
            }
            return FALSE;
        }
        case WM_NCHITTEST:
            return HitTest(hWnd, POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        case WM_MOUSEACTIVATE: {
            // A child asks its parent, which may answer for it.
            HWND parent = GetParent(hWnd);
            if (parent && (GetWindowLongA(hWnd, GWL_STYLE) & WS_CHILD)) {
                if (const LRESULT r = SendMessageA(parent, WM_MOUSEACTIVATE, wParam, lParam))
                    return r;
            }
            return MA_ACTIVATE;
        }
        case WM_ACTIVATE:
            if (LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam)) SetFocus(hWnd);
            return 0;
        case WM_NCACTIVATE:
            return TRUE;
        case WM_NCLBUTTONDOWN:
            if (wParam == HTCAPTION) {
                SendMessageA(hWnd, WM_SYSCOMMAND, SC_MOVE | HTCAPTION, lParam);
            } else if (wParam >= HTLEFT && wParam <= HTBOTTOMRIGHT) {
                SendMessageA(hWnd, WM_SYSCOMMAND, SC_SIZE | (wParam - HTLEFT + 1), lParam);
            }
            return 0;
        case WM_NCLBUTTONDBLCLK:
            if (wParam == HTCAPTION && (GetWindowLongA(hWnd, GWL_STYLE) & WS_MAXIMIZEBOX))
                SendMessageA(hWnd, WM_SYSCOMMAND, IsZoomed(hWnd) ? SC_RESTORE : SC_MAXIMIZE,
                             lParam);
            return 0;
        case WM_SYSCOMMAND: {
            const POINT pt{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
            switch (wParam & 0xFFF0) {
                case SC_MOVE:
                    TrackMoveSize(hWnd, HTCAPTION, pt);
                    return 0;
                case SC_SIZE:
                    TrackMoveSize(hWnd, static_cast<int>(wParam & 0x0F) + HTLEFT - 1, pt);
                    return 0;
                case SC_CLOSE:
                    SendMessageA(hWnd, WM_CLOSE, 0, 0);
                    return 0;
                case SC_MINIMIZE:
                    ShowWindow(hWnd, SW_MINIMIZE);
                    return 0;
                case SC_MAXIMIZE:
                    ShowWindow(hWnd, SW_MAXIMIZE);
                    return 0;
                case SC_RESTORE:
                    ShowWindow(hWnd, SW_RESTORE);
                    return 0;
                default:
                    return 0;
            }
        }
        case WM_SYSKEYDOWN:
            // Alt+F4 closes the top-level window.
            if (wParam == VK_F4 && (lParam & (1 << 29)))
                SendMessageA(GetAncestor(hWnd, GA_ROOT), WM_SYSCOMMAND, SC_CLOSE, 0);
            return 0;
        case WM_MOUSEWHEEL:
        case WM_MOUSEHWHEEL: {
            // Unhandled wheel turns go up to the parent.
            HWND parent = GetParent(hWnd);
            if (parent && (GetWindowLongA(hWnd, GWL_STYLE) & WS_CHILD))
                return SendMessageA(parent, Msg, wParam, lParam);
            return 0;
        }
        case WM_WINDOWPOSCHANGED: {
            const auto* pos = reinterpret_cast<const WINDOWPOS*>(lParam);
            if (!pos) return 0;
            POINT origin{0, 0};
            int cw = 0, ch = 0;
            DWORD style = 0;
            WithWindow(hWnd, 0, [&](UserState&, Window& w) {
                const RECT in = w.Insets();
                origin = POINT{w.rect.left + in.left, w.rect.top + in.top};
                cw = w.ClientWidth();
                ch = w.ClientHeight();
                style = w.style;
                return 0;
            });
            if (!(pos->flags & SWP_NOCLIENTMOVE))
                SendMessageA(hWnd, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
            if (!(pos->flags & SWP_NOCLIENTSIZE)) {
                const WPARAM type = (style & WS_MINIMIZE)   ? SIZE_MINIMIZED
                                    : (style & WS_MAXIMIZE) ? SIZE_MAXIMIZED
                                                            : SIZE_RESTORED;
                SendMessageA(hWnd, WM_SIZE, type, MAKELPARAM(cw, ch));
            }
            return 0;
        }
        case WM_SETTEXT:
            return SetText(hWnd, reinterpret_cast<LPCSTR>(lParam));
        case WM_GETTEXT:
            return GetText(hWnd, wParam, reinterpret_cast<LPSTR>(lParam));
        case WM_GETTEXTLENGTH:
            return GetWindowTextA(hWnd, nullptr, 0);
        case WM_CTLCOLORSTATIC:
            return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
        default:
            return 0;
    }
}
