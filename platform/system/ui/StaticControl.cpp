// The system's "Static" control: a window that fills itself with its parent's colour (or a
// frame, a solid rectangle, a bitmap), lets the pointer through unless it notifies, and keeps a
// text it has no font to draw.
#include <map>
#include <mutex>

#include "platform/system/ui/User.h"

namespace lumacap::ui {
namespace {

// The bitmaps of SS_BITMAP controls, which the real control keeps in its window's extra bytes
// (the user-data slot stays the host's).
std::mutex g_imageMutex;
std::map<HWND, HBITMAP> g_images;

HBITMAP ImageOf(HWND hwnd) {
    std::lock_guard<std::mutex> lock(g_imageMutex);
    auto it = g_images.find(hwnd);
    return it == g_images.end() ? nullptr : it->second;
}

HBITMAP SetImage(HWND hwnd, HBITMAP image) {
    std::lock_guard<std::mutex> lock(g_imageMutex);
    HBITMAP old = g_images.count(hwnd) ? g_images[hwnd] : nullptr;
    if (image) {
        g_images[hwnd] = image;
    } else {
        g_images.erase(hwnd);
    }
    return old;
}

void Notify(HWND hwnd, WORD code) {
    if (!(GetWindowLongA(hwnd, GWL_STYLE) & SS_NOTIFY)) return;
    HWND parent = GetParent(hwnd);
    if (parent)
        SendMessageA(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), code),
                     reinterpret_cast<LPARAM>(hwnd));
}

void Paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hwnd, &ps);
    if (!hdc) return;
    RECT rc;
    GetClientRect(hwnd, &rc);
    const DWORD type = static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE)) & SS_TYPEMASK;
    auto sys = [](int index) { return GetSysColorBrush(index); };
    switch (type) {
        case SS_BLACKRECT:
            FillRect(hdc, &rc, sys(COLOR_WINDOWFRAME));
            break;
        case SS_GRAYRECT:
            FillRect(hdc, &rc, sys(COLOR_BACKGROUND));
            break;
        case SS_WHITERECT:
            FillRect(hdc, &rc, sys(COLOR_WINDOW));
            break;
        case SS_BLACKFRAME:
        case SS_GRAYFRAME:
        case SS_WHITEFRAME:
            FrameRect(hdc, &rc,
                      sys(type == SS_BLACKFRAME  ? COLOR_WINDOWFRAME
                          : type == SS_GRAYFRAME ? COLOR_BACKGROUND
                                                 : COLOR_WINDOW));
            break;
        default: {
            HWND parent = GetParent(hwnd);
            HBRUSH brush = parent ? reinterpret_cast<HBRUSH>(SendMessageA(
                                        parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(hdc),
                                        reinterpret_cast<LPARAM>(hwnd)))
                                  : nullptr;
            FillRect(hdc, &rc, brush ? brush : sys(COLOR_BTNFACE));
            HBITMAP image = type == SS_BITMAP ? ImageOf(hwnd) : nullptr;
            BITMAP bm{};
            if (image && GetObjectA(image, sizeof(bm), &bm)) {
                HDC mem = CreateCompatibleDC(hdc);
                HGDIOBJ old = SelectObject(mem, image);
                int x = 0, y = 0;
                if (GetWindowLongA(hwnd, GWL_STYLE) & SS_CENTERIMAGE) {
                    x = (rc.right - bm.bmWidth) / 2;
                    y = (rc.bottom - bm.bmHeight) / 2;
                }
                BitBlt(hdc, x, y, bm.bmWidth, bm.bmHeight, mem, 0, 0, SRCCOPY);
                SelectObject(mem, old);
                DeleteDC(mem);
            }
            break;
        }
    }
    EndPaint(hwnd, &ps);
}

}  // namespace

LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_NCHITTEST:
            return (GetWindowLongA(hwnd, GWL_STYLE) & SS_NOTIFY) ? HTCLIENT : HTTRANSPARENT;
        case WM_ERASEBKGND:
            return 1;  // the paint covers everything
        case WM_PAINT:
            Paint(hwnd);
            return 0;
        case WM_LBUTTONDOWN:
            Notify(hwnd, STN_CLICKED);
            return 0;
        case WM_LBUTTONDBLCLK:
            Notify(hwnd, STN_DBLCLK);
            return 0;
        case WM_NCDESTROY:
            SetImage(hwnd, nullptr);
            return DefWindowProcA(hwnd, msg, wParam, lParam);
        case WM_ENABLE:
            InvalidateRect(hwnd, nullptr, TRUE);
            return 0;
        case STM_SETIMAGE: {
            if (wParam != IMAGE_BITMAP) return 0;
            HBITMAP old = SetImage(hwnd, reinterpret_cast<HBITMAP>(lParam));
            InvalidateRect(hwnd, nullptr, TRUE);
            return reinterpret_cast<LRESULT>(old);
        }
        case STM_GETIMAGE:
            return wParam == IMAGE_BITMAP ? reinterpret_cast<LRESULT>(ImageOf(hwnd)) : 0;
        default:
            return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

}  // namespace lumacap::ui
