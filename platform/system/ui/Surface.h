// A 32-bit drawing surface: pixels 0x00RRGGBB, rows top-down. Bitmaps, window backing stores and
// the desktop are surfaces. A surface either owns its pixels or wraps memory someone else owns (a
// DIB section's bits); its mutex guards the pixels against a window's thread drawing while
// another thread reads the screen.
//
// A surface that owns its pixels starts black without writing them: the black (or the clearing
// of pad bytes a screen read left behind) is made the first time anything asks for a row, so a
// bitmap the screen is read into whole is written once, by the read.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/system/ui/Resample.h"

namespace lumacap::ui {

// Memory a display can write into directly, such as a segment shared with the X server: a screen
// read lands in a bitmap held there without passing through a copy.
class DisplayMemory {
public:
    virtual ~DisplayMemory() = default;
    virtual uint8_t* Data() const = 0;
    virtual size_t Size() const = 0;
};

class Surface {
public:
    // The largest surface accepted, in pixels (1 GiB of 32-bit pixels).
    static constexpr long long kMaxPixels = 1LL << 28;
    static constexpr int kMaxSide = 1 << 16;

    // A black surface, or null if the size is not positive, too large or cannot be allocated.
    static std::shared_ptr<Surface> Create(int width, int height, bool monochrome = false);
    // A black surface in `memory` (which must hold width x height pixels) when there is some,
    // else as Create makes it. With `visibleBits` the memory is someone else's to read as it
    // is (a DIB section's bits): it is cleared now and screen reads clear their pad bytes at
    // once.
    static std::shared_ptr<Surface> CreateIn(int width, int height,
                                             std::shared_ptr<DisplayMemory> memory,
                                             bool visibleBits);
    // Wraps `bits` (rows `strideBytes` apart, negative for bottom-up memory with `bits` at the top
    // row); `owner` keeps the memory alive if the surface should.
    static std::shared_ptr<Surface> Wrap(int width, int height, uint8_t* bits,
                                         ptrdiff_t strideBytes,
                                         std::shared_ptr<void> owner = nullptr);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // Monochrome bitmaps hold only black (0) and white (0xFFFFFF).
    bool Monochrome() const { return m_monochrome; }
    uint32_t* Row(int y) {
        Settle();
        return reinterpret_cast<uint32_t*>(m_base + static_cast<ptrdiff_t>(y) * m_stride);
    }
    const uint32_t* Row(int y) const {
        Settle();
        return reinterpret_cast<const uint32_t*>(m_base + static_cast<ptrdiff_t>(y) * m_stride);
    }
    ptrdiff_t Stride() const { return m_stride; }
    PixelView View() {
        Settle();
        return PixelView{m_base, m_stride, m_width, m_height, 32};
    }
    std::mutex& Mutex() const { return m_mutex; }

    // The display memory the pixels live in (the surface's first row at its start), or null.
    DisplayMemory* Memory() const { return m_memory.get(); }
    // Whether others read the bits as they are (so nothing may be left for later).
    bool VisibleBits() const { return m_visibleBits; }
    // For a writer about to fill rows [top, bottom) completely with its own pixels, with the
    // surface's mutex held: makes pending black real unless those rows are the whole surface.
    // Returns where the rows start.
    uint8_t* RowsToOverwrite(int top, int bottom);
    // After a writer put pixels with pad bytes as they came in rows [top, bottom): they are
    // cleared now when others read the bits as they are, else the first time a row is asked for.
    void OverwrittenWithPad(int top, int bottom);

    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    Surface(int width, int height, bool monochrome, uint8_t* base, ptrdiff_t stride,
            std::shared_ptr<void> owner)
        : m_width(width),
          m_height(height),
          m_monochrome(monochrome),
          m_base(base),
          m_stride(stride),
          m_owner(std::move(owner)) {}

private:
    enum Pending : uint8_t { kNothing, kBlack, kPadBytes };
    void Settle() const {
        if (m_pending.load(std::memory_order_acquire) != kNothing) SettleSlow();
    }
    void SettleSlow() const;

    int m_width;
    int m_height;
    bool m_monochrome;
    uint8_t* m_base;
    ptrdiff_t m_stride;
    std::shared_ptr<void> m_owner;
    std::shared_ptr<DisplayMemory> m_memory;
    bool m_visibleBits = true;  // others read the bits directly: nothing may be left pending
    mutable std::atomic<uint8_t> m_pending{kNothing};
    mutable std::mutex m_settleMutex;
    mutable std::mutex m_mutex;
};

// Clears the pad bytes of `n` pixels in place; whether any had some.
bool ClearPadBytes(uint32_t* pixels, size_t n);

// 0x00RRGGBB from a COLORREF (0x00BBGGRR) and back.
inline uint32_t PixelFromColor(uint32_t colorref) {
    return ((colorref & 0xFF) << 16) | (colorref & 0xFF00) | ((colorref >> 16) & 0xFF);
}
inline uint32_t ColorFromPixel(uint32_t pixel) {
    return ((pixel & 0xFF) << 16) | (pixel & 0xFF00) | ((pixel >> 16) & 0xFF);
}

}  // namespace lumacap::ui
