// The camera's capture path against the bare decoding or conversion it wraps.
//
// CapturePath: a CDXCamera in render mode 2 (self-drawn preview in a window) on a virtual camera
// delivering YUY2 or MJPG unpaced, replaying pre-rendered pictures (producing a frame costs one
// copy, as with a hardware device). Per frame the capture thread converts to RGB24, the sample
// grabber keeps its copy, the host callback runs and the preview window copies the frame. The same
// frames are then decoded/converted by libavcodec/libswscale alone, in the same run.
//
// Counters: path_us and direct_us per frame (CPU time of the working thread). The direct work is
// the fastest bare reader we know of: YUY2 through the platform's scaler (packed 4:2:2 unpacked to
// planar, then libswscale's planar path), MJPEG decoded by libjpeg-turbo straight into bottom-up
// BGR rows with the same settings the decompressor uses. device_copy_us = what producing each
// picture costs the virtual device (one copy of the picture into the sample, which a bare reader
// of the same device pays too). ratio = path / (device copy + direct), the median over rounds of
// 30 frames, goal <= 1.05: what the path costs beyond taking a picture from the device and
// converting it; ratio_of_totals, the same over all frames together; ratio_wo_device =
// (path - device copy) / direct; swscale_us and ratio_swscale: the same against one sws_scale call
// (after FFmpeg's decoder for MJPEG), as a reader with FFmpeg alone would make it;
// ratio_vs_conversion = path / direct, the device's copy counted against the path; wall_ratio,
// path / direct in wall time (noisy on a shared machine). The preview paints on the window's
// thread, between the timed rounds.
//
// PacedDelivery: the same camera paced at 30 frames per second for a few seconds: the frames the
// host received per second and the share of the frames the source produced (goal: all), and
// paint_us_per_frame, the CPU time the host's window thread spends per frame received (the
// preview's painting: the frame scaled into the window, the overlay drawn, copied to the screen).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "AllocationCount.h"
#include "BareJpeg.h"
#include "platform/system/codecs/Codecs.h"
#include "platform/system/hw/TestPattern.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFramesPerRound = 30;
constexpr int kPictures = 8;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// The host's frame callback: counts frames and notes the capture thread's CPU time at each.
struct Host {
    std::mutex mutex;
    std::condition_variable cv;
    long count = 0;
    std::vector<double> cpuAt;
    std::vector<Clock::time_point> arrivals;

    static long __cdecl OnFrame(unsigned char* buffer, long length, void* context) {
        auto* host = static_cast<Host*>(context);
        benchmark::DoNotOptimize(buffer[length / 2]);
        const double cpu = ThreadCpuSeconds();
        {
            std::lock_guard<std::mutex> lock(host->mutex);
            ++host->count;
            host->cpuAt.push_back(cpu);
            host->arrivals.push_back(Clock::now());
        }
        host->cv.notify_all();
        return 0;
    }
    long Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return count;
    }
    // Waits without pumping: the window's paints wait too, so the capture thread is measured
    // without the painting competing for the machine's cores and memory bandwidth.
    long WaitFor(long n) {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait_for(lock, std::chrono::seconds(10), [&] { return count >= n; });
        return count;
    }
    double CpuAt(long n) {
        std::lock_guard<std::mutex> lock(mutex);
        return cpuAt[static_cast<size_t>(n - 1)];
    }
};

// Waits for the host's frames while pumping this thread's messages, so the preview window paints.
long WaitForFrames(Host& host, long n) {
    lumacap::sim::PumpMessagesUntil([&] { return host.Count() >= n; }, 10000);
    return host.Count();
}

struct CameraRig {
    HWND window = nullptr;
    CDXCamera* camera = nullptr;
    Host host;

    bool Open(const char* subtype, long width, long height, bool paced, unsigned mode = 2) {
        lumacap::sim::Reset();
        lumacap::sim::VirtualCameraConfig config = lumacap::sim::DefaultCameraConfig();
        config.capabilities = {{subtype, width, height, 30.0, false}};
        config.paced = paced;
        config.prerenderedFrames = kPictures;
        lumacap::sim::ConfigureCamera(0, config);
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "LumacapBenchHost";
        RegisterClassA(&wc);
        window = CreateWindowExA(0, "LumacapBenchHost", "bench", WS_POPUP | WS_VISIBLE, 0, 0, 960,
                                 540, nullptr, nullptr, nullptr, nullptr);
        // Room for every frame of a run, so the host's bookkeeping allocates nothing per frame.
        host.cpuAt.reserve(1 << 16);
        host.arrivals.reserve(1 << 16);
        camera = new CDXCamera();
        camera->SetCameraIndex(0);
        camera->SetResolutionIndex(0);
        camera->SetParentWnd(window);
        camera->SetRenderMode(mode);
        camera->SetLumacapBuffCB(&Host::OnFrame, &host);
        return camera->Open() == 0;
    }

    ~CameraRig() {
        delete camera;
        if (window) DestroyWindow(window);
    }
};

// The same pictures decoded or converted to bottom-up RGB24 without the camera.
struct DirectRig {
    bool mjpeg = false;
    int width = 0, height = 0;
    std::vector<std::vector<uint8_t>> sources;
    std::vector<uint8_t> dst;
    lumacap::codecs::Scaler scaler;
    std::unique_ptr<lumacap::codecs::MjpegDecoder> decoder;
    std::unique_ptr<BareJpegReader> jpeg;

    bool Build(const char* subtype, int w, int h) {
        mjpeg = std::strcmp(subtype, "MJPG") == 0;
        width = w;
        height = h;
        lumacap::hw::FrameRenderer renderer;
        if (!renderer.Configure(AV_PIX_FMT_YUYV422, mjpeg, w, h, {})) return false;
        for (int i = 0; i < kPictures; ++i) {
            std::vector<uint8_t> frame(static_cast<size_t>(renderer.MaxSize()));
            const long n = renderer.Render(i, frame.data(), static_cast<long>(frame.size()));
            if (n < 0) return false;
            frame.resize(static_cast<size_t>(n));
            sources.push_back(std::move(frame));
        }
        dst.resize(lumacap::codecs::BufferSize(AV_PIX_FMT_BGR24, w, h));
        if (mjpeg) {
            decoder = std::make_unique<lumacap::codecs::MjpegDecoder>();
            jpeg = std::make_unique<BareJpegReader>(
                dst.data(), static_cast<int>(dst.size() / static_cast<size_t>(h)), h);
        }
        return true;
    }

    // One sws_scale call per frame to bottom-up RGB24 (the decoding, for MJPEG, as above).
    SwsContext* sws = nullptr;
    ~DirectRig() { sws_freeContext(sws); }
    void SwscaleOne(int i) {
        const std::vector<uint8_t>& src = sources[static_cast<size_t>(i % kPictures)];
        uint8_t* dstPlanes[4];
        int dstStrides[4];
        lumacap::codecs::DescribeBuffer(AV_PIX_FMT_BGR24, width, height, true, dst.data(),
                                        dstPlanes, dstStrides);
        AVPixelFormat format = AV_PIX_FMT_YUYV422;
        const uint8_t* planes[4] = {src.data(), nullptr, nullptr, nullptr};
        int strides[4] = {width * 2, 0, 0, 0};
        if (mjpeg) {
            const AVFrame* frame = decoder->Decode(src.data(), src.size());
            format = static_cast<AVPixelFormat>(frame->format);
            for (int p = 0; p < 4; ++p) {
                planes[p] = frame->data[p];
                strides[p] = frame->linesize[p];
            }
        }
        sws = sws_getCachedContext(sws, width, height, format, width, height, AV_PIX_FMT_BGR24,
                                   lumacap::codecs::kScaleFlags, nullptr, nullptr, nullptr);
        sws_scale(sws, planes, strides, 0, height, dstPlanes, dstStrides);
        benchmark::DoNotOptimize(dst.data());
    }

    void CopyOne(int i, std::vector<uint8_t>& into) {
        const std::vector<uint8_t>& src = sources[static_cast<size_t>(i % kPictures)];
        std::memcpy(into.data(), src.data(), src.size());
        benchmark::DoNotOptimize(into.data());
    }

    void ConvertOne(int i) {
        const std::vector<uint8_t>& src = sources[static_cast<size_t>(i % kPictures)];
        uint8_t* dstPlanes[4];
        int dstStrides[4];
        lumacap::codecs::DescribeBuffer(AV_PIX_FMT_BGR24, width, height, true, dst.data(),
                                        dstPlanes, dstStrides);
        if (mjpeg) {
            jpeg->Decode(src.data(), src.size());
        } else {
            uint8_t* srcPlanes[4];
            int srcStrides[4];
            lumacap::codecs::DescribeBuffer(AV_PIX_FMT_YUYV422, width, height, false,
                                            const_cast<uint8_t*>(src.data()), srcPlanes,
                                            srcStrides);
            scaler.Convert(AV_PIX_FMT_YUYV422, width, height, srcPlanes, srcStrides,
                           AV_PIX_FMT_BGR24, width, height, dstPlanes, dstStrides);
        }
        benchmark::DoNotOptimize(dst.data());
    }
};

void CapturePath(benchmark::State& state, const char* subtype, long width, long height,
                 unsigned mode) {
    CameraRig rig;
    DirectRig direct;
    if (!rig.Open(subtype, width, height, false, mode) ||
        !direct.Build(subtype, static_cast<int>(width), static_cast<int>(height))) {
        state.SkipWithError("cannot open the camera");
        return;
    }
    rig.camera->Pause();
    double pathCpu = 0, directCpu = 0, copyCpu = 0, swscaleCpu = 0, pathSeconds = 0,
           directSeconds = 0;
    std::vector<uint8_t> sample(direct.sources[0].size() * 2);
    long frames = 0;
    uint64_t allocations = 0;
    std::vector<double> roundRatios;
    for (auto _ : state) {
        // The capture path alone: run, time a round of frames, pause (the capture thread then
        // stays out of the way of the direct conversion).
        rig.camera->Run();
        const long base = rig.host.WaitFor(rig.host.Count() + 2);
        const auto t0 = Clock::now();
        const uint64_t a0 = allocation_count::Total();
        rig.host.WaitFor(base + kFramesPerRound);
        allocations += allocation_count::Total() - a0;
        const auto t1 = Clock::now();
        rig.camera->Pause();
        lumacap::sim::PumpMessages();  // the preview paints between rounds
        const double roundPath = rig.host.CpuAt(base + kFramesPerRound) - rig.host.CpuAt(base);
        const double c2 = ThreadCpuSeconds();
        const auto t2 = Clock::now();
        for (int i = 0; i < kFramesPerRound; ++i) direct.ConvertOne(i);
        const auto t3 = Clock::now();
        const double roundDirect = ThreadCpuSeconds() - c2;
        const double c3 = ThreadCpuSeconds();
        for (int i = 0; i < kFramesPerRound; ++i) direct.SwscaleOne(i);
        swscaleCpu += ThreadCpuSeconds() - c3;
        const double c4 = ThreadCpuSeconds();
        for (int i = 0; i < kFramesPerRound; ++i) direct.CopyOne(i, sample);
        const double roundCopy = ThreadCpuSeconds() - c4;
        pathCpu += roundPath;
        directCpu += roundDirect;
        copyCpu += roundCopy;
        roundRatios.push_back(roundPath / (roundCopy + roundDirect));
        pathSeconds += std::chrono::duration<double>(t1 - t0).count();
        directSeconds += std::chrono::duration<double>(t3 - t2).count();
        frames += kFramesPerRound;
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    const double n = static_cast<double>(frames);
    const double pathUs = pathCpu * 1e6 / n, directUs = directCpu * 1e6 / n,
                 copyUs = copyCpu * 1e6 / n;
    state.counters["path_us"] = pathUs;
    state.counters["direct_us"] = directUs;
    // The median of the rounds' ratios: a round that shared its core with another process's burst
    // (on either side) does not move it, as it moves the totals.
    std::sort(roundRatios.begin(), roundRatios.end());
    state.counters["ratio"] = roundRatios.empty() ? 0 : roundRatios[roundRatios.size() / 2];
    state.counters["ratio_of_totals"] = pathUs / (copyUs + directUs);
    state.counters["ratio_vs_conversion"] = pathUs / directUs;
    state.counters["swscale_us"] = swscaleCpu * 1e6 / n;
    state.counters["ratio_swscale"] = pathCpu / swscaleCpu;
    state.counters["device_copy_us"] = copyUs;
    state.counters["ratio_wo_device"] = (pathUs - copyUs) / directUs;
    state.counters["wall_ratio"] = pathSeconds / directSeconds;
    state.counters["allocs_per_frame"] = static_cast<double>(allocations) / n;
    state.SetItemsProcessed(frames);
}

void PacedDelivery(benchmark::State& state, const char* subtype, long width, long height) {
    CameraRig rig;
    if (!rig.Open(subtype, width, height, true)) {
        state.SkipWithError("cannot open the camera");
        return;
    }
    double seconds = 0, paintCpu = 0;
    long received = 0;
    for (auto _ : state) {
        // A few seconds of previewing as a host does it: its thread pumps, the preview paints.
        const long base = WaitForFrames(rig.host, rig.host.Count() + 1);
        const double c0 = ThreadCpuSeconds();
        lumacap::sim::PumpMessagesUntil([] { return false; }, 3000);
        paintCpu += ThreadCpuSeconds() - c0;
        const long last = rig.host.Count();
        std::lock_guard<std::mutex> lock(rig.host.mutex);
        // The rate between the first and the last frame of the window: frames per second received.
        seconds += std::chrono::duration<double>(rig.host.arrivals[static_cast<size_t>(last - 1)] -
                                                 rig.host.arrivals[static_cast<size_t>(base - 1)])
                       .count();
        received += last - base;
        state.SetIterationTime(seconds);
    }
    const double fps = static_cast<double>(received) / seconds;
    state.counters["delivered_fps"] = fps;
    state.counters["delivered_share"] = fps / 30.0;
    state.counters["paint_us_per_frame"] = paintCpu * 1e6 / static_cast<double>(received);
    state.SetItemsProcessed(received);
}

}  // namespace

BENCHMARK_CAPTURE(CapturePath, YUY2_1280x720, "YUY2", 1280, 720, 2u)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(12);
BENCHMARK_CAPTURE(CapturePath, YUY2_1920x1080, "YUY2", 1920, 1080, 2u)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(12);
BENCHMARK_CAPTURE(CapturePath, MJPG_1280x720, "MJPG", 1280, 720, 2u)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(12);
BENCHMARK_CAPTURE(CapturePath, MJPG_1920x1080, "MJPG", 1920, 1080, 2u)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(12);
// Render mode 1: the same path without the self-drawn preview's copy, to show what that copy costs.
BENCHMARK_CAPTURE(CapturePath, YUY2_1920x1080_NoPreview, "YUY2", 1920, 1080, 1u)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(12);
BENCHMARK_CAPTURE(CapturePath, MJPG_1920x1080_NoPreview, "MJPG", 1920, 1080, 1u)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(12);
BENCHMARK_CAPTURE(PacedDelivery, YUY2_1280x720, "YUY2", 1280, 720)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(PacedDelivery, YUY2_1920x1080, "YUY2", 1920, 1080)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(PacedDelivery, MJPG_1280x720, "MJPG", 1280, 720)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK_CAPTURE(PacedDelivery, MJPG_1920x1080, "MJPG", 1920, 1080)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

BENCHMARK_MAIN();
