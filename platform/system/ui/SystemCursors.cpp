// The system's cursors (IDC_ARROW and the others a host may load with no module), drawn as
// black strokes with a white rim on a transparent 32 x 32 field.
#include <cmath>
#include <cstdlib>

#include "platform/system/ui/Cursors.h"

namespace lumacap::ui {
namespace {

constexpr int kSize = 32;

// The arrow, pixel by pixel: 'B' black, 'W' white, '.' transparent; its tip is the hot spot.
const char* const kArrow[] = {
    "B...........", "BB..........", "BWB.........", "BWWB........", "BWWWB.......",
    "BWWWWB......", "BWWWWWB.....", "BWWWWWWB....", "BWWWWWWWB...", "BWWWWWWWWB..",
    "BWWWWWWWWWB.", "BWWWWWWBBBBB", "BWWWBWWB....", "BWWBBWWB....", "BWB..BWWB...",
    "BB...BWWB...", "B.....BWWB..", "......BWWB..", ".......BB...",
};

const char* const kHand[] = {
    ".....BB.........", "....BWWB........", "....BWWB........", "....BWWB........",
    "....BWWB........", "....BWWBBB......", "....BWWBWWBBB...", "....BWWBWWBWWBB.",
    "BBB.BWWBWWBWWBWB", "BWWBBWWWWWWWWBWB", "BWWWBWWWWWWWWWWB", ".BWWBWWWWWWWWWWB",
    "..BWWWWWWWWWWWWB", "..BWWWWWWWWWWWB.", "...BWWWWWWWWWWB.", "....BWWWWWWWWB..",
    ".....BWWWWWWWB..", ".....BBBBBBBBB..",
};

const char* const kQuestion[] = {
    ".BBBBB.", "BWWWWWB", "BWBBBWB", "BBB.BWB", "..BBWWB",
    ".BWWBB.", ".BWB...", ".BBB...", ".BWB...", ".BBB...",
};

class Canvas {
public:
    explicit Canvas(CursorImage& c) : m_c(c) {
        c.width = c.height = kSize;
        c.mask.assign(kSize * kSize, 0xFFFFFF);
        c.color.assign(kSize * kSize, 0);
    }
    void Set(int x, int y, bool white) {
        if (x < 0 || y < 0 || x >= kSize || y >= kSize) return;
        m_c.mask[y * kSize + x] = 0;
        m_c.color[y * kSize + x] = white ? 0xFFFFFF : 0;
    }
    bool Black(int x, int y) const {
        return x >= 0 && y >= 0 && x < kSize && y < kSize && m_c.mask[y * kSize + x] == 0 &&
               m_c.color[y * kSize + x] == 0;
    }
    void Art(const char* const* rows, int count, int x0, int y0) {
        for (int y = 0; y < count; ++y)
            for (int x = 0; rows[y][x]; ++x)
                if (rows[y][x] != '.') Set(x0 + x, y0 + y, rows[y][x] == 'W');
    }
    void Line(int x0, int y0, int x1, int y1) {
        const int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
        for (int i = 0; i <= steps; ++i) {
            const double t = steps ? static_cast<double>(i) / steps : 0;
            Set(static_cast<int>(std::lround(x0 + (x1 - x0) * t)),
                static_cast<int>(std::lround(y0 + (y1 - y0) * t)), false);
        }
    }
    void Triangle(int ax, int ay, int bx, int by, int cx, int cy) {
        auto edge = [](int x0, int y0, int x1, int y1, int x, int y) {
            return (x1 - x0) * (y - y0) - (y1 - y0) * (x - x0);
        };
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                const int e0 = edge(ax, ay, bx, by, x, y), e1 = edge(bx, by, cx, cy, x, y),
                          e2 = edge(cx, cy, ax, ay, x, y);
                if ((e0 >= 0 && e1 >= 0 && e2 >= 0) || (e0 <= 0 && e1 <= 0 && e2 <= 0))
                    Set(x, y, false);
            }
    }
    void Circle(int cx, int cy, int r) {
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                const double d = std::hypot(x - cx, y - cy);
                if (d >= r - 1.5 && d <= r + 0.5) Set(x, y, false);
            }
    }
    // A white rim around every black stroke, so the cursor shows on any background.
    void Rim() {
        std::vector<std::pair<int, int>> rim;
        for (int y = 0; y < kSize; ++y)
            for (int x = 0; x < kSize; ++x) {
                if (m_c.mask[y * kSize + x] == 0) continue;
                for (int dy = -1; dy <= 1; ++dy)
                    for (int dx = -1; dx <= 1; ++dx)
                        if (Black(x + dx, y + dy)) rim.emplace_back(x, y);
            }
        for (auto [x, y] : rim) Set(x, y, true);
    }

private:
    CursorImage& m_c;
};

// A double-headed arrow from (x0, y0) to (x1, y1).
void DoubleArrow(Canvas& c, int x0, int y0, int x1, int y1) {
    c.Line(x0, y0, x1, y1);
    const double len = std::hypot(x1 - x0, y1 - y0);
    const double ux = (x1 - x0) / len, uy = (y1 - y0) / len;
    auto head = [&](double tx, double ty, double dx, double dy) {
        const double bx = tx - dx * 6, by = ty - dy * 6;
        c.Triangle(
            static_cast<int>(std::lround(tx)), static_cast<int>(std::lround(ty)),
            static_cast<int>(std::lround(bx - dy * 4)), static_cast<int>(std::lround(by + dx * 4)),
            static_cast<int>(std::lround(bx + dy * 4)), static_cast<int>(std::lround(by - dx * 4)));
    };
    head(x1, y1, ux, uy);
    head(x0, y0, -ux, -uy);
}

}  // namespace

std::shared_ptr<CursorImage> DrawSystemCursor(int id) {
    auto image = std::make_shared<CursorImage>();
    image->shared = true;
    image->systemId = id;
    Canvas c(*image);
    POINT hot{15, 15};
    const int arrowRows = static_cast<int>(sizeof(kArrow) / sizeof(kArrow[0]));
    switch (id) {
        case 32512:  // IDC_ARROW
            c.Art(kArrow, arrowRows, 0, 0);
            hot = POINT{0, 0};
            break;
        case 32513:  // IDC_IBEAM
            c.Line(12, 4, 18, 4);
            c.Line(12, 26, 18, 26);
            c.Line(15, 4, 15, 26);
            c.Rim();
            break;
        case 32514:  // IDC_WAIT
        case 32650:  // IDC_APPSTARTING: the arrow with a small hourglass
            if (id == 32650) {
                c.Art(kArrow, arrowRows, 0, 0);
                c.Line(17, 17, 27, 17);
                c.Line(17, 29, 27, 29);
                c.Triangle(18, 18, 26, 18, 22, 23);
                c.Triangle(22, 23, 18, 28, 26, 28);
                hot = POINT{0, 0};
            } else {
                c.Line(8, 4, 22, 4);
                c.Line(8, 26, 22, 26);
                c.Triangle(9, 5, 21, 5, 15, 15);
                c.Triangle(15, 15, 9, 25, 21, 25);
            }
            c.Rim();
            break;
        case 32515:  // IDC_CROSS
            c.Line(15, 3, 15, 27);
            c.Line(3, 15, 27, 15);
            c.Rim();
            break;
        case 32516:  // IDC_UPARROW
            c.Line(15, 6, 15, 27);
            c.Triangle(15, 2, 10, 9, 20, 9);
            c.Rim();
            hot = POINT{15, 2};
            break;
        case 32642:  // IDC_SIZENWSE
            DoubleArrow(c, 7, 7, 23, 23);
            c.Rim();
            break;
        case 32643:  // IDC_SIZENESW
            DoubleArrow(c, 23, 7, 7, 23);
            c.Rim();
            break;
        case 32644:  // IDC_SIZEWE
            DoubleArrow(c, 4, 15, 26, 15);
            c.Rim();
            break;
        case 32645:  // IDC_SIZENS
            DoubleArrow(c, 15, 4, 15, 26);
            c.Rim();
            break;
        case 32646:  // IDC_SIZEALL
            DoubleArrow(c, 4, 15, 26, 15);
            DoubleArrow(c, 15, 4, 15, 26);
            c.Rim();
            break;
        case 32648:  // IDC_NO
            c.Circle(15, 15, 10);
            c.Line(8, 8, 22, 22);
            c.Line(9, 8, 23, 22);
            c.Rim();
            break;
        case 32649:  // IDC_HAND
            c.Art(kHand, static_cast<int>(sizeof(kHand) / sizeof(kHand[0])), 0, 0);
            hot = POINT{5, 0};
            break;
        case 32651:  // IDC_HELP
            c.Art(kArrow, arrowRows, 0, 0);
            c.Art(kQuestion, static_cast<int>(sizeof(kQuestion) / sizeof(kQuestion[0])), 14, 2);
            hot = POINT{0, 0};
            break;
        default:
            return nullptr;
    }
    image->hotspot = hot;
    return image;
}

}  // namespace lumacap::ui
