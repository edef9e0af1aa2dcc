// A V4L2 camera's capture path through the kernel, against the bare decoding or conversion.
//
// fakecam serves a camera double (1280x720 MJPG and YUYV, 30 frames a second) through FUSE, as a
// device node the provider streams with mmap buffers. A CDXCamera in render mode 1 opens each
// format; the host callback notes the capture thread's CPU time, so the thread's CPU per frame
// covers everything from one dequeue to the host callback: poll, dequeue, the copy into a pooled
// sample, the decoding or conversion to RGB24, the sample grabber's copy and the callback.
// The same pictures are then decoded or converted by the fastest bare reader we know of, in the
// same run and on one thread: MJPEG by libjpeg-turbo straight into bottom-up BGR rows (the
// settings the decompressor uses), YUYV by the platform's scaler (packed 4:2:2 unpacked to planar,
// then libswscale's planar path).
//
// Counters: path_us and direct_us (CPU per frame, the direct work paced like the camera), ratio =
// path / direct (goal <= 1.1), direct_hot_us (the direct work back to back), ffmpeg_us and
// ratio_ffmpeg (libavcodec's decoder and one sws_scale call to RGB24, as a reader with FFmpeg alone
// would make it), bare_reader_us and ratio_bare_reader (a program streaming the same node by
// itself with the fastest way: poll, dequeue, decode or convert, queue; it pays the device's cost
// as the camera does, which the direct work does not), fps as received, delivered_ratio = frames
// the host received / frames the device offered (goal 1.0).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "common/TestAccess.h"
#include "platform/system/codecs/Codecs.h"
#include "BareJpeg.h"
#include "platform/system/hw/v4l2/FakePictures.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 1280, kHeight = 720;
constexpr int kSeconds = 4;

double ThreadCpuSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// fakecam serving one camera in a temporary directory, for the whole program.
class Served {
public:
    Served() {
        char exe[4096] = {};
        if (readlink("/proc/self/exe", exe, sizeof(exe) - 1) <= 0) return;
        const std::string fakecam =
            std::filesystem::path(exe).parent_path().string() + "/../tools/fakecam/fakecam";
        char dir[] = "/tmp/lumacap-bench-XXXXXX";
        if (!mkdtemp(dir) || access("/dev/fuse", W_OK) != 0) return;
        m_dir = dir;
        int out[2];
        if (pipe(out) != 0) return;
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            dup2(out[1], 1);
            close(out[0]);
            // Pictures drawn once and replayed: the device's own cost stays small and steady.
            execl(fakecam.c_str(), "fakecam", "--format", "MJPG:1280x720@30", "--format",
                  "YUYV:1280x720@30", "--prerender", "30", m_dir.c_str(), nullptr);
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c;
        pollfd p{out[0], POLLIN, 0};
        while (poll(&p, 1, 10000) > 0 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        m_ready = line.rfind("ready", 0) == 0;
    }
    ~Served() {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
        std::error_code ec;
        if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ec);
    }
    bool Ready() const { return m_ready; }
    std::string Dir() const { return m_dir; }

private:
    std::string m_dir;
    pid_t m_pid = -1;
    bool m_ready = false;
};

Served& TheServedCamera() {
    static Served served;
    return served;
}

struct Host {
    std::mutex mutex;
    long count = 0;
    double firstCpu = 0, lastCpu = 0;
    Clock::time_point first, last;

    static long __cdecl OnFrame(unsigned char* buffer, long length, void* context) {
        auto* host = static_cast<Host*>(context);
        benchmark::DoNotOptimize(buffer[length / 2]);
        const double cpu = ThreadCpuSeconds();
        std::lock_guard<std::mutex> lock(host->mutex);
        if (host->count++ == 0) {
            host->firstCpu = cpu;
            host->first = Clock::now();
        }
        host->lastCpu = cpu;
        host->last = Clock::now();
        return 0;
    }
};

// The same pictures read without the camera: CPU seconds per frame, one frame every 1/30 s as the
// camera delivers them (caches go cold between frames, as they do for the camera), or back to
// back; `ffmpeg` reads them with libavcodec and one sws_scale call instead of the fastest way.
double DirectCpuPerFrame(uint32_t fourcc, int frames, bool paced, bool ffmpeg = false) {
    lumacap::hw::v4l2::PictureMaker maker;
    maker.SetReplay(30);
    if (!maker.Configure(fourcc, kWidth, kHeight)) return 0;
    std::vector<std::vector<uint8_t>> pictures;
    for (int i = 0; i < 30; ++i) {
        std::vector<uint8_t> picture(static_cast<size_t>(kWidth) * kHeight * 2);
        const long n = maker.Render(i, picture.data(), picture.size());
        picture.resize(static_cast<size_t>(std::max(0L, n)));
        pictures.push_back(std::move(picture));
    }
    const bool mjpeg = fourcc == V4L2_PIX_FMT_MJPEG;
    const int stride = (kWidth * 3 + 3) & ~3;
    std::vector<uint8_t> rgb(static_cast<size_t>(stride) * kHeight);
    // Bottom-up rows, as the graph hands frames to the host.
    uint8_t* dst[4] = {rgb.data() + static_cast<size_t>(stride) * (kHeight - 1)};
    const int dstStride[4] = {-stride};
    AVCodecContext* codec = nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    BareJpegReader jpeg(rgb.data(), stride, kHeight);
    if (mjpeg && ffmpeg) {
        codec = avcodec_alloc_context3(avcodec_find_decoder(AV_CODEC_ID_MJPEG));
        codec->thread_count = 1;
        avcodec_open2(codec, codec->codec, nullptr);
    }
    SwsContext* sws = nullptr;
    lumacap::codecs::Scaler scaler;
    const double start = ThreadCpuSeconds();
    auto due = Clock::now();
    for (int i = 0; i < frames; ++i) {
        if (paced) {
            due += std::chrono::microseconds(33333);
            std::this_thread::sleep_until(due);
        }
        std::vector<uint8_t>& picture = pictures[static_cast<size_t>(i % 30)];
        if (mjpeg && !ffmpeg) {
            jpeg.Decode(picture.data(), picture.size());
        } else if (mjpeg) {
            packet->data = picture.data();
            packet->size = static_cast<int>(picture.size());
            avcodec_send_packet(codec, packet);
            if (avcodec_receive_frame(codec, frame) != 0) continue;
            sws = sws_getCachedContext(sws, kWidth, kHeight,
                                       static_cast<AVPixelFormat>(frame->format), kWidth, kHeight,
                                       AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
            sws_scale(sws, frame->data, frame->linesize, 0, kHeight, dst, dstStride);
        } else {
            const uint8_t* src[4] = {picture.data()};
            const int srcStride[4] = {kWidth * 2};
            if (!ffmpeg) {
                scaler.Convert(AV_PIX_FMT_YUYV422, kWidth, kHeight, src, srcStride,
                               AV_PIX_FMT_BGR24, kWidth, kHeight, dst, dstStride);
            } else {
                sws =
                    sws_getCachedContext(sws, kWidth, kHeight, AV_PIX_FMT_YUYV422, kWidth, kHeight,
                                         AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
                sws_scale(sws, src, srcStride, 0, kHeight, dst, dstStride);
            }
        }
        benchmark::DoNotOptimize(rgb.data());
    }
    const double cpu = (ThreadCpuSeconds() - start) / frames;
    sws_freeContext(sws);
    av_frame_free(&frame);
    packet->data = nullptr;
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    return cpu;
}

// A program reading the same device node by itself, as the V4L2 documentation's capture example
// does: mmap buffers, then per frame poll, dequeue, decode or convert (as DirectCpuPerFrame's
// fastest way) straight out of the driver's buffer, queue it again. CPU seconds per frame of this
// thread over `frames` frames, or 0 if the node cannot be streamed. Served through FUSE, every
// ioctl here waits for the double's process to answer, as it does for the camera: this is the
// reference that pays the device's cost the same way.
double BareReaderCpuPerFrame(const std::string& node, uint32_t fourcc, int frames) {
    const int fd = open(node.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) return 0;
    v4l2_format fmt{};
    fmt.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    fmt.fmt.pix.width = kWidth;
    fmt.fmt.pix.height = kHeight;
    fmt.fmt.pix.pixelformat = fourcc;
    fmt.fmt.pix.field = V4L2_FIELD_NONE;
    v4l2_requestbuffers request{};
    request.count = 4;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    std::vector<std::pair<void*, size_t>> maps;
    double cpu = 0;
    const int stride = (kWidth * 3 + 3) & ~3;
    std::vector<uint8_t> rgb(static_cast<size_t>(stride) * kHeight);
    uint8_t* dst[4] = {rgb.data() + static_cast<size_t>(stride) * (kHeight - 1)};
    const int dstStride[4] = {-stride};
    BareJpegReader jpeg(rgb.data(), stride, kHeight);
    lumacap::codecs::Scaler scaler;
    v4l2_buf_type type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    bool ok = ioctl(fd, VIDIOC_S_FMT, &fmt) == 0 && fmt.fmt.pix.pixelformat == fourcc &&
              ioctl(fd, VIDIOC_REQBUFS, &request) == 0 && request.count > 0;
    for (uint32_t i = 0; ok && i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.index = i;
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        ok = ioctl(fd, VIDIOC_QUERYBUF, &buffer) == 0;
        void* address = ok ? mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd,
                                  buffer.m.offset)
                           : MAP_FAILED;
        ok = ok && address != MAP_FAILED && ioctl(fd, VIDIOC_QBUF, &buffer) == 0;
        if (address != MAP_FAILED) maps.emplace_back(address, buffer.length);
    }
    ok = ok && ioctl(fd, VIDIOC_STREAMON, &type) == 0;
    double start = 0;
    for (int i = 0; ok && i < frames + 1; ++i) {
        // The first frame's wait and start-up are not counted.
        if (i == 1) start = ThreadCpuSeconds();
        pollfd p{fd, POLLIN, 0};
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        ok = poll(&p, 1, 2000) > 0 && ioctl(fd, VIDIOC_DQBUF, &buffer) == 0 &&
             buffer.index < maps.size();
        if (!ok) break;
        const auto* data = static_cast<const uint8_t*>(maps[buffer.index].first);
        if (fourcc == V4L2_PIX_FMT_MJPEG) {
            jpeg.Decode(data, buffer.bytesused);
        } else {
            const uint8_t* src[4] = {data};
            const int srcStride[4] = {kWidth * 2};
            scaler.Convert(AV_PIX_FMT_YUYV422, kWidth, kHeight, src, srcStride, AV_PIX_FMT_BGR24,
                           kWidth, kHeight, dst, dstStride);
        }
        benchmark::DoNotOptimize(rgb.data());
        ok = ioctl(fd, VIDIOC_QBUF, &buffer) == 0;
        if (ok && i == frames) cpu = (ThreadCpuSeconds() - start) / frames;
    }
    ioctl(fd, VIDIOC_STREAMOFF, &type);
    for (auto& [address, length] : maps) munmap(address, length);
    close(fd);
    return cpu;
}

void CapturePath(benchmark::State& state, long format, uint32_t fourcc) {
    Served& served = TheServedCamera();
    if (!served.Ready()) {
        state.SkipWithError("fakecam cannot serve a camera here (no /dev/fuse?)");
        return;
    }
    lumacap::sim::Reset();
    lumacap::sim::UseV4l2Directory((served.Dir() + "/dev").c_str(),
                                   (served.Dir() + "/sys").c_str());
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "LumacapV4l2Bench";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "LumacapV4l2Bench", "bench", WS_POPUP, 0, 0, 640, 360, nullptr,
                                  nullptr, nullptr, nullptr);
    for (auto _ : state) {
        Host host;
        CDXCamera camera;
        camera.SetCameraIndex(0);
        camera.SetResolutionIndex(format);
        camera.SetParentWnd(window);
        camera.SetRenderMode(1);
        camera.SetLumacapBuffCB(&Host::OnFrame, &host);
        if (camera.Open() != 0) {
            state.SkipWithError(lumacap::sim::GbkToUtf8(camera.GetLastError()).c_str());
            break;
        }
        lumacap::sim::PumpMessagesUntil([] { return false; }, kSeconds * 1000);
        // What the device offered, as the capture pin counts it: frames passed on and frames
        // lost (skipped by the driver for want of a queued buffer, or unusable).
        long passed = 0, lost = 0;
        IEnumPins* pins = nullptr;
        IPin* pin = nullptr;
        if (SUCCEEDED(CDXCameraTestAccess::SourceFilter(camera)->EnumPins(&pins)) &&
            pins->Next(1, &pin, nullptr) == S_OK) {
            IAMDroppedFrames* counts = nullptr;
            if (SUCCEEDED(
                    pin->QueryInterface(IID_IAMDroppedFrames, reinterpret_cast<void**>(&counts)))) {
                counts->GetNumNotDropped(&passed);
                counts->GetNumDropped(&lost);
                counts->Release();
            }
            pin->Release();
        }
        if (pins) pins->Release();
        long frames;
        double path, seconds;
        {
            std::lock_guard<std::mutex> lock(host.mutex);
            frames = host.count;
            path = frames > 1 ? (host.lastCpu - host.firstCpu) / (frames - 1) : 0;
            seconds = std::chrono::duration<double>(host.last - host.first).count();
        }
        camera.Close();
        const double direct = DirectCpuPerFrame(fourcc, 120, true);
        state.counters["path_us"] = path * 1e6;
        state.counters["direct_us"] = direct * 1e6;
        state.counters["direct_hot_us"] = DirectCpuPerFrame(fourcc, 120, false) * 1e6;
        state.counters["ratio"] = direct > 0 ? path / direct : 0;
        const double bare = BareReaderCpuPerFrame(served.Dir() + "/dev/video0", fourcc, 120);
        state.counters["bare_reader_us"] = bare * 1e6;
        state.counters["ratio_bare_reader"] = bare > 0 ? path / bare : 0;
        const double viaFfmpeg = DirectCpuPerFrame(fourcc, 120, true, true);
        state.counters["ffmpeg_us"] = viaFfmpeg * 1e6;
        state.counters["ratio_ffmpeg"] = viaFfmpeg > 0 ? path / viaFfmpeg : 0;
        state.counters["fps"] = seconds > 0 ? (frames - 1) / seconds : 0;
        state.counters["delivered_ratio"] =
            passed + lost > 0 ? static_cast<double>(frames) / static_cast<double>(passed + lost)
                              : 0;
    }
    DestroyWindow(window);
}

}  // namespace

BENCHMARK_CAPTURE(CapturePath, Mjpg1280x720, 0, V4L2_PIX_FMT_MJPEG)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(CapturePath, Yuyv1280x720, 1, V4L2_PIX_FMT_YUYV)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
