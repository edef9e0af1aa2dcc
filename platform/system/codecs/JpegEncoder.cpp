// JPEG encoding from DIB rows with libjpeg-turbo: one compressor kept for a stream, its
// per-picture working memory kept for the next picture, and the compressed bytes written straight
// into the caller's buffer.
#include "platform/system/codecs/JpegEncoder.h"

#include <algorithm>
#include <csetjmp>

#include "platform/system/codecs/JpegMemory.h"

namespace lumacap::codecs {

// The library's objects; per-picture working memory comes from the client's blocks.
struct JpegEncoder::State : JpegClient {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    jpeg_destination_mgr destination{};
    bool created = false;
    uint8_t* dst = nullptr;
    size_t capacity = 0;
};

namespace {

JpegEncoder::State& StateOf(j_common_ptr cinfo) {
    return *static_cast<JpegEncoder::State*>(static_cast<JpegClient*>(cinfo->client_data));
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
        SetJpegErrors(reinterpret_cast<j_common_ptr>(&s.info), &s.errors, &s);
        jpeg_create_compress(&s.info);
        s.created = true;
        UsePictureMemory(reinterpret_cast<j_common_ptr>(&s.info));
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
