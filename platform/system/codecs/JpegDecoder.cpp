// JPEG decoding into DIB rows with libjpeg-turbo: one decompressor kept for a stream, errors
// brought back from the library with setjmp, each picture's rows pointed at the caller's buffer,
// and the working memory of a picture kept from one picture to the next.
#include "platform/system/codecs/JpegDecoder.h"

#include <algorithm>
#include <csetjmp>
#include <vector>

#include "platform/system/codecs/JpegMemory.h"

namespace lumacap::codecs {

// libjpeg allocates a picture's working memory (strip buffers, tables, the decoder's modules) when
// the picture starts and frees it all when it ends, several mallocs a picture: on a camera's
// streaming thread that is allocation at the frame rate. The client's memory keeps it instead.
struct JpegDecoder::State : JpegClient {
    jpeg_decompress_struct info{};
    jpeg_error_mgr errors{};
    bool created = false;
};

JpegDecoder::JpegDecoder() : m_state(std::make_unique<State>()) {
    State& s = *m_state;
    SetJpegErrors(reinterpret_cast<j_common_ptr>(&s.info), &s.errors, &s);
    if (setjmp(s.jump) == 0) {
        jpeg_create_decompress(&s.info);
        s.created = true;
        UsePictureMemory(reinterpret_cast<j_common_ptr>(&s.info));
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
