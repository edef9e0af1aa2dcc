// The MJPEG compressor's encoder against the one it replaced, on the same composed 1920x1080
// frames: libjpeg-turbo encoding straight from the bottom-up BGR rows, against libswscale's
// conversion to full-range 4:2:0 followed by libavcodec's MJPEG encoder at a fixed quantiser of 3.
// The frames are taken from a real recording (two 1280x720 virtual cameras and two windows of
// fine detail, composed as a recording composes them). For each encoder and turbo quality:
// CPU time per frame (the encoding thread's own clock), size per frame, PSNR of the decoded
// picture against the composed frame; and the ratio of CPU time against libavcodec's. Turbo's
// time includes the copy of the frame the compressor makes before encoding. Also turbo
// with Huffman tables fitted to each picture, as libavcodec's are.
//
// usage: bench_mjpeg_encode_bench [--rounds N]   (default 5; other flags ignored)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "TwoCameras.h"
#include "platform/system/codecs/JpegDecoder.h"
#include "platform/system/codecs/JpegEncoder.h"
#include "platform/system/codecs/StreamEncoders.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kStride = kWidth * 3;
constexpr size_t kFrameBytes = static_cast<size_t>(kStride) * kHeight;
constexpr int kFramesWanted = 8;

std::mutex g_mutex;
std::vector<std::vector<uint8_t>> g_frames;
int g_seen = 0;

// Every fifth composed frame, so the cameras' pictures have moved on between them.
long OnComposed(unsigned char* buffer, long length, void*) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (length >= static_cast<long>(kFrameBytes) && g_frames.size() < kFramesWanted &&
        g_seen++ % 5 == 4)
        g_frames.emplace_back(buffer, buffer + kFrameBytes);
    return 0;
}

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A window of screen-like detail: rows of short dark strokes on a light page, like lines of
// text, with a coloured band across it.
HWND DetailedWindow(const char* title, int x, int y, unsigned seed) {
    HWND hwnd = CreateWindowExA(0, "MjpegEncodeBench", title, WS_POPUP | WS_VISIBLE, x, y, 800, 600,
                                nullptr, nullptr, nullptr, nullptr);
    HDC dc = GetDC(hwnd);
    RECT all{0, 0, 800, 600};
    HBRUSH page = CreateSolidBrush(RGB(245, 245, 240));
    FillRect(dc, &all, page);
    DeleteObject(page);
    HBRUSH ink = CreateSolidBrush(RGB(30, 30, 40));
    for (int row = 10; row + 8 < 600; row += 14) {
        for (int col = 10; col < 780;) {
            seed = seed * 1103515245u + 12345u;
            const int word = 8 + static_cast<int>((seed >> 16) % 50);
            RECT stroke{col, row + static_cast<int>((seed >> 8) % 3), std::min(col + word, 790),
                        row + 7};
            FillRect(dc, &stroke, ink);
            col += word + 6;
        }
    }
    DeleteObject(ink);
    HBRUSH band = CreateSolidBrush(RGB(40, 110, 200));
    RECT bar{0, 260, 800, 330};
    FillRect(dc, &bar, band);
    DeleteObject(band);
    ReleaseDC(hwnd, dc);
    return hwnd;
}

bool CollectFrames() {
    CDXCamera cameras[2];
    HWND host = nullptr;
    if (!bench::OpenTwoMjpegCameras("MjpegEncodeBench", cameras, &host)) return false;
    HWND w1 = DetailedWindow("one", 0, 0, 1);
    HWND w2 = DetailedWindow("two", 900, 300, 2);
    CDXRecorder recorder;
    recorder.SetVideoSize(kWidth, kHeight);
    recorder.SetFPS(30);
    bench::AddQuarters(recorder, cameras, w1, w2);
    recorder.SetDxRecorderBuffCB(OnComposed, nullptr);
    const std::string output =
        "/tmp/lumacap-mjpeg-encode-bench-" + std::to_string(getpid()) + ".avi";
    bool ok = recorder.StartRecord(output.c_str(), 1) != FALSE;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (ok && std::chrono::steady_clock::now() < deadline) {
        lumacap::sim::PumpMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_frames.size() >= kFramesWanted) break;
    }
    bench::CloseScene(recorder, cameras, w1, w2, host, output);
    return g_frames.size() >= kFramesWanted;
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    for (size_t i = 0; i < kFrameBytes; ++i) {
        const double d = static_cast<double>(a[i]) - static_cast<double>(b[i]);
        sum += d * d;
    }
    const double mse = sum / static_cast<double>(kFrameBytes);
    return mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99;
}

struct Result {
    double cpuPerFrame = 0;  // seconds
    double bytesPerFrame = 0;
    double psnr = 0;  // dB, mean over the frames
};

// Encodes every frame `rounds` times, keeping the last round's pictures for the size and PSNR.
template <typename Encode>
Result Measure(int rounds, Encode encode) {
    std::vector<std::vector<uint8_t>> pictures(g_frames.size());
    double cpu = 0;
    for (int r = 0; r < rounds; ++r) {
        for (size_t i = 0; i < g_frames.size(); ++i) {
            const double t0 = ThreadCpuSeconds();
            encode(g_frames[i], pictures[i]);
            cpu += ThreadCpuSeconds() - t0;
        }
    }
    Result result;
    result.cpuPerFrame = cpu / (rounds * static_cast<double>(g_frames.size()));
    lumacap::codecs::JpegDecoder decoder;
    std::vector<uint8_t> decoded(kFrameBytes);
    for (size_t i = 0; i < g_frames.size(); ++i) {
        result.bytesPerFrame += static_cast<double>(pictures[i].size());
        if (decoder.Decode(pictures[i].data(), pictures[i].size(), kWidth, kHeight, 3, true,
                           decoded.data(), kStride) != lumacap::codecs::JpegDecoder::Result::Ok) {
            std::fprintf(stderr, "a picture did not decode\n");
            std::exit(1);
        }
        result.psnr += Psnr(g_frames[i], decoded);
    }
    result.bytesPerFrame /= static_cast<double>(g_frames.size());
    result.psnr /= static_cast<double>(g_frames.size());
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--help") == 0) {
            std::printf("usage: %s [--rounds N]\n", argv[0]);
            return 0;
        }
    }
    CoInitialize(nullptr);
    if (!CollectFrames()) {
        std::fprintf(stderr, "no composed frames were collected\n");
        return 1;
    }

    // What the compressor did before: convert, then encode, on one stream's encoder.
    lumacap::codecs::VideoEncoderSettings settings;
    settings.codec = AV_CODEC_ID_MJPEG;
    settings.format = AV_PIX_FMT_YUVJ420P;
    settings.width = kWidth;
    settings.height = kHeight;
    settings.quality = 3;
    settings.keyInterval = 1;
    lumacap::codecs::VideoStreamEncoder ffmpeg;
    if (ffmpeg.Open(settings) < 0) {
        std::fprintf(stderr, "libavcodec's MJPEG encoder did not open\n");
        return 1;
    }
    int64_t pts = 0;
    const Result reference =
        Measure(rounds, [&](const std::vector<uint8_t>& frame, std::vector<uint8_t>& out) {
            ffmpeg.Encode(AV_PIX_FMT_BGR24, kWidth, kHeight, true, frame.data(), pts++,
                          [&](AVPacket* packet) {
                              out.assign(packet->data, packet->data + packet->size);
                              return true;
                          });
        });

    std::printf("MJPEG encoding of %zu composed %dx%d frames, %d rounds\n", g_frames.size(), kWidth,
                kHeight, rounds);
    std::printf("  %-42s %9s %9s %8s %9s\n", "encoder", "ms/frame", "KiB/frame", "PSNR dB",
                "CPU ratio");
    std::printf("  %-42s %9.2f %9.1f %8.2f %9.2f\n", "libswscale + libavcodec, q 3",
                reference.cpuPerFrame * 1e3, reference.bytesPerFrame / 1024, reference.psnr, 1.0);
    std::vector<uint8_t> buffer(kFrameBytes), copy(kFrameBytes);
    for (const auto& [quality, fit] : {std::pair{80, false},
                                       {85, false},
                                       {88, false},
                                       {90, false},
                                       {92, false},
                                       {95, false},
                                       {85, true},
                                       {88, true}}) {
        lumacap::codecs::JpegEncoder turbo;
        if (!turbo.Open(kWidth, kHeight, 3, quality, fit)) return 1;
        const Result r =
            Measure(rounds, [&](const std::vector<uint8_t>& frame, std::vector<uint8_t>& out) {
                const size_t n =
                    turbo.Encode(frame.data(), kStride, true, buffer.data(), buffer.size());
                out.assign(buffer.data(), buffer.data() + n);
            });
        char name[64];
        std::snprintf(name, sizeof name, "libjpeg-turbo, quality %d%s", quality,
                      fit                                                   ? ", fitted tables"
                      : quality == lumacap::codecs::kMjpegCompressorQuality ? " (used)"
                                                                            : "");
        std::printf("  %-42s %9.2f %9.1f %8.2f %9.2f\n", name, r.cpuPerFrame * 1e3,
                    r.bytesPerFrame / 1024, r.psnr, r.cpuPerFrame / reference.cpuPerFrame);
    }
    CoUninitialize();
    return 0;
}
