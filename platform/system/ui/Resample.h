// Image scaling shared by GDI (StretchBlt, StretchDIBits) and GDI+ (DrawImage).
//
// Separable two-pass scaling with fixed-point weights: each source row the destination needs is
// filtered horizontally once (kept in a small ring of rows), then each destination row is a
// weighted sum of those rows. Weights are computed once per job, in Q14, and sum to exactly 1 so
// flat areas stay flat and same-size copies are exact. Reductions can widen the kernel by the
// reduction factor (a proper low-pass filter), which is what the high-quality modes do. Only the
// part of the destination inside the clip rectangle is computed; the weights still come from the
// whole destination rectangle, so a clipped draw gives the same pixels as an unclipped one.
#pragma once

#include <cstddef>
#include <cstdint>

#include <windef.h>

namespace lumacap::ui {

// A view of 24-bit (B, G, R) or 32-bit (B, G, R, X) pixels. `stride` is in bytes from one row to
// the next row down the picture; bottom-up images have a negative stride and `data` pointing at
// their top row.
struct PixelView {
    uint8_t* data = nullptr;
    ptrdiff_t stride = 0;
    int width = 0;
    int height = 0;
    int bitsPerPixel = 32;
};

enum class ResampleFilter {
    Nearest,   // the source pixel whose centre is nearest
    Bilinear,  // triangle kernel, radius 1
    Bicubic,   // Keys cubic convolution, a = -0.5, radius 2
};

struct ResampleJob {
    PixelView src;
    RECT srcRect{};  // inside the source picture
    PixelView dst;
    RECT dstRect{};  // may extend beyond the destination picture
    RECT clip{};     // the destination area that may be written (intersected with the picture)
    ResampleFilter filter = ResampleFilter::Bicubic;
    bool widenForReduction = true;
    // Written into the fourth byte of 32-bit destinations.
    uint8_t alpha = 0;
};

// Returns false for views or rectangles that make no sense (nothing is written then).
bool Resample(const ResampleJob& job);

// Jobs that write at least this many destination pixels share their rows with a second thread
// (the caller's and one helper's, which all callers share; a caller finding it busy works alone).
// 0 keeps every job on its caller's thread. Answers the previous setting.
constexpr long kDefaultResampleSplitMinimum = 65536;
long SetResampleSplitMinimum(long pixels);

// The vector paths (AVX2) are used when the processor has them; tests switch them off to compare
// against the portable path, which gives the same pixels.
void SetResampleVectorPathAllowed(bool allowed);
bool ResampleVectorPathAvailable();

}  // namespace lumacap::ui
