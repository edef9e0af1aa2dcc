// Pointer input: routing to the window under the pointer in client coordinates, WM_SETCURSOR
// before mouse messages, capture, confinement and the cursor shape.
#include <algorithm>
#include <chrono>
#include <future>
#include <thread>

#include "common/UiTest.h"

namespace lumacap::test {
namespace {

using InputTest = UiTest;

std::vector<Received> Mouse(const std::vector<Received>& log) {
    std::vector<Received> out;
    for (const auto& r : log)
        if (r.message == WM_SETCURSOR ||
            (r.message >= WM_MOUSEFIRST && r.message <= WM_MOUSELAST) ||
            r.message == WM_CAPTURECHANGED)
            out.push_back(r);
    return out;
}

TEST_F(InputTest, PointerEventsReachTheWindowUnderThePointerInClientCoordinates) {
    HWND top = CreateRecorder(WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100, 100, 400, 300);
    HWND child = CreateRecorder(WS_CHILD | WS_VISIBLE, 50, 40, 100, 80, top, 5);
    sim::PumpMessages();
    MessageLog::Get().Take();
    POINT origin{0, 0};
    ClientToScreen(child, &origin);

    sim::MovePointer(origin.x + 10, origin.y + 20);
    sim::PressButton();
    sim::MovePointer(origin.x + 12, origin.y + 22);
    sim::MovePointer(origin.x + 15, origin.y + 25);  // coalesces with the move before it
    sim::ReleaseButton();
    sim::PumpMessages();
    const auto m = Mouse(MessageLog::Get().Take());
    // The child is asked for the cursor first and passes the question to its parent.
    std::vector<std::pair<HWND, UINT>> seq;
    for (const auto& r : m) seq.emplace_back(r.hwnd, r.message);
    const std::vector<std::pair<HWND, UINT>> expected = {
        {child, WM_SETCURSOR}, {top, WM_SETCURSOR}, {child, WM_MOUSEMOVE},
        {child, WM_SETCURSOR}, {top, WM_SETCURSOR}, {child, WM_LBUTTONDOWN},
        {child, WM_SETCURSOR}, {top, WM_SETCURSOR}, {child, WM_MOUSEMOVE},
        {child, WM_SETCURSOR}, {top, WM_SETCURSOR}, {child, WM_LBUTTONUP}};
    ASSERT_EQ(seq, expected);
    EXPECT_EQ(m[2].lParam, MAKELPARAM(10, 20));
    EXPECT_EQ(m[2].wParam, 0u);
    EXPECT_EQ(m[5].wParam, static_cast<WPARAM>(MK_LBUTTON));
    EXPECT_EQ(m[8].lParam, MAKELPARAM(15, 25));
    EXPECT_EQ(m[8].wParam, static_cast<WPARAM>(MK_LBUTTON));
    EXPECT_EQ(m[11].wParam, 0u);
    EXPECT_EQ(LOWORD(m[0].lParam), HTCLIENT);
    EXPECT_EQ(HIWORD(m[0].lParam), WM_MOUSEMOVE);
    // The class cursor (the arrow) was set by DefWindowProc.
    EXPECT_EQ(sim::CurrentCursor(), LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(WindowFromPoint(POINT{origin.x + 1, origin.y + 1}), child);
    EXPECT_EQ(WindowFromPoint(POINT{5, 5}), nullptr);
    DestroyWindow(top);
}

TEST_F(InputTest, CaptureGetsEveryMoveAndClipCursorConfinesThePointer) {
    HWND top = CreateRecorder(WS_POPUP | WS_VISIBLE, 100, 100, 200, 200);
    sim::PumpMessages();
    sim::MovePointer(150, 150);
    sim::PumpMessages();
    MessageLog::Get().Take();

    EXPECT_EQ(SetCapture(top), nullptr);
    EXPECT_EQ(GetCapture(), top);
    sim::MovePointer(20, 30);  // outside the window: still reported to it, in its coordinates
    sim::PumpMessages();
    auto m = Mouse(MessageLog::Get().Take());
    ASSERT_EQ(m.size(), 1u);  // no WM_SETCURSOR while captured
    EXPECT_EQ(m[0].message, static_cast<UINT>(WM_MOUSEMOVE));
    EXPECT_EQ(GET_X_LPARAM(m[0].lParam), -80);
    EXPECT_EQ(GET_Y_LPARAM(m[0].lParam), -70);
    ASSERT_TRUE(ReleaseCapture());
    m = Mouse(MessageLog::Get().Take());
    ASSERT_EQ(m.size(), 1u);
    EXPECT_EQ(m[0].message, static_cast<UINT>(WM_CAPTURECHANGED));
    EXPECT_EQ(GetCapture(), nullptr);

    RECT confine{100, 100, 300, 300};
    ClipCursor(&confine);
    POINT p = sim::PointerPosition();
    EXPECT_EQ(p.x, 100);  // moved inside at once
    EXPECT_EQ(p.y, 100);
    sim::MovePointer(1000, 5);
    p = sim::PointerPosition();
    EXPECT_EQ(p.x, 299);  // right and bottom are exclusive
    EXPECT_EQ(p.y, 100);
    RECT got;
    GetClipCursor(&got);
    EXPECT_TRUE(EqualRect(&got, &confine));
    ClipCursor(nullptr);
    sim::MovePointer(5000, -10);  // the screen still bounds it
    p = sim::PointerPosition();
    EXPECT_EQ(p.x, GetSystemMetrics(SM_CXSCREEN) - 1);
    EXPECT_EQ(p.y, 0);
    SetCursorPos(120, 130);
    GetCursorPos(&p);
    EXPECT_EQ(p.x, 120);
    DestroyWindow(top);
}

TEST_F(InputTest, AWindowOnAnotherThreadGetsItsMouseMessagesOnThatThread) {
    std::promise<HWND> made;
    std::atomic<bool> stop{false};
    std::thread owner([&] {
        HWND w = CreateRecorder(WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
        made.set_value(w);
        sim::PumpMessagesUntil([&] { return stop.load(); }, 10000);
        DestroyWindow(w);
    });
    HWND w = made.get_future().get();
    const DWORD ownerThread = GetWindowThreadProcessId(w, nullptr);
    sim::MovePointer(30, 40);
    sim::PressButton();
    ASSERT_TRUE(
        sim::PumpMessagesUntil([&] { return MessageLog::Get().Count(WM_LBUTTONDOWN, w) == 1; }));
    for (const auto& r : MessageLog::Get().Snapshot()) {
        if (r.hwnd == w) {
            EXPECT_EQ(r.thread, ownerThread);
        }
    }
    sim::ReleaseButton();
    stop = true;
    owner.join();
}

TEST_F(InputTest, TheWindowsOwnHitTestDecidesWhereClicksGo) {
    HWND top = CreateRecorder(WS_POPUP | WS_VISIBLE, 100, 100, 300, 200);
    // A plain static lets clicks through to the window below it; one with SS_NOTIFY reports them.
    HWND label = CreateWindowExA(0, "static", "label", WS_CHILD | WS_VISIBLE, 10, 10, 50, 20, top,
                                 reinterpret_cast<HMENU>(7), nullptr, nullptr);
    HWND button = CreateWindowExA(0, WC_STATIC, "", WS_CHILD | WS_VISIBLE | SS_NOTIFY, 100, 10, 50,
                                  20, top, reinterpret_cast<HMENU>(8), nullptr, nullptr);
    ASSERT_TRUE(label && button);
    sim::PumpMessages();
    MessageLog::Get().Take();
    sim::MovePointer(115, 115);
    sim::PressButton();
    sim::ReleaseButton();
    sim::MovePointer(205, 115);
    sim::PressButton();
    sim::ReleaseButton();
    sim::PumpMessages();
    const auto log = MessageLog::Get().Take();
    auto count = [&](UINT m) {
        return std::count_if(log.begin(), log.end(),
                             [&](auto& r) { return r.hwnd == top && r.message == m; });
    };
    EXPECT_EQ(count(WM_LBUTTONDOWN), 1);  // through the label, in the parent's coordinates
    const auto down =
        std::find_if(log.begin(), log.end(), [](auto& r) { return r.message == WM_LBUTTONDOWN; });
    ASSERT_NE(down, log.end());
    EXPECT_EQ(down->lParam, MAKELPARAM(15, 15));
    const auto command =
        std::find_if(log.begin(), log.end(), [](auto& r) { return r.message == WM_COMMAND; });
    ASSERT_NE(command, log.end());
    EXPECT_EQ(command->wParam, MAKEWPARAM(8, STN_CLICKED));

    // A window that calls its client area a caption is dragged by it, by the system's own loop.
    MessageLog::Get().SetHandler([&](HWND h, UINT m, WPARAM, LPARAM, LRESULT* r) {
        if (h != top || m != WM_NCHITTEST) return false;
        *r = HTCAPTION;
        return true;
    });
    sim::MovePointer(300, 250);
    sim::PumpMessages();
    // The drag runs inside the press's handling; another thread plays the rest of it.
    std::thread player([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        sim::MovePointer(340, 230);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        sim::ReleaseButton();
    });
    sim::PressButton();
    ASSERT_TRUE(
        sim::PumpMessagesUntil([] { return MessageLog::Get().Count(WM_EXITSIZEMOVE) == 1; }));
    player.join();
    RECT r;
    GetWindowRect(top, &r);
    EXPECT_EQ(r.left, 140);
    EXPECT_EQ(r.top, 80);
    EXPECT_EQ(GetCapture(), nullptr);
    DestroyWindow(top);
}

TEST_F(InputTest, DoubleClicksOtherButtonsAndTheWheel) {
    sim::UseManualClock(2024, 5, 6, 12, 0, 0);
    WNDCLASSA wc{};
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
        MessageLog::Get().Add(Received{h, m, w, l, GetCurrentThreadId()});
        return DefWindowProcA(h, m, w, l);
    };
    wc.lpszClassName = "DoubleClicks";
    RegisterClassA(&wc);
    HWND dbl = CreateWindowExA(0, "DoubleClicks", "", WS_POPUP | WS_VISIBLE, 0, 0, 100, 100,
                               nullptr, nullptr, nullptr, nullptr);
    HWND plain = CreateRecorder(WS_POPUP | WS_VISIBLE, 200, 0, 100, 100);
    HWND child = CreateRecorder(WS_CHILD | WS_VISIBLE, 10, 10, 50, 50, plain, 3);
    auto click = [](int x, int y, unsigned afterMs, sim::MouseButton b) {
        sim::AdvanceClock(afterMs);
        sim::MovePointer(x, y);
        sim::PressButton(b);
        sim::ReleaseButton(b);
        sim::PumpMessages();
    };
    auto presses = [](HWND h) {
        std::vector<UINT> out;
        for (const auto& r : MessageLog::Get().Take())
            if (r.hwnd == h && r.message >= WM_LBUTTONDOWN && r.message <= WM_MBUTTONDBLCLK &&
                r.message != WM_LBUTTONUP && r.message != WM_RBUTTONUP && r.message != WM_MBUTTONUP)
                out.push_back(r.message);
        return out;
    };
    sim::PumpMessages();
    MessageLog::Get().Take();
    const auto L = sim::MouseButton::Left;
    click(50, 50, 600, L);
    click(51, 52, 100, L);  // close in time and place: a double click
    click(51, 52, 100, L);  // a third press starts over
    click(51, 52, 501, L);  // too late
    click(55, 52, 100, L);  // too far
    click(50, 50, 600, sim::MouseButton::Right);
    click(50, 50, 10, sim::MouseButton::Right);
    click(50, 50, 600, sim::MouseButton::Middle);
    EXPECT_EQ(presses(dbl), (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_LBUTTONDOWN,
                                               WM_LBUTTONDOWN, WM_LBUTTONDOWN, WM_RBUTTONDOWN,
                                               WM_RBUTTONDBLCLK, WM_MBUTTONDOWN}));
    click(290, 90, 600, L);
    click(290, 90, 10, L);  // the class does not ask for double clicks
    EXPECT_EQ(presses(plain), (std::vector<UINT>{WM_LBUTTONDOWN, WM_LBUTTONDOWN}));

    // The wheel goes to the window under the pointer and, unhandled, up to its parent.
    sim::MovePointer(220, 20);
    sim::TurnWheel(-2 * WHEEL_DELTA);
    sim::PumpMessages();
    std::vector<Received> wheel;
    for (const auto& r : MessageLog::Get().Take())
        if (r.message == WM_MOUSEWHEEL) wheel.push_back(r);
    ASSERT_EQ(wheel.size(), 2u);
    EXPECT_EQ(wheel[0].hwnd, child);
    EXPECT_EQ(wheel[1].hwnd, plain);
    EXPECT_EQ(GET_WHEEL_DELTA_WPARAM(wheel[0].wParam), -240);
    EXPECT_EQ(wheel[0].lParam, MAKELPARAM(220, 20));  // screen coordinates
    DestroyWindow(plain);
    DestroyWindow(dbl);
    UnregisterClassA("DoubleClicks", nullptr);
}

TEST_F(InputTest, KeysGoToTheFocusWindowAndClicksActivate) {
    HWND a = CreateRecorder(WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
    HWND b = CreateRecorder(WS_POPUP | WS_VISIBLE, 200, 0, 100, 100);
    HWND edit = CreateRecorder(WS_CHILD | WS_VISIBLE, 10, 10, 50, 20, b, 1);
    EXPECT_EQ(GetActiveWindow(), b);  // shown last
    EXPECT_EQ(GetFocus(), b);
    sim::PumpMessages();
    MessageLog::Get().Take();
    EXPECT_EQ(SetFocus(edit), b);
    auto log = MessageLog::Get().Take();
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[0].hwnd, b);
    EXPECT_EQ(log[0].message, static_cast<UINT>(WM_KILLFOCUS));
    EXPECT_EQ(log[1].hwnd, edit);
    EXPECT_EQ(log[1].message, static_cast<UINT>(WM_SETFOCUS));

    UINT shiftState = 0;
    MessageLog::Get().SetHandler([&](HWND, UINT m, WPARAM w, LPARAM, LRESULT*) {
        if (m == WM_KEYDOWN && w == 'A') shiftState = static_cast<UINT>(GetKeyState(VK_SHIFT));
        return false;
    });
    sim::TypeKey('A');
    sim::PressKey(VK_LSHIFT);
    sim::TypeKey('A');
    sim::ReleaseKey(VK_LSHIFT);
    sim::PressKey(VK_MENU);
    sim::TypeKey('X');
    sim::ReleaseKey(VK_MENU);
    sim::PumpMessages();
    std::string chars, keys;
    for (const auto& r : MessageLog::Get().Take()) {
        if (r.hwnd != edit) continue;
        if (r.message == WM_CHAR) chars += static_cast<char>(r.wParam);
        if (r.message == WM_SYSCHAR) chars += "alt+" + std::string(1, static_cast<char>(r.wParam));
        if (r.message == WM_KEYDOWN) keys += "d" + std::to_string(r.wParam) + " ";
        if (r.message == WM_SYSKEYDOWN) keys += "s" + std::to_string(r.wParam) + " ";
    }
    EXPECT_EQ(chars, "aAalt+x");
    EXPECT_EQ(keys, "d65 d16 d65 s18 s88 ");  // the generic VK_SHIFT; Alt makes system keys
    EXPECT_TRUE(shiftState & 0x8000);         // as of the message being handled
    EXPECT_FALSE(GetKeyState(VK_SHIFT) & 0x8000);

    // A press on the other window activates it and the keyboard follows.
    sim::MovePointer(50, 50);
    sim::PressButton();
    sim::ReleaseButton();
    sim::PumpMessages();
    EXPECT_EQ(GetActiveWindow(), a);
    EXPECT_EQ(GetFocus(), a);
    int activations = 0;
    for (const auto& r : MessageLog::Get().Take())
        if (r.message == WM_ACTIVATE)
            activations += (r.hwnd == a && LOWORD(r.wParam) == WA_CLICKACTIVE) ||
                           (r.hwnd == b && LOWORD(r.wParam) == WA_INACTIVE);
    EXPECT_EQ(activations, 2);
    DestroyWindow(a);
    DestroyWindow(b);
}

}  // namespace
}  // namespace lumacap::test
