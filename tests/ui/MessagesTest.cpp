// Window ownership, posting and sending across threads, coalesced painting, creation and
// destruction order, and what happens when a window's thread ends.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "platform/system/win/MessagePost.h"
#include "common/UiTest.h"

namespace lumacap::test {
namespace {

constexpr UINT kAsk = WM_USER + 7;
constexpr UINT kPing = WM_USER + 8;

using MessagesTest = UiTest;

std::vector<UINT> MessagesOf(const std::vector<Received>& log, HWND hwnd) {
    std::vector<UINT> out;
    for (const auto& r : log)
        if (r.hwnd == hwnd) out.push_back(r.message);
    return out;
}

TEST_F(MessagesTest, CreationSendsCreateThenSizeAndAFailedCreateLeavesNoWindow) {
    HWND w = CreateRecorder(WS_OVERLAPPEDWINDOW, 10, 20, 300, 200);
    ASSERT_TRUE(IsWindow(w));
    const auto msgs = MessagesOf(MessageLog::Get().Take(), w);
    ASSERT_GE(msgs.size(), 4u);
    EXPECT_EQ(msgs[0], static_cast<UINT>(WM_NCCREATE));
    EXPECT_EQ(msgs[1], static_cast<UINT>(WM_CREATE));
    EXPECT_EQ(msgs[2], static_cast<UINT>(WM_SIZE));
    RECT client, window;
    ASSERT_TRUE(GetClientRect(w, &client));
    ASSERT_TRUE(GetWindowRect(w, &window));
    // A captioned window has a frame: the client area is smaller than the window.
    EXPECT_EQ(window.left, 10);
    EXPECT_EQ(window.right - window.left, 300);
    EXPECT_EQ(client.right, 298);
    EXPECT_EQ(client.bottom, 200 - 2 - GetSystemMetrics(SM_CYCAPTION));
    POINT origin{0, 0};
    ClientToScreen(w, &origin);
    EXPECT_EQ(origin.x, 11);
    EXPECT_EQ(origin.y, 21 + GetSystemMetrics(SM_CYCAPTION));

    MessageLog::Get().SetHandler([](HWND, UINT m, WPARAM, LPARAM, LRESULT* r) {
        if (m != WM_CREATE) return false;
        *r = -1;
        return true;
    });
    const int before = sim::WindowCount();
    EXPECT_EQ(CreateRecorder(WS_OVERLAPPED, 0, 0, 10, 10), nullptr);
    EXPECT_EQ(sim::WindowCount(), before);
    EXPECT_EQ(
        CreateWindowExA(0, "NoSuchClass", "", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
        nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS));
    EXPECT_EQ(CreateRecorder(WS_CHILD, 0, 0, 10, 10, nullptr), nullptr);
    DestroyWindow(w);
}

TEST_F(MessagesTest, CrossThreadSendRunsOnTheOwnerAndReturnsItsResult) {
    HWND w = CreateRecorder(WS_OVERLAPPED, 0, 0, 100, 100);
    const DWORD me = GetCurrentThreadId();
    MessageLog::Get().SetHandler([](HWND, UINT m, WPARAM wp, LPARAM lp, LRESULT* r) {
        if (m != kAsk) return false;
        *r = static_cast<LRESULT>(wp * 1000 + lp);
        return true;
    });
    // A send from the owner's own thread is a direct call.
    EXPECT_EQ(SendMessageA(w, kAsk, 1, 2), 1002);
    EXPECT_EQ(MessageLog::Get().Take().back().thread, me);

    std::atomic<DWORD> senderThread{0};
    auto result = std::async(std::launch::async, [&] {
        senderThread = GetCurrentThreadId();
        return SendMessageA(w, kAsk, 4, 2);
    });
    // The send waits until this thread takes it out of its queue.
    EXPECT_EQ(result.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    ASSERT_TRUE(sim::PumpMessagesUntil([&] { return MessageLog::Get().Count(kAsk) == 1; }));
    EXPECT_EQ(result.get(), 4002);
    const auto log = MessageLog::Get().Take();
    const auto it =
        std::find_if(log.begin(), log.end(), [](const Received& r) { return r.message == kAsk; });
    ASSERT_NE(it, log.end());
    EXPECT_EQ(it->thread, me);
    EXPECT_NE(senderThread.load(), me);
    DestroyWindow(w);
}

TEST_F(MessagesTest, ThreadsSendingToEachOtherAnswerWhileTheyWait) {
    HWND mine = CreateRecorder(WS_OVERLAPPED, 0, 0, 50, 50);
    std::promise<HWND> theirs;
    std::atomic<bool> stop{false};
    std::thread other([&] {
        HWND w = CreateRecorder(WS_OVERLAPPED, 0, 0, 50, 50);
        theirs.set_value(w);
        sim::PumpMessagesUntil([&] { return stop.load(); }, 10000);
        DestroyWindow(w);
    });
    HWND otherWindow = theirs.get_future().get();
    // Their window, asked by this thread, asks this thread's window back before answering.
    MessageLog::Get().SetHandler([&](HWND h, UINT m, WPARAM wp, LPARAM, LRESULT* r) {
        if (m == kAsk && h == otherWindow) {
            *r = SendMessageA(mine, kPing, wp, 0) + 1;
            return true;
        }
        if (m == kPing && h == mine) {
            *r = static_cast<LRESULT>(wp * 10);
            return true;
        }
        return false;
    });
    EXPECT_EQ(SendMessageA(otherWindow, kAsk, 7, 0), 71);
    stop = true;
    other.join();
    EXPECT_FALSE(IsWindow(otherWindow));
    DestroyWindow(mine);
}

TEST_F(MessagesTest, InvalidationsFromAStreamingThreadCoalesceIntoFewPaintsAfterPostedMessages) {
    HWND w = CreateRecorder(WS_OVERLAPPED | WS_VISIBLE, 0, 0, 200, 100);
    sim::PumpMessages();
    MessageLog::Get().Take();

    // Posted messages come out before the paint that an earlier invalidation asked for.
    RECT a{0, 0, 10, 10}, b{50, 50, 60, 60};
    InvalidateRect(w, &a, FALSE);
    InvalidateRect(w, &b, FALSE);
    PostMessageA(w, kPing, 1, 0);
    PostMessageA(w, kPing, 2, 0);
    MSG msg;
    std::vector<UINT> order;
    RECT update{};
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        order.push_back(msg.message);
        if (msg.message == WM_PAINT) GetUpdateRect(w, &update, FALSE);
        DispatchMessageA(&msg);
    }
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order[0], kPing);
    EXPECT_EQ(order[1], kPing);
    EXPECT_EQ(order[2], static_cast<UINT>(WM_PAINT));
    EXPECT_EQ(update.left, 0);
    EXPECT_EQ(update.bottom, 60);  // both areas, in one paint

    MessageLog::Get().Take();
    std::atomic<bool> done{false};
    std::thread streamer([&] {
        for (int i = 0; i < 2000; ++i) InvalidateRect(w, nullptr, TRUE);
        done = true;
    });
    sim::PumpMessagesUntil([&] { return done.load(); });
    streamer.join();
    sim::PumpMessages();
    const int paints = MessageLog::Get().Count(WM_PAINT, w);
    EXPECT_GE(paints, 1);
    EXPECT_LT(paints, 2000);
    EXPECT_FALSE(GetUpdateRect(w, nullptr, FALSE));
    // Nothing is left to paint: no further WM_PAINT arrives.
    EXPECT_EQ(sim::PumpMessages(), 0);

    // Hidden windows keep their update area but get no paint until shown.
    ShowWindow(w, SW_HIDE);
    InvalidateRect(w, nullptr, FALSE);
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE));
    ShowWindow(w, SW_SHOW);
    EXPECT_TRUE(PeekMessageA(&msg, nullptr, WM_PAINT, WM_PAINT, PM_NOREMOVE));
    DestroyWindow(w);
}

TEST_F(MessagesTest, MessagesToDestroyedWindowsFailAndPendingOnesAreDropped) {
    HWND w = CreateRecorder(WS_OVERLAPPED, 0, 0, 10, 10);
    ASSERT_TRUE(PostMessageA(w, kPing, 0, 0));
    ASSERT_TRUE(DestroyWindow(w));
    EXPECT_FALSE(IsWindow(w));
    SetLastError(0);
    EXPECT_FALSE(PostMessageA(w, kPing, 0, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    EXPECT_EQ(SendMessageA(w, kAsk, 0, 0), 0);
    EXPECT_FALSE(DestroyWindow(w));
    MessageLog::Get().Take();
    EXPECT_EQ(sim::PumpMessages(), 0);  // the post made before destruction went with the window
    EXPECT_EQ(MessageLog::Get().Count(kPing), 0);
    // Handles are not reused: a new window never answers to the old handle.
    HWND again = CreateRecorder(WS_OVERLAPPED, 0, 0, 10, 10);
    EXPECT_NE(again, w);
    EXPECT_FALSE(IsWindow(w));
    DestroyWindow(again);
}

TEST_F(MessagesTest, DestroyWindowTellsParentsFirstAndTearsDownChildrenFirst) {
    HWND top = CreateRecorder(WS_OVERLAPPED, 0, 0, 100, 100);
    HWND c1 = CreateRecorder(WS_CHILD, 0, 0, 10, 10, top, 1);
    HWND c2 = CreateRecorder(WS_CHILD, 20, 0, 10, 10, top, 2);
    HWND g1 = CreateRecorder(WS_CHILD, 0, 0, 5, 5, c1, 3);
    EXPECT_EQ(GetParent(g1), c1);
    EXPECT_EQ(GetDlgCtrlID(c2), 2);
    EXPECT_EQ(FindWindowExA(top, nullptr, "Recorder", nullptr), c2);  // topmost child first
    std::vector<bool> allAliveDuringDestroy;
    MessageLog::Get().Take();
    MessageLog::Get().SetHandler([&](HWND, UINT m, WPARAM, LPARAM, LRESULT*) {
        if (m == WM_DESTROY)
            allAliveDuringDestroy.push_back(IsWindow(c1) && IsWindow(c2) && IsWindow(g1));
        return false;
    });
    // Only the owning thread may destroy a window.
    std::thread([&] { EXPECT_FALSE(DestroyWindow(top)); }).join();
    ASSERT_TRUE(IsWindow(top));
    ASSERT_TRUE(DestroyWindow(top));
    std::vector<std::pair<UINT, HWND>> seq;
    for (const auto& r : MessageLog::Get().Take())
        if (r.message == WM_DESTROY || r.message == WM_NCDESTROY)
            seq.emplace_back(r.message, r.hwnd);
    const std::vector<std::pair<UINT, HWND>> expected = {
        {WM_DESTROY, top},  {WM_DESTROY, c2},   {WM_DESTROY, c1},   {WM_DESTROY, g1},
        {WM_NCDESTROY, c2}, {WM_NCDESTROY, g1}, {WM_NCDESTROY, c1}, {WM_NCDESTROY, top}};
    EXPECT_EQ(seq, expected);
    EXPECT_EQ(allAliveDuringDestroy, std::vector<bool>(4, true));
    for (HWND h : {top, c1, c2, g1}) EXPECT_FALSE(IsWindow(h));
}

TEST_F(MessagesTest, WindowsOfAnEndedThreadAreGoneAndSendsToThemFailInsteadOfHanging) {
    std::promise<HWND> created;
    std::promise<void> release;
    std::thread owner([&] {
        HWND w = CreateRecorder(WS_OVERLAPPED | WS_VISIBLE, 0, 0, 40, 40);
        created.set_value(w);
        release.get_future().wait();  // never pumps
    });
    HWND w = created.get_future().get();
    auto pending = std::async(std::launch::async, [&] { return SendMessageA(w, kAsk, 1, 1); });
    EXPECT_EQ(pending.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    release.set_value();
    owner.join();
    ASSERT_EQ(pending.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(pending.get(), 0);
    EXPECT_FALSE(IsWindow(w));
    EXPECT_FALSE(PostMessageA(w, kPing, 0, 0));
    EXPECT_EQ(SendMessageA(w, kAsk, 0, 0), 0);
}

TEST_F(MessagesTest, QuitComesAfterPostedMessagesAndThreadMessagesHaveNoWindow) {
    HWND w = CreateRecorder(WS_OVERLAPPED, 0, 0, 10, 10);
    PostQuitMessage(3);
    PostMessageA(w, kPing, 0, 0);
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), kAsk, 9, 0));
    MSG msg;
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, kPing);
    ASSERT_EQ(GetMessageA(&msg, nullptr, 0, 0), TRUE);
    EXPECT_EQ(msg.message, kAsk);
    EXPECT_EQ(msg.hwnd, nullptr);
    EXPECT_EQ(GetMessageA(&msg, nullptr, 0, 0), FALSE);
    EXPECT_EQ(msg.wParam, 3u);
    EXPECT_EQ(GetMessageA(&msg, reinterpret_cast<HWND>(0x1234), 0, 0), -1);
    EXPECT_FALSE(PostThreadMessageA(0x7FFFFFF0, kAsk, 0, 0));
    DestroyWindow(w);
}

TEST_F(MessagesTest, PostedGraphEventsArriveThroughThePlatformSeam) {
    HWND w = CreateRecorder(WS_OVERLAPPED, 0, 0, 10, 10);
    // Components below USER post through the seam; those posts reach the window's queue.
    std::thread([&] { EXPECT_TRUE(win::PostWindowMessage(w, WM_USER + 100, 0, 42)); }).join();
    ASSERT_TRUE(sim::PumpMessagesUntil(
        [&] { return MessageLog::Get().Count(WM_USER + 100, w) == 1; }, 2000));
    EXPECT_EQ(MessageLog::Get().Snapshot().back().lParam, 42);
    DestroyWindow(w);
}

TEST_F(MessagesTest, TimersFollowThePlatformClockAndWaitsWakeForMessagesOrObjects) {
    sim::UseManualClock(2024, 5, 6, 12, 0, 0);
    HWND w = CreateRecorder(WS_OVERLAPPED, 0, 0, 10, 10);
    static int s_procCalls = 0;
    s_procCalls = 0;
    ASSERT_EQ(SetTimer(w, 5, 100, nullptr), 5u);
    const UINT_PTR threadTimer =
        SetTimer(nullptr, 0, 30, [](HWND, UINT, UINT_PTR, DWORD) { ++s_procCalls; });
    ASSERT_NE(threadTimer, 0u);
    sim::PumpMessages();
    EXPECT_EQ(MessageLog::Get().Count(WM_TIMER, w), 0);
    sim::AdvanceClock(350);  // three periods late: still one message
    sim::PumpMessages();
    EXPECT_EQ(MessageLog::Get().Count(WM_TIMER, w), 1);
    EXPECT_EQ(MessageLog::Get().Snapshot().back().wParam, 5u);
    EXPECT_EQ(s_procCalls, 1);
    sim::AdvanceClock(99);
    sim::PumpMessages();
    EXPECT_EQ(MessageLog::Get().Count(WM_TIMER, w), 1);
    sim::AdvanceClock(1);
    sim::PumpMessages();
    EXPECT_EQ(MessageLog::Get().Count(WM_TIMER, w), 2);
    EXPECT_TRUE(KillTimer(w, 5));
    EXPECT_FALSE(KillTimer(w, 5));
    EXPECT_TRUE(KillTimer(nullptr, threadTimer));
    sim::AdvanceClock(1000);
    sim::PumpMessages();
    EXPECT_EQ(MessageLog::Get().Count(WM_TIMER, w), 2);

    // A timer also ends a wait of GetMessage and of MsgWaitForMultipleObjects.
    SetTimer(w, 6, 50, nullptr);
    std::thread clock([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        sim::AdvanceClock(60);
    });
    MSG msg;
    ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
    EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
    clock.join();
    KillTimer(w, 6);

    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 20, QS_ALLINPUT),
              static_cast<DWORD>(WAIT_TIMEOUT));
    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        PostMessageA(w, kPing, 0, 0);
    });
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 5000, QS_POSTMESSAGE), 1u);
    poster.join();
    // The posted message is not new any more, unless asked for what is waiting.
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 0, QS_POSTMESSAGE),
              static_cast<DWORD>(WAIT_TIMEOUT));
    EXPECT_EQ(MsgWaitForMultipleObjectsEx(1, &event, 0, QS_POSTMESSAGE, MWMO_INPUTAVAILABLE), 1u);
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        SetEvent(event);
    });
    EXPECT_EQ(MsgWaitForMultipleObjects(1, &event, FALSE, 5000, QS_KEY), WAIT_OBJECT_0);
    setter.join();
    CloseHandle(event);
    DestroyWindow(w);
}

TEST_F(MessagesTest, APaintChangesOnlyTheInvalidRegionNotItsBoundingBox) {
    HWND w = CreateRecorder(WS_POPUP | WS_VISIBLE, 0, 0, 100, 100);
    sim::PumpMessages();
    RECT a{0, 0, 10, 10}, b{90, 90, 100, 100};
    InvalidateRect(w, &a, FALSE);
    InvalidateRect(w, &b, FALSE);
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    const RECT bounds{0, 0, 100, 100};
    EXPECT_TRUE(EqualRect(&ps.rcPaint, &bounds));
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    RECT all{0, 0, 100, 100};
    FillRect(dc, &all, red);
    EndPaint(w, &ps);
    DeleteObject(red);
    const sim::Pixels px = sim::ReadWindowSurface(w);
    EXPECT_EQ(px.ColorAt(5, 5), RGB(255, 0, 0));
    EXPECT_EQ(px.ColorAt(95, 95), RGB(255, 0, 0));
    EXPECT_EQ(px.ColorAt(50, 50), RGB(255, 255, 255));  // between them: untouched
    EXPECT_EQ(px.ColorAt(95, 5), RGB(255, 255, 255));
    DestroyWindow(w);
}

}  // namespace
}  // namespace lumacap::test
