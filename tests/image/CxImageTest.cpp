// CxImage: buffer layout, depths and palettes, the memory limit, filling from pixels, destroying.
#include <cstring>
#include <vector>

#include "common/SimTest.h"
#include "image/ximage.h"

namespace lumacap::test {
namespace {

class CxImageTest : public SimTest {};

TEST_F(CxImageTest, CreateLaysOutAPackedDib) {
    CxImage image;
    EXPECT_EQ(image.GetBlock(), nullptr);
    auto* block = static_cast<BYTE*>(image.Create(640, 480, 24));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(image.GetInfo().dwRowBytes, 1920u);
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(block);
    EXPECT_EQ(header->biSize, 40u);
    EXPECT_EQ(header->biWidth, 640);
    EXPECT_EQ(header->biHeight, 480);
    EXPECT_EQ(header->biPlanes, 1);
    EXPECT_EQ(header->biBitCount, 24);
    EXPECT_EQ(header->biCompression, static_cast<DWORD>(BI_RGB));
    EXPECT_EQ(header->biSizeImage, 921600u);
    EXPECT_EQ(header->biXPelsPerMeter, 3780);
    EXPECT_EQ(header->biYPelsPerMeter, 3780);
    EXPECT_EQ(header->biClrUsed, 0u);
    EXPECT_EQ(image.GetInfo().pFirstRow, block + 40);
    // The whole block is addressable: write its last byte.
    block[40 + 921600 - 1] = 0xAB;

    ASSERT_NE(image.Create(641, 480, 24), nullptr);
    EXPECT_EQ(image.GetInfo().dwRowBytes, 1924u);
}

TEST_F(CxImageTest, DepthsAreNormalisedWithPalettes) {
    CxImage image;
    struct {
        DWORD requested, depth, colours;
    } cases[] = {{0, 1, 2},   {1, 1, 2},   {3, 4, 16},  {4, 4, 16},
                 {5, 8, 256}, {8, 8, 256}, {16, 24, 0}, {32, 24, 0}};
    for (const auto& c : cases) {
        auto* block = static_cast<BYTE*>(image.Create(10, 3, c.requested));
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(image.GetHeader().biBitCount, c.depth) << c.requested;
        EXPECT_EQ(image.GetHeader().biClrUsed, c.colours) << c.requested;
        EXPECT_EQ(image.GetInfo().pFirstRow, block + 40 + c.colours * 4);
        for (DWORD i = 0; i < c.colours * 4; ++i)
            ASSERT_EQ(block[40 + i], 0) << "palette must start black";
    }
}

TEST_F(CxImageTest, MemoryLimitIsComputedExactly) {
    CxImage image;
    EXPECT_NE(image.Create(16384, 5461, 24), nullptr) << image.GetLastError();
    EXPECT_EQ(image.Create(16384, 5462, 24), nullptr);
    EXPECT_STREQ(image.GetLastError(), "CXIMAGE_MAX_MEMORY exceeded");
    EXPECT_EQ(image.GetBlock(), nullptr) << "a failed Create leaves the image empty";
    EXPECT_EQ(image.Create(65536, 65536, 24), nullptr) << "the product must not wrap around";
    EXPECT_STREQ(image.GetLastError(), "CXIMAGE_MAX_MEMORY exceeded");
    EXPECT_EQ(image.Create(0xFFFFFFFF, 0xFFFFFFFF, 32), nullptr);

    ASSERT_NE(image.Create(4, 4, 24), nullptr);
    EXPECT_EQ(image.Create(0, 480, 24), nullptr);
    EXPECT_STREQ(image.GetLastError(),
                 "CxImage::Create : width and height must be greater than zero");
    EXPECT_EQ(image.GetBlock(), nullptr) << "the earlier block is gone";
    EXPECT_EQ(image.Create(480, 0, 24), nullptr);
}

TEST_F(CxImageTest, CreateFromPixelsCopiesRowsOptionallyFlipped) {
    const DWORD w = 3, h = 2, stride = 12;
    std::vector<BYTE> src(stride * h);
    for (size_t i = 0; i < src.size(); ++i) src[i] = static_cast<BYTE>(i + 1);
    CxImage image;
    ASSERT_TRUE(image.CreateFromPixels(src.data(), w, h, 24, stride, false));
    const BYTE* rows = image.GetInfo().pFirstRow;
    EXPECT_EQ(std::memcmp(rows, src.data(), src.size()), 0);
    const void* block = image.GetBlock();
    ASSERT_TRUE(image.CreateFromPixels(src.data(), w, h, 24, stride, true));
    EXPECT_EQ(image.GetBlock(), block) << "a picture of the same size is copied over the old";
    rows = image.GetInfo().pFirstRow;
    EXPECT_EQ(std::memcmp(rows + stride, src.data(), stride), 0) << "source row 0 lands last";
    EXPECT_EQ(std::memcmp(rows, src.data() + stride, stride), 0);

    // A narrower source row fills only its own bytes.
    ASSERT_TRUE(image.CreateFromPixels(src.data(), 4, 1, 24, 9, false));
    EXPECT_EQ(std::memcmp(image.GetInfo().pFirstRow, src.data(), 9), 0);
    EXPECT_EQ(image.GetWidth(), 4u);
    EXPECT_EQ(image.GetHeader().biSizeImage, 12u) << "another size gets a block of its own";

    EXPECT_FALSE(image.CreateFromPixels(nullptr, w, h, 24, stride, false));
    EXPECT_NE(image.GetBlock(), nullptr) << "a null source leaves the image as it was";
    EXPECT_FALSE(image.CreateFromPixels(src.data(), w, h, 8, stride, false))
        << "only 24-bit pixels are copied in";
}

TEST_F(CxImageTest, DestroyKeepsTheHeader) {
    CxImage image;
    ASSERT_NE(image.Create(320, 240, 24), nullptr);
    EXPECT_TRUE(image.Destroy());
    EXPECT_EQ(image.GetBlock(), nullptr);
    EXPECT_EQ(image.GetWidth(), 320u);
    EXPECT_EQ(image.GetHeight(), 240u);
    EXPECT_TRUE(image.Destroy());
}

}  // namespace
}  // namespace lumacap::test
