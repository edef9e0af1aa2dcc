// Heap allocations per recorded frame on the recording path once it has settled: two 1280x720
// MJPEG virtual cameras (previewed by the library, render mode 2) and two windows composed into
// 1920x1080 at 30 frames a second and recorded to an MJPEG AVI file. Every malloc in the process
// is counted (AllocationCount.h); the report splits them by thread: the recording's streaming
// thread (composition, compression, multiplexing, writing), the cameras' capture threads, and all
// the others. The first second (graph start, pools filling) is left out.
//
// usage: bench_recording_allocation_bench [--seconds N]   (default 4 s; other flags ignored)
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "AllocationCount.h"
#include "TwoCameras.h"

namespace {

std::atomic<int> g_composerSlot{-1};
std::atomic<int> g_cameraSlots[2] = {-1, -1};
std::atomic<long> g_cameraFrames{0};

long OnComposed(unsigned char*, long, void*) {
    if (g_composerSlot.load(std::memory_order_relaxed) < 0)
        g_composerSlot = allocation_count::CurrentSlot();
    return 0;
}

long OnCameraFrame(unsigned char*, long, void* context) {
    auto* slot = static_cast<std::atomic<int>*>(context);
    if (slot->load(std::memory_order_relaxed) < 0) *slot = allocation_count::CurrentSlot();
    g_cameraFrames.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

void Pump(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        lumacap::sim::PumpMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

HWND PaintedWindow(const char* title, int x, int y, COLORREF colour) {
    HWND hwnd = CreateWindowExA(0, "RecordingAllocationBench", title, WS_POPUP | WS_VISIBLE, x, y,
                                800, 600, nullptr, nullptr, nullptr, nullptr);
    HDC dc = GetDC(hwnd);
    RECT all{0, 0, 800, 600};
    HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    ReleaseDC(hwnd, dc);
    return hwnd;
}

int g_encoderSlot = -1;

struct Snapshot {
    uint64_t total = 0, composer = 0, encoder = 0, cameras = 0;
    int frames = 0;
    long cameraFrames = 0;
};

Snapshot Take(CDXRecorder& recorder) {
    Snapshot s;
    s.frames = recorder.GetRealFramesCount();
    s.cameraFrames = g_cameraFrames.load();
    s.total = allocation_count::Total();
    s.composer = allocation_count::OfSlot(g_composerSlot.load());
    s.encoder = allocation_count::OfSlot(g_encoderSlot);
    for (auto& slot : g_cameraSlots) s.cameras += allocation_count::OfSlot(slot.load());
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 4;
    bool trace = false;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--trace") == 0) {
            trace = true;
        } else if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: %s [--seconds N] [--trace]\n", argv[0]);
            return 0;
        }
    }
    if (!(seconds > 1)) {
        std::fprintf(stderr, "--seconds must be more than 1\n");
        return 2;
    }
    if (!allocation_count::Available()) {
        std::printf("recording allocations: not counted in a sanitizer build\n");
        return 0;
    }

    CoInitialize(nullptr);
    CDXCamera cameras[2];
    HWND host = nullptr;
    if (!bench::OpenTwoMjpegCameras("RecordingAllocationBench", cameras, &host,
                                    [](CDXCamera& camera, int i) {
                                        camera.SetRenderMode(2);
                                        camera.SetLumacapBuffCB(OnCameraFrame, &g_cameraSlots[i]);
                                    }))
        return 1;
    HWND w1 = PaintedWindow("one", 0, 0, RGB(200, 30, 30));
    HWND w2 = PaintedWindow("two", 900, 300, RGB(30, 200, 30));

    CDXRecorder recorder;
    recorder.SetVideoSize(1920, 1080);
    recorder.SetFPS(30);
    recorder.SetVideoCompressor("MJPEG Compressor");
    bench::AddQuarters(recorder, cameras, w1, w2);
    recorder.SetDxRecorderBuffCB(OnComposed, nullptr);
    const std::string output =
        "/tmp/lumacap-recording-allocation-bench-" + std::to_string(getpid()) + ".avi";
    if (!recorder.StartRecord(output.c_str(), 0)) {
        std::fprintf(stderr, "recording did not start: %s\n",
                     lumacap::sim::GbkToUtf8(recorder.GetErrorMsg()).c_str());
        return 1;
    }
    Pump(1.0);
    g_encoderSlot = allocation_count::SlotNamed("video encoder");
    const Snapshot a = Take(recorder);
    if (trace) allocation_count::StartTracing(-1);
    Pump(seconds - 1.0);
    const Snapshot b = Take(recorder);
    allocation_count::StopTracing();
    bench::CloseScene(recorder, cameras, w1, w2, host, output);

    const int frames = b.frames - a.frames;
    if (frames <= 0) {
        std::fprintf(stderr, "no frames were composed after the first second\n");
        return 1;
    }
    const double n = frames;
    const uint64_t others = (b.total - a.total) - (b.composer - a.composer) -
                            (b.encoder - a.encoder) - (b.cameras - a.cameras);
    std::printf("recording allocations: %d frames of 1920x1080 after the first second\n", frames);
    std::printf("  per composed frame: %.2f in all (goal 0)\n",
                static_cast<double>(b.total - a.total) / n);
    std::printf("    recording's streaming thread: %.2f\n",
                static_cast<double>(b.composer - a.composer) / n);
    std::printf("    the compressor's encoding thread: %.2f%s\n",
                static_cast<double>(b.encoder - a.encoder) / n,
                g_encoderSlot < 0 ? " (not found: counted with the others)" : "");
    std::printf("    the cameras' capture threads: %.2f (%.2f per camera frame, %ld frames)\n",
                static_cast<double>(b.cameras - a.cameras) / n,
                static_cast<double>(b.cameras - a.cameras) /
                    static_cast<double>(std::max(1L, b.cameraFrames - a.cameraFrames)),
                b.cameraFrames - a.cameraFrames);
    std::printf("    all other threads:            %.2f\n", static_cast<double>(others) / n);
    if (trace) allocation_count::PrintTraces(stdout);
    CoUninitialize();
    return 0;
}
