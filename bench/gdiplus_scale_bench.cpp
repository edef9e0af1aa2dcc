// High-quality bicubic scaling through GdipDrawImageRectRectI against libswscale's SWS_BICUBIC on
// the same jobs: 24-bit BGR in, 24-bit BGR out. "Lumacap" shares large scales with the scaler's
// helper thread, as drawing does by default; "LumacapOneThread" keeps them on the calling thread;
// libswscale runs single-threaded. Wall time, with the whole process's CPU time beside it.
// scale_compare.py prints the ratios.
#include <benchmark/benchmark.h>
#include <gdiplus.h>

#include <cstdint>
#include <vector>

#include "platform/system/ui/Resample.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

struct Picture {
    int width, height, stride;
    std::vector<uint8_t> bits;
    BITMAPINFO info{};
    Picture(int w, int h)
        : width(w),
          height(h),
          stride(GDI_WIDTHBYTES(w * 24)),
          bits(static_cast<size_t>(stride) * h) {
        info.bmiHeader =
            BITMAPINFOHEADER{40, w, h, 1, 24, BI_RGB, static_cast<DWORD>(stride * h), 0, 0, 0, 0};
        uint32_t seed = 12345;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w * 3; ++x) {
                seed = seed * 1103515245u + 12345u;
                bits[static_cast<size_t>(y) * stride + x] =
                    static_cast<uint8_t>((x / 3 + y + (seed >> 28)) & 0xFF);
            }
    }
};

struct GdiplusSession {
    ULONG_PTR token = 0;
    GdiplusSession() {
        GdiplusStartupInput input;
        GdiplusStartup(&token, &input, nullptr);
    }
    ~GdiplusSession() { GdiplusShutdown(token); }
};

void Lumacap(benchmark::State& state, int sw, int sh, int dw, int dh) {
    GdiplusSession session;
    Picture src(sw, sh), dst(dw, dh);
    GpBitmap* in = nullptr;
    GpBitmap* out = nullptr;
    GpGraphics* g = nullptr;
    GdipCreateBitmapFromGdiDib(&src.info, src.bits.data(), &in);
    GdipCreateBitmapFromGdiDib(&dst.info, dst.bits.data(), &out);
    GdipGetImageGraphicsContext(out, &g);
    GdipSetInterpolationMode(g, InterpolationModeHighQualityBicubic);
    for (auto _ : state) {
        if (GdipDrawImageRectRectI(g, in, 0, 0, dw, dh, 0, 0, sw, sh, UnitPixel, nullptr, nullptr,
                                   nullptr) != Ok)
            state.SkipWithError("GdipDrawImageRectRectI failed");
        benchmark::DoNotOptimize(dst.bits.data());
    }
    GdipDeleteGraphics(g);
    GdipDisposeImage(out);
    GdipDisposeImage(in);
    state.SetItemsProcessed(state.iterations());
}

void LumacapOneThread(benchmark::State& state, int sw, int sh, int dw, int dh) {
    const long previous = lumacap::ui::SetResampleSplitMinimum(0);
    Lumacap(state, sw, sh, dw, dh);
    lumacap::ui::SetResampleSplitMinimum(previous);
}

void Swscale(benchmark::State& state, int sw, int sh, int dw, int dh) {
    Picture src(sw, sh), dst(dw, dh);
    SwsContext* ctx = sws_getContext(sw, sh, AV_PIX_FMT_BGR24, dw, dh, AV_PIX_FMT_BGR24,
                                     SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!ctx) {
        state.SkipWithError("sws_getContext failed");
        return;
    }
    // Bottom-up rows, as the frames are: start at the last row and walk backwards.
    const uint8_t* in[4] = {src.bits.data() + static_cast<size_t>(sh - 1) * src.stride, nullptr,
                            nullptr, nullptr};
    const int inStride[4] = {-src.stride, 0, 0, 0};
    uint8_t* out[4] = {dst.bits.data() + static_cast<size_t>(dh - 1) * dst.stride, nullptr, nullptr,
                       nullptr};
    const int outStride[4] = {-dst.stride, 0, 0, 0};
    for (auto _ : state) {
        sws_scale(ctx, in, inStride, 0, sh, out, outStride);
        benchmark::DoNotOptimize(dst.bits.data());
    }
    sws_freeContext(ctx);
    state.SetItemsProcessed(state.iterations());
}

#define LUMACAP_SCALE_BENCH(job, sw, sh, dw, dh)             \
    BENCHMARK_CAPTURE(Lumacap, job, sw, sh, dw, dh)          \
        ->Unit(benchmark::kMillisecond)                      \
        ->UseRealTime()                                      \
        ->MeasureProcessCPUTime();                           \
    BENCHMARK_CAPTURE(LumacapOneThread, job, sw, sh, dw, dh) \
        ->Unit(benchmark::kMillisecond)                      \
        ->UseRealTime()                                      \
        ->MeasureProcessCPUTime();                           \
    BENCHMARK_CAPTURE(Swscale, job, sw, sh, dw, dh)          \
        ->Unit(benchmark::kMillisecond)                      \
        ->UseRealTime()                                      \
        ->MeasureProcessCPUTime()

LUMACAP_SCALE_BENCH(1920x1080_to_1280x720, 1920, 1080, 1280, 720);
LUMACAP_SCALE_BENCH(640x480_to_1920x1080, 640, 480, 1920, 1080);
LUMACAP_SCALE_BENCH(1280x720_to_320x240, 1280, 720, 320, 240);
LUMACAP_SCALE_BENCH(1280x720_to_960x540, 1280, 720, 960, 540);
LUMACAP_SCALE_BENCH(640x480_to_320x240, 640, 480, 320, 240);
LUMACAP_SCALE_BENCH(320x240_to_256x192, 320, 240, 256, 192);

}  // namespace

BENCHMARK_MAIN();
