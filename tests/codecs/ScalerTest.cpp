// The platform's pixel conversion: packed 4:2:2 camera frames to RGB, which it takes through
// planar 4:2:2, must give the picture libswscale's one-step conversion gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "platform/system/codecs/Codecs.h"

extern "C" {
#include <libswscale/swscale.h>
}

namespace lumacap::test {
namespace {

TEST(Scaler, PackedYuv422ToRgbMatchesLibswscalesOneStepConversion) {
    codecs::InitFfmpeg();
    constexpr int kWidth = 96, kHeight = 20;
    // Smooth gradients with a sharp edge, in YUYV or UYVY order.
    std::vector<uint8_t> yuyv(static_cast<size_t>(kWidth) * kHeight * 2);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; x += 2) {
            uint8_t* p = &yuyv[static_cast<size_t>(y * kWidth + x) * 2];
            const int luma = x < kWidth / 2 ? 30 + x * 2 : 220 - y * 3;
            p[0] = static_cast<uint8_t>(luma);
            p[1] = static_cast<uint8_t>(60 + y * 6);
            p[2] = static_cast<uint8_t>(luma + 1);
            p[3] = static_cast<uint8_t>(200 - x);
        }
    std::vector<uint8_t> uyvy(yuyv.size());
    for (size_t i = 0; i < yuyv.size(); i += 2) {
        uyvy[i] = yuyv[i + 1];
        uyvy[i + 1] = yuyv[i];
    }
    for (AVPixelFormat src : {AV_PIX_FMT_YUYV422, AV_PIX_FMT_UYVY422})
        for (AVPixelFormat dst : {AV_PIX_FMT_BGR24, AV_PIX_FMT_BGRA}) {
            SCOPED_TRACE(std::string(codecs::PixelFormatName(src)) + " -> " +
                         codecs::PixelFormatName(dst));
            std::vector<uint8_t>& in = src == AV_PIX_FMT_YUYV422 ? yuyv : uyvy;
            const size_t size = codecs::BufferSize(dst, kWidth, kHeight);
            std::vector<uint8_t> ours(size, 0), theirs(size, 0);
            uint8_t* srcPlanes[4];
            int srcStrides[4];
            ASSERT_TRUE(codecs::DescribeBuffer(src, kWidth, kHeight, false, in.data(), srcPlanes,
                                               srcStrides));
            uint8_t* oursPlanes[4];
            uint8_t* theirsPlanes[4];
            int dstStrides[4];
            // Bottom-up, as DIBs are: the planes start at the last row with a negative stride.
            ASSERT_TRUE(codecs::DescribeBuffer(dst, kWidth, kHeight, true, ours.data(), oursPlanes,
                                               dstStrides));
            ASSERT_TRUE(codecs::DescribeBuffer(dst, kWidth, kHeight, true, theirs.data(),
                                               theirsPlanes, dstStrides));
            codecs::Scaler scaler;
            // Twice, so the kept contexts and planes are used again.
            for (int round = 0; round < 2; ++round)
                ASSERT_TRUE(scaler.Convert(src, kWidth, kHeight, srcPlanes, srcStrides, dst, kWidth,
                                           kHeight, oursPlanes, dstStrides));
            SwsContext* sws = sws_getContext(kWidth, kHeight, src, kWidth, kHeight, dst,
                                             codecs::kScaleFlags, nullptr, nullptr, nullptr);
            ASSERT_NE(sws, nullptr);
            sws_scale(sws, srcPlanes, srcStrides, 0, kHeight, theirsPlanes, dstStrides);
            sws_freeContext(sws);
            int worst = 0;
            for (size_t i = 0; i < size; ++i)
                worst = std::max(worst, std::abs(int{ours[i]} - int{theirs[i]}));
            EXPECT_LE(worst, 3);
        }
}

}  // namespace
}  // namespace lumacap::test
