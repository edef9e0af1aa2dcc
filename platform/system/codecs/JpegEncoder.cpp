// JPEG encoding from DIB rows with libjpeg-turbo: one compressor kept for a stream, its
// per-picture working memory served from an arena that is reset (not freed) after each picture,
// and the compressed bytes written straight into the caller's buffer.
#include "platform/system/codecs/JpegEncoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstdlib>
#include <cstring>
#include <new>

#include <jpeglib.h>

namespace lumacap::codecs {
namespace {

// libjpeg-turbo's SIMD routines read and write whole vectors: its own allocator aligns every
// block and pads every sample row to 32 bytes, so this one does at least as much.
constexpr size_t kAlign = 64;

size_t RoundUp(size_t n) {
    return (n + kAlign - 1) & ~(kAlign - 1);
}

// Bump allocation over chunks. Each picture asks for the same blocks in the same order, so once
// the first picture has been encoded the arena holds them all in one chunk and later pictures
// allocate nothing.
class Arena {
public:
    Arena() = default;
    ~Arena() { Release(); }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    void* Allocate(size_t size) {
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

struct VirtualArray;

}  // namespace

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps back to
// the call that started the picture. Only C objects live between setjmp and the jump.
struct JpegEncoder::State {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_destination_mgr destination{};
    std::jmp_buf jump{};
    bool created = false;
    uint8_t* dst = nullptr;
    size_t capacity = 0;
    // The library's own memory manager keeps the objects that live as long as the compressor;
    // the per-picture pool, which it would allocate and free for every picture, is the arena's.
    Arena arena;
    jpeg_memory_mgr library{};       // the library's methods, for the permanent pool
    VirtualArray* arrays = nullptr;  // the picture's whole-picture arrays
};

namespace {

JpegEncoder::State& StateOf(j_common_ptr cinfo) {
    return *static_cast<JpegEncoder::State*>(cinfo->client_data);
}

[[noreturn]] void JumpBack(j_common_ptr cinfo) {
    std::longjmp(StateOf(cinfo).jump, 1);
}

void Quiet(j_common_ptr, int) {}

void* ArenaBlock(j_common_ptr cinfo, size_t size) {
    void* p = StateOf(cinfo).arena.Allocate(size);
    if (!p) std::longjmp(StateOf(cinfo).jump, 3);  // out of memory: the picture fails
    return p;
}

void* AllocSmall(j_common_ptr cinfo, int pool, size_t size) {
    if (pool != JPOOL_IMAGE) return StateOf(cinfo).library.alloc_small(cinfo, pool, size);
    return ArenaBlock(cinfo, size);
}

void* AllocLarge(j_common_ptr cinfo, int pool, size_t size) {
    if (pool != JPOOL_IMAGE) return StateOf(cinfo).library.alloc_large(cinfo, pool, size);
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
    if (pool != JPOOL_IMAGE) return StateOf(cinfo).library.alloc_sarray(cinfo, pool, perRow, rows);
    return AllocRows<JSAMPLE>(cinfo, perRow, rows);
}

JBLOCKARRAY AllocBlockRows(j_common_ptr cinfo, int pool, JDIMENSION perRow, JDIMENSION rows) {
    if (pool != JPOOL_IMAGE) return StateOf(cinfo).library.alloc_barray(cinfo, pool, perRow, rows);
    return AllocRows<JBLOCK>(cinfo, perRow, rows);
}

// Whole-picture arrays (the coefficients kept between the two passes that optimised Huffman
// tables take), held in the arena like everything else of a picture: requested when the picture
// starts, made when the library says so, each row reached directly.
struct VirtualArray {
    void** rows = nullptr;
    size_t perRow = 0;  // elements
    size_t rowCount = 0;
    bool blocks = false;  // JBLOCK rows, else JSAMPLE rows
    bool zero = false;
    VirtualArray* next = nullptr;
};

VirtualArray* RequestArray(j_common_ptr cinfo, int pool, boolean preZero, JDIMENSION perRow,
                           JDIMENSION rows, bool blocks) {
    if (pool != JPOOL_IMAGE) std::longjmp(StateOf(cinfo).jump, 3);  // the library never asks
    auto* a = static_cast<VirtualArray*>(ArenaBlock(cinfo, sizeof(VirtualArray)));
    *a = VirtualArray{nullptr, perRow, rows, blocks, preZero != FALSE, StateOf(cinfo).arrays};
    StateOf(cinfo).arrays = a;
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
    for (VirtualArray* a = StateOf(cinfo).arrays; a; a = a->next) {
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
    if (!a->rows || start + count > a->rowCount) std::longjmp(StateOf(cinfo).jump, 3);
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
    if (pool == JPOOL_IMAGE) StateOf(cinfo).arrays = nullptr;
    if (pool == JPOOL_IMAGE) StateOf(cinfo).arena.Reset();
    StateOf(cinfo).library.free_pool(cinfo, pool);
}

void StartDestination(j_compress_ptr cinfo) {
    JpegEncoder::State& s = StateOf(reinterpret_cast<j_common_ptr>(cinfo));
    cinfo->dest->next_output_byte = s.dst;
    cinfo->dest->free_in_buffer = s.capacity;
}

// The buffer is full: the picture does not fit, and is abandoned.
boolean DestinationFull(j_compress_ptr cinfo) {
    std::longjmp(StateOf(reinterpret_cast<j_common_ptr>(cinfo)).jump, 2);
}

void EndDestination(j_compress_ptr) {}

}  // namespace

JpegEncoder::JpegEncoder() : m_state(std::make_unique<State>()) {}

JpegEncoder::~JpegEncoder() {
    if (m_state->created) jpeg_destroy_compress(&m_state->info);
}

bool JpegEncoder::Open(int width, int height, int bytesPerPixel, int quality, bool fitTables) {
    if (width <= 0 || height <= 0 || width > JPEG_MAX_DIMENSION || height > JPEG_MAX_DIMENSION ||
        (bytesPerPixel != 3 && bytesPerPixel != 4))
        return false;
    State& s = *m_state;
    m_rows.clear();
    if (setjmp(s.jump) != 0) return false;
    if (!s.created) {
        s.info.err = jpeg_std_error(&s.errors);
        s.errors.error_exit = JumpBack;
        s.errors.emit_message = Quiet;
        s.info.client_data = &s;
        jpeg_create_compress(&s.info);
        s.created = true;
        s.library = *s.info.mem;
        s.info.mem->alloc_small = AllocSmall;
        s.info.mem->alloc_large = AllocLarge;
        s.info.mem->alloc_sarray = AllocSampleRows;
        s.info.mem->alloc_barray = AllocBlockRows;
        s.info.mem->free_pool = FreePool;
        s.info.mem->request_virt_sarray = RequestSampleArray;
        s.info.mem->request_virt_barray = RequestBlockArray;
        s.info.mem->realize_virt_arrays = RealizeArrays;
        s.info.mem->access_virt_sarray = AccessSampleArray;
        s.info.mem->access_virt_barray = AccessBlockArray;
        s.destination.init_destination = StartDestination;
        s.destination.empty_output_buffer = DestinationFull;
        s.destination.term_destination = EndDestination;
        s.info.dest = &s.destination;
    }
    s.info.image_width = static_cast<JDIMENSION>(width);
    s.info.image_height = static_cast<JDIMENSION>(height);
    s.info.input_components = bytesPerPixel;
    s.info.in_color_space = bytesPerPixel == 3 ? JCS_EXT_BGR : JCS_EXT_BGRX;
    // Baseline JFIF, YCbCr with 2x2 chroma subsampling and the standard Huffman tables: what
    // every MJPEG decoder reads.
    jpeg_set_defaults(&s.info);
    jpeg_set_quality(&s.info, std::clamp(quality, 1, 100), TRUE);
    s.info.dct_method = JDCT_ISLOW;
    s.info.optimize_coding = fitTables ? TRUE : FALSE;
    m_rows.assign(static_cast<size_t>(height), nullptr);
    m_height = height;
    return true;
}

size_t JpegEncoder::Encode(const uint8_t* pixels, int stride, bool bottomUp, uint8_t* dst,
                           size_t capacity) {
    if (!IsOpen() || !pixels || !dst || capacity == 0) return 0;
    State& s = *m_state;
    for (int y = 0; y < m_height; ++y) {
        const int row = bottomUp ? m_height - 1 - y : y;
        m_rows[static_cast<size_t>(y)] =
            const_cast<uint8_t*>(pixels) + static_cast<ptrdiff_t>(row) * stride;
    }
    s.dst = dst;
    s.capacity = capacity;
    if (setjmp(s.jump) != 0) {
        jpeg_abort_compress(&s.info);
        return 0;
    }
    jpeg_start_compress(&s.info, TRUE);
    jpeg_write_scanlines(&s.info, m_rows.data(), static_cast<JDIMENSION>(m_height));
    jpeg_finish_compress(&s.info);
    return capacity - s.destination.free_in_buffer;
}

}  // namespace lumacap::codecs
