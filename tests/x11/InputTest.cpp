// Input through a real X server: the user's pointer (XTEST) edits preview overlays exactly as the
// simulated pointer does, capture and ClipCursor hold the real pointer, the cursor on the screen
// is the one USER set, and keys and the wheel arrive as messages.
#include <xcb/xfixes.h>

#include <functional>

#include "platform/system/ui/Cursors.h"
#include "preview/OverlayStage.h"
#include "x11/X11Test.h"

namespace lumacap::test {
namespace {

using X11InputTest = X11Test;

struct Pointer {
    std::function<void(int, int)> move;  // screen coordinates
    std::function<void(bool)> button;
};

// Draws a rectangle on a preview, moves it, then drags its bottom-right handle; answers the
// notifications and the rectangle it ends with.
std::string EditOverlay(Stage& s, const Pointer& p) {
    auto at = [&](int x, int y) {
        POINT pt{x, y};
        ClientToScreen(s.preview->m_hWnd, &pt);
        p.move(pt.x, pt.y);
    };
    auto drag = [&](POINT from, POINT to) {
        at(from.x, from.y);
        sim::AdvanceClock(GetDoubleClickTime() + 1);  // separate clicks, never double ones
        p.button(true);
        at(from.x + 1, from.y + 1);
        at((from.x + to.x) / 2, (from.y + to.y) / 2);
        at(to.x, to.y);
        p.button(false);
    };
    drag(POINT{30, 30}, POINT{120, 100});
    drag(POINT{70, 60}, POINT{100, 90});
    // The handle sits on the rectangle's corner as the window draws it.
    const UINT query = RegisterWindowMessageA(sim::kPreviewQueryMessage);
    RECT r = s.Items().empty() ? RECT{} : s.Items()[0]->m_rect;
    SendMessageA(s.preview->m_hWnd, query, sim::kPreviewQueryMapRect, reinterpret_cast<LPARAM>(&r));
    drag(POINT{r.right, r.bottom}, POINT{r.right + 30, r.bottom - 20});
    at(r.right + 31, r.bottom - 20);  // hovering on the handle
    return s.Take() + " | " + s.ItemText(0);
}

TEST_F(X11InputTest, TheServersPointerEditsOverlaysAsTheSimulatedOneDoes) {
    std::string simulated;
    {
        sim::UseHeadlessDisplay();
        Stage s(202, 122, 400, 240);
        simulated = EditOverlay(s, Pointer{[](int x, int y) {
                                               sim::MovePointer(x, y);
                                               sim::PumpMessages();
                                           },
                                           [](bool down) {
                                               down ? sim::PressButton() : sim::ReleaseButton();
                                               sim::PumpMessages();
                                           }});
    }
    std::string error;
    ASSERT_TRUE(sim::UseX11Display(m_server->Name().c_str(), &error)) << error;
    Stage s(202, 122, 400, 240);
    sim::SyncDisplay();
    auto settle = [] {
        sim::SyncDisplay();
        sim::PumpMessages();
    };
    const std::string real = EditOverlay(s, Pointer{[&](int x, int y) {
                                                        m_server->MoveTo(x, y);
                                                        settle();
                                                    },
                                                    [&](bool down) {
                                                        m_server->Button(1, down);
                                                        settle();
                                                    }});
    EXPECT_EQ(real, simulated);
    EXPECT_NE(real.find("N0 N-1="), std::string::npos) << real;  // drawn
    EXPECT_NE(real.find("E0 E0="), std::string::npos) << real;   // moved and resized

    // Over the handle the server shows the cursor USER chose for it, with its hot spot.
    xcb_connection_t* c = m_server->Conn();
    std::free(xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
    auto* shown = xcb_xfixes_get_cursor_image_reply(c, xcb_xfixes_get_cursor_image(c), nullptr);
    ASSERT_NE(shown, nullptr);
    auto expected = ui::FindCursor(sim::CurrentCursor());
    ASSERT_TRUE(expected);
    EXPECT_NE(sim::CurrentCursor(), LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(shown->width, expected->width);
    EXPECT_EQ(shown->xhot, expected->hotspot.x);
    EXPECT_EQ(shown->yhot, expected->hotspot.y);
    const uint32_t* argb = xcb_xfixes_get_cursor_image_cursor_image(shown);
    int opaque = 0, matching = 0;
    for (int i = 0; i < expected->width * expected->height; ++i) {
        if (expected->mask[i]) continue;
        ++opaque;
        matching += (argb[i] & 0xFFFFFF) == expected->color[i] && (argb[i] >> 24) == 0xFF;
    }
    EXPECT_GT(opaque, 20);
    EXPECT_EQ(matching, opaque);
    std::free(shown);
}

TEST_F(X11InputTest, CaptureAndConfinementHoldTheServersPointer) {
    HWND w = CreateRecorder(WS_POPUP | WS_VISIBLE, 100, 100, 200, 200);
    sim::SyncDisplay();
    m_server->MoveTo(150, 150);
    ASSERT_TRUE(Until([&] { return MessageLog::Get().Count(WM_MOUSEMOVE, w) > 0; }));
    SetCapture(w);
    MessageLog::Get().Take();
    m_server->MoveTo(20, 30);  // outside: still the window's, in its coordinates
    ASSERT_TRUE(Until([&] { return MessageLog::Get().Count(WM_MOUSEMOVE, w) > 0; }));
    EXPECT_EQ(MessageLog::Get().Snapshot().back().lParam, MAKELPARAM(-80, -70));
    ReleaseCapture();

    const RECT confine{100, 100, 300, 300};
    ClipCursor(&confine);
    sim::SyncDisplay();
    m_server->MoveTo(1000, 5);
    POINT p = m_server->Pointer();
    EXPECT_EQ(p.x, 299);
    EXPECT_EQ(p.y, 100);
    ClipCursor(nullptr);
    sim::SyncDisplay();
    m_server->MoveTo(1000, 5);
    EXPECT_EQ(m_server->Pointer().x, 1000);
    // GetCursorPos and SetCursorPos are the server's pointer, over any window or none.
    EXPECT_TRUE(GetCursorPos(&p));
    EXPECT_EQ(p.x, 1000);
    SetCursorPos(640, 360);
    EXPECT_EQ(m_server->Pointer().x, 640);
    DestroyWindow(w);
}

TEST_F(X11InputTest, KeysAndTheWheelArriveThroughTheServer) {
    HWND w = CreateRecorder(WS_POPUP | WS_VISIBLE, 0, 0, 200, 200);
    HWND child = CreateRecorder(WS_CHILD | WS_VISIBLE, 10, 10, 100, 100, w, 1);
    ASSERT_EQ(GetFocus(), w);
    sim::SyncDisplay();
    MessageLog::Get().Take();
    sim::PressKey(VK_SHIFT);
    sim::TypeKey('Q');
    sim::ReleaseKey(VK_SHIFT);
    sim::TypeKey(VK_OEM_1);
    sim::MovePointer(50, 50);
    sim::TurnWheel(WHEEL_DELTA);
    sim::PumpMessages();
    std::string chars;
    int wheel = 0;
    for (const auto& r : MessageLog::Get().Take()) {
        if (r.message == WM_CHAR && r.hwnd == w) chars += static_cast<char>(r.wParam);
        if (r.message == WM_MOUSEWHEEL && r.hwnd == child)
            wheel += GET_WHEEL_DELTA_WPARAM(r.wParam);
    }
    EXPECT_EQ(chars, "Q;");
    EXPECT_EQ(wheel, WHEEL_DELTA);
    DestroyWindow(w);
}

}  // namespace
}  // namespace lumacap::test
