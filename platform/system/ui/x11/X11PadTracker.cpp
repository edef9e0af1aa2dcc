// The root's tiles known to hold no pad bytes, and the DAMAGE object that says which changed.
#include "platform/system/ui/x11/X11PadTracker.h"

#include <xcb/damage.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <cstdlib>

#include "platform/system/ui/Surface.h"

namespace lumacap::ui {

std::unique_ptr<X11PadTracker> X11PadTracker::Create(std::shared_ptr<X11Connection> conn) {
    if (!conn->hasDamage || !conn->hasXfixes) return nullptr;
    xcb_connection_t* c = conn->Get();
    std::unique_ptr<X11PadTracker> t(new X11PadTracker());
    t->m_damage = xcb_generate_id(c);
    t->m_region = xcb_generate_id(c);
    // One event when the root first changes after each collection, not one per drawing: nobody
    // reads this connection's events but the reads themselves.
    xcb_void_cookie_t made =
        xcb_damage_create_checked(c, t->m_damage, conn->Root(), XCB_DAMAGE_REPORT_LEVEL_NON_EMPTY);
    xcb_xfixes_create_region(c, t->m_region, 0, nullptr);
    xcb_generic_error_t* error = xcb_request_check(c, made);
    if (error || conn->Broken()) {
        std::free(error);
        return nullptr;
    }
    t->m_conn = std::move(conn);
    return t;
}

X11PadTracker::~X11PadTracker() {
    if (!m_conn || m_conn->Broken()) return;
    xcb_damage_destroy(m_conn->Get(), m_damage);
    xcb_xfixes_destroy_region(m_conn->Get(), m_region);
    xcb_flush(m_conn->Get());
}

void X11PadTracker::Collect() {
    xcb_connection_t* c = m_conn->Get();
    xcb_damage_subtract(c, m_damage, XCB_NONE, m_region);
    m_fetch = xcb_xfixes_fetch_region(c, m_region).sequence;
    m_collecting = true;
}

void X11PadTracker::Resize(int width, int height) {
    if (width == m_width && height == m_height) return;
    m_width = width;
    m_height = height;
    m_columns = (width + kTileWidth - 1) / kTileWidth;
    m_rowsOfTiles = (height + kTileHeight - 1) / kTileHeight;
    m_tiles.assign(static_cast<size_t>(m_columns) * m_rowsOfTiles, 0);
}

void X11PadTracker::MarkChanged(const RECT& r) {
    const int x0 = std::max<int>(0, r.left) / kTileWidth,
              y0 = std::max<int>(0, r.top) / kTileHeight;
    const int x1 = std::min<int>(m_columns, (r.right + kTileWidth - 1) / kTileWidth);
    const int y1 = std::min<int>(m_rowsOfTiles, (r.bottom + kTileHeight - 1) / kTileHeight);
    for (int ty = y0; ty < y1; ++ty)
        std::fill_n(m_tiles.begin() + static_cast<ptrdiff_t>(ty) * m_columns + x0,
                    std::max(0, x1 - x0), kChangedNow);
}

void X11PadTracker::Forget() {
    if (m_collecting) xcb_discard_reply(m_conn->Get(), m_fetch);
    m_collecting = false;
    std::fill(m_tiles.begin(), m_tiles.end(), kUnknown);
}

bool X11PadTracker::Clear(const RECT& area, uint8_t* rows, ptrdiff_t stride, int rootWidth,
                          int rootHeight) {
    if (!m_collecting) return false;
    m_collecting = false;
    xcb_connection_t* c = m_conn->Get();
    xcb_xfixes_fetch_region_cookie_t cookie{m_fetch};
    auto* reply = xcb_xfixes_fetch_region_reply(c, cookie, nullptr);
    // Events of this connection are only the damage's "something changed" and errors of
    // requests nobody checks: let them go rather than pile up.
    while (xcb_generic_event_t* e = xcb_poll_for_queued_event(c)) std::free(e);
    if (!reply) return false;
    Resize(rootWidth, rootHeight);
    const xcb_rectangle_t* r = xcb_xfixes_fetch_region_rectangles(reply);
    for (int i = 0, n = xcb_xfixes_fetch_region_rectangles_length(reply); i < n; ++i)
        MarkChanged(RECT{r[i].x, r[i].y, r[i].x + r[i].width, r[i].y + r[i].height});
    std::free(reply);
    const int x0 = std::max<int>(0, area.left) / kTileWidth;
    const int y0 = std::max<int>(0, area.top) / kTileHeight;
    const int x1 = std::min<int>(m_columns, (area.right + kTileWidth - 1) / kTileWidth);
    const int y1 = std::min<int>(m_rowsOfTiles, (area.bottom + kTileHeight - 1) / kTileHeight);
    for (int ty = y0; ty < y1; ++ty) {
        for (int tx = x0; tx < x1; ++tx) {
            uint8_t& state = m_tiles[static_cast<size_t>(ty) * m_columns + tx];
            if (state == kClean) continue;
            const RECT tile{tx * kTileWidth, ty * kTileHeight,
                            std::min((tx + 1) * kTileWidth, m_width),
                            std::min((ty + 1) * kTileHeight, m_height)};
            const RECT part{std::max(tile.left, area.left), std::max(tile.top, area.top),
                            std::min(tile.right, area.right), std::min(tile.bottom, area.bottom)};
            bool found = false;
            for (LONG y = part.top; y < part.bottom; ++y) {
                auto* row = reinterpret_cast<uint32_t*>(rows + (y - area.top) * stride);
                found |= ClearPadBytes(row + (part.left - area.left),
                                       static_cast<size_t>(part.right - part.left));
            }
            // A tile is known clean once all of it was seen without pad bytes, in a read that
            // did not overlap a change to it (which may have come just after the image).
            const bool whole = part.left == tile.left && part.top == tile.top &&
                               part.right == tile.right && part.bottom == tile.bottom;
            state = !found && whole && state == kUnknown ? kClean : kUnknown;
        }
    }
    return true;
}

}  // namespace lumacap::ui
