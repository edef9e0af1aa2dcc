// Composing one 1920x1080 recording frame from two 1280x720 cameras and two 800x600 windows, each
// in a quarter of the frame, against the same four bicubic scale jobs done by libswscale:
// 1280x720 BGR24 -> 960x540 twice (cameras) and 800x600 BGRA -> 720x540 twice (window captures
// fitted with their shape kept). composition_compare.py prints the ratios.
//
// Each composition is measured twice in the same run: with large scales shared between the
// calling thread and the scaler's helper thread (as a recording does it; the "Lumacap" family)
// and on the calling thread alone ("LumacapOneThread"). libswscale is measured single-threaded
// ("Swscale", the reference of the goal) and with two slice threads of its own
// ("SwscaleThreads", sws_scale_frame with its "threads" option). Times are wall time; the CPU
// time reported is the whole process's, so the helper thread's share counts.
//
// Also: a 1280x720 frame from the whole 1920x1080 screen, composed on a thread of its own as the
// recording's streaming thread does it (full-screen buffers that come and go there are what a
// recording pays for), against libswscale scaling a 1920x1080 BGRA picture to 1280x720 BGR24 on
// such a thread.
#include <benchmark/benchmark.h>
#include <gdiplus.h>
#include <lumacap/lumacap.h>

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "AllocationCount.h"
#include "common/TestAccess.h"
#include "platform/system/ui/Resample.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

size_t Stride(int width) {
    return static_cast<size_t>(GDI_WIDTHBYTES(width * 24));
}

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        bytes[i] = static_cast<uint8_t>((i / 3 + (seed >> 28)) & 0xFF);
    }
    return bytes;
}

// A camera's latest frame as the platform's grabber lends it (GetCurrentSample): the frame itself,
// by reference. Copying it out (GetCurrentBuffer) costs the copy a real grabber's does.
class LentFrame : public IMediaSample {
public:
    explicit LentFrame(std::vector<uint8_t>& bytes) : m_bytes(bytes) {}
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetPointer(BYTE** pp) override {
        *pp = m_bytes.data();
        return S_OK;
    }
    STDMETHODIMP_(long) GetSize() override { return static_cast<long>(m_bytes.size()); }
    STDMETHODIMP GetTime(REFERENCE_TIME*, REFERENCE_TIME*) override {
        return VFW_E_SAMPLE_TIME_NOT_SET;
    }
    STDMETHODIMP SetTime(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
    STDMETHODIMP IsSyncPoint() override { return S_OK; }
    STDMETHODIMP SetSyncPoint(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP IsPreroll() override { return S_FALSE; }
    STDMETHODIMP SetPreroll(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP_(long) GetActualDataLength() override { return GetSize(); }
    STDMETHODIMP SetActualDataLength(long) override { return E_NOTIMPL; }
    STDMETHODIMP GetMediaType(AM_MEDIA_TYPE** pp) override {
        *pp = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP SetMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP IsDiscontinuity() override { return S_FALSE; }
    STDMETHODIMP SetDiscontinuity(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP GetMediaTime(LONGLONG*, LONGLONG*) override { return VFW_E_MEDIA_TIME_NOT_SET; }
    STDMETHODIMP SetMediaTime(LONGLONG*, LONGLONG*) override { return E_NOTIMPL; }

private:
    std::vector<uint8_t>& m_bytes;
};

// A camera's grabber holding one 1280x720 frame.
class FrameGrabber : public ISampleGrabber {
public:
    explicit FrameGrabber(uint32_t seed) : frame(Pattern(Stride(1280) * 720, seed)), lent(frame) {}
    STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SetOneShot(BOOL) override { return S_OK; }
    STDMETHODIMP SetMediaType(const AM_MEDIA_TYPE*) override { return S_OK; }
    STDMETHODIMP GetConnectedMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    STDMETHODIMP SetBufferSamples(BOOL) override { return S_OK; }
    STDMETHODIMP GetCurrentBuffer(long* size, long* buffer) override {
        if (!buffer) {
            *size = static_cast<long>(frame.size());
            return S_OK;
        }
        std::memcpy(buffer, frame.data(), frame.size());
        return S_OK;
    }
    STDMETHODIMP GetCurrentSample(IMediaSample** pp) override {
        *pp = &lent;
        return S_OK;
    }
    STDMETHODIMP SetCallback(ISampleGrabberCB*, long) override { return S_OK; }
    std::vector<uint8_t> frame;
    LentFrame lent;
};

struct Camera {
    CDXCamera camera;
    FrameGrabber grabber;
    explicit Camera(uint32_t seed) : grabber(seed) {
        CDXCameraTestAccess::VideoInfo(camera) = {{1280, 720, 2}};
        CDXCameraTestAccess::ResolutionIndex(camera) = 0;
        CDXCameraTestAccess::SampleGrabber(camera) = &grabber;
        CDXCameraTestAccess::Status(camera) = 3;
    }
    ~Camera() {
        CDXCameraTestAccess::Status(camera) = 0;
        CDXCameraTestAccess::SampleGrabber(camera) = nullptr;
    }
};

HWND PaintedWindow(int x, int y, COLORREF a, COLORREF b) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "CompositionBench";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, "CompositionBench", "bench", WS_POPUP | WS_VISIBLE, x, y, 800,
                                600, nullptr, nullptr, nullptr, nullptr);
    HDC dc = GetDC(hwnd);
    for (int i = 0; i < 20; ++i) {
        RECT band{0, i * 30, 800, i * 30 + 30};
        HBRUSH brush = CreateSolidBrush(i % 2 ? a : b);
        FillRect(dc, &band, brush);
        DeleteObject(brush);
    }
    ReleaseDC(hwnd, dc);
    return hwnd;
}

// Keeps large scales on the calling thread while it lives.
struct OneThread {
    long previous = lumacap::ui::SetResampleSplitMinimum(0);
    ~OneThread() { lumacap::ui::SetResampleSplitMinimum(previous); }
};

void Lumacap(benchmark::State& state) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    Camera a(1), b(2);
    HWND w1 = PaintedWindow(0, 0, RGB(200, 30, 30), RGB(20, 20, 220));
    HWND w2 = PaintedWindow(900, 300, RGB(30, 200, 30), RGB(240, 240, 240));
    CDXRecorder recorder;
    recorder.SetVideoSize(1920, 1080);
    recorder.AddVideoSource(&a.camera, RECT{0, 0, 960, 540});
    recorder.AddVideoSource(&b.camera, RECT{960, 0, 1920, 540});
    recorder.AddWindowSource(w1, RECT{0, 540, 960, 1080});
    recorder.AddWindowSource(w2, RECT{960, 540, 1920, 1080});
    std::vector<uint8_t> sample(Stride(1920) * 1080);
    // The first frames fill the pools; what is counted is what every later frame allocates.
    for (int i = 0; i < 3; ++i) CDXRecorderTestAccess::GetImageBuffer(recorder, sample.data());
    const uint64_t allocations = allocation_count::Total();
    for (auto _ : state) {
        CDXRecorderTestAccess::GetImageBuffer(recorder, sample.data());
        benchmark::DoNotOptimize(sample.data());
    }
    state.counters["allocs_per_frame"] =
        static_cast<double>(allocation_count::Total() - allocations) /
        static_cast<double>(state.iterations());
    DestroyWindow(w1);
    DestroyWindow(w2);
    Gdiplus::GdiplusShutdown(token);
    state.SetItemsProcessed(state.iterations());
}

// A scaling context with `threads` slice threads of libswscale's own (1: none).
SwsContext* ScaleContext(int sw, int sh, AVPixelFormat in, int dw, int dh, int threads) {
    SwsContext* ctx = sws_alloc_context();
    if (!ctx) return nullptr;
    av_opt_set_int(ctx, "srcw", sw, 0);
    av_opt_set_int(ctx, "srch", sh, 0);
    av_opt_set_int(ctx, "src_format", in, 0);
    av_opt_set_int(ctx, "dstw", dw, 0);
    av_opt_set_int(ctx, "dsth", dh, 0);
    av_opt_set_int(ctx, "dst_format", AV_PIX_FMT_BGR24, 0);
    av_opt_set_int(ctx, "sws_flags", SWS_BICUBIC, 0);
    av_opt_set_int(ctx, "threads", threads, 0);
    if (sws_init_context(ctx, nullptr, nullptr) < 0) {
        sws_freeContext(ctx);
        return nullptr;
    }
    return ctx;
}

// One scale, through the frame interface where libswscale's threads do their work.
void ScaleFrame(SwsContext* ctx, int sw, int sh, AVPixelFormat in, const uint8_t* src,
                int srcStride, int dw, int dh, uint8_t* dst, int dstStride, AVFrame* inFrame,
                AVFrame* outFrame) {
    inFrame->format = in;
    inFrame->width = sw;
    inFrame->height = sh;
    inFrame->data[0] = const_cast<uint8_t*>(src);
    inFrame->linesize[0] = srcStride;
    outFrame->format = AV_PIX_FMT_BGR24;
    outFrame->width = dw;
    outFrame->height = dh;
    outFrame->data[0] = dst;
    outFrame->linesize[0] = dstStride;
    sws_scale_frame(ctx, outFrame, inFrame);
}

void SwscaleJobs(benchmark::State& state, int threads) {
    struct Job {
        int sw, sh, dw, dh;
        AVPixelFormat in;
        SwsContext* ctx;
        std::vector<uint8_t> src, dst;
    };
    std::vector<Job> jobs;
    jobs.push_back(
        {1280, 720, 960, 540, AV_PIX_FMT_BGR24, nullptr, Pattern(Stride(1280) * 720, 1), {}});
    jobs.push_back(
        {1280, 720, 960, 540, AV_PIX_FMT_BGR24, nullptr, Pattern(Stride(1280) * 720, 2), {}});
    jobs.push_back({800, 600, 720, 540, AV_PIX_FMT_BGRA, nullptr, Pattern(800 * 4 * 600, 3), {}});
    jobs.push_back({800, 600, 720, 540, AV_PIX_FMT_BGRA, nullptr, Pattern(800 * 4 * 600, 4), {}});
    for (Job& j : jobs) {
        j.ctx = ScaleContext(j.sw, j.sh, j.in, j.dw, j.dh, threads);
        j.dst.resize(Stride(j.dw) * static_cast<size_t>(j.dh));
        if (!j.ctx) {
            state.SkipWithError("sws_getContext failed");
            return;
        }
    }
    AVFrame* inFrame = av_frame_alloc();
    AVFrame* outFrame = av_frame_alloc();
    for (auto _ : state) {
        for (Job& j : jobs) {
            const int srcStride =
                j.in == AV_PIX_FMT_BGRA ? j.sw * 4 : static_cast<int>(Stride(j.sw));
            const int dstStride = static_cast<int>(Stride(j.dw));
            if (threads > 1) {
                ScaleFrame(j.ctx, j.sw, j.sh, j.in, j.src.data(), srcStride, j.dw, j.dh,
                           j.dst.data(), dstStride, inFrame, outFrame);
                continue;
            }
            const uint8_t* in[4] = {j.src.data(), nullptr, nullptr, nullptr};
            const int inStride[4] = {srcStride, 0, 0, 0};
            uint8_t* out[4] = {j.dst.data(), nullptr, nullptr, nullptr};
            const int outStride[4] = {dstStride, 0, 0, 0};
            sws_scale(j.ctx, in, inStride, 0, j.sh, out, outStride);
        }
        benchmark::DoNotOptimize(jobs[0].dst.data());
    }
    av_frame_free(&inFrame);
    av_frame_free(&outFrame);
    for (Job& j : jobs) sws_freeContext(j.ctx);
    state.SetItemsProcessed(state.iterations());
}

void Swscale(benchmark::State& state) {
    SwscaleJobs(state, 1);
}
void SwscaleThreads(benchmark::State& state) {
    SwscaleJobs(state, 2);
}
void LumacapOneThread(benchmark::State& state) {
    OneThread one;
    Lumacap(state);
}

// One long-lived thread that runs the jobs it is handed, one at a time, like a streaming thread.
class Worker {
public:
    Worker() : m_thread([this] { Loop(); }) {}
    ~Worker() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_cv.notify_all();
        m_thread.join();
    }
    void Run(std::function<void()> job) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_job = std::move(job);
        m_cv.notify_all();
        m_cv.wait(lock, [this] { return !m_job; });
    }

private:
    void Loop() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_cv.wait(lock, [this] { return m_quit || m_job; });
            if (m_quit) return;
            m_job();
            m_job = nullptr;
            m_cv.notify_all();
        }
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::function<void()> m_job;
    bool m_quit = false;
    std::thread m_thread;
};

void LumacapScreen(benchmark::State& state) {
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    HWND w1 = PaintedWindow(100, 100, RGB(200, 30, 30), RGB(20, 20, 220));
    CDXRecorder recorder;
    recorder.SetVideoSize(1280, 720);
    recorder.AddWindowSource(nullptr, RECT{0, 0, 1280, 720});
    std::vector<uint8_t> sample(Stride(1280) * 720);
    Worker worker;
    for (int i = 0; i < 3; ++i)
        worker.Run([&] { CDXRecorderTestAccess::GetImageBuffer(recorder, sample.data()); });
    const uint64_t allocations = allocation_count::Total();
    for (auto _ : state) {
        worker.Run([&] { CDXRecorderTestAccess::GetImageBuffer(recorder, sample.data()); });
        benchmark::DoNotOptimize(sample.data());
    }
    // (The job, a lambda holding two references, fits std::function without allocating.)
    state.counters["allocs_per_frame"] =
        static_cast<double>(allocation_count::Total() - allocations) /
        static_cast<double>(state.iterations());
    DestroyWindow(w1);
    Gdiplus::GdiplusShutdown(token);
    state.SetItemsProcessed(state.iterations());
}

void LumacapScreenOneThread(benchmark::State& state) {
    OneThread one;
    LumacapScreen(state);
}

void SwscaleScreenJob(benchmark::State& state, int threads) {
    const std::vector<uint8_t> src = Pattern(1920 * 4 * 1080, 5);
    std::vector<uint8_t> dst(Stride(1280) * 720);
    SwsContext* ctx = ScaleContext(1920, 1080, AV_PIX_FMT_BGRA, 1280, 720, threads);
    if (!ctx) {
        state.SkipWithError("sws_getContext failed");
        return;
    }
    AVFrame* inFrame = av_frame_alloc();
    AVFrame* outFrame = av_frame_alloc();
    Worker worker;
    for (auto _ : state) {
        worker.Run([&] {
            if (threads > 1) {
                ScaleFrame(ctx, 1920, 1080, AV_PIX_FMT_BGRA, src.data(), 1920 * 4, 1280, 720,
                           dst.data(), static_cast<int>(Stride(1280)), inFrame, outFrame);
                return;
            }
            const uint8_t* in[4] = {src.data(), nullptr, nullptr, nullptr};
            const int inStride[4] = {1920 * 4, 0, 0, 0};
            uint8_t* out[4] = {dst.data(), nullptr, nullptr, nullptr};
            const int outStride[4] = {static_cast<int>(Stride(1280)), 0, 0, 0};
            sws_scale(ctx, in, inStride, 0, 1080, out, outStride);
        });
        benchmark::DoNotOptimize(dst.data());
    }
    av_frame_free(&inFrame);
    av_frame_free(&outFrame);
    sws_freeContext(ctx);
    state.SetItemsProcessed(state.iterations());
}

void SwscaleScreen(benchmark::State& state) {
    SwscaleScreenJob(state, 1);
}
void SwscaleScreenThreads(benchmark::State& state) {
    SwscaleScreenJob(state, 2);
}

// Wall time, and the CPU time of the whole process (the helper threads' included).
#define LUMACAP_COMPOSE_BENCH(fn, family, job)  \
    BENCHMARK(fn)                               \
        ->Name(std::string(family) + "/" + job) \
        ->Unit(benchmark::kMillisecond)         \
        ->UseRealTime()                         \
        ->MeasureProcessCPUTime()

constexpr char kFour[] = "compose_1920x1080_two_cameras_two_windows";
constexpr char kScreen[] = "compose_1280x720_from_the_screen_on_a_streaming_thread";
LUMACAP_COMPOSE_BENCH(Lumacap, "Lumacap", kFour);
LUMACAP_COMPOSE_BENCH(LumacapOneThread, "LumacapOneThread", kFour);
LUMACAP_COMPOSE_BENCH(Swscale, "Swscale", kFour);
LUMACAP_COMPOSE_BENCH(SwscaleThreads, "SwscaleThreads", kFour);
LUMACAP_COMPOSE_BENCH(LumacapScreen, "Lumacap", kScreen);
LUMACAP_COMPOSE_BENCH(LumacapScreenOneThread, "LumacapOneThread", kScreen);
LUMACAP_COMPOSE_BENCH(SwscaleScreen, "Swscale", kScreen);
LUMACAP_COMPOSE_BENCH(SwscaleScreenThreads, "SwscaleThreads", kScreen);

}  // namespace

BENCHMARK_MAIN();
