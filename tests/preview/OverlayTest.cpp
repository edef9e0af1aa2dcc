// Overlay rectangles edited with the simulated pointer: drawing, selection, moving, resizing,
// the parent's refusals, handles, the picture coming and going, the pixels drawn and the cursors.
#include <afxwin.h>

#include "resources/CursorIds.h"
#include "OverlayStage.h"

namespace lumacap::test {
namespace {

using OverlayTest = UiTest;

constexpr COLORREF kRed = RGB(225, 0, 0);
constexpr COLORREF kGray = RGB(109, 109, 109);  // COLOR_GRAYTEXT

// Half size: a 400 x 240 picture shown in 1, 1, 201, 121; twice as many picture pixels.
Stage HalfSize() { return Stage(202, 122, 400, 240); }
// One to one: a 320 x 240 picture shown in 1, 1, 321, 241.
Stage OneToOne() { return Stage(322, 242, 320, 240); }

int CountColor(const sim::Pixels& p, COLORREF c, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) n += p.ColorAt(x, y) == c;
    return n;
}

TEST_F(OverlayTest, DrawingInAnyDirectionGivesANormalisedRectangleInPicturePixels) {
    const POINT a{20, 20}, b{120, 80};
    for (const auto& [from, to] : {std::pair{a, b}, std::pair{b, a}, std::pair{POINT{a.x, b.y}, POINT{b.x, a.y}},
                                   std::pair{POINT{b.x, a.y}, POINT{a.x, b.y}}}) {
        Stage s = HalfSize();
        s.DragTo(from, to);
        const auto notes = s.Take();
        ASSERT_EQ(notes.size(), 2u);
        // Asked once, at the first move, with that point; then told the rectangle, each corner
        // rounded on its own: 100 x 60 client pixels are 200 x 120 picture pixels.
        EXPECT_EQ(notes[0].message, static_cast<UINT>(PWM_NEWRECT_BEGIN));
        EXPECT_EQ(notes[0].wParam, 0u);
        EXPECT_EQ(notes[0].lParam, MAKELPARAM(from.x + (to.x > from.x ? 1 : -1), from.y + (to.y > from.y ? 1 : -1)));
        EXPECT_EQ(notes[1].message, static_cast<UINT>(PWM_NEWRECT_END));
        EXPECT_EQ(notes[1].wParam, static_cast<WPARAM>(-1));
        EXPECT_EQ(Text(notes[1].rect), "38,38,238,158");
        ASSERT_EQ(s.Items().size(), 1u);
        EXPECT_EQ(s.ItemText(0), "38,38,238,158");
        EXPECT_EQ(s.Items()[0]->m_nFlags, 3u);  // the new rectangle is selected and current
        EXPECT_EQ(s.Current(), 0);
    }

    // Under 12 x 12 client pixels, in either direction, nothing is sent and nothing is added.
    Stage s = OneToOne();
    s.Drag(20, 20, 31, 60);
    s.Drag(20, 100, 60, 111);
    EXPECT_EQ(s.Count(PWM_NEWRECT_END), 0);
    EXPECT_TRUE(s.Items().empty());
    s.Drag(20, 150, 32, 162);
    EXPECT_EQ(s.Count(PWM_NEWRECT_END), 1);
    EXPECT_EQ(s.ItemText(0), "19,149,31,161");
}

TEST_F(OverlayTest, PressingSelectsTheInnerOfNestedRectanglesAndTheFirstOfOverlappingOnes) {
    Stage s = OneToOne();
    s.Drag(40, 40, 200, 200);   // 0: A
    s.Drag(240, 40, 280, 80);   // 1: B, then moved wholly inside A
    s.Drag(260, 60, 120, 120);
    EXPECT_EQ(s.ItemText(1), "99,99,139,139");
    s.Drag(300, 150, 150, 230);  // 2: C, overlapping A's lower right part
    ASSERT_EQ(s.Items().size(), 3u);
    s.Take();
    for (const auto& [x, y, expected] : {std::tuple{120, 120, 1}, std::tuple{60, 60, 0}, std::tuple{175, 175, 0},
                                         std::tuple{250, 210, 2}, std::tuple{20, 220, -1}}) {
        s.Click(x, y);
        EXPECT_EQ(s.Current(), expected) << x << "," << y;
        for (int i = 0; i < 3; ++i) EXPECT_EQ(s.Items()[i]->m_nFlags, i == expected ? 3u : 0u) << x << "," << y;
    }
    EXPECT_TRUE(s.Take().empty());  // a click without a drag only selects
}

TEST_F(OverlayTest, MovingCutsTheRectangleAtThePictureEdge) {
    Stage s = HalfSize();
    s.Drag(40, 40, 100, 100);
    EXPECT_EQ(s.ItemText(0), "78,78,198,198");
    s.Take();
    s.Drag(70, 70, 190, 100);  // 120 x 30 client pixels: 240 x 60 picture pixels
    const auto notes = s.Take();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_EQ(notes[0].message, static_cast<UINT>(PWM_EDITRECT_BEGIN));
    EXPECT_EQ(notes[0].wParam, 0u);
    EXPECT_EQ(notes[0].lParam, 0);
    EXPECT_EQ(notes[1].message, static_cast<UINT>(PWM_EDITRECT_END));
    EXPECT_EQ(notes[1].wParam, 0u);
    EXPECT_EQ(Text(notes[1].rect), "318,138,400,240");
    EXPECT_EQ(s.ItemText(0), "318,138,400,240");
}

TEST_F(OverlayTest, ResizingPastTheOppositeSideTurnsTheRectangleOverInsideThePicture) {
    // The rectangle is 118, 78, 278, 198 in picture pixels (60, 40, 140, 100 in the window);
    // each handle is pressed on the frame and dragged far past the opposite side.
    struct Case {
        POINT press, to;
        const char* expected;
    };
    const Case cases[] = {
        {{59, 39}, {500, 500}, "278,198,400,240"}, {{140, 39}, {-500, 500}, "0,198,118,240"},
        {{140, 100}, {-500, -500}, "0,0,118,78"},  {{59, 100}, {500, -500}, "278,0,400,78"},
        {{100, 39}, {100, 500}, "118,198,278,240"}, {{140, 70}, {-500, 70}, "0,78,118,198"},
        {{100, 100}, {100, -500}, "118,0,278,78"}, {{59, 70}, {500, 70}, "278,78,400,198"},
    };
    for (const Case& c : cases) {
        Stage s = HalfSize();
        s.Drag(60, 40, 140, 100);
        ASSERT_EQ(s.ItemText(0), "118,78,278,198");
        s.Take();
        s.DragTo(c.press, c.to);
        const auto notes = s.Take();
        ASSERT_EQ(notes.size(), 2u) << c.expected;
        EXPECT_EQ(notes[0].message, static_cast<UINT>(PWM_EDITRECT_BEGIN));
        EXPECT_EQ(Text(notes[1].rect), c.expected);
        EXPECT_EQ(s.ItemText(0), c.expected);
    }
}

TEST_F(OverlayTest, EachRefusalKeepsThingsAsTheyWere) {
    Stage s = OneToOne();
    // A refused start of a drawing is asked again at every move, and nothing is drawn meanwhile.
    s.refusals[PWM_NEWRECT_BEGIN] = 2;
    s.DragTo(POINT{50, 50}, POINT{90, 90}, /*release=*/false);
    EXPECT_EQ(s.Count(PWM_NEWRECT_BEGIN), 3);
    s.Release();
    EXPECT_EQ(s.Count(PWM_NEWRECT_END), 1);
    EXPECT_EQ(s.ItemText(0), "49,49,89,89");  // drawn from the press, once allowed
    s.Take();
    s.refusals[PWM_NEWRECT_BEGIN] = 100;
    s.DragTo(POINT{150, 150}, POINT{200, 200}, false);
    EXPECT_EQ(CountColor(s.Shot(), kGray, 140, 140, 210, 210), 0);  // no rubber band
    s.Release();
    EXPECT_EQ(s.Count(PWM_NEWRECT_BEGIN), 5);
    EXPECT_EQ(s.Count(PWM_NEWRECT_END), 0);

    // A refused new rectangle is not added.
    s.refusals = {{PWM_NEWRECT_END, 1}};
    s.Drag(150, 150, 200, 200);
    EXPECT_EQ(s.Count(PWM_NEWRECT_END), 1);
    EXPECT_EQ(s.Items().size(), 1u);
    s.Take();

    // A refused move or resize does not start, is asked again at each move, and the pointer
    // shows the arrow meanwhile.
    s.refusals = {{PWM_EDITRECT_BEGIN, 100}};
    s.DragTo(POINT{70, 70}, POINT{120, 120}, false);
    EXPECT_EQ(s.Count(PWM_EDITRECT_BEGIN), 5);
    s.Move(121, 121);
    EXPECT_EQ(sim::CurrentCursor(), LoadCursorA(nullptr, IDC_ARROW));
    s.Release();
    s.DragTo(POINT{89, 89}, POINT{150, 150});  // the bottom-right handle
    EXPECT_EQ(s.Count(PWM_EDITRECT_BEGIN), 11);
    for (const Note& n : s.Take()) EXPECT_EQ(n.wParam, 0u);
    EXPECT_EQ(s.ItemText(0), "49,49,89,89");

    // A refused end of a move or resize leaves the rectangle where it was, and it is drawn there.
    s.refusals = {{PWM_EDITRECT_END, 2}};
    s.Drag(70, 70, 120, 120);
    s.Drag(89, 89, 150, 150);
    EXPECT_EQ(s.Count(PWM_EDITRECT_END), 2);
    EXPECT_EQ(s.ItemText(0), "49,49,89,89");
    const sim::Pixels shot = s.Shot();
    EXPECT_EQ(ColorText(shot.ColorAt(48, 70)), ColorText(kRed));
    EXPECT_EQ(ColorText(shot.ColorAt(98, 120)), ColorText(Stage::kPicture));   // not moved
    EXPECT_EQ(ColorText(shot.ColorAt(150, 120)), ColorText(Stage::kPicture));  // not resized
}

TEST_F(OverlayTest, EdgeHandlesAppearFromTwentyPixels) {
    Stage s = OneToOne();
    // Width 19 and 20 (top and bottom handles), height 19 and 20 (left and right handles).
    struct Case {
        RECT r;
        bool handles;
        POINT edge;  // on the frame, where the middle handle is
    };
    for (const Case& c : {Case{{20, 20, 39, 80}, false, {29, 19}}, Case{{60, 20, 80, 80}, true, {69, 19}},
                          Case{{120, 20, 180, 39}, false, {119, 29}}, Case{{120, 100, 180, 120}, true, {119, 109}}}) {
        s.Drag(c.r.left, c.r.top, c.r.right, c.r.bottom);
        // The new rectangle is current, so its handles are drawn.
        const bool top = c.edge.y < c.r.top;
        const sim::Pixels shot = s.Shot();
        const COLORREF outside = top ? shot.ColorAt(c.edge.x, c.r.top - 3) : shot.ColorAt(c.r.left - 3, c.edge.y);
        EXPECT_EQ(outside == kRed, c.handles) << Text(c.r);
        // Pressing there grabs the handle or misses the rectangle (and starts a new one).
        s.Take();
        s.refusals = {{PWM_NEWRECT_BEGIN, 100}, {PWM_EDITRECT_BEGIN, 100}};
        s.DragTo(c.edge, POINT{c.edge.x + 5, c.edge.y + 5});
        EXPECT_EQ(s.Count(PWM_EDITRECT_BEGIN) > 0, c.handles) << Text(c.r);
        EXPECT_EQ(s.Count(PWM_NEWRECT_BEGIN) > 0, !c.handles) << Text(c.r);
        s.refusals.clear();
    }
}

TEST_F(OverlayTest, WithoutAPictureNothingHappensAndRectanglesReturnWithTheNext) {
    Stage s = OneToOne();
    s.Drag(40, 40, 100, 100);
    s.Take();
    s.preview->ClearFrame();
    sim::PumpMessages();
    EXPECT_EQ(CountColor(s.Shot(), kRed, 0, 0, 321, 241), 0);
    s.DragTo(POINT{70, 70}, POINT{150, 150}, false);
    RECT clip;
    GetClipCursor(&clip);
    EXPECT_EQ(clip.right, GetSystemMetrics(SM_CXSCREEN));  // not confined
    s.Release();
    s.Drag(200, 200, 250, 230);
    EXPECT_TRUE(s.Take().empty());

    // A picture twice as large: the rectangle is where it was on the picture, at half the size.
    s.ShowPicture(640, 480);
    const sim::Pixels shot = s.Shot();
    EXPECT_EQ(ColorText(shot.ColorAt(19, 35)), ColorText(kRed));
    EXPECT_EQ(ColorText(shot.ColorAt(51, 35)), ColorText(kRed));
    EXPECT_EQ(ColorText(shot.ColorAt(35, 35)), ColorText(Stage::kPicture));
    s.Drag(35, 35, 45, 45);
    ASSERT_EQ(s.Count(PWM_EDITRECT_END), 1);
    EXPECT_EQ(s.ItemText(0), "59,59,119,119");

    // A window destroyed in the middle of a press lets the pointer go.
    s.Move(35, 35);
    s.Press();
    GetClipCursor(&clip);
    EXPECT_LT(clip.right, GetSystemMetrics(SM_CXSCREEN));
    delete s.preview;
    s.preview = nullptr;
    GetClipCursor(&clip);
    EXPECT_EQ(clip.right, GetSystemMetrics(SM_CXSCREEN));
    s.preview = new CPreviewWnd(nullptr);
}

TEST_F(OverlayTest, FramesHandlesAndDottedOutlinesReadBackFromTheWindow) {
    Stage s = OneToOne();
    s.Drag(40, 40, 100, 100);   // A: client 40, 40, 100, 100
    s.Drag(150, 40, 200, 100);  // B, now the current one
    sim::Pixels shot = s.Shot();
    // A pen two pixels wide just outside the rectangle, on every side.
    for (const auto& [x, y, color] : {std::tuple{37, 70, Stage::kPicture}, {38, 70, kRed}, {39, 70, kRed},
                                      {40, 70, Stage::kPicture}, {99, 70, Stage::kPicture}, {100, 70, kRed},
                                      {101, 70, kRed}, {102, 70, Stage::kPicture}, {70, 38, kRed}, {70, 39, kRed},
                                      {70, 40, Stage::kPicture}, {70, 101, kRed}, {70, 102, Stage::kPicture}})
        EXPECT_EQ(ColorText(shot.ColorAt(x, y)), ColorText(color)) << x << "," << y;
    // Filled handles on the current rectangle only.
    EXPECT_EQ(CountColor(shot, kRed, 146, 36, 151, 41), 36);  // B's top-left handle
    EXPECT_EQ(CountColor(shot, kRed, 36, 36, 41, 41), 12);    // A's corner: its frame alone
    EXPECT_EQ(CountColor(shot, kGray, 0, 0, 321, 241), 0);

    // Moving A: A stays, a dotted outline follows the pointer.
    s.DragTo(POINT{70, 70}, POINT{90, 75}, false);
    shot = s.Shot();
    EXPECT_EQ(shot.ColorAt(38, 70), kRed);
    const int dots = CountColor(shot, kGray, 59, 44, 120, 44);  // top of A moved by 20, 5, grown by 1
    EXPECT_GT(dots, 20);
    EXPECT_LT(dots, 42);
    EXPECT_EQ(CountColor(shot, kGray, 0, 43, 321, 43), 0);
    s.Release();
    // Resizing A (now at 60, 45, 120, 105): the tracking outline stands in for it.
    s.DragTo(POINT{120, 105}, POINT{130, 110}, false);
    shot = s.Shot();
    EXPECT_NE(shot.ColorAt(58, 80), kRed);
    EXPECT_GT(CountColor(shot, kGray, 59, 44, 59, 111), 20);  // left side of 60, 45, 130, 110 grown by 1
    s.Release();
    // Drawing: the rubber band.
    s.DragTo(POINT{200, 150}, POINT{260, 200}, false);
    EXPECT_GT(CountColor(s.Shot(), kGray, 199, 149, 260, 149), 20);
}

TEST_F(OverlayTest, TheCursorShowsWhatAPressWouldDo) {
    Stage s = OneToOne();
    s.Drag(40, 40, 100, 100);
    HINSTANCE module = AfxGetResourceHandle();
    auto cursor = [&](int id) { return LoadCursorA(module, MAKEINTRESOURCE(id)); };
    struct Case {
        POINT at;
        HCURSOR expected;
    };
    for (const Case& c : {Case{{39, 39}, cursor(IDC_LUMACAP_SIZENWSE)}, {{100, 39}, cursor(IDC_LUMACAP_SIZENESW)},
                          {{100, 100}, cursor(IDC_LUMACAP_SIZENWSE)}, {{39, 100}, cursor(IDC_LUMACAP_SIZENESW)},
                          {{70, 39}, cursor(IDC_LUMACAP_SIZENS)}, {{100, 70}, cursor(IDC_LUMACAP_SIZEWE)},
                          {{70, 100}, cursor(IDC_LUMACAP_SIZENS)}, {{39, 70}, cursor(IDC_LUMACAP_SIZEWE)},
                          {{70, 70}, cursor(IDC_LUMACAP_MOVE)}, {{200, 200}, LoadCursorA(nullptr, IDC_ARROW)}}) {
        ASSERT_NE(c.expected, nullptr);
        // The window picks the cursor before it sees the move, so it shows the last position's.
        s.Move(c.at.x, c.at.y);
        s.Move(c.at.x, c.at.y + 1);
        EXPECT_EQ(sim::CurrentCursor(), c.expected) << c.at.x << "," << c.at.y;
    }
    // Dragging a corner round the fixed one switches between the diagonals.
    s.refusals = {{PWM_EDITRECT_END, 1}};
    s.DragTo(POINT{100, 100}, POINT{20, 120}, false);
    s.Move(21, 120);
    EXPECT_EQ(sim::CurrentCursor(), cursor(IDC_LUMACAP_SIZENESW));
    s.Move(20, 20);
    s.Move(21, 20);
    EXPECT_EQ(sim::CurrentCursor(), cursor(IDC_LUMACAP_SIZENWSE));
    s.Release();

    // The pictures: hot spot, size, colours, and which way each arrow points.
    struct Picture {
        int id;
        POINT hot;
        bool colour;
        POINT on, off;  // offsets from the hot spot: opaque along the arrow, clear across it
    };
    HDC dc = CreateCompatibleDC(nullptr);
    HDC screen = GetDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 32, 32);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(dc, bitmap);
    for (const Picture& p : {Picture{IDC_LUMACAP_MOVE, {10, 10}, true, {7, 0}, {7, 7}},
                             Picture{IDC_LUMACAP_MOVE, {10, 10}, true, {0, -7}, {-7, 7}},
                             Picture{IDC_LUMACAP_SIZEWE, {15, 15}, false, {7, 0}, {0, 7}},
                             Picture{IDC_LUMACAP_SIZENS, {15, 15}, false, {0, 7}, {7, 0}},
                             Picture{IDC_LUMACAP_SIZENESW, {15, 15}, false, {5, -5}, {5, 5}},
                             Picture{IDC_LUMACAP_SIZENWSE, {15, 15}, false, {5, 5}, {5, -5}}}) {
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(cursor(p.id), &info));
        EXPECT_EQ(static_cast<LONG>(info.xHotspot), p.hot.x);
        EXPECT_EQ(static_cast<LONG>(info.yHotspot), p.hot.y);
        EXPECT_EQ(info.hbmColor != nullptr, p.colour);
        BITMAP bm{};
        GetObjectA(info.hbmMask, sizeof(bm), &bm);
        EXPECT_EQ(bm.bmWidth, 32);
        EXPECT_EQ(bm.bmHeight, p.colour ? 32 : 64);
        DeleteObject(info.hbmMask);
        if (info.hbmColor) DeleteObject(info.hbmColor);
        // Drawn over blue, the arrow is opaque both ways along its axis and clear across it.
        RECT all{0, 0, 32, 32};
        HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
        FillRect(dc, &all, blue);
        DeleteObject(blue);
        DrawIconEx(dc, 0, 0, cursor(p.id), 0, 0, 0, nullptr, DI_NORMAL);
        const auto at = [&](int dx, int dy) { return GetPixel(dc, p.hot.x + dx, p.hot.y + dy); };
        EXPECT_EQ(at(0, 0), RGB(0, 0, 0)) << p.id;
        EXPECT_NE(at(p.on.x, p.on.y), RGB(0, 0, 255)) << p.id;
        EXPECT_NE(at(-p.on.x, -p.on.y), RGB(0, 0, 255)) << p.id;
        EXPECT_EQ(at(p.off.x, p.off.y), RGB(0, 0, 255)) << p.id;
        EXPECT_EQ(at(-p.off.x, -p.off.y), RGB(0, 0, 255)) << p.id;
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

}  // namespace
}  // namespace lumacap::test
