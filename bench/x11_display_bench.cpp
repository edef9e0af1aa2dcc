// The X11 display on its own Xvfb, measured as CPU time of this process (and of the X server,
// reported beside it), each against a reference measured in the same run:
//
//  - Capturing the 1920x1080 root at 30 frames a second the way a recording does (GetDC(NULL),
//    BitBlt into the DIB section it keeps, whose bits are read directly), against ffmpeg's
//    x11grab grabbing the same root at the same rate (goal: at most 1.0x the CPU per captured
//    frame, ffmpeg's start and end left out of its share by also timing a run of one frame;
//    ratio_with_ffmpeg_start keeps them in). Beside it, the same with all of the screen changing
//    every frame (changing_ratio; x11grab's cost does not depend on it), and a new compatible
//    bitmap each frame that nobody reads afterwards (bitmap_ratio).
//  - A 1280x720 camera previewed in a 1280x720 window for a few seconds on the X display,
//    against the same preview on the headless display (goal: at most 1.3x the CPU per frame
//    shown).
#include <benchmark/benchmark.h>
#include <lumacap/lumacap.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "x11/XServer.h"

namespace {

using lumacap::test::XServer;

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double ChildrenCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

// The X server's CPU time so far, from /proc.
double ServerCpuSeconds(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    for (int i = 0; i < 13 && stat >> field; ++i) {
    }
    long utime = 0, stime = 0;
    stat >> utime >> stime;
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

XServer& Server() {
    static std::unique_ptr<XServer> server = [] {
        std::string error;
        auto s = XServer::Start(1920, 1080, &error);
        if (!s) std::fprintf(stderr, "x11_display_bench: %s\n", error.c_str());
        return s;
    }();
    return *server;
}

void Pace(std::chrono::steady_clock::time_point start, int frame) {
    std::this_thread::sleep_until(start + std::chrono::microseconds(frame * 33333));
}

void RootCapture(benchmark::State& state) {
    constexpr int kFrames = 90;
    XServer& x = Server();
    lumacap::sim::UseX11Display(x.Name().c_str());
    double ours = 0, server = 0;
    for (auto _ : state) {
        const double cpu0 = ProcessCpuSeconds(), srv0 = ServerCpuSeconds(x.Pid());
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kFrames; ++i) {
            HDC screen = GetDC(nullptr);
            HDC mem = CreateCompatibleDC(screen);
            HBITMAP bitmap = CreateCompatibleBitmap(screen, 1920, 1080);
            HGDIOBJ old = SelectObject(mem, bitmap);
            BitBlt(mem, 0, 0, 1920, 1080, screen, 0, 0, SRCCOPY);
            SelectObject(mem, old);
            DeleteObject(bitmap);
            DeleteDC(mem);
            ReleaseDC(nullptr, screen);
            Pace(start, i + 1);
        }
        ours = (ProcessCpuSeconds() - cpu0) / kFrames;
        server = (ServerCpuSeconds(x.Pid()) - srv0) / kFrames;
    }
    // The same frames into one DIB section kept for the whole run, as a recording's window
    // capture does: its bits are read directly, so they are finished when BitBlt returns. Once
    // with the screen still (after two frames to see it), once with all of it changing every
    // frame (another client fills the root with a new colour: what pad bytes it may have set
    // must be looked for everywhere).
    auto dibFrames = [&](bool changing) {
        HDC screen = GetDC(nullptr);
        HDC mem = CreateCompatibleDC(screen);
        BITMAPINFO info{};
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), 1920, -1080, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        void* bits = nullptr;
        HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(mem, section);
        xcb_connection_t* painter = x.Conn();
        const xcb_gcontext_t gc = xcb_generate_id(painter);
        xcb_create_gc(painter, gc, x.Root(), 0, nullptr);
        const xcb_rectangle_t all{0, 0, 1920, 1080};
        auto frame = [&](int i) {
            if (changing) {
                const uint32_t colour = 0x010203u * static_cast<uint32_t>(i);
                xcb_change_gc(painter, gc, XCB_GC_FOREGROUND, &colour);
                xcb_poly_fill_rectangle(painter, x.Root(), gc, 1, &all);
                xcb_flush(painter);
            }
            HDC dc = GetDC(nullptr);
            BitBlt(mem, 0, 0, 1920, 1080, dc, 0, 0, SRCCOPY);
            ReleaseDC(nullptr, dc);
        };
        frame(0);
        frame(1);
        const double cpu0 = ProcessCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < kFrames; ++i) {
            frame(i + 2);
            Pace(start, i + 1);
        }
        const double cpu = (ProcessCpuSeconds() - cpu0) / kFrames;
        xcb_free_gc(painter, gc);
        xcb_flush(painter);
        SelectObject(mem, old);
        DeleteObject(section);
        DeleteDC(mem);
        ReleaseDC(nullptr, screen);
        return cpu;
    };
    const double dib = dibFrames(false), changing = dibFrames(true);
    // ffmpeg's own screen grabber, at the same rate, on the same server; once more for a single
    // frame, which is mostly its start and end, to tell its cost per frame once running.
    auto ffmpeg = [&](int frames, double* serverCpu) {
        const double child0 = ChildrenCpuSeconds(), srv0 = ServerCpuSeconds(x.Pid());
        const std::string command =
            "ffmpeg -v error -f x11grab -framerate 30 -video_size 1920x1080 -i " + x.Name() +
            " -frames:v " + std::to_string(frames) + " -f null - </dev/null";
        const int status = std::system(command.c_str());
        if (serverCpu) *serverCpu = (ServerCpuSeconds(x.Pid()) - srv0) / frames;
        return status == 0 ? ChildrenCpuSeconds() - child0 : -1.0;
    };
    // More frames than ours, so that what its start costs weighs little against them.
    constexpr int kLong = 4 * kFrames;
    double ffmpegServer = 0;
    const double whole = ffmpeg(kLong, &ffmpegServer), single = ffmpeg(1, nullptr);
    const double perFrame = whole / kLong, running = (whole - single) / (kLong - 1);
    const bool ran = whole > 0 && single > 0 && running > 0;
    state.counters["ours_ms_per_frame"] = dib * 1e3;
    state.counters["bitmap_ms_per_frame"] = ours * 1e3;
    state.counters["ffmpeg_ms_per_frame"] = running * 1e3;
    state.counters["ffmpeg_with_start_ms_per_frame"] = perFrame * 1e3;
    state.counters["ratio"] = ran ? dib / running : -1;
    state.counters["bitmap_ratio"] = ran ? ours / running : -1;
    state.counters["changing_ms_per_frame"] = changing * 1e3;
    state.counters["changing_ratio"] = ran ? changing / running : -1;
    state.counters["ratio_with_ffmpeg_start"] = ran ? dib / perFrame : -1;
    state.counters["server_ms_ours"] = server * 1e3;
    state.counters["server_ms_ffmpeg"] = ffmpegServer * 1e3;
    lumacap::sim::UseHeadlessDisplay();
}

// CPU per frame the preview painted, over a few seconds of a 1280x720 camera.
double PreviewCpuPerFrame(double* serverPerFrame, pid_t server) {
    HWND host = CreateWindowExA(0, "Static", "bench", WS_POPUP | WS_VISIBLE, 0, 0, 1282, 722,
                                nullptr, nullptr, nullptr, nullptr);
    CDXCamera camera;
    camera.SetCameraIndex(0);
    camera.SetResolutionIndex(4);  // 1280 x 720
    camera.SetParentWnd(host);
    camera.SetRenderMode(2);
    static std::atomic<long> frames{0};
    frames = 0;
    camera.SetLumacapBuffCB([](unsigned char*, long, void*) -> long { return ++frames, 0; },
                            nullptr);
    camera.Open();
    lumacap::sim::PumpMessagesUntil([] { return frames > 10; }, 5000);
    const long f0 = frames;
    const double cpu0 = ProcessCpuSeconds();
    const double srv0 = server > 0 ? ServerCpuSeconds(server) : 0;
    lumacap::sim::PumpMessagesUntil([] { return false; }, 3000);
    const double shown = static_cast<double>(frames - f0);
    const double cpu = (ProcessCpuSeconds() - cpu0) / shown;
    *serverPerFrame = server > 0 ? (ServerCpuSeconds(server) - srv0) / shown : 0;
    camera.Close();
    DestroyWindow(host);
    return cpu;
}

void Preview720p(benchmark::State& state) {
    XServer& x = Server();
    double headless = 0, onX = 0, server = 0, unused = 0;
    for (auto _ : state) {
        lumacap::sim::UseHeadlessDisplay();
        headless = PreviewCpuPerFrame(&unused, 0);
        lumacap::sim::UseX11Display(x.Name().c_str());
        onX = PreviewCpuPerFrame(&server, x.Pid());
        lumacap::sim::UseHeadlessDisplay();
    }
    state.counters["headless_ms_per_frame"] = headless * 1e3;
    state.counters["x11_ms_per_frame"] = onX * 1e3;
    state.counters["ratio"] = headless > 0 ? onX / headless : -1;
    state.counters["server_ms_per_frame"] = server * 1e3;
}

BENCHMARK(RootCapture)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Preview720p)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
