// libjpeg-turbo used directly, as a program reading a camera's MJPEG frames would: the fastest
// bare decoding into bottom-up 24-bit BGR rows the benchmarks know of, and so the reference the
// capture paths are measured against. It decodes with the settings the MJPEG decompressor uses
// (chroma replicated, not interpolated), so both sides make the same picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <vector>

#include <jpeglib.h>

class BareJpegReader {
public:
    // Rows of `stride` bytes at `dst`, the bottom row first.
    BareJpegReader(uint8_t* dst, int stride, int height) {
        m_info.err = jpeg_std_error(&m_errors);
        jpeg_create_decompress(&m_info);
        for (int y = 0; y < height; ++y)
            m_rows.push_back(dst + static_cast<ptrdiff_t>(height - 1 - y) * stride);
    }
    ~BareJpegReader() { jpeg_destroy_decompress(&m_info); }
    BareJpegReader(const BareJpegReader&) = delete;
    BareJpegReader& operator=(const BareJpegReader&) = delete;

    // The pictures are the benchmark's own and whole: the library's default error handling, which
    // ends the program, never runs.
    void Decode(const uint8_t* data, size_t size) {
        jpeg_mem_src(&m_info, data, static_cast<unsigned long>(size));
        jpeg_read_header(&m_info, TRUE);
        m_info.out_color_space = JCS_EXT_BGR;
        m_info.do_fancy_upsampling = FALSE;
        jpeg_start_decompress(&m_info);
        while (m_info.output_scanline < m_info.output_height &&
               m_info.output_scanline < m_rows.size())
            jpeg_read_scanlines(&m_info, &m_rows[m_info.output_scanline],
                                m_info.output_height - m_info.output_scanline);
        jpeg_abort_decompress(&m_info);
    }

private:
    jpeg_decompress_struct m_info{};
    jpeg_error_mgr m_errors{};
    std::vector<JSAMPROW> m_rows;
};
