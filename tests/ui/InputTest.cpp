// Pointer input: routing to the window under the pointer in client coordinates, WM_SETCURSOR
// before mouse messages, capture, confinement and the cursor shape.
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

}  // namespace
}  // namespace lumacap::test
