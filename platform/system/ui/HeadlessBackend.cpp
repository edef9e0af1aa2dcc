// The headless display: the screen exists only in memory, composed on demand from the desktop and
// the windows' backing surfaces.
#include <algorithm>
#include <cstring>

#include "platform/system/ui/Backend.h"

namespace lumacap::ui {
namespace {

constexpr uint32_t kFramePixel = 0x646464;    // borders
constexpr uint32_t kCaptionPixel = 0x0078D7;  // caption bars

bool Intersect(const RECT& a, const RECT& b, RECT* out) {
    out->left = std::max(a.left, b.left);
    out->top = std::max(a.top, b.top);
    out->right = std::min(a.right, b.right);
    out->bottom = std::min(a.bottom, b.bottom);
    return out->left < out->right && out->top < out->bottom;
}

void Fill(Surface& out, const RECT& area, const RECT& r, uint32_t px) {
    RECT c;
    if (!Intersect(area, r, &c)) return;
    for (LONG y = c.top; y < c.bottom; ++y) {
        uint32_t* d = out.Row(y - area.top);
        std::fill(d + (c.left - area.left), d + (c.right - area.left), px);
    }
}

// Copies `src`, whose top-left corner is at `origin` on the screen, inside `clip`.
void Blit(Surface& out, const RECT& area, const Surface& src, POINT origin, const RECT& clip) {
    RECT srcRect{origin.x, origin.y, origin.x + src.Width(), origin.y + src.Height()};
    RECT c, c2;
    if (!Intersect(area, srcRect, &c) || !Intersect(c, clip, &c2)) return;
    std::lock_guard<std::mutex> lock(src.Mutex());
    for (LONG y = c2.top; y < c2.bottom; ++y) {
        const uint32_t* s = src.Row(y - origin.y) + (c2.left - origin.x);
        std::memcpy(out.Row(y - area.top) + (c2.left - area.left), s,
                    static_cast<size_t>(c2.right - c2.left) * 4);
    }
}

void DrawWindow(Surface& out, const RECT& area, const SceneWindow& w, const RECT& clip) {
    RECT visible;
    if (!Intersect(w.windowRect, clip, &visible)) return;
    // The frame: a border around everything, a caption bar above the client area.
    if (w.windowRect.left != w.clientRect.left || w.windowRect.top != w.clientRect.top ||
        w.windowRect.right != w.clientRect.right || w.windowRect.bottom != w.clientRect.bottom) {
        Fill(out, area, visible, kFramePixel);
        if ((w.style & WS_CAPTION) == WS_CAPTION) {
            RECT caption{w.clientRect.left, w.windowRect.top + 1, w.clientRect.right,
                         w.clientRect.top};
            RECT c;
            if (Intersect(caption, visible, &c)) Fill(out, area, c, kCaptionPixel);
        }
    }
    RECT client;
    if (!Intersect(w.clientRect, visible, &client)) return;
    // What a child paints over whole with its own picture (a video window filling its parent)
    // is not drawn first from the parent: the window's own pixels go only around it.
    RECT hidden{client.left, client.top, client.left, client.top};
    long long hiddenArea = 0;
    for (const SceneWindow& child : w.children) {
        if (!child.surface) continue;
        const RECT picture{child.clientRect.left, child.clientRect.top,
                           child.clientRect.left + child.surface->Width(),
                           child.clientRect.top + child.surface->Height()};
        RECT shown, c;
        if (!Intersect(picture, child.clientRect, &shown) || !Intersect(shown, client, &c))
            continue;
        const long long a = static_cast<long long>(c.right - c.left) * (c.bottom - c.top);
        if (a > hiddenArea) {
            hidden = c;
            hiddenArea = a;
        }
    }
    const RECT around[] = {
        RECT{client.left, client.top, client.right, hidden.top},
        RECT{client.left, hidden.bottom, client.right, client.bottom},
        RECT{client.left, hidden.top, hidden.left, hidden.bottom},
        RECT{hidden.right, hidden.top, client.right, hidden.bottom},
    };
    const RECT* parts = hiddenArea ? around : &client;
    for (int i = 0; i < (hiddenArea ? 4 : 1); ++i) {
        RECT part;
        if (!Intersect(parts[i], client, &part)) continue;
        if (w.surface) {
            Blit(out, area, *w.surface, POINT{w.clientRect.left, w.clientRect.top}, part);
        } else {
            Fill(out, area, part, 0);
        }
    }
    for (const SceneWindow& child : w.children) DrawWindow(out, area, child, client);
}

class HeadlessBackend final : public DisplayBackend {
public:
    const char* Name() const override { return "headless"; }

    // Every pixel of the area is composed, so a surface the thread read into before (and nobody
    // holds any more) serves again as it is: a recording reads the same window every frame.
    std::shared_ptr<Surface> ReadScreen(const Scene& scene, const RECT& area) override {
        const int w = area.right - area.left, h = area.bottom - area.top;
        thread_local std::shared_ptr<Surface> last;
        std::shared_ptr<Surface> out;
        if (last && last.use_count() == 1 && last->Width() == w && last->Height() == h)
            out = last;
        else
            out = Surface::Create(w, h);
        if (out) ComposeScene(scene, area, *out);
        last = out;
        return out;
    }
};

}  // namespace

namespace {

// True when the window's own picture covers all of `area`: nothing beneath it shows there.
bool Covers(const SceneWindow& w, const RECT& area) {
    if (!w.surface) return false;
    RECT picture{w.clientRect.left, w.clientRect.top, w.clientRect.left + w.surface->Width(),
                 w.clientRect.top + w.surface->Height()};
    RECT shown;
    if (!Intersect(picture, w.clientRect, &shown)) return false;
    return shown.left <= area.left && shown.top <= area.top && shown.right >= area.right &&
           shown.bottom >= area.bottom;
}

}  // namespace

void ComposeScene(const Scene& scene, const RECT& area, Surface& out) {
    const RECT everything{area.left, area.top, area.right, area.bottom};
    // Reading a window that nothing lies on (a recording captures one every frame) starts at the
    // highest window that hides everything beneath it in the area.
    size_t first = 0;
    bool covered = false;
    for (size_t i = scene.windows.size(); i-- > 0 && !covered;) {
        covered = Covers(scene.windows[i], area);
        if (covered) first = i;
    }
    if (!covered) {
        Fill(out, area, everything, 0);
        if (scene.desktop) Blit(out, area, *scene.desktop, POINT{0, 0}, everything);
    }
    for (size_t i = first; i < scene.windows.size(); ++i)
        DrawWindow(out, area, scene.windows[i], everything);
}

std::shared_ptr<DisplayBackend> CreateHeadlessBackend() {
    return std::make_shared<HeadlessBackend>();
}

}  // namespace lumacap::ui
