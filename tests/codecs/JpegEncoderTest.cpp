// JPEG pictures encoded straight from DIB rows: what FFmpeg's own decoder reads back (full-range
// 4:2:0, the picture the right way up, colours in place), and a picture that does not fit.
#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/system/codecs/JpegEncoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace lumacap::codecs {
namespace {

// Decodes with libavcodec into top-down BGR24 rows of `w` x `h`.
std::vector<uint8_t> DecodeWithFfmpeg(const std::vector<uint8_t>& jpeg, int w, int h,
                                      AVPixelFormat* format) {
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MJPEG);
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    EXPECT_EQ(avcodec_open2(ctx, codec, nullptr), 0);
    std::vector<uint8_t> padded(jpeg);
    padded.resize(jpeg.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    AVPacket* pkt = av_packet_alloc();
    pkt->data = padded.data();
    pkt->size = static_cast<int>(jpeg.size());
    AVFrame* frame = av_frame_alloc();
    std::vector<uint8_t> bgr;
    if (avcodec_send_packet(ctx, pkt) == 0 && avcodec_receive_frame(ctx, frame) == 0 &&
        frame->width == w && frame->height == h) {
        *format = static_cast<AVPixelFormat>(frame->format);
        bgr.resize(static_cast<size_t>(w) * h * 3);
        SwsContext* sws = sws_getContext(w, h, *format, w, h, AV_PIX_FMT_BGR24, SWS_BILINEAR,
                                         nullptr, nullptr, nullptr);
        uint8_t* dst[4] = {bgr.data(), nullptr, nullptr, nullptr};
        const int dstStride[4] = {w * 3, 0, 0, 0};
        sws_scale(sws, frame->data, frame->linesize, 0, h, dst, dstStride);
        sws_freeContext(sws);
    }
    av_frame_free(&frame);
    av_packet_free(&pkt);
    avcodec_free_context(&ctx);
    return bgr;
}

// An odd size, so the last block row and column are partial and the rows padded.
constexpr int kW = 101, kH = 75;

// Both Huffman table choices: fitted tables keep the picture's coefficients in whole-picture
// arrays between two passes.
TEST(JpegEncoder, BottomUpDibRowsDecodeTheRightWayUpAtFullRange420) {
    for (const auto& [bytes, fit] : {std::pair{3, false}, {4, false}, {3, true}}) {
        const int stride = (kW * bytes + 3) & ~3;
        // The picture's top half blue, its bottom half red; bottom-up, so the top half is the
        // second half in memory.
        std::vector<uint8_t> dib(static_cast<size_t>(stride) * kH, 0);
        for (int row = 0; row < kH; ++row) {
            const bool top = row >= kH / 2;
            for (int x = 0; x < kW; ++x) {
                uint8_t* p = dib.data() + static_cast<size_t>(row) * stride + x * bytes;
                p[0] = top ? 220 : 20;
                p[2] = top ? 20 : 220;
                p[1] = 60;
            }
        }
        JpegEncoder encoder;
        ASSERT_TRUE(encoder.Open(kW, kH, bytes, kMjpegCompressorQuality, fit));
        std::vector<uint8_t> out(64 * 1024);
        const size_t n = encoder.Encode(dib.data(), stride, true, out.data(), out.size());
        ASSERT_GT(n, 0u);
        const std::vector<uint8_t> first(out.begin(), out.begin() + static_cast<long>(n));
        // The same picture again, from the compressor's reused working memory: the same bytes.
        ASSERT_EQ(encoder.Encode(dib.data(), stride, true, out.data(), out.size()), n);
        EXPECT_EQ(std::vector<uint8_t>(out.begin(), out.begin() + static_cast<long>(n)), first);

        AVPixelFormat format = AV_PIX_FMT_NONE;
        const std::vector<uint8_t> bgr = DecodeWithFfmpeg(first, kW, kH, &format);
        ASSERT_FALSE(bgr.empty()) << bytes;
        EXPECT_EQ(format, AV_PIX_FMT_YUVJ420P);
        const uint8_t* top = bgr.data() + (kW / 2) * 3;
        const uint8_t* bottom = bgr.data() + static_cast<size_t>(kH - 1) * kW * 3 + (kW / 2) * 3;
        EXPECT_NEAR(top[0], 220, 8);
        EXPECT_NEAR(top[2], 20, 8);
        EXPECT_NEAR(bottom[0], 20, 8);
        EXPECT_NEAR(bottom[2], 220, 8);
    }
}

TEST(JpegEncoder, PictureThatDoesNotFitFailsAndTheNextOneEncodes) {
    JpegEncoder encoder;
    EXPECT_FALSE(encoder.Open(0, 10, 3, 90));
    EXPECT_FALSE(encoder.Open(16, 16, 2, 90));
    ASSERT_TRUE(encoder.Open(kW, kH, 3, 90));
    const int stride = (kW * 3 + 3) & ~3;
    // Noise, which compresses poorly.
    std::vector<uint8_t> dib(static_cast<size_t>(stride) * kH);
    unsigned seed = 7;
    for (uint8_t& b : dib) b = static_cast<uint8_t>((seed = seed * 1103515245u + 12345u) >> 24);
    std::vector<uint8_t> out(64 * 1024);
    EXPECT_EQ(encoder.Encode(dib.data(), stride, true, out.data(), 600), 0u);
    const size_t n = encoder.Encode(dib.data(), stride, false, out.data(), out.size());
    ASSERT_GT(n, 600u);
    AVPixelFormat format = AV_PIX_FMT_NONE;
    const std::vector<uint8_t> jpeg(out.begin(), out.begin() + static_cast<long>(n));
    EXPECT_FALSE(DecodeWithFfmpeg(jpeg, kW, kH, &format).empty());
}

}  // namespace
}  // namespace lumacap::codecs
