// Memory for large pixel blocks, kept for reuse. Screen captures, compatible bitmaps and composed
// reads come and go at the frame rate with the same few sizes; returning their memory to the
// system and faulting it in again costs more than the drawing itself, so the last few blocks
// freed are held back and handed out again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace lumacap::ui {

// A block of at least `count` pixels, uninitialised, or null when it cannot be allocated. The
// block goes back to the pool when the last owner lets it go.
std::shared_ptr<uint32_t[]> TakePixels(size_t count);

// Blocks held for reuse right now (for tests and benchmarks).
size_t PooledPixelBlocks();

}  // namespace lumacap::ui
