// What libjpeg's callbacks reach through a codec's client_data: the jump back from a fatal error,
// and working memory that outlives each picture, so a stream encodes or decodes without the heap.
#pragma once

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <memory>

#include <jpeglib.h>

namespace lumacap::codecs {

// A codec's state derives from this and is what client_data points at. libjpeg reports a fatal
// error by calling error_exit, which must not return: it jumps to `jump`, set by the call that
// started the picture. Only C objects may live between that setjmp and the jump.
struct JpegClient {
    JpegClient();
    ~JpegClient();
    JpegClient(const JpegClient&) = delete;
    JpegClient& operator=(const JpegClient&) = delete;

    std::jmp_buf jump{};
    struct Memory;
    std::unique_ptr<Memory> memory;
};

// Before jpeg_create_compress/decompress: errors jump back to `client`, warnings stay quiet (the
// library counts them; nothing is printed from a streaming thread).
void SetJpegErrors(j_common_ptr cinfo, jpeg_error_mgr* errors, JpegClient* client);

// After creation: each picture's memory (the image pool, whole-picture arrays included) comes from
// blocks the client keeps, rewound instead of freed when the picture ends; what lives as long as
// the codec stays with the library's own manager.
void UsePictureMemory(j_common_ptr cinfo);

}  // namespace lumacap::codecs
