// The window system's simulation controls.
#include <afxwin.h>
#include <lumacap/sim.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/system/ui/Gdi.h"
#include "platform/system/ui/Input.h"
#include "platform/system/ui/User.h"

namespace lumacap::sim {
namespace {

Pixels FromSurface(const ui::Surface* s) {
    Pixels p;
    if (!s) return p;
    p.width = s->Width();
    p.height = s->Height();
    p.data.resize(static_cast<size_t>(p.width) * static_cast<size_t>(p.height));
    std::lock_guard<std::mutex> lock(s->Mutex());
    for (int y = 0; y < p.height; ++y) {
        // A real screen's pad bytes are whatever its clients left there.
        const uint32_t* row = s->Row(y);
        uint32_t* out = &p.data[static_cast<size_t>(y) * p.width];
        for (int x = 0; x < p.width; ++x) out[x] = row[x] & 0x00FFFFFFu;
    }
    return p;
}

// Dispatches one pending message, leaving WM_QUIT in the queue; false when there is none.
bool DispatchOne() {
    MSG msg;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE) || msg.message == WM_QUIT) return false;
    if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));
        return false;
    }
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
    return true;
}

}  // namespace

std::vector<uint8_t> Pixels::ToBgr24BottomUp() const {
    const size_t stride = GDI_WIDTHBYTES(static_cast<size_t>(width) * 24);
    std::vector<uint8_t> out(stride * static_cast<size_t>(height));
    for (int y = 0; y < height; ++y) {
        uint8_t* row = &out[stride * static_cast<size_t>(height - 1 - y)];
        for (int x = 0; x < width; ++x) {
            const uint32_t p = At(x, y);
            row[x * 3] = static_cast<uint8_t>(p);
            row[x * 3 + 1] = static_cast<uint8_t>(p >> 8);
            row[x * 3 + 2] = static_cast<uint8_t>(p >> 16);
        }
    }
    return out;
}

void SetScreenSize(int width, int height) {
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return;
    ui::UserState& u = ui::UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    if (u.backend->RealScreen()) return;  // a real display's screen is the size it is
    u.screenWidth = width;
    u.screenHeight = height;
    u.cursorPos.x = std::min<LONG>(u.cursorPos.x, width - 1);
    u.cursorPos.y = std::min<LONG>(u.cursorPos.y, height - 1);
    u.ResetScreenL();
}

void SetDesktopColor(COLORREF color) {
    ui::UserState& u = ui::UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    u.desktopColor = color & 0xFFFFFF;
    u.ResetScreenL();
}

Pixels ReadScreen() {
    return ReadScreen(RECT{0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)});
}

Pixels ReadScreen(const RECT& area) {
    if (area.right <= area.left || area.bottom <= area.top) return Pixels{};
    auto s = ui::ComposeForRead(nullptr, area);
    return FromSurface(s.get());
}

Pixels ReadWindowClient(HWND hwnd) {
    RECT client;
    if (!GetClientRect(hwnd, &client) || client.right <= 0 || client.bottom <= 0) return Pixels{};
    auto s = ui::ComposeForRead(hwnd, client);
    return FromSurface(s.get());
}

Pixels ReadWindowSurface(HWND hwnd) {
    std::shared_ptr<ui::Surface> s;
    {
        ui::UserState& u = ui::UserState::Get();
        std::lock_guard<std::mutex> lock(u.mutex);
        ui::Window* w = u.FindL(hwnd);
        if (!w) return Pixels{};
        s = w->surface;
    }
    return FromSurface(s.get());
}

void MovePointer(int x, int y) {
    ui::SyntheticInput in;
    in.kind = ui::SyntheticInput::Kind::Move;
    in.x = x;
    in.y = y;
    if (!ui::CurrentBackend()->Synthesize(in)) ui::PointerMoveTo(x, y);
}

void PressButton(MouseButton button) {
    ui::SyntheticInput in;
    in.kind = ui::SyntheticInput::Kind::Button;
    in.button = static_cast<int>(button);
    in.down = true;
    if (!ui::CurrentBackend()->Synthesize(in))
        ui::PointerButton(static_cast<ui::MouseButton>(button), true);
}

void ReleaseButton(MouseButton button) {
    ui::SyntheticInput in;
    in.kind = ui::SyntheticInput::Kind::Button;
    in.button = static_cast<int>(button);
    if (!ui::CurrentBackend()->Synthesize(in))
        ui::PointerButton(static_cast<ui::MouseButton>(button), false);
}

void TurnWheel(int delta, bool horizontal) {
    ui::SyntheticInput in;
    in.kind = ui::SyntheticInput::Kind::Wheel;
    in.delta = delta;
    in.horizontal = horizontal;
    if (!ui::CurrentBackend()->Synthesize(in)) ui::PointerWheel(delta, horizontal);
}

void PressKey(UINT vk) {
    ui::SyntheticInput in;
    in.kind = ui::SyntheticInput::Kind::Key;
    in.vk = vk;
    in.down = true;
    if (!ui::CurrentBackend()->Synthesize(in)) ui::KeyEvent(vk, true);
}

void ReleaseKey(UINT vk) {
    ui::SyntheticInput in;
    in.kind = ui::SyntheticInput::Kind::Key;
    in.vk = vk;
    if (!ui::CurrentBackend()->Synthesize(in)) ui::KeyEvent(vk, false);
}

void TypeKey(UINT vk) {
    PressKey(vk);
    ReleaseKey(vk);
}

bool MovePointerToClient(HWND hwnd, int x, int y) {
    POINT p{x, y};
    if (!ClientToScreen(hwnd, &p)) return false;
    MovePointer(p.x, p.y);
    return true;
}

POINT PointerPosition() {
    POINT p{0, 0};
    GetCursorPos(&p);
    return p;
}

void SyncDisplay() {
    ui::CurrentBackend()->Sync();
}

HCURSOR CurrentCursor() {
    return GetCursor();
}

int PumpMessages() {
    // Each window is painted at most once per call: a window repainted faster than it paints (a
    // camera's preview on a slow machine) would otherwise keep the caller here for ever.
    std::vector<HWND> painted;
    int n = 0;
    MSG msg;
    while (n < 100000 && PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) {
        if (msg.message == WM_PAINT) {
            if (std::find(painted.begin(), painted.end(), msg.hwnd) != painted.end()) break;
            painted.push_back(msg.hwnd);
        }
        if (!DispatchOne()) break;
        ++n;
    }
    return n;
}

bool PumpMessagesUntil(const std::function<bool()>& condition, unsigned timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (condition && condition()) return true;
        // The time limit holds also while messages keep coming.
        const bool dispatched = DispatchOne();
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return condition ? condition() : false;
        if (dispatched) continue;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        // Short waits: the condition may also come true through other threads.
        ui::WaitForMessages(static_cast<unsigned>(std::min<long long>(left, 5)) + 1);
    }
}

std::vector<HWND> FindWindows(const char* className, const char* title) {
    ui::UserState& u = ui::UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    std::vector<HWND> out;
    for (auto& [h, w] : u.windows) {
        if (!w->Local()) continue;
        if (className && _stricmp(w->cls->name.c_str(), className) != 0) continue;
        if (title && w->title != title) continue;
        out.push_back(w->handle);
    }
    std::sort(out.begin(), out.end(), [](HWND a, HWND b) {
        return reinterpret_cast<uintptr_t>(a) < reinterpret_cast<uintptr_t>(b);
    });
    return out;
}

int WindowCount() {
    ui::UserState& u = ui::UserState::Get();
    std::lock_guard<std::mutex> lock(u.mutex);
    return static_cast<int>(std::count_if(u.windows.begin(), u.windows.end(),
                                          [](const auto& e) { return e.second->Local(); }));
}

void SetMainWindow(HWND hwnd) {
    if (CWinApp* app = AfxGetApp()) app->m_pMainWnd = hwnd ? CWnd::FromHandle(hwnd) : nullptr;
}

long GdiObjectCount() {
    return ui::GdiObjectCount();
}

}  // namespace lumacap::sim
