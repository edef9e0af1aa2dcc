// JPEG decoding into DIB rows with libjpeg-turbo: one decompressor kept for a stream, errors
// brought back from the library with setjmp, each picture's rows pointed at the caller's buffer,
// and the working memory of a picture kept from one picture to the next.
#include "platform/system/codecs/JpegDecoder.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace lumacap::codecs {
namespace {

// libjpeg allocates a picture's working memory (strip buffers, tables, the decoder's modules) when
// the picture starts and frees it all when it ends, several mallocs a picture: on a camera's
// streaming thread that is allocation at the frame rate. The same sizes come back with every
// picture of a stream, so the picture's allocations are served from blocks kept here instead, and
// "freeing" them only rewinds. Sizes and alignment follow libjpeg-turbo's own manager: its SIMD
// code expects 32-byte aligned objects and sample rows padded to 64 bytes, and may read or write
// up to that padding.
class PictureArena {
public:
    PictureArena() = default;
    PictureArena(const PictureArena&) = delete;
    PictureArena& operator=(const PictureArena&) = delete;
    ~PictureArena() {
        for (Block& block : m_blocks) std::free(block.data);
    }

    // Null when no memory is left; the caller then asks libjpeg's own manager.
    void* Allocate(size_t size) {
        constexpr size_t kAlign = 64;
        if (size > (size_t{1} << 40)) return nullptr;
        size = (size + kAlign - 1) & ~(kAlign - 1);
        m_wanted += size;
        for (Block& block : m_blocks) {
            if (block.size - block.used < size) continue;
            void* p = block.data + block.used;
            block.used += size;
            return p;
        }
        // A new block; the first picture of a stream makes a few, later ones none (see Rewind).
        const size_t blockSize = std::max<size_t>(size, 64 * 1024);
        auto* data = static_cast<uint8_t*>(std::aligned_alloc(kAlign, blockSize));
        if (!data) return nullptr;
        m_blocks.push_back({data, blockSize, size});
        return data;
    }

    // The picture's memory is given back. Blocks made for it are merged into one big enough for
    // all it asked for, so the next picture of the same size allocates nothing.
    void Rewind() {
        if (m_blocks.size() > 1) {
            for (Block& block : m_blocks) std::free(block.data);
            m_blocks.clear();
            if (auto* data = static_cast<uint8_t*>(std::aligned_alloc(64, m_wanted)))
                m_blocks.push_back({data, m_wanted, 0});
        }
        for (Block& block : m_blocks) block.used = 0;
        m_wanted = 0;
    }

private:
    struct Block {
        uint8_t* data;
        size_t size, used;
    };
    std::vector<Block> m_blocks;
    size_t m_wanted = 0;  // bytes the current picture has asked for
};

}  // namespace

// libjpeg reports a fatal error by calling error_exit, which must not return: it jumps back to
// the call that started the picture. Only C objects live between setjmp and the jump.
struct JpegDecoder::State {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    std::jmp_buf jump{};
    bool created = false;
    // libjpeg's own manager, which keeps what lives as long as the decompressor (and what this
    // one does not take: arrays of whole pictures, used by progressive pictures).
    jpeg_memory_mgr library{};
    PictureArena arena;
};

namespace {

JpegDecoder::State& StateOf(j_common_ptr cinfo) {
    return *static_cast<JpegDecoder::State*>(cinfo->client_data);
}

[[noreturn]] void JumpBack(j_common_ptr cinfo) {
    std::longjmp(StateOf(cinfo).jump, 1);
}

void* AllocSmall(j_common_ptr cinfo, int pool, size_t size) {
    JpegDecoder::State& s = StateOf(cinfo);
    void* p = pool == JPOOL_IMAGE ? s.arena.Allocate(size) : nullptr;
    return p ? p : s.library.alloc_small(cinfo, pool, size);
}

void* AllocLarge(j_common_ptr cinfo, int pool, size_t size) {
    JpegDecoder::State& s = StateOf(cinfo);
    void* p = pool == JPOOL_IMAGE ? s.arena.Allocate(size) : nullptr;
    return p ? p : s.library.alloc_large(cinfo, pool, size);
}

// Rows padded to 64 samples, as libjpeg-turbo pads them for its upsampling.
JSAMPARRAY AllocSampleArray(j_common_ptr cinfo, int pool, JDIMENSION samplesPerRow,
                            JDIMENSION rows) {
    JpegDecoder::State& s = StateOf(cinfo);
    const size_t rowBytes = (static_cast<size_t>(samplesPerRow) + 63) & ~size_t{63};
    if (pool == JPOOL_IMAGE && cinfo->is_decompressor &&
        reinterpret_cast<j_decompress_ptr>(cinfo)->data_precision <= 8) {
        auto* array = static_cast<JSAMPARRAY>(s.arena.Allocate(rows * sizeof(JSAMPROW)));
        auto* samples = static_cast<JSAMPLE*>(s.arena.Allocate(rowBytes * rows));
        if (array && samples) {
            for (JDIMENSION y = 0; y < rows; ++y) array[y] = samples + rowBytes * y;
            return array;
        }
    }
    return s.library.alloc_sarray(cinfo, pool, samplesPerRow, rows);
}

JBLOCKARRAY AllocBlockArray(j_common_ptr cinfo, int pool, JDIMENSION blocksPerRow,
                            JDIMENSION rows) {
    JpegDecoder::State& s = StateOf(cinfo);
    if (pool == JPOOL_IMAGE) {
        auto* array = static_cast<JBLOCKARRAY>(s.arena.Allocate(rows * sizeof(JBLOCKROW)));
        auto* blocks = static_cast<JBLOCKROW>(
            s.arena.Allocate(sizeof(JBLOCK) * static_cast<size_t>(blocksPerRow) * rows));
        if (array && blocks) {
            for (JDIMENSION y = 0; y < rows; ++y) array[y] = blocks + blocksPerRow * y;
            return array;
        }
    }
    return s.library.alloc_barray(cinfo, pool, blocksPerRow, rows);
}

void FreePool(j_common_ptr cinfo, int pool) {
    JpegDecoder::State& s = StateOf(cinfo);
    if (pool == JPOOL_IMAGE) s.arena.Rewind();
    s.library.free_pool(cinfo, pool);
}

// Warnings (corrupt data the decoder worked around) are counted by the library; nothing is
// printed from a streaming thread.
void Quiet(j_common_ptr, int) {}

}  // namespace

JpegDecoder::JpegDecoder() : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    s.info.err = jpeg_std_error(&s.errors);
    s.errors.error_exit = JumpBack;
    s.errors.emit_message = Quiet;
    s.info.client_data = &s;
    if (setjmp(s.jump) == 0) {
        jpeg_create_decompress(&s.info);
        s.created = true;
        // The library's own methods cast the manager to their private type, so it stays in
        // place and only the allocation methods are swapped; each falls back to the original.
        s.library = *s.info.mem;
        s.info.mem->alloc_small = AllocSmall;
        s.info.mem->alloc_large = AllocLarge;
        s.info.mem->alloc_sarray = AllocSampleArray;
        s.info.mem->alloc_barray = AllocBlockArray;
        s.info.mem->free_pool = FreePool;
    }
}

JpegDecoder::~JpegDecoder() {
    if (m_state->created) jpeg_destroy_decompress(&m_state->info);
}

JpegDecoder::Result JpegDecoder::Decode(const uint8_t* data, size_t size, int width, int height,
                                        int bytesPerPixel, bool bottomUp, uint8_t* dst,
                                        int stride) {
    State& s = *m_state;
    if (!s.created || !data || size == 0 || !dst || width <= 0 || height <= 0 ||
        (bytesPerPixel != 3 && bytesPerPixel != 4) || stride < width * bytesPerPixel)
        return Result::Failed;
    // Row pointers for this size, made before the jump point so nothing is allocated after it.
    if (m_rows.size() != static_cast<size_t>(height)) m_rows.resize(static_cast<size_t>(height));
    for (int y = 0; y < height; ++y)
        m_rows[static_cast<size_t>(y)] =
            dst + static_cast<ptrdiff_t>(bottomUp ? height - 1 - y : y) * stride;

    jpeg_decompress_struct& info = s.info;
    if (setjmp(s.jump) != 0) {
        jpeg_abort_decompress(&info);
        return Result::Failed;
    }
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_abort_decompress(&info);
        return Result::Failed;
    }
    if (info.image_width != static_cast<JDIMENSION>(width) ||
        info.image_height != static_cast<JDIMENSION>(height)) {
        jpeg_abort_decompress(&info);
        return Result::WrongSize;
    }
    // Grey and YCbCr pictures convert to these; CMYK ones fail here and go elsewhere.
    info.out_color_space = bytesPerPixel == 3 ? JCS_EXT_BGR : JCS_EXT_BGRX;
    // Chroma taken as it is for the pixels it covers, upsampled and converted in one pass, as a
    // camera driver's conversion does; interpolating it costs a third more for what a viewer
    // hardly sees at camera resolutions.
    info.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        const JDIMENSION done = info.output_scanline;
        if (jpeg_read_scanlines(&info, &m_rows[done], info.output_height - done) == 0) break;
    }
    // The rest of the data (and a missing end marker) is not waited for.
    jpeg_abort_decompress(&info);
    return Result::Ok;
}

}  // namespace lumacap::codecs
