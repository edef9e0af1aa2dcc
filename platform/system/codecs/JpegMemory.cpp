// libjpeg's per-picture memory served from blocks kept for the next picture, and its fatal errors
// turned into a jump back to the codec.
#include "platform/system/codecs/JpegMemory.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace lumacap::codecs {
namespace {

// libjpeg-turbo's SIMD routines read and write whole vectors: its own allocator aligns every
// block and pads every sample row to 32 bytes, so this one does at least as much.
constexpr size_t kAlign = 64;

size_t RoundUp(size_t n) {
    return (n + kAlign - 1) & ~(kAlign - 1);
}

// Bump allocation over chunks. Each picture of a stream asks for the same blocks in the same
// order, so once the first picture is done the arena holds them all in one chunk and later
// pictures allocate nothing.
class Arena {
public:
    Arena() = default;
    ~Arena() { Release(); }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    // Null when no memory is left.
    void* Allocate(size_t size) {
        if (size > (size_t{1} << 40)) return nullptr;
        size = RoundUp(std::max<size_t>(size, 1));
        if (m_chunks.empty() || m_used + size > m_chunks.back().size) {
            const size_t chunk = std::max<size_t>(size, 256 * 1024);
            void* p = std::aligned_alloc(kAlign, chunk);
            if (!p) return nullptr;
            // Called from the library's C code: nothing may be thrown through it.
            try {
                m_chunks.push_back({static_cast<uint8_t*>(p), chunk});
            } catch (const std::bad_alloc&) {
                std::free(p);
                return nullptr;
            }
            m_used = 0;
        }
        void* p = m_chunks.back().data + m_used;
        m_used += size;
        m_total += size;
        return p;
    }

    // Forgets every block. A picture that needed more than one chunk gets one chunk of the
    // whole size for the next.
    void Reset() {
        if (m_chunks.size() > 1) {
            const size_t whole = RoundUp(m_total);
            Release();
            // The vector kept its capacity: this push does not allocate.
            if (void* p = std::aligned_alloc(kAlign, whole))
                m_chunks.push_back({static_cast<uint8_t*>(p), whole});
        }
        m_used = 0;
        m_total = 0;
    }

private:
    void Release() {
        for (Chunk& c : m_chunks) std::free(c.data);
        m_chunks.clear();
    }

    struct Chunk {
        uint8_t* data;
        size_t size;
    };
    std::vector<Chunk> m_chunks;
    size_t m_used = 0;   // in the last chunk
    size_t m_total = 0;  // since the last reset, across chunks
};

// A whole-picture array (a progressive picture's coefficients, or those kept between the two
// passes that fitted Huffman tables take), held in the arena like everything else of a picture:
// requested when the picture starts, made when the library says so, each row reached directly.
struct VirtualArray {
    void** rows = nullptr;
    size_t perRow = 0;  // elements
    size_t rowCount = 0;
    bool blocks = false;  // JBLOCK rows, else JSAMPLE rows
    bool zero = false;
    VirtualArray* next = nullptr;
};

}  // namespace

struct JpegClient::Memory {
    Arena arena;
    jpeg_memory_mgr library{};       // the library's methods, for the permanent pool
    VirtualArray* arrays = nullptr;  // the picture's whole-picture arrays
};

JpegClient::JpegClient() : memory(std::make_unique<Memory>()) {}
JpegClient::~JpegClient() = default;

namespace {

JpegClient& ClientOf(j_common_ptr cinfo) {
    return *static_cast<JpegClient*>(cinfo->client_data);
}

JpegClient::Memory& MemoryOf(j_common_ptr cinfo) {
    return *ClientOf(cinfo).memory;
}

[[noreturn]] void JumpBack(j_common_ptr cinfo) {
    std::longjmp(ClientOf(cinfo).jump, 1);
}

void Quiet(j_common_ptr, int) {}

// Out of memory fails the picture as the library's own manager would.
void* ArenaBlock(j_common_ptr cinfo, size_t size) {
    void* p = MemoryOf(cinfo).arena.Allocate(size);
    if (!p) JumpBack(cinfo);
    return p;
}

void* AllocSmall(j_common_ptr cinfo, int pool, size_t size) {
    if (pool != JPOOL_IMAGE) return MemoryOf(cinfo).library.alloc_small(cinfo, pool, size);
    return ArenaBlock(cinfo, size);
}

void* AllocLarge(j_common_ptr cinfo, int pool, size_t size) {
    if (pool != JPOOL_IMAGE) return MemoryOf(cinfo).library.alloc_large(cinfo, pool, size);
    return ArenaBlock(cinfo, size);
}

// A two-dimensional array as the library lays it out: row pointers, then the rows, each padded.
template <typename Element>
Element** AllocRows(j_common_ptr cinfo, size_t perRow, size_t rows) {
    auto** pointers = static_cast<Element**>(ArenaBlock(cinfo, rows * sizeof(Element*)));
    const size_t rowBytes = RoundUp(perRow * sizeof(Element));
    auto* data = static_cast<uint8_t*>(ArenaBlock(cinfo, rowBytes * rows));
    for (size_t i = 0; i < rows; ++i) pointers[i] = reinterpret_cast<Element*>(data + i * rowBytes);
    return pointers;
}

JSAMPARRAY AllocSampleRows(j_common_ptr cinfo, int pool, JDIMENSION perRow, JDIMENSION rows) {
    if (pool != JPOOL_IMAGE) return MemoryOf(cinfo).library.alloc_sarray(cinfo, pool, perRow, rows);
    return AllocRows<JSAMPLE>(cinfo, perRow, rows);
}

JBLOCKARRAY AllocBlockRows(j_common_ptr cinfo, int pool, JDIMENSION perRow, JDIMENSION rows) {
    if (pool != JPOOL_IMAGE) return MemoryOf(cinfo).library.alloc_barray(cinfo, pool, perRow, rows);
    return AllocRows<JBLOCK>(cinfo, perRow, rows);
}

VirtualArray* RequestArray(j_common_ptr cinfo, int pool, boolean preZero, JDIMENSION perRow,
                           JDIMENSION rows, bool blocks) {
    if (pool != JPOOL_IMAGE) JumpBack(cinfo);  // the library never asks for others
    JpegClient::Memory& m = MemoryOf(cinfo);
    auto* a = static_cast<VirtualArray*>(ArenaBlock(cinfo, sizeof(VirtualArray)));
    *a = VirtualArray{nullptr, perRow, rows, blocks, preZero != FALSE, m.arrays};
    m.arrays = a;
    return a;
}

jvirt_sarray_ptr RequestSampleArray(j_common_ptr cinfo, int pool, boolean preZero,
                                    JDIMENSION perRow, JDIMENSION rows, JDIMENSION) {
    return reinterpret_cast<jvirt_sarray_ptr>(
        RequestArray(cinfo, pool, preZero, perRow, rows, false));
}

jvirt_barray_ptr RequestBlockArray(j_common_ptr cinfo, int pool, boolean preZero, JDIMENSION perRow,
                                   JDIMENSION rows, JDIMENSION) {
    return reinterpret_cast<jvirt_barray_ptr>(
        RequestArray(cinfo, pool, preZero, perRow, rows, true));
}

void RealizeArrays(j_common_ptr cinfo) {
    for (VirtualArray* a = MemoryOf(cinfo).arrays; a; a = a->next) {
        if (a->rows) continue;
        const size_t element = a->blocks ? sizeof(JBLOCK) : sizeof(JSAMPLE);
        a->rows = a->blocks
                      ? reinterpret_cast<void**>(AllocRows<JBLOCK>(cinfo, a->perRow, a->rowCount))
                      : reinterpret_cast<void**>(AllocRows<JSAMPLE>(cinfo, a->perRow, a->rowCount));
        if (a->zero)
            for (size_t i = 0; i < a->rowCount; ++i)
                std::memset(a->rows[i], 0, a->perRow * element);
    }
}

template <typename Array>
Array AccessArray(j_common_ptr cinfo, void* array, JDIMENSION start, JDIMENSION count) {
    auto* a = static_cast<VirtualArray*>(array);
    if (!a->rows || start + count > a->rowCount) JumpBack(cinfo);
    return reinterpret_cast<Array>(a->rows + start);
}

JSAMPARRAY AccessSampleArray(j_common_ptr cinfo, jvirt_sarray_ptr array, JDIMENSION start,
                             JDIMENSION count, boolean) {
    return AccessArray<JSAMPARRAY>(cinfo, array, start, count);
}

JBLOCKARRAY AccessBlockArray(j_common_ptr cinfo, jvirt_barray_ptr array, JDIMENSION start,
                             JDIMENSION count, boolean) {
    return AccessArray<JBLOCKARRAY>(cinfo, array, start, count);
}

void FreePool(j_common_ptr cinfo, int pool) {
    JpegClient::Memory& m = MemoryOf(cinfo);
    if (pool == JPOOL_IMAGE) {
        m.arrays = nullptr;
        m.arena.Reset();
    }
    m.library.free_pool(cinfo, pool);
}

}  // namespace

void SetJpegErrors(j_common_ptr cinfo, jpeg_error_mgr* errors, JpegClient* client) {
    cinfo->err = jpeg_std_error(errors);
    errors->error_exit = JumpBack;
    errors->emit_message = Quiet;
    cinfo->client_data = client;
}

void UsePictureMemory(j_common_ptr cinfo) {
    // The library's own methods cast the manager to their private type, so it stays in place and
    // only the methods are swapped; the permanent pool still goes to the originals.
    JpegClient::Memory& m = MemoryOf(cinfo);
    m.library = *cinfo->mem;
    cinfo->mem->alloc_small = AllocSmall;
    cinfo->mem->alloc_large = AllocLarge;
    cinfo->mem->alloc_sarray = AllocSampleRows;
    cinfo->mem->alloc_barray = AllocBlockRows;
    cinfo->mem->free_pool = FreePool;
    cinfo->mem->request_virt_sarray = RequestSampleArray;
    cinfo->mem->request_virt_barray = RequestBlockArray;
    cinfo->mem->realize_virt_arrays = RealizeArrays;
    cinfo->mem->access_virt_sarray = AccessSampleArray;
    cinfo->mem->access_virt_barray = AccessBlockArray;
}

}  // namespace lumacap::codecs
