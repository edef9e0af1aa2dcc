// Recording cost: 1280x720 frames at 30 frames per second through the MJPEG Compressor, the AVI
// Mux and the File Writer, against the ffmpeg program encoding the same raw frames with its own
// MJPEG encoder into AVI (same quantiser, same chroma layout, one thread each), in the same run.
//
// Counters: lumacap_cpu_per_s and ffmpeg_cpu_per_s, CPU seconds spent per second of video
// recorded (all threads of the graph; the ffmpeg process's user and system time), and their
// ratio (lumacap / ffmpeg). The frames are pushed as fast as the chain takes them, so the CPU
// time is the work itself and not waiting for a clock.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include <dshow.h>
#include <lumacap/sim.h>
#include <streams.h>

#include "devices/Devices.h"
#include "platform/system/hw/TestPattern.h"

extern "C" char** environ;

namespace {

constexpr int kWidth = 1280;
constexpr int kHeight = 720;
constexpr int kFrames = 90;  // three seconds
constexpr REFERENCE_TIME kFrameLength = 333333;
constexpr int kStride = kWidth * 3;  // 1280 x 3 is already a multiple of 4

double ProcessCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

std::string ScratchDir() {
    struct stat st;
    return stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp";
}

// The test pattern with frame numbers, as bottom-up bitmaps.
const std::vector<std::vector<uint8_t>>& Frames() {
    static const std::vector<std::vector<uint8_t>> frames = [] {
        lumacap::hw::FrameRenderer renderer;
        renderer.Configure(AV_PIX_FMT_BGR24, false, kWidth, kHeight, lumacap::hw::PatternAdjust{});
        std::vector<std::vector<uint8_t>> out(kFrames);
        for (int i = 0; i < kFrames; ++i) {
            out[i].resize(static_cast<size_t>(renderer.MaxSize()));
            renderer.Render(i, out[i].data(), static_cast<long>(out[i].size()));
        }
        return out;
    }();
    return frames;
}

// {5C8E1F20-7A2B-4D3C-9E4F-1A2B3C4D5E6F}
constexpr GUID CLSID_BenchSource = {
    0x5C8E1F20, 0x7A2B, 0x4D3C, {0x9E, 0x4F, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E, 0x6F}};

// Pushes the frames once, stamped as a 30 fps recording, then ends the stream.
class FramePin final : public CSourceStream {
public:
    FramePin(HRESULT* phr, CSource* filter)
        : CSourceStream(NAME("Bench frames"), phr, filter, L"Out") {}

    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override {
        if (iPosition < 0) return E_INVALIDARG;
        if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
        pmt->InitMediaType();
        pmt->SetType(&MEDIATYPE_Video);
        pmt->SetSubtype(&MEDIASUBTYPE_RGB24);
        pmt->SetFormatType(&FORMAT_VideoInfo);
        VIDEOINFOHEADER vih{};
        vih.bmiHeader = {sizeof(BITMAPINFOHEADER),
                         kWidth,
                         kHeight,
                         1,
                         24,
                         BI_RGB,
                         static_cast<DWORD>(kStride * kHeight),
                         0,
                         0,
                         0,
                         0};
        pmt->SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof(vih));
        pmt->SetSampleSize(vih.bmiHeader.biSizeImage);
        return S_OK;
    }
    HRESULT CheckMediaType(const CMediaType* pmt) override {
        CMediaType mine;
        GetMediaType(0, &mine);
        return mine == *pmt ? S_OK : E_FAIL;
    }
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
        ALLOCATOR_PROPERTIES want = *request;
        want.cBuffers = 2;
        want.cbBuffer = kStride * kHeight;
        if (want.cbAlign <= 0) want.cbAlign = 1;
        ALLOCATOR_PROPERTIES actual{};
        return alloc->SetProperties(&want, &actual);
    }
    HRESULT FillBuffer(IMediaSample* sample) override {
        if (m_next >= kFrames) return S_FALSE;
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const auto& frame = Frames()[static_cast<size_t>(m_next)];
        std::memcpy(data, frame.data(), frame.size());
        sample->SetActualDataLength(static_cast<long>(frame.size()));
        REFERENCE_TIME start = m_next * kFrameLength, stop = start + kFrameLength;
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        ++m_next;
        return S_OK;
    }

private:
    int m_next = 0;
};

class FrameSource final : public CSource {
public:
    explicit FrameSource(HRESULT* phr)
        : CSource(NAME("Bench source"), nullptr, CLSID_BenchSource), m_pin(phr, this) {}

private:
    FramePin m_pin;
};

// CPU seconds the library spends recording the frames into an AVI file.
double RecordWithLumacap(const std::string& path) {
    IGraphBuilder* graph = nullptr;
    CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                     reinterpret_cast<void**>(&graph));
    IMediaControl* control = nullptr;
    IMediaEventEx* events = nullptr;
    graph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&control));
    graph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&events));
    HRESULT hr = S_OK;
    auto* sourceObject = new FrameSource(&hr);
    IBaseFilter* source = nullptr;
    sourceObject->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&source));
    IBaseFilter* compressor = CreateCompressor(1, "MJPEG Compressor");
    IBaseFilter* mux = nullptr;
    IBaseFilter* writer = nullptr;
    CoCreateInstance(CLSID_AviDest, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     reinterpret_cast<void**>(&mux));
    CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                     reinterpret_cast<void**>(&writer));
    graph->AddFilter(source, L"VideoMergeFilter");
    graph->AddFilter(compressor, L"VideoCompressor");
    graph->AddFilter(mux, L"AVI Mux");
    graph->AddFilter(writer, L"File Writer");
    graph->Connect(GetPin(source, 0, nullptr), GetPin(compressor, 1, nullptr));
    graph->Connect(GetPin(mux, 0, nullptr), GetPin(writer, 1, nullptr));
    graph->Connect(GetPin(compressor, 0, nullptr), GetUnconnectedPin(mux, 1));
    IFileSinkFilter* sink = nullptr;
    writer->QueryInterface(IID_IFileSinkFilter, reinterpret_cast<void**>(&sink));
    const std::wstring wide(path.begin(), path.end());
    sink->SetFileName(wide.c_str(), nullptr);
    sink->Release();

    const double before = ProcessCpuSeconds();
    control->Run();
    long code = 0;
    events->WaitForCompletion(60000, &code);
    control->Stop();
    const double cpu = ProcessCpuSeconds() - before;

    for (IUnknown* p :
         std::initializer_list<IUnknown*>{source, compressor, mux, writer, events, control, graph})
        if (p) p->Release();
    return cpu;
}

// CPU seconds of an ffmpeg process encoding the same frames (written once as a raw file).
double RecordWithFfmpeg(const std::string& raw, const std::string& path) {
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    std::vector<std::string> args = {
        "ffmpeg", "-v", "error",    "-y",       "-threads", "1",  "-f", "rawvideo", "-pix_fmt",
        "bgr24",  "-s", size,       "-r",       "30",       "-i", raw,  "-c:v",     "mjpeg",
        "-q:v",   "3",  "-pix_fmt", "yuvj420p", "-threads", "1",  path};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

void BM_MjpegAviRecording(benchmark::State& state) {
    const std::string dir = ScratchDir();
    const std::string raw = dir + "/lumacap-bench-frames.bgr";
    const std::string ours = dir + "/lumacap-bench-lumacap.avi";
    const std::string theirs = dir + "/lumacap-bench-ffmpeg.avi";
    {
        // ffmpeg reads raw frames top row first.
        FILE* f = std::fopen(raw.c_str(), "wb");
        for (const auto& frame : Frames())
            for (int row = kHeight - 1; row >= 0; --row)
                std::fwrite(frame.data() + static_cast<size_t>(row) * kStride, 1, kStride, f);
        std::fclose(f);
    }
    const double seconds = kFrames * kFrameLength / 1e7;
    double lumacap = 0, ffmpeg = 0;
    int rounds = 0;
    for (auto _ : state) {
        lumacap += RecordWithLumacap(ours);
        const double f = RecordWithFfmpeg(raw, theirs);
        if (f < 0) {
            state.SkipWithError("ffmpeg did not run");
            break;
        }
        ffmpeg += f;
        ++rounds;
    }
    if (rounds > 0) {
        state.counters["lumacap_cpu_per_s"] = lumacap / rounds / seconds;
        state.counters["ffmpeg_cpu_per_s"] = ffmpeg / rounds / seconds;
        state.counters["ratio"] = lumacap / ffmpeg;
        struct stat a {
        }, b{};
        stat(ours.c_str(), &a);
        stat(theirs.c_str(), &b);
        state.counters["lumacap_MB"] = static_cast<double>(a.st_size) / 1e6;
        state.counters["ffmpeg_MB"] = static_cast<double>(b.st_size) / 1e6;
    }
    std::remove(raw.c_str());
    std::remove(ours.c_str());
    std::remove(theirs.c_str());
}
BENCHMARK(BM_MjpegAviRecording)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
