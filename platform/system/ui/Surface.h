// A 32-bit drawing surface: pixels 0x00RRGGBB, rows top-down. Bitmaps, window backing stores and
// the desktop are surfaces. A surface either owns its pixels or wraps memory someone else owns (a
// DIB section's bits); its mutex guards the pixels against a window's thread drawing while
// another thread reads the screen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/system/ui/Resample.h"

namespace lumacap::ui {

class Surface {
public:
    // The largest surface accepted, in pixels (1 GiB of 32-bit pixels).
    static constexpr long long kMaxPixels = 1LL << 28;
    static constexpr int kMaxSide = 1 << 16;

    // A black surface, or null if the size is not positive, too large or cannot be allocated.
    static std::shared_ptr<Surface> Create(int width, int height, bool monochrome = false);
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
        return reinterpret_cast<uint32_t*>(m_base + static_cast<ptrdiff_t>(y) * m_stride);
    }
    const uint32_t* Row(int y) const {
        return reinterpret_cast<const uint32_t*>(m_base + static_cast<ptrdiff_t>(y) * m_stride);
    }
    ptrdiff_t Stride() const { return m_stride; }
    PixelView View() { return PixelView{m_base, m_stride, m_width, m_height, 32}; }
    std::mutex& Mutex() const { return m_mutex; }

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
    int m_width;
    int m_height;
    bool m_monochrome;
    uint8_t* m_base;
    ptrdiff_t m_stride;
    std::shared_ptr<void> m_owner;
    mutable std::mutex m_mutex;
};

// 0x00RRGGBB from a COLORREF (0x00BBGGRR) and back.
inline uint32_t PixelFromColor(uint32_t colorref) {
    return ((colorref & 0xFF) << 16) | (colorref & 0xFF00) | ((colorref >> 16) & 0xFF);
}
inline uint32_t ColorFromPixel(uint32_t pixel) {
    return ((pixel & 0xFF) << 16) | (pixel & 0xFF00) | ((pixel >> 16) & 0xFF);
}

}  // namespace lumacap::ui
