// Overlay rectangles edited with the simulated pointer: drawing, selection, moving, resizing, the
// parent's refusals, handles, the picture coming and going, the pixels drawn and the cursors.
#include <afxwin.h>

#include "OverlayStage.h"
#include <lumacap/sim.h>
#include "resources/CursorIds.h"

namespace lumacap::test {
namespace {

using OverlayTest = UiTest;

constexpr COLORREF kRed = RGB(225, 0, 0);
constexpr COLORREF kGray = RGB(109, 109, 109);  // COLOR_GRAYTEXT

// Half size: a 400 x 240 picture shown in 1, 1, 201, 121. One to one: 320 x 240 in 1, 1, 321, 241.
Stage HalfSize() {
    return Stage(202, 122, 400, 240);
}
Stage OneToOne() {
    return Stage(322, 242, 320, 240);
}

int CountColor(const sim::Pixels& p, COLORREF c, RECT r = RECT{0, 0, 10000, 10000}) {
    int n = 0;
    for (int y = r.top; y <= std::min<int>(r.bottom, p.height - 1); ++y)
        for (int x = r.left; x <= std::min<int>(r.right, p.width - 1); ++x)
            n += p.ColorAt(x, y) == c;
    return n;
}

// A row or column of pixels: R the rectangles' red, . the picture, ? anything else.
std::string Line(const sim::Pixels& p, int x0, int y0, int x1, int y1) {
    std::string out;
    for (int i = 0; i <= std::max(x1 - x0, y1 - y0); ++i) {
        const COLORREF c = p.ColorAt(x0 + (x1 > x0 ? i : 0), y0 + (y1 > y0 ? i : 0));
        out += c == kRed ? 'R' : c == Stage::kPicture ? '.' : '?';
    }
    return out;
}

bool Confined() {
    RECT clip;
    GetClipCursor(&clip);
    return clip.right - clip.left < GetSystemMetrics(SM_CXSCREEN);
}

HCURSOR Cursor(int id) {
    return LoadCursorA(id ? AfxGetResourceHandle() : nullptr, id ? MAKEINTRESOURCE(id) : IDC_ARROW);
}

TEST_F(OverlayTest, DrawingInAnyDirectionGivesANormalisedRectangleInPicturePixels) {
    const POINT a{20, 20}, b{120, 80}, c{20, 80}, d{120, 20};
    const std::pair<POINT, POINT> drags[] = {{a, b}, {b, a}, {c, d}, {d, c}};
    for (const auto& [from, to] : drags) {
        Stage s = HalfSize();
        s.DragTo(from, to);
        // Asked at the first move, with its point; 100 x 60 client pixels are 200 x 120 on the
        // picture.
        EXPECT_EQ(s.Take(), "N0 N-1=38,38,238,158");
        EXPECT_EQ(s.newPoint,
                  MAKELPARAM(from.x + (to.x > from.x ? 1 : -1), from.y + (to.y > from.y ? 1 : -1)));
        ASSERT_EQ(s.ItemText(0), "38,38,238,158");
        EXPECT_EQ(s.Items()[0]->m_nFlags, 3u);  // selected and current
    }
    // Under 12 x 12 client pixels either way: nothing is sent and nothing is added.
    Stage s = OneToOne();
    s.Drag(20, 20, 31, 60);
    s.Drag(20, 100, 60, 111);
    s.Drag(20, 150, 32, 162);
    EXPECT_EQ(s.Take(), "N0 N0 N0 N-1=19,149,31,161");
}

TEST_F(OverlayTest, AHostWithoutAPointerDrawsThroughTheSimulatedOne) {
    Stage s = HalfSize();
    EXPECT_TRUE(sim::DrawPreviewRect(s.preview->m_hWnd, RECT{238, 158, 38, 38}));
    EXPECT_TRUE(sim::DrawPreviewRect(s.preview->m_hWnd,
                                     RECT{100, 100, 300, 200}));  // starts inside the first
    EXPECT_EQ(s.Take(), "N0 N-1=38,38,238,158 N0 N-1=100,100,300,200");
    EXPECT_FALSE(
        sim::DrawPreviewRect(s.preview->m_hWnd, RECT{0, 0, 20, 20}));  // 10 x 10 in the window
    EXPECT_FALSE(sim::DrawPreviewRect(s.parent, RECT{0, 0, 100, 100}));
    EXPECT_EQ(s.Items().size(), 2u);
}

TEST_F(OverlayTest, PressingSelectsTheInnerOfNestedRectanglesAndTheFirstOfOverlappingOnes) {
    Stage s = OneToOne();
    s.Drag(40, 40, 200, 200);  // 0
    s.Drag(240, 40, 280, 80);  // 1, moved wholly inside 0 (a move left and down)
    s.Drag(260, 60, 120, 120);
    s.Drag(300, 150, 150, 230);  // 2, overlapping 0's lower right part
    // Moved by (-140, 60): each distance gets a half added and is cut toward zero, so the move
    // to the left comes out a pixel shorter.
    EXPECT_EQ(s.ItemText(1), "100,99,140,139");
    s.Take();
    std::string picked;
    for (const POINT p : {POINT{120, 120}, {60, 60}, {175, 175}, {250, 210}, {20, 220}}) {
        s.DragTo(p, p);  // a press and a release without a drag only selects
        picked += std::to_string(s.Current()) + ":";
        for (const CPreviewItem* item : s.Items()) picked += std::to_string(item->m_nFlags);
        picked += " ";
    }
    EXPECT_EQ(picked, "1:030 0:300 0:300 2:003 -1:000 ");
    EXPECT_EQ(s.Take(), "");
}

TEST_F(OverlayTest, MovingAndResizingNeverLeaveThePicture) {
    // 118, 78, 278, 198 on the picture (60, 40, 140, 100 in the window). Moved by 90 x 50 client
    // pixels (180 x 100 on the picture), it is cut at the edges. Each handle, pressed on the frame
    // and dragged far past the opposite side (the pointer is held in the window), turns it over.
    struct Case {
        POINT press, to;
        std::string expected;
    };
    for (const Case& c : {Case{{100, 70}, {190, 120}, "298,178,400,240"},
                          {{59, 39}, {500, 500}, "278,198,400,240"},
                          {{140, 39}, {-500, 500}, "0,198,118,240"},
                          {{140, 100}, {-500, -500}, "0,0,118,78"},
                          {{59, 100}, {500, -500}, "278,0,400,78"},
                          {{100, 39}, {100, 500}, "118,198,278,240"},
                          {{140, 70}, {-500, 70}, "0,78,118,198"},
                          {{100, 100}, {100, -500}, "118,0,278,78"},
                          {{59, 70}, {500, 70}, "278,78,400,198"}}) {
        Stage s = HalfSize();
        s.Drag(60, 40, 140, 100);
        s.Take();
        s.DragTo(c.press, c.to);
        EXPECT_EQ(s.Take(), "E0 E0=" + c.expected);
        EXPECT_EQ(s.ItemText(0), c.expected);
    }
}

TEST_F(OverlayTest, EachRefusalKeepsThingsAsTheyWere) {
    Stage s = OneToOne();
    // A refused drawing is asked about at every move; once allowed it draws from the press.
    s.refusals = {{PWM_NEWRECT_BEGIN, 2}};
    s.Drag(50, 50, 90, 90);
    EXPECT_EQ(s.Take(), "N0 N0 N0 N-1=49,49,89,89");
    s.refusals = {{PWM_NEWRECT_BEGIN, 100}};
    s.DragTo(POINT{150, 150}, POINT{200, 200}, false);
    EXPECT_EQ(CountColor(s.Shot(), kGray), 0);  // no rubber band
    s.Release();
    // A refused new rectangle is not added; the tracking rectangle stays where the drawing
    // ended, so its corner under the pointer still shows the sizing arrow.
    s.refusals = {{PWM_NEWRECT_END, 1}};
    s.Drag(150, 150, 200, 200);
    EXPECT_EQ(s.Take(), "N0 N0 N0 N0 N0 N0 N-1=149,149,199,199");
    EXPECT_EQ(s.Items().size(), 1u);
    EXPECT_EQ(sim::CurrentCursor(), Cursor(IDC_LUMACAP_SIZENWSE));
    // A refused move or resize is asked about at every move, and the arrow shows meanwhile.
    s.refusals = {{PWM_EDITRECT_BEGIN, 100}};
    s.DragTo(POINT{70, 70}, POINT{80, 80}, false);
    s.Move(81, 81);
    EXPECT_EQ(sim::CurrentCursor(), Cursor(0));
    s.Release();
    s.Drag(89, 89, 150, 150);  // the bottom-right handle
    EXPECT_EQ(s.Take(), "E0 E0 E0 E0 E0 E0 E0 E0 E0 E0 E0");
    // A refused end leaves the rectangle where it was, and it is drawn there.
    s.refusals = {{PWM_EDITRECT_END, 2}};
    s.Drag(70, 70, 120, 120);
    s.Drag(89, 89, 150, 150);
    EXPECT_EQ(s.Take(), "E0 E0=99,99,139,139 E0 E0=49,49,149,149");
    EXPECT_EQ(s.ItemText(0), "49,49,89,89");
    const sim::Pixels shot = s.Shot();
    EXPECT_EQ(shot.ColorAt(48, 70), kRed);
    EXPECT_EQ(shot.ColorAt(98, 120), Stage::kPicture);   // not moved
    EXPECT_EQ(shot.ColorAt(150, 120), Stage::kPicture);  // not resized
}

TEST_F(OverlayTest, EdgeHandlesAppearFromTwentyPixels) {
    // Widths 19 and 20 (top handle), heights 19 and 20 (left handle); `at` is on the frame there.
    struct Case {
        RECT r;
        POINT at;
        bool handle;
    };
    Stage s = OneToOne();
    for (const Case& c : {Case{{20, 20, 39, 80}, {29, 19}, false},
                          {{60, 20, 80, 80}, {69, 19}, true},
                          {{120, 20, 180, 39}, {119, 29}, false},
                          {{120, 100, 180, 120}, {119, 109}, true}}) {
        s.Drag(c.r.left, c.r.top, c.r.right, c.r.bottom);
        s.Take();
        // The new rectangle is current: the handle shows just outside its frame, or not at all.
        const bool top = c.at.y < c.r.top;
        const COLORREF outside =
            s.Shot().ColorAt(top ? c.at.x : c.r.left - 3, top ? c.r.top - 3 : c.at.y);
        EXPECT_EQ(outside == kRed, c.handle) << Text(c.r);
        // A press there grabs the handle, or misses the rectangle and would start a new one.
        s.answer = [](UINT) -> LRESULT { return 1; };
        s.DragTo(c.at, POINT{c.at.x + 5, c.at.y + 5});
        s.answer = nullptr;
        const std::string grab = c.handle ? "E" + std::to_string(s.Items().size() - 1) : "N0";
        EXPECT_EQ(s.Take().substr(0, grab.size()), grab) << Text(c.r);
    }
}

TEST_F(OverlayTest, WithoutAPictureNothingHappensAndRectanglesReturnWithTheNext) {
    Stage s = OneToOne();
    s.Drag(40, 40, 100, 100);
    s.Take();
    s.preview->ClearFrame();
    sim::PumpMessages();
    EXPECT_EQ(CountColor(s.Shot(), kRed), 0);
    s.DragTo(POINT{70, 70}, POINT{150, 150}, false);
    EXPECT_FALSE(Confined());
    s.Release();
    s.Drag(200, 200, 250, 230);
    EXPECT_EQ(s.Take(), "");

    // A picture twice as large: the rectangle is on the same part of it, at half the size.
    s.ShowPicture(640, 480);
    // 39, 39, 99, 99 is 21, 21, 51, 51 in the window (19.5 and 49.5 rounded up, plus the margin).
    EXPECT_EQ(Line(s.Shot(), 17, 28, 54, 28), "..RR" + std::string(30, '.') + "RR..");
    s.Drag(35, 35, 45, 45);
    EXPECT_EQ(s.Take(), "E0 E0=59,59,119,119");

    // A picture cleared in the middle of a drag ends it without changes.
    s.DragTo(POINT{35, 35}, POINT{45, 45}, false);
    s.preview->ClearFrame();
    s.Release();
    EXPECT_EQ(s.Take(), "E0");
    EXPECT_FALSE(Confined());
    s.ShowPicture(640, 480);

    // A window destroyed in the middle of a press lets the pointer go.
    s.DragTo(POINT{35, 35}, POINT{35, 35}, false);
    EXPECT_TRUE(Confined());
    delete std::exchange(s.preview, new CPreviewWnd(nullptr));
    EXPECT_FALSE(Confined());
}

TEST_F(OverlayTest, FramesHandlesAndDottedOutlinesReadBackFromTheWindow) {
    Stage s = OneToOne();
    s.Drag(40, 40, 100, 100);   // A
    s.Drag(150, 40, 200, 100);  // B, now the current one
    sim::Pixels shot = s.Shot();
    // A pen two pixels wide just outside the rectangle, on every side.
    EXPECT_EQ(Line(shot, 36, 70, 103, 70), "..RR" + std::string(60, '.') + "RR..");
    EXPECT_EQ(Line(shot, 70, 36, 70, 103), "..RR" + std::string(60, '.') + "RR..");
    // Filled handles on the current rectangle only; on A's corner only its frame.
    EXPECT_EQ(CountColor(shot, kRed, RECT{146, 36, 151, 41}), 36);
    EXPECT_EQ(CountColor(shot, kRed, RECT{36, 36, 41, 41}), 12);

    // Moving A: A stays, a dotted outline follows the pointer (moved by 20, 5 and grown by 1).
    s.DragTo(POINT{70, 70}, POINT{90, 75}, false);
    shot = s.Shot();
    EXPECT_EQ(shot.ColorAt(38, 70), kRed);
    const int dots = CountColor(shot, kGray, RECT{59, 44, 120, 44});
    EXPECT_TRUE(dots > 20 && dots < 42) << dots;
    EXPECT_EQ(CountColor(shot, kGray, RECT{0, 43, 321, 43}), 0);
    s.Release();
    // Resizing A (now 60, 45, 120, 105) to 60, 45, 130, 110: the tracking outline stands in for it.
    s.DragTo(POINT{120, 105}, POINT{130, 110}, false);
    shot = s.Shot();
    EXPECT_NE(shot.ColorAt(58, 80), kRed);
    EXPECT_GT(CountColor(shot, kGray, RECT{59, 44, 59, 111}), 20);
    s.Release();
    // Drawing: the rubber band.
    s.DragTo(POINT{200, 150}, POINT{260, 200}, false);
    EXPECT_GT(CountColor(s.Shot(), kGray, RECT{199, 149, 260, 149}), 20);
}

TEST_F(OverlayTest, TheCursorShowsWhatAPressWouldDo) {
    Stage s = OneToOne();
    s.Drag(40, 40, 100, 100);
    const std::pair<POINT, int> spots[] = {
        {{39, 39}, IDC_LUMACAP_SIZENWSE},   {{100, 39}, IDC_LUMACAP_SIZENESW},
        {{100, 100}, IDC_LUMACAP_SIZENWSE}, {{39, 100}, IDC_LUMACAP_SIZENESW},
        {{70, 39}, IDC_LUMACAP_SIZENS},     {{100, 70}, IDC_LUMACAP_SIZEWE},
        {{70, 100}, IDC_LUMACAP_SIZENS},    {{39, 70}, IDC_LUMACAP_SIZEWE},
        {{70, 70}, IDC_LUMACAP_MOVE},       {{200, 200}, 0}};
    for (const auto& [at, id] : spots) {
        // The window picks the cursor before it sees a move, so it shows the last position's.
        s.Move(at.x, at.y);
        s.Move(at.x, at.y + 1);
        ASSERT_NE(Cursor(id), nullptr);
        EXPECT_EQ(sim::CurrentCursor(), Cursor(id)) << at.x << "," << at.y;
    }
    // Dragging a corner round the fixed one switches between the diagonals.
    s.DragTo(POINT{100, 100}, POINT{20, 120}, false);
    s.Move(21, 120);
    EXPECT_EQ(sim::CurrentCursor(), Cursor(IDC_LUMACAP_SIZENESW));
    s.Move(20, 20);
    s.Move(21, 20);
    EXPECT_EQ(sim::CurrentCursor(), Cursor(IDC_LUMACAP_SIZENWSE));
    s.Release();

    // The pictures, drawn over blue: hot spot, colours, an arrow both ways along its axis (`on`)
    // and nothing across it (`off`).
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateBitmap(32, 32, 1, 32, nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    HBRUSH blue = CreateSolidBrush(RGB(0, 0, 255));
    struct Picture {
        int id;
        POINT hot, on, off;
    };
    for (const Picture& p : {Picture{IDC_LUMACAP_MOVE, {10, 10}, {7, 0}, {7, 7}},
                             {IDC_LUMACAP_MOVE, {10, 10}, {0, 7}, {-7, 7}},
                             {IDC_LUMACAP_SIZEWE, {15, 15}, {7, 0}, {0, 7}},
                             {IDC_LUMACAP_SIZENS, {15, 15}, {0, 7}, {7, 0}},
                             {IDC_LUMACAP_SIZENESW, {15, 15}, {5, -5}, {5, 5}},
                             {IDC_LUMACAP_SIZENWSE, {15, 15}, {5, 5}, {5, -5}}}) {
        ICONINFO info{};
        ASSERT_TRUE(GetIconInfo(Cursor(p.id), &info));
        EXPECT_EQ(CPoint(static_cast<int>(info.xHotspot), static_cast<int>(info.yHotspot)), p.hot)
            << p.id;
        EXPECT_EQ(info.hbmColor != nullptr, p.id == IDC_LUMACAP_MOVE)
            << p.id;  // 16 colours; the rest monochrome
        DeleteObject(info.hbmMask), DeleteObject(info.hbmColor);
        const RECT all{0, 0, 32, 32};
        FillRect(dc, &all, blue);
        DrawIconEx(dc, 0, 0, Cursor(p.id), 0, 0, 0, nullptr, DI_NORMAL);
        auto clear = [&](int dx, int dy) {
            return GetPixel(dc, p.hot.x + dx, p.hot.y + dy) == RGB(0, 0, 255);
        };
        EXPECT_EQ(GetPixel(dc, p.hot.x, p.hot.y), RGB(0, 0, 0)) << p.id;
        EXPECT_TRUE(!clear(p.on.x, p.on.y) && !clear(-p.on.x, -p.on.y) && clear(p.off.x, p.off.y) &&
                    clear(-p.off.x, -p.off.y))
            << p.id;
    }
    SelectObject(dc, old);
    DeleteObject(blue), DeleteObject(bitmap), DeleteDC(dc);
}

}  // namespace
}  // namespace lumacap::test
