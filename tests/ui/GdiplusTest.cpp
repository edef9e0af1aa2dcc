// GDI+: start-up, bitmaps wrapping the caller's bits, exact same-size copies, clipping, and the
// quality of the high-quality bicubic scaler against libswscale on the same picture.
#include <cmath>
#include <random>
#include <thread>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "platform/system/ui/Resample.h"
#include "common/UiTest.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace lumacap::test {
namespace {

class GdiplusTest : public UiTest {
protected:
    void SetUp() override {
        UiTest::SetUp();
        GdiplusStartupInput input;
        ASSERT_EQ(GdiplusStartup(&m_token, &input, nullptr), Ok);
    }
    void TearDown() override {
        GdiplusShutdown(m_token);
        ui::SetResampleVectorPathAllowed(true);
        ui::SetResampleSplitMinimum(ui::kDefaultResampleSplitMinimum);
        UiTest::TearDown();
    }
    ULONG_PTR m_token = 0;
};

// A 24-bit bottom-up frame as the library handles them.
struct Frame {
    int width, height, stride;
    std::vector<uint8_t> bits;
    BITMAPINFO info{};
    Frame(int w, int h)
        : width(w),
          height(h),
          stride(GDI_WIDTHBYTES(w * 24)),
          bits(static_cast<size_t>(stride) * h) {
        info.bmiHeader =
            BITMAPINFOHEADER{40, w, h, 1, 24, BI_RGB, static_cast<DWORD>(stride * h), 0, 0, 0, 0};
    }
    // Pixel (x, y) counted from the top.
    uint8_t* At(int x, int y) {
        return &bits[static_cast<size_t>(height - 1 - y) * stride + x * 3];
    }
};

// Natural-looking content: smooth shading, soft blobs, a few hard edges and fine texture, so both
// smooth areas and detail count in the comparison.
Frame NaturalPicture(int w, int h) {
    Frame f(w, h);
    std::mt19937 rng(7);
    std::normal_distribution<double> grain(0.0, 3.0);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double u = static_cast<double>(x) / w, v = static_cast<double>(y) / h;
            double r = 120 + 80 * std::sin(u * 5.1 + v * 2.3) + 30 * std::cos(v * 9.7);
            double g = 110 + 70 * std::cos(u * 3.7 - v * 4.1) + 25 * std::sin((u + v) * 13.0);
            double b = 100 + 60 * std::sin(v * 6.3 + 1.0) + 40 * std::cos(u * 7.9 * v);
            const double dx = u - 0.62, dy = v - 0.4;
            if (dx * dx + dy * dy < 0.02) r = 220, g = 190, b = 60;  // a hard-edged disc
            if (x > w * 0.15 && x < w * 0.3 && y > h * 0.55 && y < h * 0.8) r = 30, g = 60, b = 140;
            uint8_t* p = f.At(x, y);
            p[0] = static_cast<uint8_t>(std::clamp(b + grain(rng), 0.0, 255.0));
            p[1] = static_cast<uint8_t>(std::clamp(g + grain(rng), 0.0, 255.0));
            p[2] = static_cast<uint8_t>(std::clamp(r + grain(rng), 0.0, 255.0));
        }
    }
    return f;
}

// Scales with GDI+ high-quality bicubic into a 24-bit bottom-up frame.
Frame ScaleWithGdiplus(Frame& src, int w, int h,
                       InterpolationMode mode = InterpolationModeHighQualityBicubic) {
    Frame dst(w, h);
    GpBitmap* in = nullptr;
    GpBitmap* out = nullptr;
    GpGraphics* g = nullptr;
    EXPECT_EQ(GdipCreateBitmapFromGdiDib(&src.info, src.bits.data(), &in), Ok);
    EXPECT_EQ(GdipCreateBitmapFromGdiDib(&dst.info, dst.bits.data(), &out), Ok);
    EXPECT_EQ(GdipGetImageGraphicsContext(out, &g), Ok);
    EXPECT_EQ(GdipSetInterpolationMode(g, mode), Ok);
    EXPECT_EQ(GdipDrawImageRectRectI(g, in, 0, 0, w, h, 0, 0, src.width, src.height, UnitPixel,
                                     nullptr, nullptr, nullptr),
              Ok);
    GdipDeleteGraphics(g);
    GdipDisposeImage(out);
    GdipDisposeImage(in);
    return dst;
}

// The reference: libswscale's bicubic on planar RGB (no colour-space round trip), same job.
Frame ScaleWithSwscale(Frame& src, int w, int h) {
    const int sw = src.width, sh = src.height;
    std::vector<uint8_t> planes[3], outPlanes[3];
    for (int c = 0; c < 3; ++c) {
        planes[c].resize(static_cast<size_t>(sw) * sh);
        outPlanes[c].resize(static_cast<size_t>(w) * h);
    }
    // GBRP plane order: G, B, R.
    const int chan[3] = {1, 0, 2};
    for (int y = 0; y < sh; ++y)
        for (int x = 0; x < sw; ++x)
            for (int c = 0; c < 3; ++c)
                planes[c][static_cast<size_t>(y) * sw + x] = src.At(x, y)[chan[c]];
    SwsContext* ctx = sws_getContext(sw, sh, AV_PIX_FMT_GBRP, w, h, AV_PIX_FMT_GBRP,
                                     SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                     nullptr, nullptr);
    EXPECT_NE(ctx, nullptr);
    const uint8_t* in[4] = {planes[0].data(), planes[1].data(), planes[2].data(), nullptr};
    const int inStride[4] = {sw, sw, sw, 0};
    uint8_t* out[4] = {outPlanes[0].data(), outPlanes[1].data(), outPlanes[2].data(), nullptr};
    const int outStride[4] = {w, w, w, 0};
    sws_scale(ctx, in, inStride, 0, sh, out, outStride);
    sws_freeContext(ctx);
    Frame dst(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                dst.At(x, y)[chan[c]] = outPlanes[c][static_cast<size_t>(y) * w + x];
    return dst;
}

double FramePsnr(Frame& a, Frame& b) {
    std::vector<uint8_t> pa, pb;
    for (int y = 0; y < a.height; ++y) {
        pa.insert(pa.end(), a.At(0, y), a.At(0, y) + a.width * 3);
        pb.insert(pb.end(), b.At(0, y), b.At(0, y) + b.width * 3);
    }
    return Psnr(pa.data(), pb.data(), pa.size());
}

TEST(GdiplusStartupTest, NothingWorksBeforeStartUpAndTokensAreCounted) {
    BITMAPINFO info{};
    info.bmiHeader = BITMAPINFOHEADER{40, 2, 2, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    uint8_t bits[16] = {};
    GpBitmap* b = nullptr;
    EXPECT_EQ(GdipCreateBitmapFromGdiDib(&info, bits, &b), GdiplusNotInitialized);
    GdiplusStartupInput input;
    ULONG_PTR t1 = 0, t2 = 0;
    ASSERT_EQ(GdiplusStartup(&t1, &input, nullptr), Ok);
    ASSERT_EQ(GdiplusStartup(&t2, &input, nullptr), Ok);
    EXPECT_NE(t1, t2);
    GdiplusShutdown(t1);
    EXPECT_EQ(GdipCreateBitmapFromGdiDib(&info, bits, &b), Ok);  // one start-up still holds
    EXPECT_EQ(GdipDisposeImage(b), Ok);
    EXPECT_EQ(GdipDisposeImage(b), InvalidParameter);
    GdiplusShutdown(t2);
    EXPECT_EQ(GdipCreateBitmapFromGdiDib(&info, bits, &b), GdiplusNotInitialized);
    GdiplusStartupInput v2;
    v2.GdiplusVersion = 2;
    EXPECT_EQ(GdiplusStartup(&t1, &v2, nullptr), UnsupportedGdiplusVersion);
    EXPECT_EQ(t1, 0u);
}

TEST_F(GdiplusTest, DrawingIntoABitmapOverADibWritesTheCallersBottomUpRows) {
    Frame src(2, 2);
    src.At(0, 0)[2] = 255;  // top-left red
    src.At(1, 1)[0] = 255;  // bottom-right blue
    Frame dst(4, 4);
    GpBitmap* in = nullptr;
    GpBitmap* out = nullptr;
    GpGraphics* g = nullptr;
    ASSERT_EQ(GdipCreateBitmapFromGdiDib(&src.info, src.bits.data(), &in), Ok);
    ASSERT_EQ(GdipCreateBitmapFromGdiDib(&dst.info, dst.bits.data(), &out), Ok);
    UINT w = 0, h = 0;
    GdipGetImageWidth(out, &w);
    GdipGetImageHeight(out, &h);
    EXPECT_EQ(w, 4u);
    EXPECT_EQ(h, 4u);
    ASSERT_EQ(GdipGetImageGraphicsContext(out, &g), Ok);
    ASSERT_EQ(GdipSetInterpolationMode(g, InterpolationModeNearestNeighbor), Ok);
    ASSERT_EQ(GdipDrawImageRectI(g, in, 2, 0, 2, 2), Ok);
    // The caller's own buffer changed: the last row in memory is the picture's top.
    EXPECT_EQ(dst.At(2, 0)[2], 255);
    EXPECT_EQ(dst.bits[static_cast<size_t>(3) * dst.stride + 2 * 3 + 2], 255);
    EXPECT_EQ(dst.At(3, 1)[0], 255);
    EXPECT_EQ(dst.At(0, 0)[2], 0);
    ARGB px = 0;
    ASSERT_EQ(GdipBitmapGetPixel(out, 2, 0, &px), Ok);
    EXPECT_EQ(px, 0xFFFF0000u);
    // Bad input is refused clearly.
    EXPECT_EQ(
        GdipDrawImageRectRectI(g, in, 0, 0, 2, 2, 1, 1, 2, 2, UnitPixel, nullptr, nullptr, nullptr),
        InvalidParameter);
    EXPECT_EQ(
        GdipDrawImageRectRectI(g, in, 0, 0, 2, 2, 0, 0, 2, 2, UnitInch, nullptr, nullptr, nullptr),
        NotImplemented);
    EXPECT_EQ(GdipSetInterpolationMode(g, static_cast<InterpolationMode>(9)), InvalidParameter);
    EXPECT_EQ(GdipDrawImageRectI(reinterpret_cast<GpGraphics*>(&w), in, 0, 0, 1, 1),
              InvalidParameter);
    GdipDeleteGraphics(g);
    GdipDisposeImage(out);
    GdipDisposeImage(in);
}

TEST_F(GdiplusTest, SameSizeCopiesAreExactAndClippedDrawsMatchUnclippedOnes) {
    Frame src = NaturalPicture(97, 61);
    for (InterpolationMode mode :
         {InterpolationModeHighQualityBicubic, InterpolationModeBilinear}) {
        Frame copy = ScaleWithGdiplus(src, 97, 61, mode);
        EXPECT_EQ(copy.bits, src.bits);
    }
    // Into a device context through its window origin: device (0, 0) is logical (50, 50).
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, 60, 40);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(mem, bmp);
    SetWindowOrgEx(mem, 50, 50, nullptr);
    GpGraphics* g = nullptr;
    GpBitmap* in = nullptr;
    ASSERT_EQ(GdipCreateFromHDC(mem, &g), Ok);
    ASSERT_EQ(GdipCreateBitmapFromGdiDib(&src.info, src.bits.data(), &in), Ok);
    ASSERT_EQ(GdipSetInterpolationMode(g, InterpolationModeHighQualityBicubic), Ok);
    // Destination 200 x 120 at logical (10, 20): mostly outside the 60 x 40 bitmap.
    ASSERT_EQ(GdipDrawImageRectI(g, in, 10, 20, 200, 120), Ok);
    GdipDeleteGraphics(g);
    GdipDisposeImage(in);
    Frame whole = ScaleWithGdiplus(src, 200, 120);
    SetWindowOrgEx(mem, 0, 0, nullptr);
    int mismatches = 0;
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 60; ++x) {
            const COLORREF c = GetPixel(mem, x, y);
            const uint8_t* p = whole.At(x + 40, y + 30);  // device (x, y) is logical (x+50, y+50)
            if (c != RGB(p[2], p[1], p[0])) ++mismatches;
        }
    EXPECT_EQ(mismatches, 0);
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
}

TEST_F(GdiplusTest, HighQualityBicubicMatchesLibswscaleOnNaturalContent) {
    struct Job {
        int sw, sh, dw, dh;
    };
    for (const Job& j : {Job{1920, 1080, 1280, 720}, Job{640, 480, 1920, 1080},
                         Job{1280, 720, 320, 240}, Job{640, 480, 800, 600}}) {
        Frame src = NaturalPicture(j.sw, j.sh);
        Frame ours = ScaleWithGdiplus(src, j.dw, j.dh);
        Frame ref = ScaleWithSwscale(src, j.dw, j.dh);
        const double psnr = FramePsnr(ours, ref);
        RecordProperty(std::to_string(j.sw) + "x" + std::to_string(j.sh) + "_to_" +
                           std::to_string(j.dw) + "x" + std::to_string(j.dh) + "_psnr",
                       std::to_string(psnr));
        EXPECT_GT(psnr, 35.0) << j.sw << "x" << j.sh << " -> " << j.dw << "x" << j.dh;
    }
}

TEST_F(GdiplusTest, ReductionsAreFilteredAndTheVectorPathMatchesThePortableOne) {
    // A one-pixel checkerboard reduced three times: filtered, it becomes an even grey; a kernel
    // that does not widen with the reduction aliases it.
    Frame checker(255, 255);
    for (int y = 0; y < 255; ++y)
        for (int x = 0; x < 255; ++x) std::memset(checker.At(x, y), ((x + y) % 2) ? 255 : 0, 3);
    auto spread = [](Frame& f) {
        int lo = 255, hi = 0;
        for (int y = 2; y < f.height - 2; ++y)
            for (int x = 2; x < f.width - 2; ++x) {
                lo = std::min<int>(lo, f.At(x, y)[1]);
                hi = std::max<int>(hi, f.At(x, y)[1]);
            }
        return hi - lo;
    };
    Frame filtered = ScaleWithGdiplus(checker, 85, 85, InterpolationModeHighQualityBicubic);
    Frame aliased = ScaleWithGdiplus(checker, 85, 85, InterpolationModeBicubic);
    EXPECT_LE(spread(filtered), 2);
    EXPECT_GE(spread(aliased), 64);
    EXPECT_NEAR(filtered.At(30, 30)[1], 128, 2);

    // A flat field stays exactly flat at any scale.
    Frame flat(173, 91);
    for (int y = 0; y < 91; ++y)
        for (int x = 0; x < 173; ++x) {
            flat.At(x, y)[0] = 17;
            flat.At(x, y)[1] = 200;
            flat.At(x, y)[2] = 200;
        }
    Frame up = ScaleWithGdiplus(flat, 419, 233);
    Frame down = ScaleWithGdiplus(flat, 51, 29);
    EXPECT_EQ(up.At(200, 100)[0], 17);
    EXPECT_EQ(up.At(0, 0)[1], 200);
    EXPECT_EQ(down.At(50, 28)[2], 200);

    if (!ui::ResampleVectorPathAvailable()) GTEST_SKIP() << "no vector path on this processor";
    Frame src = NaturalPicture(333, 211);
    Frame vec1 = ScaleWithGdiplus(src, 518, 143);
    Frame vec2 = ScaleWithGdiplus(src, 101, 377);
    ui::SetResampleVectorPathAllowed(false);
    Frame port1 = ScaleWithGdiplus(src, 518, 143);
    Frame port2 = ScaleWithGdiplus(src, 101, 377);
    EXPECT_EQ(vec1.bits, port1.bits);
    EXPECT_EQ(vec2.bits, port2.bits);
}

TEST_F(GdiplusTest, ScalesSharedWithTheHelperThreadMatchOneThreadEvenWithSeveralCallers) {
    // A reduction (columns filtered first) and an enlargement (rows first), each cut into bands.
    Frame src = NaturalPicture(640, 360);
    ui::SetResampleSplitMinimum(0);
    const Frame down = ScaleWithGdiplus(src, 479, 201);
    const Frame up = ScaleWithGdiplus(src, 1001, 563);
    ui::SetResampleSplitMinimum(1);
    // Three callers at once: one is served by the helper, the others work alone meanwhile.
    std::vector<std::thread> callers;
    std::atomic<int> mismatches{0};
    for (int t = 0; t < 3; ++t)
        callers.emplace_back([&] {
            for (int i = 0; i < 4; ++i) {
                if (ScaleWithGdiplus(src, 479, 201).bits != down.bits) ++mismatches;
                if (ScaleWithGdiplus(src, 1001, 563).bits != up.bits) ++mismatches;
            }
        });
    for (std::thread& t : callers) t.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace lumacap::test
