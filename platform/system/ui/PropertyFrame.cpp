// OleCreatePropertyFrame: the modal frame that shows an object's property pages. The frame is a
// dialog window owned by the caller's window; each page is a child window, and each control of a
// page is a trackbar whose position is the control's value. The pages this platform provides are
// those capture drivers name: video processing (IAMVideoProcAmp) and camera control
// (IAMCameraControl). Moving a trackbar applies the value to the object at once, and the trackbar
// then shows what the device took. The frame runs its own message loop on the calling thread and
// returns when the window is closed.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <lumacap/sim_capture.h>
#include <olectl.h>
#include <strmif.h>
#include <windows.h>

#include "platform/system/ui/User.h"

#ifndef WM_HSCROLL
#define WM_HSCROLL 0x0114
#endif
#ifndef TB_THUMBPOSITION
#define TB_THUMBPOSITION 4
#endif
#ifndef TB_ENDTRACK
#define TB_ENDTRACK 8
#endif

// Trackbar messages, numbered as the common controls number them.
#define TBM_GETPOS (WM_USER)
#define TBM_GETRANGEMIN (WM_USER + 1)
#define TBM_GETRANGEMAX (WM_USER + 2)
#define TBM_SETPOS (WM_USER + 5)
#define TBM_SETRANGEMIN (WM_USER + 7)
#define TBM_SETRANGEMAX (WM_USER + 8)
#define TBM_SETLINESIZE (WM_USER + 23)
#define TBM_GETLINESIZE (WM_USER + 24)
#define TBM_SETPOSNOTIFY (WM_USER + 34)

namespace lumacap::ui {
namespace {

constexpr char kFrameClass[] = "#32770";
constexpr char kPageClass[] = "LumacapPropertyPage";
constexpr char kTrackbarClass[] = "msctls_trackbar32";

constexpr GUID CLSID_VideoProcAmpPropertyPage = {
    0x71F96464, 0x78F3, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};
constexpr GUID CLSID_CameraControlPropertyPage = {
    0x71F96465, 0x78F3, 0x11D0, {0xA1, 0x8C, 0x00, 0xA0, 0xC9, 0x11, 0x89, 0x56}};

constexpr int kFrameWidth = 420;
constexpr int kMargin = 10;
constexpr int kPageHeader = 24;
constexpr int kRowHeight = 30;
constexpr int kTrackHeight = 24;

const char* const kProcAmpNames[] = {"Brightness",     "Contrast", "Hue",          "Saturation",
                                     "Sharpness",      "Gamma",    "Color Enable", "White Balance",
                                     "Backlight Comp", "Gain"};
const char* const kCameraControlNames[] = {"Pan",      "Tilt", "Roll", "Zoom",
                                           "Exposure", "Iris", "Focus"};

// ---- trackbar ----

struct Trackbar {
    long minimum = 0;
    long maximum = 100;
    long position = 0;
    long lineSize = 1;
};

Trackbar* TrackbarOf(HWND hwnd) {
    return reinterpret_cast<Trackbar*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

void PaintTrackbar(HWND hwnd, const Trackbar& tb) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    if (!dc) return;
    RECT rc{};
    GetClientRect(hwnd, &rc);
    FillRect(dc, &rc, GetSysColorBrush(COLOR_BTNFACE));
    // The channel across the middle, and the thumb where the position lies in the range.
    const int channelTop = rc.bottom / 2 - 2;
    RECT channel{6, channelTop, rc.right - 6, channelTop + 4};
    FillRect(dc, &channel, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    const long span = tb.maximum - tb.minimum;
    const int track = std::max<int>(0, rc.right - 12 - 10);
    const int x =
        6 + (span > 0
                 ? static_cast<int>(static_cast<double>(tb.position - tb.minimum) * track / span)
                 : 0);
    RECT thumb{x, 2, x + 10, rc.bottom - 2};
    FillRect(dc, &thumb, static_cast<HBRUSH>(GetStockObject(DKGRAY_BRUSH)));
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK TrackbarProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    Trackbar* tb = TrackbarOf(hwnd);
    switch (message) {
        case WM_NCCREATE:
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new Trackbar()));
            return TRUE;
        case WM_NCDESTROY:
            delete tb;
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
            return 0;
        default:
            break;
    }
    if (!tb) return DefWindowProcA(hwnd, message, wParam, lParam);
    auto clamp = [tb](long v) {
        return std::clamp(v, tb->minimum, std::max(tb->minimum, tb->maximum));
    };
    switch (message) {
        case WM_PAINT:
            PaintTrackbar(hwnd, *tb);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case TBM_GETPOS:
            return tb->position;
        case TBM_GETRANGEMIN:
            return tb->minimum;
        case TBM_GETRANGEMAX:
            return tb->maximum;
        case TBM_GETLINESIZE:
            return tb->lineSize;
        case TBM_SETLINESIZE: {
            const long old = tb->lineSize;
            tb->lineSize = static_cast<long>(lParam);
            return old;
        }
        case TBM_SETRANGEMIN:
            tb->minimum = static_cast<long>(lParam);
            tb->position = clamp(tb->position);
            if (wParam) InvalidateRect(hwnd, nullptr, TRUE);
            return 0;
        case TBM_SETRANGEMAX:
            tb->maximum = static_cast<long>(lParam);
            tb->position = clamp(tb->position);
            if (wParam) InvalidateRect(hwnd, nullptr, TRUE);
            return 0;
        case TBM_SETPOS:
            tb->position = clamp(static_cast<long>(lParam));
            if (wParam) InvalidateRect(hwnd, nullptr, TRUE);
            return 0;
        case TBM_SETPOSNOTIFY: {
            // As if the user had dragged the thumb there: the parent hears of it.
            tb->position = clamp(static_cast<long>(lParam));
            InvalidateRect(hwnd, nullptr, TRUE);
            HWND parent = GetParent(hwnd);
            const WPARAM where = MAKEWPARAM(TB_THUMBPOSITION, static_cast<WORD>(tb->position));
            SendMessageA(parent, WM_HSCROLL, where, reinterpret_cast<LPARAM>(hwnd));
            SendMessageA(parent, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0),
                         reinterpret_cast<LPARAM>(hwnd));
            return 0;
        }
        default:
            return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

// ---- pages ----

struct Page {
    IAMVideoProcAmp* procAmp = nullptr;
    IAMCameraControl* cameraControl = nullptr;
    ~Page() {
        if (procAmp) procAmp->Release();
        if (cameraControl) cameraControl->Release();
    }
    HRESULT Set(long property, long value, long flags) {
        if (procAmp) return procAmp->Set(property, value, flags);
        if (cameraControl) return cameraControl->Set(property, value, flags);
        return E_NOINTERFACE;
    }
    HRESULT Get(long property, long* value, long* flags) {
        if (procAmp) return procAmp->Get(property, value, flags);
        if (cameraControl) return cameraControl->Get(property, value, flags);
        return E_NOINTERFACE;
    }
    HRESULT GetRange(long property, long* mn, long* mx, long* step, long* def, long* caps) {
        if (procAmp) return procAmp->GetRange(property, mn, mx, step, def, caps);
        if (cameraControl) return cameraControl->GetRange(property, mn, mx, step, def, caps);
        return E_NOINTERFACE;
    }
};

Page* PageOf(HWND hwnd) {
    return reinterpret_cast<Page*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
}

LRESULT CALLBACK PageProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_NCCREATE: {
            const auto* cs = reinterpret_cast<const CREATESTRUCTA*>(lParam);
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
            return TRUE;
        }
        case WM_NCDESTROY:
            delete PageOf(hwnd);
            SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
            return 0;
        case WM_HSCROLL: {
            Page* page = PageOf(hwnd);
            HWND trackbar = reinterpret_cast<HWND>(lParam);
            if (!page || LOWORD(wParam) != TB_THUMBPOSITION || !IsWindow(trackbar)) return 0;
            // A value the user picks is a manual one; the trackbar then shows what the device took.
            const long property = GetDlgCtrlID(trackbar);
            const long value = static_cast<long>(SendMessageA(trackbar, TBM_GETPOS, 0, 0));
            page->Set(property, value, VideoProcAmp_Flags_Manual);
            long now = value, flags = 0;
            if (SUCCEEDED(page->Get(property, &now, &flags)) && now != value)
                SendMessageA(trackbar, TBM_SETPOS, TRUE, now);
            return 0;
        }
        case WM_ERASEBKGND: {
            RECT rc{};
            GetClientRect(hwnd, &rc);
            FillRect(reinterpret_cast<HDC>(wParam), &rc, GetSysColorBrush(COLOR_BTNFACE));
            return 1;
        }
        default:
            return DefWindowProcA(hwnd, message, wParam, lParam);
    }
}

// A page of the frame at `top`: its controls as trackbars named after them. Answers its height.
int AddPage(HWND frame, int index, int top, REFCLSID clsid, IUnknown* object) {
    auto* page = new Page();
    std::string title;
    const char* const* names = nullptr;
    long count = 0;
    if (clsid == CLSID_VideoProcAmpPropertyPage) {
        title = "Video Proc Amp";
        object->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(&page->procAmp));
        names = kProcAmpNames;
        count = static_cast<long>(std::size(kProcAmpNames));
    } else if (clsid == CLSID_CameraControlPropertyPage) {
        title = "Camera Control";
        object->QueryInterface(IID_IAMCameraControl,
                               reinterpret_cast<void**>(&page->cameraControl));
        names = kCameraControlNames;
        count = static_cast<long>(std::size(kCameraControlNames));
    } else {
        // A page this platform does not provide: shown by its identifier, without controls.
        char text[64];
        std::snprintf(text, sizeof(text), "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                      static_cast<unsigned long>(clsid.Data1), clsid.Data2, clsid.Data3,
                      clsid.Data4[0], clsid.Data4[1], clsid.Data4[2], clsid.Data4[3],
                      clsid.Data4[4], clsid.Data4[5], clsid.Data4[6], clsid.Data4[7]);
        title = text;
    }
    struct Row {
        long property, minimum, maximum, step, value;
    };
    std::vector<Row> rows;
    for (long p = 0; p < count; ++p) {
        long mn = 0, mx = 0, step = 0, def = 0, caps = 0, value = 0, flags = 0;
        if (FAILED(page->GetRange(p, &mn, &mx, &step, &def, &caps))) continue;
        if (FAILED(page->Get(p, &value, &flags))) value = def;
        rows.push_back(Row{p, mn, mx, step, value});
    }
    const int width = kFrameWidth - 2 * kMargin;
    const int height = kPageHeader + static_cast<int>(rows.size()) * kRowHeight;
    HWND hPage = CreateWindowExA(
        0, kPageClass, title.c_str(), WS_CHILD | WS_VISIBLE, kMargin, top, width, height, frame,
        reinterpret_cast<HMENU>(static_cast<intptr_t>(index)), nullptr, page);
    if (!hPage) {
        delete page;
        return 0;
    }
    int y = kPageHeader;
    for (const Row& r : rows) {
        HWND tb = CreateWindowExA(
            0, kTrackbarClass, names[r.property], WS_CHILD | WS_VISIBLE, 0, y, width, kTrackHeight,
            hPage, reinterpret_cast<HMENU>(static_cast<intptr_t>(r.property)), nullptr, nullptr);
        if (tb) {
            SendMessageA(tb, TBM_SETRANGEMIN, FALSE, r.minimum);
            SendMessageA(tb, TBM_SETRANGEMAX, FALSE, r.maximum);
            SendMessageA(tb, TBM_SETLINESIZE, 0, r.step);
            SendMessageA(tb, TBM_SETPOS, TRUE, r.value);
        }
        y += kRowHeight;
    }
    return height;
}

// ---- the frame ----

std::mutex g_framesMutex;
std::vector<HWND>& OpenFrames() {
    static std::vector<HWND> frames;
    return frames;
}

LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ERASEBKGND: {
            RECT rc{};
            GetClientRect(hwnd, &rc);
            FillRect(reinterpret_cast<HDC>(wParam), &rc, GetSysColorBrush(COLOR_BTNFACE));
            return 1;
        }
        case WM_NCDESTROY: {
            std::lock_guard<std::mutex> lock(g_framesMutex);
            auto& frames = OpenFrames();
            frames.erase(std::remove(frames.begin(), frames.end(), hwnd), frames.end());
            break;
        }
        default:
            break;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

void RegisterClasses() {
    // A class registered by an earlier frame serves again; the second registration fails quietly.
    WNDCLASSA wc{};
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.lpfnWndProc = FrameProc;
    wc.lpszClassName = kFrameClass;
    RegisterClassA(&wc);
    wc.lpfnWndProc = PageProc;
    wc.lpszClassName = kPageClass;
    RegisterClassA(&wc);
    wc.lpfnWndProc = TrackbarProc;
    wc.lpszClassName = kTrackbarClass;
    RegisterClassA(&wc);
}

std::string FrameCaption(LPCOLESTR caption, IUnknown* object) {
    std::wstring wide;
    if (caption) {
        wide = caption;
    } else {
        // Named after the object, as the frame names the thing whose properties it shows.
        IBaseFilter* filter = nullptr;
        if (SUCCEEDED(object->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter))) &&
            filter) {
            FILTER_INFO info{};
            if (SUCCEEDED(filter->QueryFilterInfo(&info))) {
                wide = info.achName;
                if (info.pGraph) info.pGraph->Release();
            }
            filter->Release();
        }
        wide += wide.empty() ? L"Properties" : L" Properties";
    }
    const int size = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(std::max(size, 1)), '\0');
    if (size > 0)
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, out.data(), size, nullptr, nullptr);
    out.resize(std::strlen(out.c_str()));
    return out;
}

bool IsPropertyFrame(HWND hwnd) {
    std::lock_guard<std::mutex> lock(g_framesMutex);
    const auto& frames = OpenFrames();
    return hwnd && std::find(frames.begin(), frames.end(), hwnd) != frames.end();
}

// The trackbars of a frame, page by page in the frame's order, each with its page.
std::vector<std::pair<HWND, HWND>> FrameTrackbars(HWND frame) {
    auto children = [](HWND parent) {
        std::vector<HWND> out;
        for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            out.push_back(c);
        std::sort(out.begin(), out.end(),
                  [](HWND a, HWND b) { return GetDlgCtrlID(a) < GetDlgCtrlID(b); });
        return out;
    };
    std::vector<std::pair<HWND, HWND>> out;
    for (HWND page : children(frame))
        for (HWND tb : children(page)) out.emplace_back(page, tb);
    return out;
}

std::string WindowText(HWND hwnd) {
    char text[256] = {};
    GetWindowTextA(hwnd, text, sizeof(text));
    return text;
}

}  // namespace
}  // namespace lumacap::ui

using namespace lumacap::ui;

HRESULT WINAPI OleCreatePropertyFrame(HWND hwndOwner, UINT x, UINT y, LPCOLESTR lpszCaption,
                                      ULONG cObjects, LPUNKNOWN* ppUnk, ULONG cPages,
                                      LPCLSID pPageClsID, LCID, DWORD, LPVOID) {
    if (cObjects == 0 || !ppUnk || !ppUnk[0] || (cPages > 0 && !pPageClsID)) return E_INVALIDARG;
    if (hwndOwner && !IsWindow(hwndOwner)) return E_INVALIDARG;
    RegisterClasses();
    POINT origin{static_cast<LONG>(x), static_cast<LONG>(y)};
    if (hwndOwner) ClientToScreen(hwndOwner, &origin);
    const std::string caption = FrameCaption(lpszCaption, ppUnk[0]);
    HWND frame =
        CreateWindowExA(0, kFrameClass, caption.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU,
                        origin.x, origin.y, kFrameWidth, 100, hwndOwner, nullptr, nullptr, nullptr);
    if (!frame) return E_OUTOFMEMORY;
    {
        std::lock_guard<std::mutex> lock(g_framesMutex);
        OpenFrames().push_back(frame);
    }
    // The pages stacked one below the other; the frame grows to hold them.
    int top = kMargin;
    for (ULONG i = 0; i < cPages; ++i)
        top += AddPage(frame, static_cast<int>(i), top, pPageClsID[i], ppUnk[0]) + kMargin;
    RECT rc{};
    GetWindowRect(frame, &rc);
    RECT client{};
    GetClientRect(frame, &client);
    const int frameExtra = (rc.bottom - rc.top) - client.bottom;
    SetWindowPos(frame, nullptr, 0, 0, kFrameWidth, top + frameExtra,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);

    // Modal: the owner takes no input while the frame is open.
    const bool disableOwner = hwndOwner && !(GetWindowLongPtrA(hwndOwner, GWL_STYLE) & WS_DISABLED);
    if (disableOwner)
        SetWindowLongPtrA(hwndOwner, GWL_STYLE,
                          GetWindowLongPtrA(hwndOwner, GWL_STYLE) | WS_DISABLED);
    ShowWindow(frame, SW_SHOW);
    while (IsWindow(frame)) {
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            // Checked now and then: a frame removed without a message (its thread's windows taken
            // away) must not leave the caller waiting.
            WaitForMessages(100);
            continue;
        }
        if (msg.message == WM_QUIT) {
            // The application is ending: the frame closes and the quit goes on to its loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    if (IsWindow(frame)) DestroyWindow(frame);
    if (disableOwner && IsWindow(hwndOwner))
        SetWindowLongPtrA(
            hwndOwner, GWL_STYLE,
            GetWindowLongPtrA(hwndOwner, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_DISABLED));
    {
        std::lock_guard<std::mutex> lock(g_framesMutex);
        auto& frames = OpenFrames();
        frames.erase(std::remove(frames.begin(), frames.end(), frame), frames.end());
    }
    return S_OK;
}

// ---- simulation controls ----

namespace lumacap::sim {

HWND FindPropertyFrame(unsigned timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(g_framesMutex);
            for (auto it = OpenFrames().rbegin(); it != OpenFrames().rend(); ++it)
                if (IsWindow(*it) && IsWindowVisible(*it)) return *it;
        }
        if (std::chrono::steady_clock::now() >= deadline) return nullptr;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::vector<PropertyFrameControl> PropertyFrameControls(HWND frame) {
    std::vector<PropertyFrameControl> out;
    if (!IsPropertyFrame(frame)) return out;
    for (const auto& [page, tb] : FrameTrackbars(frame)) {
        PropertyFrameControl c;
        c.page = WindowText(page);
        c.name = WindowText(tb);
        c.minimum = static_cast<long>(SendMessageA(tb, TBM_GETRANGEMIN, 0, 0));
        c.maximum = static_cast<long>(SendMessageA(tb, TBM_GETRANGEMAX, 0, 0));
        c.step = static_cast<long>(SendMessageA(tb, TBM_GETLINESIZE, 0, 0));
        c.value = static_cast<long>(SendMessageA(tb, TBM_GETPOS, 0, 0));
        out.push_back(c);
    }
    return out;
}

bool SetPropertyFrameValue(HWND frame, const char* name, long value) {
    if (!name || !IsPropertyFrame(frame)) return false;
    for (const auto& [page, tb] : FrameTrackbars(frame)) {
        if (WindowText(tb) != name) continue;
        SendMessageA(tb, TBM_SETPOSNOTIFY, 0, value);
        return true;
    }
    return false;
}

bool ClosePropertyFrame(HWND frame) {
    return IsPropertyFrame(frame) && PostMessageA(frame, WM_CLOSE, 0, 0);
}

}  // namespace lumacap::sim
