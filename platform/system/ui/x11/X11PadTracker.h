// Which parts of the root are known to hold no pad bytes, kept true with the DAMAGE extension: a
// screen read handed out as it lands (a DIB section's bits) needs its pad bytes cleared, and
// only what changed since it was last looked at can have gained some.
#pragma once

#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <windows.h>

#include "platform/system/ui/x11/X11Connection.h"

namespace lumacap::ui {

class X11PadTracker {
public:
    // Null when the server lacks DAMAGE or XFIXES.
    static std::unique_ptr<X11PadTracker> Create(std::shared_ptr<X11Connection> conn);
    ~X11PadTracker();
    X11PadTracker(const X11PadTracker&) = delete;
    X11PadTracker& operator=(const X11PadTracker&) = delete;

    // Held around a read and its Clear, so that what changed is collected once per read.
    std::mutex& Mutex() { return m_mutex; }
    // Sends, right after the image request, the requests that gather what changed on the root
    // up to the image (and perhaps a little after).
    void Collect();
    // After the image's reply: clears the pad bytes of `rows` (the root's `area`, `stride` bytes
    // apart) where they may have some, given the root's size. False if the server did not say
    // what changed: the caller clears everything.
    bool Clear(const RECT& area, uint8_t* rows, ptrdiff_t stride, int rootWidth, int rootHeight);
    // After an image that did not come: what was collected is dropped, and nothing is known
    // clean any more.
    void Forget();

private:
    static constexpr int kTileWidth = 64;
    static constexpr int kTileHeight = 16;
    // A tile's state: pad bytes possible, none, changed since the last read.
    static constexpr uint8_t kUnknown = 0, kClean = 1, kChangedNow = 2;
    X11PadTracker() = default;
    void Resize(int width, int height);
    void MarkChanged(const RECT& r);

    std::shared_ptr<X11Connection> m_conn;
    uint32_t m_damage = 0;
    uint32_t m_region = 0;
    bool m_collecting = false;
    unsigned m_fetch = 0;  // the sequence number of the region's fetch
    std::mutex m_mutex;
    int m_width = 0, m_height = 0, m_columns = 0, m_rowsOfTiles = 0;
    std::vector<uint8_t> m_tiles;  // per tile, its state
};

}  // namespace lumacap::ui
