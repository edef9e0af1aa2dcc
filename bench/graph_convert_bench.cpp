// The media graph against the bare conversion it wraps. A virtual camera delivering YUY2 or MJPG
// (unpaced, replaying pre-rendered pictures, so producing a frame costs one copy as with a
// hardware device) feeds the converter, an RGB24 sample grabber and a null renderer; the same
// conversion is then done without the graph in the same run: YUY2 by the platform's scaler, MJPEG
// by libjpeg-turbo alone (BareJpeg.h), the fastest bare readers we know of.
//
// Counters per benchmark: graph_us and direct_us per frame (CPU time of the working thread),
// ratio = graph / direct (goal <= 1.1), overhead_us = what the graph adds per frame (device copy,
// sample pool, delivery, grabber), device_copy_us = the part of it the device's copy takes, and
// wall_ratio, the same ratio in wall time (noisy on a shared
// machine).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <mutex>
#include <vector>

#include <dshow.h>
#include <lumacap/sim.h>
#include <qedit.h>

#include "BareJpeg.h"
#include "platform/system/codecs/Codecs.h"
#include "platform/system/hw/TestPattern.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kFramesPerRound = 30;

// The machine is shared: besides wall time, the CPU time of the thread doing the work is measured,
// which other processes' load does not inflate.
double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

class Counter : public ISampleGrabberCB {
public:
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP SampleCB(double, IMediaSample*) override { return S_OK; }
    STDMETHODIMP BufferCB(double, BYTE*, long) override {
        const double cpu = ThreadCpuSeconds();
        {
            std::lock_guard<std::mutex> lock(mutex);
            ++count;
            cpuAt.push_back(cpu);
        }
        cv.notify_all();
        return S_OK;
    }
    long WaitFor(long n) {
        std::unique_lock<std::mutex> lock(mutex);
        cv.wait(lock, [&] { return count >= n; });
        return count;
    }
    long Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return count;
    }
    // CPU time of the streaming thread when frame n arrived (index n - 1).
    double CpuAt(long n) {
        std::lock_guard<std::mutex> lock(mutex);
        return cpuAt[static_cast<size_t>(n - 1)];
    }
    std::mutex mutex;
    std::condition_variable cv;
    long count = 0;
    std::vector<double> cpuAt;
};

template <class T>
void SafeRelease(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

struct GraphRig {
    IGraphBuilder* graph = nullptr;
    ICaptureGraphBuilder2* builder = nullptr;
    IMediaControl* control = nullptr;
    IBaseFilter* camera = nullptr;
    ISampleGrabber* grabber = nullptr;
    IBaseFilter* grabberFilter = nullptr;
    IBaseFilter* renderer = nullptr;
    Counter counter;

    bool Build(const char* subtype, long width, long height) {
        lumacap::sim::Reset();
        lumacap::sim::VirtualCameraConfig config = lumacap::sim::DefaultCameraConfig();
        config.capabilities = {{subtype, width, height, 30.0, false}};
        config.paced = false;
        config.prerenderedFrames = 8;
        lumacap::sim::ConfigureCamera(0, config);

        CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                         reinterpret_cast<void**>(&graph));
        CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                         IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&builder));
        builder->SetFiltergraph(graph);
        graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
        ICreateDevEnum* devEnum = nullptr;
        CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         reinterpret_cast<void**>(&devEnum));
        IEnumMoniker* monikers = nullptr;
        devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0);
        IMoniker* moniker = nullptr;
        monikers->Next(1, &moniker, nullptr);
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&camera));
        SafeRelease(moniker);
        SafeRelease(monikers);
        SafeRelease(devEnum);
        CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleGrabber,
                         reinterpret_cast<void**>(&grabber));
        AM_MEDIA_TYPE rgb{};
        rgb.majortype = MEDIATYPE_Video;
        rgb.subtype = MEDIASUBTYPE_RGB24;
        grabber->SetMediaType(&rgb);
        grabber->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&grabberFilter));
        CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                         reinterpret_cast<void**>(&renderer));
        graph->AddFilter(camera, L"Video Capture");
        graph->AddFilter(grabberFilter, L"Sample Grabber");
        graph->AddFilter(renderer, L"VideoRender");
        // Capture pin straight to the grabber: the converter is the only thing inserted.
        if (FAILED(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera,
                                         grabberFilter, renderer)))
            return false;
        grabber->SetCallback(&counter, 1);
        return true;
    }

    ~GraphRig() {
        if (control) control->Stop();
        if (grabber) grabber->SetCallback(nullptr, 1);
        SafeRelease(renderer);
        SafeRelease(grabberFilter);
        SafeRelease(grabber);
        SafeRelease(camera);
        SafeRelease(control);
        SafeRelease(builder);
        SafeRelease(graph);
    }
};

// The same work without the graph: convert one of the pre-rendered pictures into a frame buffer.
struct DirectRig {
    bool mjpeg = false;
    int width = 0, height = 0;
    std::vector<std::vector<uint8_t>> sources;
    std::vector<uint8_t> dst;
    lumacap::codecs::Scaler scaler;
    std::unique_ptr<BareJpegReader> jpeg;

    bool Build(const char* subtype, int w, int h) {
        mjpeg = std::strcmp(subtype, "MJPG") == 0;
        width = w;
        height = h;
        lumacap::hw::FrameRenderer renderer;
        if (!renderer.Configure(AV_PIX_FMT_YUYV422, mjpeg, w, h, {})) return false;
        for (int i = 0; i < 8; ++i) {
            std::vector<uint8_t> frame(static_cast<size_t>(renderer.MaxSize()));
            const long n = renderer.Render(i, frame.data(), static_cast<long>(frame.size()));
            if (n < 0) return false;
            frame.resize(static_cast<size_t>(n));
            sources.push_back(std::move(frame));
        }
        dst.resize(lumacap::codecs::BufferSize(AV_PIX_FMT_BGR24, w, h));
        if (mjpeg)
            jpeg = std::make_unique<BareJpegReader>(
                dst.data(), static_cast<int>(dst.size() / static_cast<size_t>(h)), h);
        return true;
    }

    // What the virtual device spends per frame: copying a picture into the sample.
    void CopyOne(int i, std::vector<uint8_t>& into) {
        const std::vector<uint8_t>& src = sources[static_cast<size_t>(i % 8)];
        std::memcpy(into.data(), src.data(), src.size());
        benchmark::DoNotOptimize(into.data());
    }

    void ConvertOne(int i) {
        const std::vector<uint8_t>& src = sources[static_cast<size_t>(i % 8)];
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

void GraphVsDirect(benchmark::State& state, const char* subtype, long width, long height) {
    GraphRig graph;
    DirectRig direct;
    if (!graph.Build(subtype, width, height) ||
        !direct.Build(subtype, static_cast<int>(width), static_cast<int>(height))) {
        state.SkipWithError("cannot build the graph");
        return;
    }
    double graphSeconds = 0, directSeconds = 0, graphCpu = 0, directCpu = 0, copyCpu = 0;
    std::vector<uint8_t> sampleBuffer(direct.sources[0].size() * 2);
    long graphFrames = 0, directFrames = 0;
    for (auto _ : state) {
        // The graph alone: run it, time a round of frames, stop it.
        graph.control->Run();
        const long base = graph.counter.WaitFor(graph.counter.Count() + 2);
        const auto t0 = Clock::now();
        graph.counter.WaitFor(base + kFramesPerRound);
        const auto t1 = Clock::now();
        graph.control->Stop();
        graphCpu += graph.counter.CpuAt(base + kFramesPerRound) - graph.counter.CpuAt(base);
        // Then the direct conversion of as many frames.
        const double c2 = ThreadCpuSeconds();
        const auto t2 = Clock::now();
        for (int i = 0; i < kFramesPerRound; ++i) direct.ConvertOne(i);
        const auto t3 = Clock::now();
        directCpu += ThreadCpuSeconds() - c2;
        const double c4 = ThreadCpuSeconds();
        for (int i = 0; i < kFramesPerRound; ++i) direct.CopyOne(i, sampleBuffer);
        copyCpu += ThreadCpuSeconds() - c4;
        graphSeconds += std::chrono::duration<double>(t1 - t0).count();
        directSeconds += std::chrono::duration<double>(t3 - t2).count();
        graphFrames += kFramesPerRound;
        directFrames += kFramesPerRound;
        state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    }
    const double graphUs = graphSeconds * 1e6 / static_cast<double>(graphFrames);
    const double directUs = directSeconds * 1e6 / static_cast<double>(directFrames);
    const double graphCpuUs = graphCpu * 1e6 / static_cast<double>(graphFrames);
    const double directCpuUs = directCpu * 1e6 / static_cast<double>(directFrames);
    state.counters["wall_ratio"] = graphUs / directUs;
    state.counters["graph_us"] = graphCpuUs;
    state.counters["direct_us"] = directCpuUs;
    state.counters["ratio"] = graphCpuUs / directCpuUs;
    state.counters["overhead_us"] = graphCpuUs - directCpuUs;
    // Of the overhead, the device's copy of each picture; the rest is the graph's own.
    state.counters["device_copy_us"] = copyCpu * 1e6 / static_cast<double>(directFrames);
    state.SetItemsProcessed(graphFrames);
}

}  // namespace

BENCHMARK_CAPTURE(GraphVsDirect, YUY2_1280x720, "YUY2", 1280, 720)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK_CAPTURE(GraphVsDirect, YUY2_1920x1080, "YUY2", 1920, 1080)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK_CAPTURE(GraphVsDirect, MJPG_1280x720, "MJPG", 1280, 720)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK_CAPTURE(GraphVsDirect, MJPG_1920x1080, "MJPG", 1920, 1080)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);

BENCHMARK_MAIN();
