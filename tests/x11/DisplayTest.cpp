// Windows on a real X server: what the screen shows, a camera preview read back from the root,
// the window manager's moves and closes reaching USER, and the server going away.
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include <unistd.h>

#include <lumacap/lumacap.h>

#include "platform/system/ui/User.h"
#include "x11/X11Test.h"

namespace lumacap::test {
namespace {

using DisplayTest = X11Test;

void Fill(HWND hwnd, const RECT& r, COLORREF color) {
    HDC dc = GetDC(hwnd);
    HBRUSH b = CreateSolidBrush(color);
    FillRect(dc, &r, b);
    DeleteObject(b);
    ReleaseDC(hwnd, dc);
}

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    auto* r = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(r);
    return a;
}

int Mismatches(const sim::Pixels& a, const sim::Pixels& b) {
    if (a.width != b.width || a.height != b.height) return -1;
    int n = 0;
    for (size_t i = 0; i < a.data.size(); ++i) n += a.data[i] != b.data[i];
    return n;
}

TEST_F(DisplayTest, TheRootShowsWhatTheHeadlessDisplayComposes) {
    EXPECT_EQ(sim::DisplayName(), "x11 " + m_server->Name());
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), m_width);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), m_height);
    HWND a = CreateRecorder(WS_POPUP | WS_VISIBLE, 40, 30, 300, 200);
    HWND child = CreateRecorder(WS_CHILD | WS_VISIBLE, 20, 20, 100, 60, a, 1);
    HWND b = CreateRecorder(WS_POPUP | WS_VISIBLE, 200, 150, 250, 180);
    sim::PumpMessages();
    Fill(a, RECT{0, 100, 300, 200}, RGB(200, 30, 30));
    Fill(child, RECT{10, 10, 50, 30}, RGB(20, 200, 40));
    Fill(b, RECT{0, 0, 125, 90}, RGB(10, 20, 230));
    HDC dc = GetDC(b);
    for (int x = 0; x < 250; ++x) SetPixel(dc, x, 120, RGB(x, 255 - x, 7));
    ReleaseDC(b, dc);
    sim::SyncDisplay();

    const RECT area{0, 0, 500, 400};
    const sim::Pixels root = m_server->Read(area);
    ui::Scene scene;
    {
        ui::UserState& u = ui::UserState::Get();
        std::lock_guard<std::mutex> lock(u.mutex);
        scene = u.SceneL();
    }
    scene.desktop = nullptr;  // the server's root is black
    auto composed = ui::Surface::Create(500, 400);
    ui::ComposeScene(scene, area, *composed);
    sim::Pixels expected;
    expected.width = 500;
    expected.height = 400;
    for (int y = 0; y < 400; ++y)
        expected.data.insert(expected.data.end(), composed->Row(y), composed->Row(y) + 500);
    EXPECT_EQ(Mismatches(root, expected), 0);
    EXPECT_EQ(root.ColorAt(250, 200), RGB(10, 20, 230));  // b lies on top of a

    // The screen context reads the same pixels: what other programs would see too.
    EXPECT_EQ(Mismatches(sim::ReadScreen(area), root), 0);
    DestroyWindow(b);
    DestroyWindow(a);
    sim::SyncDisplay();
    EXPECT_EQ(m_server->Read(RECT{250, 200, 251, 201}).ColorAt(0, 0), RGB(0, 0, 0));
}

// Screen reads into bitmaps the server writes itself: whole rows land with their pad bytes
// cleared (other clients may set them), rows not read stay black, and reads partly off the root
// or not of whole rows still come out right.
TEST_F(DisplayTest, ScreenReadsLandInBitmapsWithCleanPadBytes) {
    constexpr int kW = 640, kH = 480;
    std::vector<uint32_t> pattern(static_cast<size_t>(kW) * 200);
    for (size_t i = 0; i < pattern.size(); ++i)
        pattern[i] = 0xFF000000u | static_cast<uint32_t>(i * 2654435761u >> 8);
    xcb_gcontext_t gc = xcb_generate_id(m_server->Conn());
    xcb_create_gc(m_server->Conn(), gc, m_server->Root(), 0, nullptr);
    auto putPattern = [&](int top, int rows) {
        for (int y = 0; y < rows; y += 50)
            xcb_put_image(m_server->Conn(), XCB_IMAGE_FORMAT_Z_PIXMAP, m_server->Root(), gc, kW, 50,
                          0, static_cast<int16_t>(top + y), 0, 24, kW * 50 * 4,
                          reinterpret_cast<const uint8_t*>(&pattern[static_cast<size_t>(y) * kW]));
        m_server->Sync();
    };
    putPattern(0, 200);
    const sim::Pixels root = m_server->Read(RECT{0, 0, kW, 200});
    ASSERT_EQ(root.At(3, 7), pattern[7 * kW + 3] & 0xFFFFFF);

    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), kW, -kH, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint32_t> bits(static_cast<size_t>(kW) * kH);
    auto rowsOf = [&](const uint32_t* p, int from, int to) {
        return std::vector<uint32_t>(p + static_cast<size_t>(from) * kW,
                                     p + static_cast<size_t>(to) * kW);
    };
    const std::vector<uint32_t> black(static_cast<size_t>(kW) * 100, 0);

    // A compatible bitmap, rows 100 to 300 read from the root's top.
    HBITMAP bitmap = CreateCompatibleBitmap(screen, kW, kH);
    HGDIOBJ old = SelectObject(mem, bitmap);
    ASSERT_TRUE(BitBlt(mem, 0, 100, kW, 200, screen, 0, 0, SRCCOPY));
    SelectObject(mem, old);
    ASSERT_EQ(GetDIBits(mem, bitmap, 0, kH, bits.data(), &info, DIB_RGB_COLORS), kH);
    EXPECT_EQ(rowsOf(bits.data(), 100, 300), root.data);
    EXPECT_EQ(rowsOf(bits.data(), 0, 100), black);
    EXPECT_EQ(rowsOf(bits.data(), 300, 400), black);
    DeleteObject(bitmap);

    // A DIB section's bits are clean as soon as the copy returns; a read of part of the rows,
    // and one reaching below the root, go the ordinary way.
    void* dib = nullptr;
    HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &dib, nullptr, 0);
    ASSERT_TRUE(section && dib);
    old = SelectObject(mem, section);
    ASSERT_TRUE(BitBlt(mem, 0, 0, kW, kH, screen, 0, 0, SRCCOPY));
    EXPECT_EQ(rowsOf(static_cast<uint32_t*>(dib), 0, 200), root.data);
    // Pad bytes drawn where the root was already seen without any are found too.
    ASSERT_TRUE(BitBlt(mem, 0, 0, kW, kH, screen, 0, 0, SRCCOPY));
    putPattern(300, 50);
    ASSERT_TRUE(BitBlt(mem, 0, 0, kW, kH, screen, 0, 0, SRCCOPY));
    EXPECT_EQ(rowsOf(static_cast<uint32_t*>(dib), 300, 350),
              m_server->Read(RECT{0, 300, kW, 350}).data);
    ASSERT_TRUE(BitBlt(mem, 0, 0, kW, kH, screen, 0, m_height - 100, SRCCOPY));
    EXPECT_EQ(rowsOf(static_cast<uint32_t*>(dib), 100, 200), black);
    ASSERT_TRUE(BitBlt(mem, 0, 0, kW / 2, 200, screen, 0, 0, SRCCOPY));
    const auto* d = static_cast<const uint32_t*>(dib);
    EXPECT_EQ(d[199 * kW + 5], root.At(5, 199));
    EXPECT_EQ(d[199 * kW + kW / 2], 0u);
    SelectObject(mem, old);
    DeleteObject(section);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    xcb_free_gc(m_server->Conn(), gc);
}

TEST_F(DisplayTest, APreviewShowsTheCamerasFramesOnTheScreen) {
    // A client area 2 pixels larger than the frames: the picture is drawn at its own size.
    HWND host = CreateRecorder(WS_POPUP | WS_VISIBLE, 50, 40, 642, 482);
    CDXCamera camera;
    ASSERT_TRUE(camera.SetCameraIndex(0));
    ASSERT_TRUE(camera.SetResolutionIndex(0));
    ASSERT_TRUE(camera.SetParentWnd(host));
    camera.SetRenderMode(2);
    long w = 0, h = 0;
    camera.GetVideoSize(static_cast<int>(camera.GetResolutionIndex()), &w, &h);
    ASSERT_EQ(w, 640);
    ASSERT_EQ(camera.Open(), 0);
    auto frameOnScreen = [&] {
        const sim::Pixels p = m_server->Read(RECT{51, 41, 51 + 640, 41 + 480});
        const std::vector<uint8_t> bgr = p.ToBgr24BottomUp();
        return sim::ReadFrameNumber(bgr.data(), 640, 480);
    };
    long first = -1, later = -1;
    ASSERT_TRUE(Until([&] { return (first = frameOnScreen()) >= 0; }));
    ASSERT_TRUE(Until([&] { return (later = frameOnScreen()) > first + 2; }));
    camera.Close();
    DestroyWindow(host);
}

TEST_F(DisplayTest, TheWindowManagersMovesClosesAndTitlesReachTheWindow) {
    HWND w = CreateWindowExA(0, RecorderClass(), "预览 1", WS_POPUP | WS_VISIBLE, 10, 20, 200, 100,
                             nullptr, nullptr, nullptr, nullptr);
    sim::SyncDisplay();
    xcb_connection_t* c = m_server->Conn();
    const xcb_window_t xid = m_server->FindWindow("?????? 1");  // WM_NAME is Latin-1
    ASSERT_NE(xid, 0u);
    auto atom = [c](const char* name) { return Atom(c, name); };
    auto* title = xcb_get_property_reply(
        c, xcb_get_property(c, 0, xid, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 0, 64), nullptr);
    ASSERT_NE(title, nullptr);
    EXPECT_EQ(std::string(static_cast<const char*>(xcb_get_property_value(title)),
                          xcb_get_property_value_length(title)),
              "\xE9\xA2\x84\xE8\xA7\x88 1");  // UTF-8 on the server, GBK in USER
    std::free(title);

    // Another client moves and sizes the window, as a window manager would for its user.
    MessageLog::Get().Take();
    const uint32_t place[] = {300, 250, 320, 160};
    xcb_configure_window(c, xid,
                         XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                             XCB_CONFIG_WINDOW_HEIGHT,
                         place);
    m_server->Sync();
    ASSERT_TRUE(Until([&] { return MessageLog::Get().Count(WM_SIZE, w) > 0; }));
    RECT r;
    GetWindowRect(w, &r);
    EXPECT_EQ(r.left, 300);
    EXPECT_EQ(r.top, 250);
    EXPECT_EQ(r.right - r.left, 320);
    std::vector<UINT> order;
    for (const auto& m : MessageLog::Get().Take())
        if (m.hwnd == w &&
            (m.message == WM_WINDOWPOSCHANGED || m.message == WM_MOVE || m.message == WM_SIZE))
            order.push_back(m.message);
    EXPECT_EQ(order, (std::vector<UINT>{WM_WINDOWPOSCHANGED, WM_MOVE, WM_SIZE}));
    // The window repaints at its new size and the server shows it.
    ASSERT_TRUE(Until([&] {
        return m_server->Read(RECT{610, 400, 611, 401}).ColorAt(0, 0) == RGB(255, 255, 255);
    }));

    // The close box: WM_DELETE_WINDOW becomes WM_CLOSE, and the window goes.
    xcb_client_message_event_t e{};
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = 32;
    e.window = xid;
    e.type = atom("WM_PROTOCOLS");
    e.data.data32[0] = atom("WM_DELETE_WINDOW");
    xcb_send_event(c, 0, xid, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&e));
    m_server->Sync();
    ASSERT_TRUE(Until([&] { return !IsWindow(w); }));
    EXPECT_EQ(MessageLog::Get().Count(WM_CLOSE, w), 1);
}

// Whether the window manager last sent the window a WM_SIZE of this kind.
bool LastSizeIs(HWND w, WPARAM type) {
    WPARAM last = ~WPARAM{0};
    for (const auto& m : MessageLog::Get().Snapshot())
        if (m.hwnd == w && m.message == WM_SIZE) last = m.wParam;
    return last == type;
}

TEST_F(DisplayTest, AWindowManagersMinimizeMaximizeAndRestoreReachTheWindow) {
    // A real window manager, running before USER connects so it is seen as one.
    sim::UseHeadlessDisplay();
    xcb_connection_t* c = m_server->Conn();
    auto atom = [c](const char* name) { return Atom(c, name); };
    ASSERT_GT(m_server->Run({"openbox", "--sm-disable"}), 0);
    // The manager is ready once it has taken a window of the test's own into its client list
    // (it names itself on the root before it can manage anything).
    const xcb_window_t probe = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, m_server->Root(), 0, 0, 10, 10, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    auto clients = [&] {
        std::vector<xcb_window_t> list;
        auto* r = xcb_get_property_reply(
            c,
            xcb_get_property(c, 0, m_server->Root(), atom("_NET_CLIENT_LIST"), XCB_ATOM_WINDOW, 0,
                             64),
            nullptr);
        if (r) {
            auto* v = static_cast<const xcb_window_t*>(xcb_get_property_value(r));
            list.assign(v, v + xcb_get_property_value_length(r) / 4);
        }
        std::free(r);
        return list;
    };
    ASSERT_TRUE(sim::PumpMessagesUntil(
        [&] {
            xcb_unmap_window(c, probe);
            xcb_map_window(c, probe);
            m_server->Sync();
            sim::PumpMessagesUntil([] { return false; }, 50);
            return !clients().empty();
        },
        10000))
        << "openbox did not start";
    xcb_destroy_window(c, probe);
    m_server->Sync();
    std::string error;
    ASSERT_TRUE(sim::UseX11Display(m_server->Name().c_str(), &error)) << error;

    HWND w = CreateWindowExA(0, RecorderClass(), "managed", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50,
                             40, 320, 200, nullptr, nullptr, nullptr, nullptr);
    xcb_window_t xid = 0;
    ASSERT_TRUE(Until([&] {
        // Inside the manager's frame now: its client list names it.
        const auto list = clients();
        xid = list.empty() ? 0 : list.back();
        return xid != 0;
    }));
    // What a taskbar or pager asks of the manager (EWMH and ICCCM client messages to the root).
    auto ask = [&](const char* type, uint32_t a, uint32_t b = 0, uint32_t d = 0) {
        xcb_client_message_event_t e{};
        e.response_type = XCB_CLIENT_MESSAGE;
        e.format = 32;
        e.window = xid;
        e.type = atom(type);
        e.data.data32[0] = a;
        e.data.data32[1] = b;
        e.data.data32[2] = d;
        e.data.data32[3] = 2;  // from a pager: the user's own request
        xcb_send_event(c, 0, m_server->Root(),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&e));
        m_server->Sync();
    };
    const uint32_t vert = atom("_NET_WM_STATE_MAXIMIZED_VERT");
    const uint32_t horz = atom("_NET_WM_STATE_MAXIMIZED_HORZ");

    ask("_NET_WM_STATE", 1 /* add */, vert, horz);
    ASSERT_TRUE(Until([&] { return IsZoomed(w) && LastSizeIs(w, SIZE_MAXIMIZED); }));
    RECT client;
    GetClientRect(w, &client);
    EXPECT_GT(client.right, 320);  // the manager's new size reached the window too

    ask("WM_CHANGE_STATE", XCB_ICCCM_WM_STATE_ICONIC);
    ASSERT_TRUE(Until([&] { return IsIconic(w) && LastSizeIs(w, SIZE_MINIMIZED); }));
    EXPECT_FALSE(IsZoomed(w));

    ask("_NET_ACTIVE_WINDOW", 2);  // the taskbar button: back as it was, maximized
    ASSERT_TRUE(
        Until([&] { return !IsIconic(w) && IsZoomed(w) && LastSizeIs(w, SIZE_MAXIMIZED); }));

    ask("_NET_WM_STATE", 0 /* remove */, vert, horz);
    ASSERT_TRUE(Until([&] { return !IsZoomed(w) && LastSizeIs(w, SIZE_RESTORED); }));
    EXPECT_TRUE(Until([&] {
        RECT r;
        GetClientRect(w, &r);
        return r.right < 400;  // the manager put it back at its old size
    }));

    // And the other way: the window maximized by its program is maximized in the manager's eyes.
    ShowWindow(w, SW_MAXIMIZE);
    ASSERT_TRUE(Until([&] {
        auto* r = xcb_get_property_reply(
            c, xcb_get_property(c, 0, xid, atom("_NET_WM_STATE"), XCB_ATOM_ATOM, 0, 16), nullptr);
        bool both = false;
        if (r) {
            auto* v = static_cast<const xcb_atom_t*>(xcb_get_property_value(r));
            const auto* end = v + xcb_get_property_value_length(r) / 4;
            both = std::find(v, end, vert) != end && std::find(v, end, horz) != end;
        }
        std::free(r);
        return both && IsZoomed(w);
    }));
    DestroyWindow(w);
}

TEST_F(DisplayTest, TheServerGoingAwayMidPreviewEndsInAClearErrorWithoutAHang) {
    HWND host = CreateRecorder(WS_POPUP | WS_VISIBLE, 0, 0, 400, 300);
    CDXCamera camera;
    ASSERT_TRUE(camera.SetCameraIndex(0));
    ASSERT_TRUE(camera.SetResolutionIndex(0));
    ASSERT_TRUE(camera.SetParentWnd(host));
    camera.SetRenderMode(2);
    ASSERT_EQ(camera.Open(), 0);
    sim::PumpMessagesUntil([] { return false; }, 300);
    m_server->Kill();
    ASSERT_TRUE(sim::PumpMessagesUntil([] { return sim::DisplayLost(); }, 5000));
    EXPECT_NE(sim::DisplayNote().find("went away"), std::string::npos) << sim::DisplayNote();
    EXPECT_EQ(sim::DisplayName(), "headless");
    // The windows live on in memory and everything else still works.
    sim::PumpMessagesUntil([] { return false; }, 200);
    EXPECT_TRUE(IsWindow(host));
    POINT p;
    EXPECT_TRUE(GetCursorPos(&p));
    camera.Close();
    EXPECT_TRUE(DestroyWindow(host));
    // Asking for the dead server again is refused with a reason, unless another test's server has
    // already taken its display number (their servers run in parallel and pick free numbers).
    const std::string socket = "/tmp/.X11-unix/X" + m_server->Name().substr(1);
    if (access(socket.c_str(), F_OK) != 0) {
        std::string error;
        EXPECT_FALSE(sim::UseX11Display(m_server->Name().c_str(), &error));
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace lumacap::test
