// The scale job, lumacap's side: N virtual cameras (1280x720, 30 frames a second, MJPEG replayed
// from the JPEG files given, so the device costs one copy) plus the whole screen, composed side by
// side into 1920x1080 at 30 frames a second and recorded to MJPEG AVI. Prints one JSON object:
// frames composed and due, late frames, CPU seconds per recorded second, peak resident memory and
// heap allocations per recorded frame after the first second (of the whole process, and of the
// recording's streaming thread alone). scale_job.py runs it beside ffmpeg and GStreamer doing the
// same job.
//
// usage: bench_scale_job_bench --frames DIR [--cameras N] [--seconds S] [--output FILE]
//        bench_scale_job_bench --write-screen FILE   (the screen as raw BGRA, top row first)
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "AllocationCount.h"
#include "log/Log.h"

namespace {

constexpr int kOutWidth = 1920, kOutHeight = 1080, kFps = 30;
constexpr int kCamWidth = 1280, kCamHeight = 720;

long long Allocations() {
    return allocation_count::Available() ? static_cast<long long>(allocation_count::Total()) : -1;
}

// Whether the counter sees this process's allocations (a static or otherwise interposed C library
// would bypass it).
bool CounterWorks() {
    static void* volatile probe;
    const long long before = Allocations();
    probe = std::malloc(64);
    std::free(probe);
    return allocation_count::Available() && Allocations() > before;
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

int LateLines() {
    std::ifstream in(lumacap::sim::HostPath(GetCurrentLogPath()), std::ios::binary);
    std::string line;
    int late = 0;
    while (std::getline(in, line))
        if (line.find("recorder,frame delay:") != std::string::npos) ++late;
    return late;
}

// The grid all three systems use: cells of the output's shape, as many across as down, enough
// for every source; the screen takes the first cell, the cameras the next ones in reading order.
RECT Cell(int index, int sources) {
    const int across = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(sources))));
    const int w = kOutWidth / across, h = kOutHeight / across;
    const int x = (index % across) * w, y = (index / across) * h;
    return RECT{x, y, x + w, y + h};
}

std::shared_ptr<std::vector<std::vector<unsigned char>>> LoadPictures(const std::string& dir) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error))
        if (entry.path().extension() == ".jpg") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    auto pictures = std::make_shared<std::vector<std::vector<unsigned char>>>();
    for (const auto& file : files) {
        std::ifstream in(file, std::ios::binary);
        pictures->emplace_back(std::istreambuf_iterator<char>(in),
                               std::istreambuf_iterator<char>());
    }
    return pictures;
}

// The recording's streaming thread runs the frame callback: its own count, read as of its latest
// frame, is what composing, compressing and writing each frame allocates, without the cameras'.
std::atomic<long long> g_streamingAllocations{-1};
std::atomic<long> g_streamingFrames{0};

long CountOnStreamingThread(unsigned char*, long, void*) {
    g_streamingAllocations.store(
        static_cast<long long>(allocation_count::OfSlot(allocation_count::CurrentSlot())),
        std::memory_order_relaxed);
    g_streamingFrames.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

template <class TimePoint>
void PumpUntil(TimePoint end) {
    while (std::chrono::steady_clock::now() < end) {
        lumacap::sim::PumpMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "%s: %s\n", what, detail.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    int cameras = 1;
    double seconds = 30;
    std::string framesDir, output, screenOut;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--cameras" && hasValue) {
            cameras = std::atoi(argv[++i]);
        } else if (arg == "--seconds" && hasValue) {
            seconds = std::atof(argv[++i]);
        } else if (arg == "--frames" && hasValue) {
            framesDir = argv[++i];
        } else if (arg == "--output" && hasValue) {
            output = argv[++i];
        } else if (arg == "--write-screen" && hasValue) {
            screenOut = argv[++i];
        } else {
            std::printf(
                "usage: %s --frames DIR [--cameras N] [--seconds S] [--output FILE]\n"
                "       %s --write-screen FILE\n",
                argv[0], argv[0]);
            return arg == "--help" ? 0 : 2;
        }
    }

    lumacap::sim::UseHeadlessDisplay();
    lumacap::sim::SetScreenSize(kOutWidth, kOutHeight);
    if (!screenOut.empty()) {
        const lumacap::sim::Pixels screen = lumacap::sim::ReadScreen();
        std::ofstream out(screenOut, std::ios::binary);
        out.write(reinterpret_cast<const char*>(screen.data.data()),
                  static_cast<std::streamsize>(screen.data.size() * sizeof(uint32_t)));
        return out ? 0 : Fail("cannot write", screenOut);
    }
    if (cameras < 1 || cameras > 16 || !(seconds > 1))
        return Fail("bad arguments", "N 1..16, S > 1");
    const auto pictures = LoadPictures(framesDir);
    if (pictures->empty()) return Fail("no JPEG pictures in", framesDir);
    const bool keepOutput = !output.empty();
    if (!keepOutput) output = "/tmp/lumacap-scale-job-" + std::to_string(getpid()) + ".avi";

    CoInitialize(nullptr);
    lumacap::sim::RemoveAllCameras();
    lumacap::sim::VirtualCameraConfig config = lumacap::sim::DefaultCameraConfig();
    config.capabilities = {{"MJPG", kCamWidth, kCamHeight, static_cast<double>(kFps)}};
    config.defaultCapability = 0;
    config.pictures = pictures;
    for (int i = 0; i < cameras; ++i) {
        config.friendlyName = "Scale Camera " + std::to_string(i);
        config.displayName = "@device:sw:scale-camera-" + std::to_string(i);
        lumacap::sim::AddCamera(config);
    }

    WNDCLASSA wc{};
    wc.lpfnWndProc = HostProc;
    wc.lpszClassName = "ScaleJobBench";
    RegisterClassA(&wc);
    HWND host = CreateWindowExA(0, "ScaleJobBench", "scale job", WS_OVERLAPPEDWINDOW, 0, 0, 640,
                                480, nullptr, nullptr, nullptr, nullptr);
    std::vector<std::unique_ptr<CDXCamera>> opened;
    for (int i = 0; i < cameras; ++i) {
        auto camera = std::make_unique<CDXCamera>();
        camera->SetCameraIndex(i);
        camera->SetResolutionIndex(0);
        camera->SetParentWnd(host);
        camera->SetRenderMode(1);
        camera->Open();
        if (camera->GetCameraStatus() != 3)
            return Fail("camera did not open", lumacap::sim::GbkToUtf8(camera->GetLastError()));
        opened.push_back(std::move(camera));
    }

    // The cameras alone for a moment: what capture costs before anything is recorded.
    // Per frame delivered, since a starved camera delivers fewer.
    const auto delivered = [cameras] {
        long total = 0;
        for (int i = 0; i < cameras; ++i) total += lumacap::sim::CameraFramesDelivered(i);
        return total;
    };
    const double cameraSeconds = 2;
    double cpu0 = CpuSeconds();
    long long allocations0 = Allocations();
    long delivered0 = delivered();
    PumpUntil(std::chrono::steady_clock::now() + std::chrono::duration<double>(cameraSeconds));
    const double cameraCpu = (CpuSeconds() - cpu0) / cameraSeconds;
    const double cameraMsPerFrame =
        (CpuSeconds() - cpu0) * 1e3 / static_cast<double>(std::max(1L, delivered() - delivered0));
    const double cameraAllocations =
        static_cast<double>(Allocations() - allocations0) / cameraSeconds;

    CDXRecorder recorder;
    recorder.SetVideoSize(kOutWidth, kOutHeight);
    recorder.SetFPS(kFps);
    recorder.SetVideoCompressor("MJPEG Compressor");
    const int sources = cameras + 1;
    recorder.AddWindowSource(nullptr, Cell(0, sources));
    for (int i = 0; i < cameras; ++i)
        recorder.AddVideoSource(opened[i].get(), Cell(i + 1, sources));
    recorder.SetDxRecorderBuffCB(CountOnStreamingThread, nullptr);

    const int lateBefore = LateLines();
    cpu0 = CpuSeconds();
    delivered0 = delivered();
    const auto start = std::chrono::steady_clock::now();
    if (!recorder.StartRecord(output.c_str(), 1))
        return Fail("recording did not start", lumacap::sim::GbkToUtf8(recorder.GetErrorMsg()));
    PumpUntil(start + std::chrono::seconds(1));
    const long long allocationsAt1s = Allocations();
    const int framesAt1s = recorder.GetRealFramesCount();
    const long long streamingAt1s = g_streamingAllocations.load();
    const long streamingFramesAt1s = g_streamingFrames.load();
    // The compressor encodes on a thread of its own, found by its name.
    const int encoderSlot = allocation_count::SlotNamed("video encoder");
    const uint64_t encoderAt1s = allocation_count::OfSlot(encoderSlot);
    PumpUntil(start + std::chrono::duration<double>(seconds));
    const long long allocationsAtEnd = Allocations();
    const int framesAtEnd = recorder.GetRealFramesCount();
    const long long streamingAtEnd = g_streamingAllocations.load();
    const long streamingFramesAtEnd = g_streamingFrames.load();
    const uint64_t encoderAtEnd = allocation_count::OfSlot(encoderSlot);
    // Frames are due for the time the recording ran; finishing the file costs CPU but is not
    // recorded time.
    const double recorded =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long deliveredWhileRecording = delivered() - delivered0;
    recorder.CloseRecord();
    const double cpu = CpuSeconds() - cpu0;
    const int late = LateLines() - lateBefore;
    for (auto& camera : opened) camera->Close();
    DestroyWindow(host);
    std::error_code error;
    const auto bytes = std::filesystem::file_size(output, error);
    if (!keepOutput) std::filesystem::remove(output, error);

    const long due = std::lround(recorded * kFps);
    const double allocationsPerFrame =
        CounterWorks() && framesAtEnd > framesAt1s
            ? static_cast<double>(allocationsAtEnd - allocationsAt1s) / (framesAtEnd - framesAt1s)
            : -1;
    const double streamingPerFrame =
        CounterWorks() && streamingAt1s >= 0 && streamingFramesAtEnd > streamingFramesAt1s
            ? static_cast<double>(streamingAtEnd - streamingAt1s) /
                  static_cast<double>(streamingFramesAtEnd - streamingFramesAt1s)
            : -1;
    const double encoderPerFrame =
        CounterWorks() && encoderSlot >= 0 && framesAtEnd > framesAt1s
            ? static_cast<double>(encoderAtEnd - encoderAt1s) / (framesAtEnd - framesAt1s)
            : -1;
    std::printf(
        "{\"cameras\": %d, \"seconds\": %.3f, \"composed\": %d, \"due\": %ld, \"late\": %d, "
        "\"cpu_per_s\": %.4f, \"camera_cpu_per_s\": %.4f, \"peak_rss_mib\": %.1f, "
        "\"allocations_per_frame\": %.2f, \"camera_allocations_per_s\": %.1f, "
        "\"bytes_per_frame\": %.0f, \"streaming_allocations_per_frame\": %.2f, "
        "\"encoder_allocations_per_frame\": %.2f, "
        "\"camera_ms_per_frame\": %.3f, \"camera_frames\": %ld}\n",
        cameras, recorded, framesAtEnd, due, late, cpu / recorded, cameraCpu,
        static_cast<double>(PeakRssKiB()) / 1024.0, allocationsPerFrame, cameraAllocations,
        framesAtEnd > 0 && !error ? static_cast<double>(bytes) / framesAtEnd : 0.0,
        streamingPerFrame, encoderPerFrame, cameraMsPerFrame, deliveredWhileRecording);
    CoUninitialize();
    return 0;
}
