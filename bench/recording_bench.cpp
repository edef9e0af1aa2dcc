// A 1280x720, 30 frames a second MJPEG recording of a virtual camera: how many frames came late,
// and how many CPU seconds each recorded second cost, against ffmpeg encoding the same composed
// frames with its own MJPEG encoder at the same quality.
//
// usage: bench_recording_bench [--seconds N] [--ffmpeg PATH]   (default 60 s; other flags ignored)
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "log/Log.h"

namespace {

constexpr int kWidth = 1280, kHeight = 720, kFps = 30;
constexpr size_t kFrameBytes = static_cast<size_t>(kWidth) * 3 * kHeight;
// Composed frames kept for ffmpeg: the pattern moves, so a second of them is representative.
constexpr size_t kKeptFrames = 30;

double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int LateLines() {
    std::ifstream in(lumacap::sim::HostPath(GetCurrentLogPath()), std::ios::binary);
    std::string line;
    int late = 0;
    while (std::getline(in, line))
        if (line.find("recorder,frame delay:") != std::string::npos) ++late;
    return late;
}

std::mutex g_framesMutex;
std::vector<std::vector<unsigned char>> g_frames;

long KeepFrames(unsigned char* buffer, long length, void*) {
    std::lock_guard<std::mutex> lock(g_framesMutex);
    if (g_frames.size() < kKeptFrames && static_cast<size_t>(length) == kFrameBytes)
        g_frames.emplace_back(buffer, buffer + length);
    return 0;
}

// Encodes `count` frames (the kept ones, in turn) with ffmpeg's MJPEG encoder into an AVI file;
// answers ffmpeg's CPU seconds, or a negative value when it could not run.
double FfmpegCpuSeconds(const std::string& ffmpeg, long count, const std::string& output) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return -1;
    const double before = CpuSeconds(RUSAGE_CHILDREN);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipeFds[0], STDIN_FILENO);
        close(pipeFds[0]);
        close(pipeFds[1]);
        const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
        const std::string rate = std::to_string(kFps);
        execlp(ffmpeg.c_str(), ffmpeg.c_str(), "-v", "error", "-y", "-f", "rawvideo", "-pix_fmt",
               "bgr24", "-s", size.c_str(), "-r", rate.c_str(), "-i", "-", "-threads", "1", "-c:v",
               "mjpeg", "-q:v", "3", "-pix_fmt", "yuvj420p", "-f", "avi", output.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(pipeFds[0]);
    bool ok = pid > 0;
    for (long i = 0; ok && i < count; ++i) {
        const auto& frame = g_frames[static_cast<size_t>(i) % g_frames.size()];
        size_t done = 0;
        while (ok && done < frame.size()) {
            const ssize_t n = write(pipeFds[1], frame.data() + done, frame.size() - done);
            ok = n > 0;
            if (ok) done += static_cast<size_t>(n);
        }
    }
    close(pipeFds[1]);
    int status = 0;
    if (pid > 0) waitpid(pid, &status, 0);
    if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
    return CpuSeconds(RUSAGE_CHILDREN) - before;
}

LRESULT CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

void Pump(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        lumacap::sim::PumpMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 60;
    std::string ffmpeg = "ffmpeg";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::atof(argv[++i]);
        } else if (std::strcmp(argv[i], "--ffmpeg") == 0 && i + 1 < argc) {
            ffmpeg = argv[++i];
        } else if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: %s [--seconds N] [--ffmpeg PATH]\n", argv[0]);
            return 0;
        }
    }
    if (!(seconds > 0)) {
        std::fprintf(stderr, "--seconds must be positive\n");
        return 2;
    }

    CoInitialize(nullptr);
    // A camera whose frames cost one copy to produce, as a hardware device's do.
    lumacap::sim::VirtualCameraConfig config = lumacap::sim::DefaultCameraConfig();
    config.capabilities = {{"RGB24", kWidth, kHeight, 30.0}};
    config.defaultCapability = 0;
    config.prerenderedFrames = 60;
    lumacap::sim::ConfigureCamera(0, config);

    WNDCLASSA wc{};
    wc.lpfnWndProc = HostProc;
    wc.lpszClassName = "RecordingBench";
    RegisterClassA(&wc);
    HWND host = CreateWindowExA(0, "RecordingBench", "bench", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480,
                                nullptr, nullptr, nullptr, nullptr);
    CDXCamera camera;
    camera.SetCameraIndex(0);
    camera.SetResolutionIndex(0);
    camera.SetParentWnd(host);
    camera.SetRenderMode(1);
    camera.Open();
    if (camera.GetCameraStatus() != 3) {
        std::fprintf(stderr, "camera did not open: %s\n",
                     lumacap::sim::GbkToUtf8(camera.GetLastError()).c_str());
        return 1;
    }

    // The camera alone, for the share of the total that capture costs.
    const double cameraSeconds = seconds < 10 ? seconds : 10;
    double cpu0 = CpuSeconds(RUSAGE_SELF);
    Pump(cameraSeconds);
    const double cameraCpu = (CpuSeconds(RUSAGE_SELF) - cpu0) / cameraSeconds;

    CDXRecorder recorder;
    recorder.SetVideoSize(kWidth, kHeight);
    recorder.SetFPS(kFps);
    recorder.SetVideoCompressor("MJPEG Compressor");
    recorder.AddVideoSource(&camera, RECT{0, 0, kWidth, kHeight});
    recorder.SetDxRecorderBuffCB(KeepFrames, nullptr);
    const std::string output = "/tmp/lumacap-recording-bench-" + std::to_string(getpid()) + ".avi";
    const int lateBefore = LateLines();
    cpu0 = CpuSeconds(RUSAGE_SELF);
    const auto start = std::chrono::steady_clock::now();
    if (!recorder.StartRecord(output.c_str(), 1)) {
        std::fprintf(stderr, "recording did not start: %s\n",
                     lumacap::sim::GbkToUtf8(recorder.GetErrorMsg()).c_str());
        return 1;
    }
    Pump(seconds);
    recorder.CloseRecord();
    const double recorded =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double totalCpu = (CpuSeconds(RUSAGE_SELF) - cpu0) / recorded;
    const int frames = recorder.GetRealFramesCount();
    const int late = LateLines() - lateBefore;
    camera.Close();
    DestroyWindow(host);
    std::remove(output.c_str());

    std::printf(
        "recording: %.1f s of 1280x720 at 30 fps, MJPEG: %d frames composed, %d late (goal 0)\n",
        recorded, frames, late);
    std::printf(
        "  CPU s per recorded s: %.3f in all, %.3f of it the camera alone, %.3f recording\n",
        totalCpu, cameraCpu, totalCpu - cameraCpu);
    if (g_frames.empty()) {
        std::fprintf(stderr, "no composed frames kept for ffmpeg\n");
        return 1;
    }
    const std::string ffmpegOutput = output + ".ffmpeg.avi";
    const double ffmpegCpu = FfmpegCpuSeconds(ffmpeg, frames, ffmpegOutput);
    std::remove(ffmpegOutput.c_str());
    if (ffmpegCpu < 0) {
        std::printf("  ffmpeg could not be run for the comparison\n");
        return 0;
    }
    const double ffmpegPerSecond = ffmpegCpu / recorded;
    std::printf("  ffmpeg encoding the same %d frames: %.3f CPU s per recorded s\n", frames,
                ffmpegPerSecond);
    std::printf("  ratio (recording / ffmpeg): %.2f\n", (totalCpu - cameraCpu) / ffmpegPerSecond);
    CoUninitialize();
    return 0;
}
