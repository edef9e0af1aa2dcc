// JPEG pictures decoded straight into DIB rows: colours in B, G, R order, row order as asked,
// and pictures of another size or none at all told apart.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/system/codecs/Codecs.h"
#include "platform/system/codecs/JpegDecoder.h"

extern "C" {
#include <libavcodec/codec_id.h>
}

namespace lumacap::codecs {
namespace {

constexpr int kW = 64, kH = 48;

// A 4:2:2 JPEG (as cameras send them): brightness rising down the picture, its left half blue
// and its right half red.
std::vector<uint8_t> EncodePicture(int w = kW, int h = kH) {
    std::vector<uint8_t> y(static_cast<size_t>(w) * h), u(static_cast<size_t>(w) / 2 * h),
        v(static_cast<size_t>(w) / 2 * h);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w; ++x) y[row * w + x] = static_cast<uint8_t>(40 + row * 3);
    for (int row = 0; row < h; ++row)
        for (int x = 0; x < w / 2; ++x) {
            const bool left = x < w / 4;
            u[row * w / 2 + x] = left ? 200 : 100;
            v[row * w / 2 + x] = left ? 100 : 200;
        }
    VideoEncoder encoder;
    EXPECT_TRUE(encoder.Open(AV_CODEC_ID_MJPEG, AV_PIX_FMT_YUVJ422P, w, h, 2, 0, 30, 1));
    const uint8_t* planes[4] = {y.data(), u.data(), v.data(), nullptr};
    const int strides[4] = {w, w / 2, w / 2, 0};
    std::vector<uint8_t> out;
    bool key = false;
    EXPECT_TRUE(encoder.Encode(planes, strides, 0, out, &key));
    return out;
}

TEST(JpegDecoder, WritesDibRowsInEitherOrderAndRefusesWhatItCannotRead) {
    const std::vector<uint8_t> jpeg = EncodePicture();
    ASSERT_FALSE(jpeg.empty());
    JpegDecoder decoder;
    for (int bytes : {3, 4}) {
        const int stride = (kW * bytes + 3) & ~3;
        std::vector<uint8_t> dib(static_cast<size_t>(stride) * kH, 0);
        ASSERT_EQ(decoder.Decode(jpeg.data(), jpeg.size(), kW, kH, bytes, true, dib.data(), stride),
                  JpegDecoder::Result::Ok);
        // Bottom-up: the first row in memory is the picture's last, the brightest.
        const uint8_t* bottomLeft = dib.data();
        const uint8_t* topLeft = dib.data() + static_cast<size_t>(kH - 1) * stride;
        const uint8_t* bottomRight = bottomLeft + (kW - 1) * bytes;
        EXPECT_GT(bottomLeft[1], topLeft[1] + 100);
        EXPECT_GT(bottomLeft[0], bottomLeft[2] + 60) << "left half blue";
        EXPECT_GT(bottomRight[2], bottomRight[0] + 60) << "right half red";
        if (bytes == 4) {
            EXPECT_EQ(bottomLeft[3], 0xFF);
        }

        std::vector<uint8_t> topDown(dib.size(), 0);
        ASSERT_EQ(
            decoder.Decode(jpeg.data(), jpeg.size(), kW, kH, bytes, false, topDown.data(), stride),
            JpegDecoder::Result::Ok);
        for (int row = 0; row < kH; ++row)
            EXPECT_EQ(std::memcmp(topDown.data() + static_cast<size_t>(row) * stride,
                                  dib.data() + static_cast<size_t>(kH - 1 - row) * stride,
                                  static_cast<size_t>(kW * bytes)),
                      0);
    }

    std::vector<uint8_t> dib(static_cast<size_t>(kW) * 2 * kH * 2 * 3, 0x5A);
    EXPECT_EQ(decoder.Decode(jpeg.data(), jpeg.size(), kW * 2, kH * 2, 3, true, dib.data(), kW * 6),
              JpegDecoder::Result::WrongSize);
    EXPECT_EQ(dib[0], 0x5A) << "nothing written for the wrong size";
    const std::vector<uint8_t> garbage(500, 0x33);
    EXPECT_EQ(decoder.Decode(garbage.data(), garbage.size(), kW, kH, 3, true, dib.data(), kW * 3),
              JpegDecoder::Result::Failed);
    // A picture cut short in its scan still fills its rows, and the decoder goes on with the
    // next one.
    size_t scan = 0;
    while (scan + 1 < jpeg.size() && !(jpeg[scan] == 0xFF && jpeg[scan + 1] == 0xDA)) ++scan;
    const size_t cut = scan + (jpeg.size() - scan) / 2;
    EXPECT_EQ(decoder.Decode(jpeg.data(), cut, kW, kH, 3, true, dib.data(), kW * 3),
              JpegDecoder::Result::Ok);
    EXPECT_EQ(decoder.Decode(jpeg.data(), jpeg.size(), kW, kH, 3, true, dib.data(), kW * 3),
              JpegDecoder::Result::Ok);
}

// The decoder keeps each picture's working memory for the next: pictures of other sizes (one
// needing more than the first held), taken in turn by one decoder, come out as a fresh decoder
// makes them.
TEST(JpegDecoder, PicturesOfChangingSizesDecodeAsByAFreshDecoder) {
    const std::vector<uint8_t> small = EncodePicture(), wide = EncodePicture(2560, 64);
    ASSERT_FALSE(small.empty());
    ASSERT_FALSE(wide.empty());
    auto decode = [](JpegDecoder& decoder, const std::vector<uint8_t>& jpeg, int w, int h) {
        const int stride = (w * 3 + 3) & ~3;
        std::vector<uint8_t> dib(static_cast<size_t>(stride) * h, 0);
        EXPECT_EQ(decoder.Decode(jpeg.data(), jpeg.size(), w, h, 3, true, dib.data(), stride),
                  JpegDecoder::Result::Ok);
        return dib;
    };
    JpegDecoder kept;
    for (int round = 0; round < 2; ++round) {
        JpegDecoder fresh1, fresh2;
        EXPECT_EQ(decode(kept, small, kW, kH), decode(fresh1, small, kW, kH));
        EXPECT_EQ(decode(kept, wide, 2560, 64), decode(fresh2, wide, 2560, 64));
    }
}

}  // namespace
}  // namespace lumacap::codecs
