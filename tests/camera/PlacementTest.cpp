// Preview placement: the parent window and the preview window under it, the renderer's window
// fitted into the parent (render mode 0), rotation, SetVideoPos and the placement queries.
#include "CaptureFixture.h"

namespace lumacap::test {
namespace {

using PlacementTest = CaptureTest;

// A window's rectangle in its parent's client coordinates.
RECT RectInParent(HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    POINT tl{r.left, r.top}, br{r.right, r.bottom};
    ScreenToClient(GetParent(hwnd), &tl);
    ScreenToClient(GetParent(hwnd), &br);
    return RECT{tl.x, tl.y, br.x, br.y};
}

std::string Text(const RECT& r) {
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) +
           "," + std::to_string(r.bottom);
}

TEST_F(PlacementTest, TheRendererWindowIsFittedIntoTheParent) {
    struct Case {
        int cw, ch;
        bool rotate;
        RECT videoPos;
        RECT expected;  // left, top, right, bottom in the parent
        long format = kYuy2_640x480;
    } cases[] = {
        {800, 400, false, {0, 0, 0, 0}, {133, 0, 666, 400}},  // wider area: full height, centred
        {400, 400, false, {0, 0, 0, 0}, {0, 50, 400, 350}},   // taller area: full width, centred
        {640, 480, false, {0, 0, 0, 0}, {0, 0, 640, 480}},    // the same aspect fills it
        {800, 400, true, {0, 0, 0, 0}, {250, 0, 550, 400}},   // rotated: fitted as 480 x 640
        // A stored rectangle is the area, its corner the origin.
        {800, 400, false, {10, 20, 410, 420}, {10, 70, 410, 370}},
        // A top-down format has the shape of its rows.
        {800, 400, false, {0, 0, 0, 0}, {133, 0, 666, 400}, kRgb24TopDown_320x240},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Text(c.expected));
        HWND parent = MakeParent(c.cw, c.ch);
        auto camera = MakeCamera(c.format, RenderMode_VideoRenderer, parent);
        camera->SetRotatePreview(c.rotate);
        RECT pos = c.videoPos;
        EXPECT_EQ(camera->SetVideoPos(&pos), 0);
        ASSERT_EQ(camera->Open(), 0) << sim::GbkToUtf8(camera->GetLastError());
        HWND video = RendererWindowIn(parent);
        ASSERT_NE(video, nullptr);
        EXPECT_TRUE(IsWindowVisible(video));
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(video, GWL_STYLE)) & ~WS_VISIBLE,
                  static_cast<DWORD>(WS_CHILD | WS_CLIPCHILDREN));
        const RECT placed = RectInParent(video);
        EXPECT_TRUE(EqualRect(&placed, &c.expected)) << Text(placed);
        long l = 0, t = 0, w = 0, h = 0;
        EXPECT_EQ(camera->GetPreviewSizeEx(&l, &t, &w, &h), 1);
        EXPECT_EQ(l, c.expected.left);
        EXPECT_EQ(t, c.expected.top);
        EXPECT_EQ(w, c.expected.right - c.expected.left);
        EXPECT_EQ(h, c.expected.bottom - c.expected.top);
        camera->Close();
        EXPECT_FALSE(IsWindowVisible(video));
    }
}

TEST_F(PlacementTest, TheRendererShowsTheFramesWhereItWasPlaced) {
    auto camera = MakeCamera(kYuy2_640x480, RenderMode_VideoRenderer);
    ASSERT_EQ(camera->Open(), 0);
    // 533 x 400 at (133, 0): the bars across, black beside.
    auto barsAcross = [&] {
        const sim::Pixels p = sim::ReadWindowClient(m_parent);
        if (p.Empty()) return false;
        for (int bar = 0; bar < 8; ++bar)
            if (!IsBarColor(p.ColorAt(133 + (2 * bar + 1) * 533 / 16, 400 * 5 / 12), bar))
                return false;
        return true;
    };
    EXPECT_TRUE(PumpUntil(barsAcross));

    // Moved: fitted into the new rectangle at once; the placement reported stays the one of open.
    RECT pos{100, 100, 420, 340};
    EXPECT_EQ(camera->SetVideoPos(&pos), 0);
    RECT placed = RectInParent(RendererWindowIn(m_parent));
    const RECT expected{100, 100, 420, 340};
    EXPECT_TRUE(EqualRect(&placed, &expected)) << Text(placed);
    long l = 0, t = 0, w = 0, h = 0;
    camera->GetPreviewSizeEx(&l, &t, &w, &h);
    EXPECT_EQ(l, 133);
    EXPECT_EQ(w, 533);
    RECT empty{50, 50, 50, 50};
    camera->SetVideoPos(&empty);
    placed = RectInParent(RendererWindowIn(m_parent));
    EXPECT_EQ(placed.right - placed.left, 0);
    EXPECT_EQ(placed.bottom - placed.top, 0);
}

TEST_F(PlacementTest, RotationTurnsOnlyTheRenderersPicture) {
    FrameLog log(640, 480);
    auto camera = MakeCamera(kYuy2_640x480, RenderMode_VideoRenderer);
    camera->SetRotatePreview(1);
    camera->SetLumacapBuffCB(&FrameLog::Callback, &log);
    ASSERT_EQ(camera->Open(), 0) << sim::GbkToUtf8(camera->GetLastError());
    ASSERT_TRUE(log.WaitFor(5));
    // The host's frames keep the format's width and height: the stamp reads back unturned.
    for (long length : log.Lengths()) EXPECT_EQ(length, 640 * 480 * 3);
    EXPECT_GE(log.Numbers().back(), 0);
    // The renderer's picture, 300 x 400 at (250, 0), is turned a quarter clockwise: the bars run
    // from top to bottom, in the columns the bars' rows came to.
    auto barsDown = [&] {
        const sim::Pixels p = sim::ReadWindowClient(m_parent);
        if (p.Empty()) return false;
        const int x = 250 + 300 * 7 / 12;
        for (int bar = 0; bar < 8; ++bar)
            if (!IsBarColor(p.ColorAt(x, (2 * bar + 1) * 400 / 16), bar)) return false;
        return true;
    };
    EXPECT_TRUE(PumpUntil(barsDown));
}

TEST_F(PlacementTest, ParentWindowAndThePreviewWindowUnderIt) {
    CDXCamera camera;
    ASSERT_EQ(camera.SetCameraIndex(0), 1);
    ASSERT_EQ(camera.SetResolutionIndex(0), 1);
    // No parent and no main window: refused, and Open then refuses too.
    EXPECT_EQ(camera.SetParentWnd(nullptr), 0);
    EXPECT_STREQ(camera.GetLastError(), "请设置父窗口参数。");
    EXPECT_EQ(camera.GetParentWnd(), nullptr);
    EXPECT_EQ(camera.Open(), 1);

    ASSERT_EQ(camera.SetParentWnd(m_parent), 1);
    HWND preview = PreviewOf(camera);
    ASSERT_NE(preview, nullptr);
    char cls[32] = {}, title[32] = {};
    GetClassNameA(preview, cls, sizeof(cls));
    GetWindowTextA(preview, title, sizeof(title));
    EXPECT_STREQ(cls, "AfxWnd");
    EXPECT_STREQ(title, "VideoRender");
    EXPECT_EQ(GetParent(preview), m_parent);
    EXPECT_FALSE(IsWindowVisible(preview));
    EXPECT_EQ(GetDlgCtrlID(preview), 0) << "the device's position";
    RECT rc{};
    GetClientRect(preview, &rc);
    EXPECT_EQ(rc.right, 800);
    EXPECT_EQ(rc.bottom, 400);
    // The same parent again changes nothing.
    EXPECT_EQ(camera.SetParentWnd(m_parent), 1);
    EXPECT_EQ(PreviewOf(camera), preview);

    // Another parent while open is refused; while closed the window moves under it.
    HWND other = MakeParent(320, 240, 900, 0);
    ASSERT_EQ(camera.Open(), 0);
    EXPECT_EQ(camera.SetParentWnd(other), 0);
    EXPECT_STREQ(camera.GetLastError(), "设备正在运行。");
    EXPECT_EQ(camera.GetParentWnd(), m_parent);
    camera.Close();
    EXPECT_EQ(camera.SetParentWnd(other), 1);
    EXPECT_FALSE(IsWindow(preview));
    HWND moved = PreviewOf(camera);
    EXPECT_EQ(GetParent(moved), other);
    GetClientRect(moved, &rc);
    EXPECT_EQ(rc.right, 320);

    // Null: the application's main window.
    sim::SetMainWindow(m_parent);
    EXPECT_EQ(camera.SetParentWnd(nullptr), 1);
    EXPECT_EQ(camera.GetParentWnd(), m_parent);
    EXPECT_EQ(GetParent(PreviewOf(camera)), m_parent);
    sim::SetMainWindow(nullptr);
}

}  // namespace
}  // namespace lumacap::test
