// The pool behind TakePixels: blocks of at least a quarter megabyte are kept after use, up to a
// few blocks and a bounded number of bytes, and the oldest is given back first. Smaller blocks
// are plain allocations; the heap serves those without touching the system.
#include "platform/system/ui/PixelPool.h"

#include <sys/mman.h>

#include <cstdlib>
#include <mutex>
#include <new>
#include <vector>

namespace lumacap::ui {
namespace {

constexpr size_t kMinPooledPixels = 64 * 1024;  // 256 KiB
constexpr size_t kMaxPooledBlocks = 6;
constexpr size_t kMaxPooledBytes = 96u * 1024 * 1024;  // three 4K frames, or six 1080p ones
constexpr size_t kHugePage = 2u * 1024 * 1024;

// A pooled block: aligned to huge pages and asked to be backed by them, so a full-screen block
// faults in a handful of times rather than a few thousand (the first frames of a screen
// recording would otherwise spend most of their time in the kernel).
uint32_t* AllocateBlock(size_t count) {
    const size_t bytes = (count * sizeof(uint32_t) + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, bytes);
    if (!p) return nullptr;
    madvise(p, bytes, MADV_HUGEPAGE);  // advice only: without huge pages the block still works
    return static_cast<uint32_t*>(p);
}

void FreeBlock(uint32_t* pixels) {
    std::free(pixels);
}

struct Block {
    size_t count;
    uint32_t* pixels;
};

class Pool {
public:
    static Pool& Get() {
        static Pool* pool = new Pool();  // blocks may come back during static destruction
        return *pool;
    }

    uint32_t* Take(size_t count) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            // The newest block of the exact size: sizes repeat frame after frame.
            for (size_t i = m_blocks.size(); i-- > 0;) {
                if (m_blocks[i].count != count) continue;
                uint32_t* p = m_blocks[i].pixels;
                m_bytes -= count * sizeof(uint32_t);
                m_blocks.erase(m_blocks.begin() + static_cast<ptrdiff_t>(i));
                return p;
            }
        }
        return AllocateBlock(count);
    }

    void Give(uint32_t* pixels, size_t count) {
        const size_t bytes = count * sizeof(uint32_t);
        if (bytes > kMaxPooledBytes) {
            FreeBlock(pixels);
            return;
        }
        std::vector<uint32_t*> freed;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_blocks.push_back(Block{count, pixels});
            m_bytes += bytes;
            while (m_blocks.size() > kMaxPooledBlocks || m_bytes > kMaxPooledBytes) {
                freed.push_back(m_blocks.front().pixels);
                m_bytes -= m_blocks.front().count * sizeof(uint32_t);
                m_blocks.erase(m_blocks.begin());
            }
        }
        for (uint32_t* p : freed) FreeBlock(p);
    }

    size_t Size() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_blocks.size();
    }

private:
    std::mutex m_mutex;
    std::vector<Block> m_blocks;
    size_t m_bytes = 0;
};

}  // namespace

std::shared_ptr<uint32_t[]> TakePixels(size_t count) {
    if (count == 0) return nullptr;
    if (count < kMinPooledPixels) {
        uint32_t* p = new (std::nothrow) uint32_t[count];
        return p ? std::shared_ptr<uint32_t[]>(p) : nullptr;
    }
    uint32_t* p = Pool::Get().Take(count);
    if (!p) return nullptr;
    try {
        return std::shared_ptr<uint32_t[]>(p, [count](uint32_t* q) { Pool::Get().Give(q, count); });
    } catch (const std::bad_alloc&) {
        Pool::Get().Give(p, count);
        return nullptr;
    }
}

size_t PooledPixelBlocks() {
    return Pool::Get().Size();
}

}  // namespace lumacap::ui
