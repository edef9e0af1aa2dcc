// Device bytes into the capture path: whatever a camera delivers (MJPEG or YUY2 frames that are
// truncated, corrupt, oversized or empty) goes through the decompressor or converter, the sample
// grabber and the host's callback into a self-drawn preview, and a snapshot is taken of it. The
// camera must keep delivering, and nothing may crash or hang.
//
// Input: one byte choosing the camera's format, then frames, each a 16-bit length (0: all that is
// left) and its bytes.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "common/FuzzSupport.h"

namespace {

using namespace lumacap;

const sim::VideoCapability kFormats[] = {
    {"MJPG", 320, 240, 30.0}, {"YUY2", 320, 240, 30.0}, {"MJPG", 64, 48, 30.0},
    {"YUY2", 64, 48, 30.0},   {"RGB24", 64, 48, 30.0},  {"MJPG", 1280, 720, 30.0},
};
constexpr int kFormatCount = static_cast<int>(sizeof(kFormats) / sizeof(kFormats[0]));

// The next frame the camera delivers, handed over from the fuzzer's thread.
struct Feed {
    std::mutex mutex;
    std::vector<uint8_t> frame;
    bool pending = false;
} g_feed;

long SupplyFrame(long, unsigned char* buffer, long capacity) {
    std::lock_guard<std::mutex> lock(g_feed.mutex);
    if (!g_feed.pending) return -1;
    g_feed.pending = false;
    const long n = std::min(static_cast<long>(g_feed.frame.size()), capacity);
    if (n > 0) std::memcpy(buffer, g_feed.frame.data(), static_cast<size_t>(n));
    return n;
}

long __cdecl CountFrame(unsigned char*, long, void* context) {
    ++*static_cast<std::atomic<long>*>(context);
    return 0;
}

std::unique_ptr<CDXCamera> g_camera;
std::atomic<long> g_hostFrames{0};
int g_format = -1;

void CloseCamera() {
    if (g_camera) g_camera->Close();
    g_camera.reset();
}

void Fail(const char* what) {
    std::fprintf(stderr, "capture_frames: %s\n", what);
    std::abort();
}

void OpenWithFormat(int format) {
    if (g_format == format && g_camera && g_camera->GetCameraStatus() == 3) return;
    CloseCamera();
    sim::VirtualCameraConfig config = sim::DefaultCameraConfig();
    config.capabilities.assign(std::begin(kFormats), std::end(kFormats));
    config.paced = false;
    config.frameSource = SupplyFrame;
    sim::ConfigureCamera(0, config);
    g_camera = std::make_unique<CDXCamera>();
    g_camera->SetCameraIndex(0);
    g_camera->SetResolutionIndex(format);
    g_camera->SetRenderMode(2);
    g_camera->SetParentWnd(fuzz::HostWindow());
    g_camera->SetLumacapBuffCB(CountFrame, &g_hostFrames);
    if (g_camera->Open() != 0) Fail("the camera does not open");
    g_format = format;
}

// Hands one frame to the camera and waits until it has gone all the way down the graph.
void Deliver(std::vector<uint8_t> frame) {
    const long before = sim::CameraFramesDelivered(0);
    {
        std::lock_guard<std::mutex> lock(g_feed.mutex);
        g_feed.frame = std::move(frame);
        g_feed.pending = true;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (sim::CameraFramesDelivered(0) <= before) {
        if (std::chrono::steady_clock::now() > deadline)
            Fail("the camera stopped delivering after a damaged frame");
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitializeMachine();
    std::atexit(CloseCamera);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::FuzzInput in(data, size);
    const int format = static_cast<int>(in.Pick(kFormatCount));
    OpenWithFormat(format);
    for (int frames = 0; frames < 4 && !in.Empty(); ++frames) {
        const uint16_t length = in.Word();
        Deliver(in.Bytes(length ? length : in.Remaining()));
    }
    // The preview paints what it was given. A snapshot is the grabber's copy of the last frame:
    // a whole picture once converted; device RGB passes as the device sent it, never larger.
    sim::PumpMessages();
    unsigned char* shot = nullptr;
    unsigned long shotSize = 0;
    if (g_camera->TakeSnapshot(shot, shotSize) == 0) {
        const sim::VideoCapability& f = kFormats[format];
        const unsigned long whole =
            sizeof(BITMAPINFOHEADER) +
            GDI_WIDTHBYTES(f.width * 24) * static_cast<unsigned long>(f.height);
        if (f.subtype == "RGB24" ? shotSize > whole : shotSize != whole)
            Fail("a snapshot is not a picture of the format's size");
        g_camera->FreeImageMemery(shot);
    }
    if (g_camera->GetCameraStatus() != 3) Fail("the camera stopped");
    return 0;
}
