// Stress test support: the process census, the host window and cameras, the order log and the
// recording check.
#include "stress/StressSupport.h"

#include <dirent.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <lumacap/sim.h>

namespace lumacap::test {
namespace {

long CountEntries(const char* directory) {
    DIR* dir = opendir(directory);
    if (!dir) return -1;
    long count = 0;
    while (const dirent* entry = readdir(dir))
        if (entry->d_name[0] != '.') ++count;
    closedir(dir);
    return count;
}

std::string Run(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
        pclose(pipe);
    }
    return out;
}

// "key=value" lines of ffprobe's default writer.
std::string Value(const std::string& text, const std::string& key) {
    const size_t at = text.find(key + "=");
    if (at == std::string::npos) return "";
    const size_t start = at + key.size() + 1;
    return text.substr(start, text.find('\n', start) - start);
}

}  // namespace

Census TakeCensus() {
    Census c;
    c.threads = CountEntries("/proc/self/task");
    // Less the descriptor of the listing itself.
    c.descriptors = CountEntries("/proc/self/fd") - 1;
    c.objects = sim::LiveObjects();
    c.windows = sim::WindowCount();
    c.gdiObjects = sim::GdiObjectCount();
    return c;
}

std::string Describe(const Census& c) {
    return "threads " + std::to_string(c.threads) + ", descriptors " +
           std::to_string(c.descriptors) + ", objects " + std::to_string(c.objects) + ", windows " +
           std::to_string(c.windows) + ", GDI objects " + std::to_string(c.gdiObjects);
}

bool BackToBaseline(const Census& baseline, unsigned timeoutMs) {
    return sim::PumpMessagesUntil(
        [&] {
            const Census now = TakeCensus();
            return now.threads <= baseline.threads && now.descriptors <= baseline.descriptors &&
                   now.objects <= baseline.objects && now.windows <= baseline.windows &&
                   now.gdiObjects <= baseline.gdiObjects;
        },
        timeoutMs);
}

long OrderLog::Callback(unsigned char* buffer, long, void* context) {
    auto* log = static_cast<OrderLog*>(context);
    // One streaming thread per camera calls this, so the last number needs no lock.
    const long number = sim::ReadFrameNumber(buffer, log->m_width, log->m_height);
    if (log->m_last >= 0 && number != log->m_last + 1) ++log->m_breaks;
    log->m_last = number;
    ++log->m_count;
    return 0;
}

void StressTest::SetUp() {
    SimTest::SetUp();
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "StressHost";
    RegisterClassA(&wc);
    m_host = CreateWindowExA(0, "StressHost", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 1280,
                             720, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(m_host, nullptr);
}

void StressTest::TearDown() {
    DestroyWindow(m_host);
    sim::PumpMessages();
    SimTest::TearDown();
}

void StressTest::ConfigureCamera(int position, long width, long height, bool paced) {
    sim::VirtualCameraConfig config = sim::DefaultCameraConfig();
    config.friendlyName = "Stress camera " + std::to_string(position);
    config.displayName = "@device:pnp:stress" + std::to_string(position);
    config.capabilities = {{"YUY2", width, height, 30.0}};
    config.defaultCapability = 0;
    config.paced = paced;
    while (sim::CameraCount() <= position) sim::AddCamera(config);
    sim::ConfigureCamera(position, config);
}

std::unique_ptr<CDXCamera> StressTest::MakeCamera(int position, unsigned renderMode) {
    auto camera = std::make_unique<CDXCamera>();
    camera->SetCameraIndex(position);
    camera->SetResolutionIndex(0);
    camera->SetRenderMode(renderMode);
    camera->SetParentWnd(m_host);
    return camera;
}

FileCheck CheckRecording(const std::string& path) {
    const char* ffprobe = std::getenv("LUMACAP_TEST_FFPROBE");
    const std::string probe =
        Run(std::string(ffprobe ? ffprobe : "ffprobe") +
            " -v error -count_packets -select_streams v:0 -show_entries "
            "stream=nb_read_packets,r_frame_rate:format=duration -of default=nw=1 '" +
            path + "' 2>/dev/null");
    FileCheck check;
    const std::string duration = Value(probe, "duration");
    check.readable = !duration.empty();
    if (!check.readable) return check;
    check.duration = std::atof(duration.c_str());
    check.frames = std::atol(Value(probe, "nb_read_packets").c_str());
    const std::string rate = Value(probe, "r_frame_rate");
    const size_t slash = rate.find('/');
    if (slash != std::string::npos && std::atof(rate.c_str() + slash + 1) > 0)
        check.frameRate = std::atof(rate.c_str()) / std::atof(rate.c_str() + slash + 1);
    check.decodeErrors = Run("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1");
    return check;
}

}  // namespace lumacap::test
