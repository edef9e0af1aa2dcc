// GDI pixel results: pens and brushes, dotted outlines, raster operations, clipping and origins,
// DIB orientation, cursors, and the composed screen.
#include <cstring>

#include "platform/system/ui/PixelPool.h"
#include "platform/system/win/Modules.h"
#include "common/UiTest.h"

namespace lumacap::test {
namespace {

using GdiTest = UiTest;

// A memory context with a w x h colour bitmap selected, filled white.
struct Canvas {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    Canvas(int w, int h) {
        HDC screen = GetDC(nullptr);
        dc = CreateCompatibleDC(screen);
        bitmap = CreateCompatibleBitmap(screen, w, h);
        ReleaseDC(nullptr, screen);
        old = SelectObject(dc, bitmap);
        RECT all{0, 0, w, h};
        FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    ~Canvas() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    COLORREF At(int x, int y) const { return GetPixel(dc, x, y); }
};

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kRed = RGB(225, 0, 0);

TEST_F(GdiTest, RectangleDrawsTheOutlineWithThePenAndFillsTheInsideWithTheBrush) {
    const long objects = sim::GdiObjectCount();
    {
        Canvas c(40, 40);
        HPEN pen = CreatePen(PS_SOLID, 1, kRed);
        HBRUSH brush = CreateSolidBrush(RGB(0, 0, 255));
        HGDIOBJ oldPen = SelectObject(c.dc, pen);
        HGDIOBJ oldBrush = SelectObject(c.dc, brush);
        ASSERT_TRUE(Rectangle(c.dc, 10, 10, 20, 15));
        EXPECT_EQ(c.At(10, 10), kRed);
        EXPECT_EQ(c.At(19, 14), kRed);  // right and bottom edges at right-1, bottom-1
        EXPECT_EQ(c.At(20, 14), kWhite);
        EXPECT_EQ(c.At(19, 15), kWhite);
        EXPECT_EQ(c.At(15, 12), RGB(0, 0, 255));

        // A two-pixel pen straddles the path: one pixel outside, one on it.
        HPEN wide = CreatePen(PS_SOLID, 2, RGB(0, 128, 0));
        SelectObject(c.dc, wide);
        SelectObject(c.dc, GetStockObject(NULL_BRUSH));
        Rectangle(c.dc, 25, 25, 35, 35);
        EXPECT_EQ(c.At(23, 30), kWhite);
        EXPECT_EQ(c.At(24, 30), RGB(0, 128, 0));
        EXPECT_EQ(c.At(25, 30), RGB(0, 128, 0));
        EXPECT_EQ(c.At(26, 30), kWhite);  // null brush: the inside is untouched
        EXPECT_EQ(c.At(34, 30), RGB(0, 128, 0));
        EXPECT_EQ(c.At(35, 30), kWhite);

        // Binary raster operations: R2_NOT inverts whatever is there.
        SetROP2(c.dc, R2_NOT);
        EXPECT_EQ(GetROP2(c.dc), R2_NOT);
        SelectObject(c.dc, pen);
        Rectangle(c.dc, 0, 0, 3, 3);
        EXPECT_EQ(c.At(0, 0), RGB(0, 0, 0));
        SetROP2(c.dc, R2_COPYPEN);
        EXPECT_EQ(SetMapMode(c.dc, MM_LOMETRIC), 0);  // only MM_TEXT exists
        EXPECT_EQ(GetMapMode(c.dc), MM_TEXT);

        SelectObject(c.dc, oldPen);
        SelectObject(c.dc, oldBrush);
        EXPECT_TRUE(DeleteObject(pen));
        EXPECT_TRUE(DeleteObject(wide));
        EXPECT_TRUE(DeleteObject(brush));
        EXPECT_TRUE(DeleteObject(GetStockObject(NULL_BRUSH)));  // stock objects survive
        EXPECT_NE(GetObjectType(GetStockObject(NULL_BRUSH)), 0u);
    }
    EXPECT_EQ(sim::GdiObjectCount(), objects);
}

TEST_F(GdiTest, DottedOutlineRunsThreeOnThreeOffRoundTheRectangle) {
    Canvas c(30, 30);
    const COLORREF gray = GetSysColor(COLOR_GRAYTEXT);
    EXPECT_EQ(gray, RGB(109, 109, 109));
    HPEN dot = CreatePen(PS_DOT, 1, gray);
    HGDIOBJ old = SelectObject(c.dc, dot);
    SelectObject(c.dc, GetStockObject(NULL_BRUSH));
    SetBkColor(c.dc, RGB(0, 0, 0));
    Rectangle(c.dc, 2, 2, 22, 12);
    // Top edge from the left: three pen pixels, three in the background colour (opaque mode).
    for (int x = 2; x < 22; ++x) {
        const bool on = ((x - 2) / 3) % 2 == 0;
        EXPECT_EQ(c.At(x, 2), on ? gray : RGB(0, 0, 0)) << "x=" << x;
    }
    // The pattern continues down the right edge without restarting (20 pixels along the top).
    EXPECT_EQ(c.At(21, 3), ((20 / 3) % 2 == 0) ? gray : RGB(0, 0, 0));
    EXPECT_EQ(c.At(10, 6), kWhite);
    // Transparent mode leaves the gaps alone.
    SetBkMode(c.dc, TRANSPARENT);
    Rectangle(c.dc, 2, 20, 22, 25);
    EXPECT_EQ(c.At(2, 20), gray);
    EXPECT_EQ(c.At(5, 20), kWhite);
    // Styled pens wider than one pixel are solid.
    HPEN wideDot = CreatePen(PS_DOT, 2, gray);
    LOGPEN lp;
    ASSERT_EQ(GetObjectA(wideDot, sizeof(lp), &lp), static_cast<int>(sizeof(lp)));
    EXPECT_EQ(lp.lopnStyle, static_cast<UINT>(PS_SOLID));
    SelectObject(c.dc, old);
    DeleteObject(dot);
    DeleteObject(wideDot);
}

TEST_F(GdiTest, DrawingIsClippedToTheSurfaceTheClipBoxAndFollowsTheWindowOrigin) {
    Canvas c(20, 20);
    HBRUSH red = CreateSolidBrush(kRed);
    RECT huge{-1000, -1000, 1000, 1000};
    EXPECT_TRUE(FillRect(c.dc, &huge, red));
    EXPECT_EQ(c.At(0, 0), kRed);
    EXPECT_EQ(c.At(19, 19), kRed);
    EXPECT_EQ(c.At(20, 20), CLR_INVALID);

    // The window origin moves logical coordinates: logical (100, 100) is device (0, 0).
    RECT all{0, 0, 20, 20};
    FillRect(c.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetWindowOrgEx(c.dc, 100, 100, nullptr);
    RECT box;
    EXPECT_EQ(GetClipBox(c.dc, &box), SIMPLEREGION);
    EXPECT_EQ(box.left, 100);
    EXPECT_EQ(box.right, 120);
    RECT r{102, 102, 104, 104};
    FillRect(c.dc, &r, red);
    SetWindowOrgEx(c.dc, 0, 0, nullptr);
    EXPECT_EQ(c.At(2, 2), kRed);
    EXPECT_EQ(c.At(102 - 100 + 2, 2), kWhite);

    IntersectClipRect(c.dc, 10, 10, 15, 15);
    FillRect(c.dc, &all, red);
    EXPECT_EQ(c.At(10, 10), kRed);
    EXPECT_EQ(c.At(15, 15), CLR_INVALID);  // outside the clip rectangle
    // The bitmap itself shows the fill stopped at the clip rectangle.
    BITMAPINFO q{};
    q.bmiHeader = BITMAPINFOHEADER{40, 20, -20, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint32_t> px(20 * 20);
    ASSERT_EQ(GetDIBits(c.dc, c.bitmap, 0, 20, px.data(), &q, DIB_RGB_COLORS), 20);
    EXPECT_EQ(px[9 * 20 + 9], 0xFFFFFFu);
    EXPECT_EQ(px[14 * 20 + 14], 0xE10000u);
    EXPECT_EQ(px[15 * 20 + 15], 0xFFFFFFu);

    // Block transfers with parts outside either surface copy only what exists.
    Canvas d(10, 10);
    EXPECT_TRUE(BitBlt(d.dc, -5, -5, 40, 40, c.dc, -5, -5, SRCCOPY));
    EXPECT_EQ(d.At(1, 1), kWhite);
    EXPECT_TRUE(BitBlt(d.dc, 0, 0, 10, 10, nullptr, 0, 0, BLACKNESS));
    EXPECT_EQ(d.At(5, 5), RGB(0, 0, 0));
    EXPECT_FALSE(BitBlt(d.dc, 0, 0, 10, 10, nullptr, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(reinterpret_cast<HDC>(0x1234), 0, 0, 1, 1, c.dc, 0, 0, SRCCOPY));
    DeleteObject(red);

    // Released contexts are reused, their origin and clip are not, and the old handle is dead.
    HDC used = GetDC(nullptr);
    SetWindowOrgEx(used, 7, 7, nullptr);
    IntersectClipRect(used, 0, 0, 3, 3);
    ReleaseDC(nullptr, used);
    HDC fresh = GetDC(nullptr);
    EXPECT_NE(fresh, used);
    EXPECT_EQ(GetClipBox(fresh, &box), SIMPLEREGION);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(GetClipBox(used, &box), RGN_ERROR);
    ReleaseDC(nullptr, fresh);
}

TEST_F(GdiTest, BottomUpDibsAreDrawnRightWayUpAndReadBackTheSame) {
    // A 4 x 3 bottom-up DIB: first row in memory (the picture's bottom) blue, last (top) red.
    BITMAPINFO bmi{};
    bmi.bmiHeader = BITMAPINFOHEADER{40, 4, 3, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    uint8_t bits[3][12];
    const uint8_t rows[3][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}};  // B, G, R bytes
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) std::memcpy(&bits[y][x * 3], rows[y], 3);
    Canvas c(8, 8);
    EXPECT_EQ(SetDIBitsToDevice(c.dc, 1, 1, 4, 3, 0, 0, 0, 3, bits, &bmi, DIB_RGB_COLORS), 3);
    EXPECT_EQ(c.At(1, 1), RGB(255, 0, 0));  // top row of the picture
    EXPECT_EQ(c.At(4, 3), RGB(0, 0, 255));
    EXPECT_EQ(c.At(5, 1), kWhite);

    // The source rectangle is measured from the bottom: (0, 1, 4, 2) is the two upper rows.
    RECT all{0, 0, 8, 8};
    FillRect(c.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetStretchBltMode(c.dc, COLORONCOLOR);
    EXPECT_EQ(StretchDIBits(c.dc, 0, 0, 8, 4, 0, 1, 4, 2, bits, &bmi, DIB_RGB_COLORS, SRCCOPY), 2);
    EXPECT_EQ(c.At(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(c.At(7, 1), RGB(255, 0, 0));
    EXPECT_EQ(c.At(0, 2), RGB(0, 255, 0));
    EXPECT_EQ(c.At(0, 4), kWhite);
    // A negative destination height mirrors: rows 4..6, the picture's top row at the bottom.
    EXPECT_EQ(StretchDIBits(c.dc, 0, 7, 4, -3, 0, 0, 4, 3, bits, &bmi, DIB_RGB_COLORS, SRCCOPY), 3);
    EXPECT_EQ(c.At(0, 4), RGB(0, 0, 255));
    EXPECT_EQ(c.At(0, 6), RGB(255, 0, 0));
    EXPECT_EQ(c.At(0, 7), kWhite);
    EXPECT_EQ(StretchDIBits(c.dc, 0, 0, 4, 3, 0, 0, 5, 3, bits, &bmi, DIB_RGB_COLORS, SRCCOPY), 0);

    // GetDIBits hands the same layout back.
    BITMAPINFO q{};
    q.bmiHeader = BITMAPINFOHEADER{40, 8, 8, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint8_t> out(8 * 24);
    ASSERT_EQ(GetDIBits(c.dc, c.bitmap, 0, 8, out.data(), &q, DIB_RGB_COLORS), 8);
    // Bottom row first (white at (0, 7)), top row last (red at (0, 0)), blue-green-red bytes.
    EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + 3),
              std::vector<uint8_t>({255, 255, 255}));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 7 * 24, out.begin() + 7 * 24 + 3),
              std::vector<uint8_t>({0, 0, 255}));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 3 * 24, out.begin() + 3 * 24 + 3),
              std::vector<uint8_t>({255, 0, 0}));

    // Bits written with their alpha byte set (opaque black) copy as the colour they are.
    BITMAPINFO argb{};
    argb.bmiHeader = BITMAPINFOHEADER{40, 2, -1, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* px = nullptr;
    HBITMAP dib = CreateDIBSection(c.dc, &argb, DIB_RGB_COLORS, &px, nullptr, 0);
    ASSERT_TRUE(dib && px);
    static_cast<uint32_t*>(px)[0] = 0xFF000000u;
    static_cast<uint32_t*>(px)[1] = 0xFF00FF00u;
    HDC src = CreateCompatibleDC(c.dc);
    HGDIOBJ old = SelectObject(src, dib);
    FillRect(c.dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    EXPECT_TRUE(BitBlt(c.dc, 0, 0, 2, 1, src, 0, 0, SRCCOPY));
    EXPECT_EQ(c.At(0, 0), RGB(0, 0, 0));
    EXPECT_EQ(c.At(1, 0), RGB(0, 255, 0));
    SelectObject(src, old);
    DeleteDC(src);
    DeleteObject(dib);
}

// A 32 x 32 monochrome cursor resource: a filled 8 x 8 black square with a white border at
// (12..19), everything else transparent; hot spot (15, 15).
std::vector<uint8_t> MonochromeCursorResource() {
    const int w = 32, h = 32;
    std::vector<uint8_t> res(4 + 40 + 8 + 2 * 4 * h, 0);
    res[0] = 15;
    res[2] = 15;
    BITMAPINFOHEADER bih{40, w, 2 * h, 1, 1, BI_RGB, 0, 0, 0, 2, 0};
    std::memcpy(&res[4], &bih, 40);
    const uint8_t palette[8] = {0, 0, 0, 0, 255, 255, 255, 0};
    std::memcpy(&res[44], palette, 8);
    uint8_t* xorBits = &res[52];
    uint8_t* andBits = xorBits + 4 * h;
    for (int y = 0; y < h; ++y) {
        const int row = h - 1 - y;  // bottom-up
        for (int x = 0; x < w; ++x) {
            const bool inside = x >= 12 && x < 20 && y >= 12 && y < 20;
            const bool border = inside && (x == 12 || x == 19 || y == 12 || y == 19);
            if (!inside) andBits[row * 4 + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            if (border) xorBits[row * 4 + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        }
    }
    return res;
}

TEST_F(GdiTest, CursorsLoadFromResourcesReportHotSpotsAndDrawThroughTheirMasks) {
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    ASSERT_NE(arrow, nullptr);
    EXPECT_EQ(LoadCursorA(nullptr, IDC_ARROW), arrow);
    ICONINFO ii{};
    ASSERT_TRUE(GetIconInfo(arrow, &ii));
    EXPECT_EQ(ii.xHotspot, 0u);
    EXPECT_EQ(ii.yHotspot, 0u);
    ASSERT_NE(ii.hbmMask, nullptr);
    EXPECT_EQ(ii.hbmColor, nullptr);  // monochrome: mask twice as high
    BITMAP bm;
    ASSERT_TRUE(GetObjectA(ii.hbmMask, sizeof(bm), &bm));
    EXPECT_EQ(bm.bmHeight, 64);
    EXPECT_EQ(bm.bmBitsPixel, 1);
    EXPECT_TRUE(DeleteObject(ii.hbmMask));

    Canvas c(40, 40);
    HBRUSH green = CreateSolidBrush(RGB(0, 200, 0));
    RECT all{0, 0, 40, 40};
    FillRect(c.dc, &all, green);
    ASSERT_TRUE(DrawIconEx(c.dc, 5, 5, arrow, 0, 0, 0, nullptr, DI_NORMAL | DI_COMPAT));
    EXPECT_EQ(c.At(5, 5), RGB(0, 0, 0));        // the tip's outline
    EXPECT_EQ(c.At(6, 8), RGB(255, 255, 255));  // inside the arrow
    EXPECT_EQ(c.At(14, 6), RGB(0, 200, 0));     // beside it: the background shows through
    // Drawn partly off the surface: clipped, no harm.
    EXPECT_TRUE(DrawIconEx(c.dc, 35, -10, arrow, 0, 0, 0, nullptr, DI_NORMAL));

    // An identifier of its own: the library registers its cursors (14000, 14003-14006) here too.
    static const std::vector<uint8_t> resource = MonochromeCursorResource();
    HMODULE module = win::ModuleOfAddress(reinterpret_cast<const void*>(&MonochromeCursorResource));
    win::RegisterResource(module, RT_CURSOR, 14100, resource.data(), resource.size());
    HCURSOR custom = LoadCursorA(reinterpret_cast<HINSTANCE>(module), MAKEINTRESOURCE(14100));
    ASSERT_NE(custom, nullptr);
    EXPECT_EQ(LoadCursorA(reinterpret_cast<HINSTANCE>(module), MAKEINTRESOURCE(14100)), custom);
    EXPECT_EQ(LoadCursorA(reinterpret_cast<HINSTANCE>(module), MAKEINTRESOURCE(14099)), nullptr);
    ASSERT_TRUE(GetIconInfo(custom, &ii));
    EXPECT_EQ(ii.xHotspot, 15u);
    EXPECT_EQ(ii.yHotspot, 15u);
    DeleteObject(ii.hbmMask);
    FillRect(c.dc, &all, green);
    ASSERT_TRUE(DrawIconEx(c.dc, 0, 0, custom, 0, 0, 0, nullptr, DI_NORMAL));
    EXPECT_EQ(c.At(12, 12), RGB(255, 255, 255));  // border: white
    EXPECT_EQ(c.At(15, 15), RGB(0, 0, 0));        // inside: black
    EXPECT_EQ(c.At(11, 15), RGB(0, 200, 0));      // transparent
    EXPECT_EQ(c.At(25, 25), RGB(0, 200, 0));
    DeleteObject(green);
}

TEST_F(GdiTest, TheScreenShowsTheDesktopAndTheVisibleWindowsInZOrder) {
    sim::SetScreenSize(640, 480);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 640);
    HWND back = CreateRecorder(WS_POPUP | WS_VISIBLE, 100, 100, 200, 100);
    HWND front = CreateRecorder(WS_POPUP | WS_VISIBLE, 250, 150, 100, 100);
    HWND child = CreateRecorder(WS_CHILD | WS_VISIBLE, 10, 10, 20, 20, back, 1);
    sim::PumpMessages();  // every window erases with its white class brush
    auto paint = [](HWND w, COLORREF color) {
        HDC dc = GetDC(w);
        HBRUSH b = CreateSolidBrush(color);
        RECT r;
        GetClientRect(w, &r);
        FillRect(dc, &r, b);
        DeleteObject(b);
        ReleaseDC(w, dc);
    };
    paint(back, RGB(255, 0, 0));
    paint(front, RGB(0, 0, 255));
    paint(child, RGB(0, 255, 0));
    const sim::Pixels screen = sim::ReadScreen();
    ASSERT_EQ(screen.width, 640);
    EXPECT_EQ(screen.ColorAt(5, 5), RGB(58, 110, 165));   // desktop
    EXPECT_EQ(screen.ColorAt(105, 105), RGB(255, 0, 0));  // back window
    EXPECT_EQ(screen.ColorAt(115, 115), RGB(0, 255, 0));  // its child
    EXPECT_EQ(screen.ColorAt(260, 160), RGB(0, 0, 255));  // front window over the back one

    // Reading the back window's context sees what the screen shows there: the front window too.
    HDC screenDc = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screenDc);
    HBITMAP bmp = CreateCompatibleBitmap(screenDc, 200, 100);
    HGDIOBJ old = SelectObject(mem, bmp);
    HDC backDc = GetDC(back);
    BitBlt(mem, 0, 0, 200, 100, backDc, 0, 0, SRCCOPY);
    EXPECT_EQ(GetPixel(mem, 160, 60), RGB(0, 0, 255));
    EXPECT_EQ(GetPixel(mem, 15, 15), RGB(0, 255, 0));
    ReleaseDC(back, backDc);
    BitBlt(mem, 0, 0, 200, 100, screenDc, 0, 0, SRCCOPY);
    EXPECT_EQ(GetPixel(mem, 0, 0), RGB(58, 110, 165));
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screenDc);

    // Raising the back window puts it on top; hiding one uncovers what is below.
    SetWindowPos(back, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    EXPECT_EQ(sim::ReadScreen().ColorAt(260, 160), RGB(255, 0, 0));
    ShowWindow(back, SW_HIDE);
    EXPECT_EQ(sim::ReadScreen().ColorAt(260, 160), RGB(0, 0, 255));
    EXPECT_EQ(sim::ReadScreen().ColorAt(105, 105), RGB(58, 110, 165));
    // A hidden window reads back as itself.
    EXPECT_EQ(sim::ReadWindowClient(back).ColorAt(0, 0), RGB(255, 0, 0));
    DestroyWindow(back);
    DestroyWindow(front);
}

TEST_F(GdiTest, LargeBitmapsReuseMemoryYetEveryNewOneStartsBlackAndScreenReadsStayExact) {
    // Full-frame bitmaps come and go at the frame rate; their memory is recycled, which must
    // never show through: a new bitmap is black whatever the previous one of its size held.
    sim::SetScreenSize(640, 480);
    HDC screenDc = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screenDc);
    for (int round = 0; round < 3; ++round) {
        HBITMAP bmp = CreateCompatibleBitmap(screenDc, 640, 480);
        ASSERT_NE(bmp, nullptr);
        HGDIOBJ old = SelectObject(mem, bmp);
        EXPECT_EQ(GetPixel(mem, 0, 0), RGB(0, 0, 0)) << "round " << round;
        EXPECT_EQ(GetPixel(mem, 639, 479), RGB(0, 0, 0)) << "round " << round;
        EXPECT_EQ(GetPixel(mem, 320, 240), RGB(0, 0, 0)) << "round " << round;
        // Whiten it, then read the screen over part of it: the read replaces exactly its area.
        PatBlt(mem, 0, 0, 640, 480, WHITENESS);
        BitBlt(mem, 0, 0, 320, 240, screenDc, 0, 0, SRCCOPY);
        EXPECT_EQ(GetPixel(mem, 319, 239), RGB(58, 110, 165));
        EXPECT_EQ(GetPixel(mem, 320, 240), RGB(255, 255, 255));
        SelectObject(mem, old);
        DeleteObject(bmp);
        EXPECT_GE(ui::PooledPixelBlocks(), 1u) << "a freed full-frame bitmap is kept for reuse";
    }
    DeleteDC(mem);
    ReleaseDC(nullptr, screenDc);
}

}  // namespace
}  // namespace lumacap::test
