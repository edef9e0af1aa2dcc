// A host program built against the installed package, as a user builds one: it creates cameras
// and a recorder, checks the answers and texts the library gives, drives a window across threads,
// and captures from the default camera in its own window: frames, a snapshot, run, pause, stop,
// close and reopen, image controls. It exits with status 1 if anything differs from what the
// library promises.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++g_failures;
}

// The library's texts are GBK; this host compares them with the UTF-8 it was written in.
bool SameText(const char* gbk, const char* utf8) {
    return lumacap::sim::GbkToUtf8(gbk) == utf8;
}

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_USER + 1) return static_cast<LRESULT>(GetCurrentThreadId());
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// What the camera's frame callback has seen.
struct Frames {
    std::atomic<long> count{0};
    std::atomic<long> lastLength{0};
    std::atomic<long> lastNumber{-1};
};

long __cdecl OnFrame(unsigned char* buffer, long length, void* context) {
    auto* frames = static_cast<Frames*>(context);
    frames->lastLength = length;
    frames->lastNumber = lumacap::sim::ReadFrameNumber(buffer, 640, 480);
    ++frames->count;
    return 0;
}

bool WaitForFrames(Frames& frames, long count) {
    return lumacap::sim::PumpMessagesUntil([&] { return frames.count.load() >= count; }, 5000);
}

void CaptureFromTheDefaultCamera() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "LumacapExampleCapture";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "LumacapExampleCapture", "capture", WS_POPUP | WS_VISIBLE, 0,
                                  0, 640, 480, nullptr, nullptr, nullptr, nullptr);
    Check(CDXCamera::GetCameraCount() >= 1, "the default camera is there");

    CDXCamera camera;
    Frames frames;
    camera.SetLumacapBuffCB(&OnFrame, &frames);
    Check(camera.SetCameraIndex(0) == 1 && camera.SetResolutionIndex(0) == 1,
          "device and format chosen");
    Check(camera.Open() == 1 && SameText(camera.GetLastError(), "设备参数未初始化。"),
          "no parent window, no open");
    Check(camera.SetParentWnd(window) == 1,
          "the camera's preview window is made in the host's window");
    camera.SetRenderMode(2);
    camera.SetBrgihtness(20);
    Check(camera.Open() == 0 && camera.GetCameraStatus() == 3, "the camera opens and runs");
    Check(camera.Open() == 0 && SameText(camera.GetLastError(), "设备已经在运行。"),
          "a second open changes nothing");
    Check(WaitForFrames(frames, 10), "frames reach the host");
    Check(frames.lastLength.load() == 640 * 480 * 3 && frames.lastNumber.load() >= 9,
          "frames are whole 640 x 480 RGB");

    unsigned char* image = nullptr;
    unsigned long size = 0;
    Check(camera.TakeSnapshot(image, size) == 0 && size == 40 + 640 * 480 * 3 && image &&
              image[0] == 40,
          "a snapshot is a bitmap header and a frame");
    camera.FreeImageMemery(image);

    Check(camera.Pause() == 0 && camera.GetCameraStatus() == 2, "paused");
    Check(camera.Run() == 0 && camera.GetCameraStatus() == 3, "running again");
    Check(camera.Stop() == 0, "stop answers at once");
    Check(lumacap::sim::PumpMessagesUntil([&] { return camera.GetCameraStatus() == 1; }, 5000),
          "and the camera stops");

    // Image controls: the queued brightness reached the device; the device's contrast came back.
    long value = 0, flags = 0;
    Check(camera.GetVideoPropertyValue(0, &value, &flags) == 1 && value == 20,
          "queued brightness applied at open");
    Check(camera.GetContrast() == 32, "the device's contrast read back at open");
    long mn = 0, mx = 0, def = 0, step = 0;
    Check(camera.GetVideoPropertyRange(104, &mn, &mx, &def, &step, &flags) == 1 && mn == -13 &&
              def == -6,
          "exposure's range, default before step");
    int automatic = -1;
    Check(camera.SetVideoPropertyValue(104, -4, 2) == 1 && camera.GetExposure(automatic) == -4 &&
              automatic == 0,
          "exposure set on the device, by hand");

    Check(camera.Close() == 0 && camera.GetCameraStatus() == 0, "closed");
    Check(camera.TakeSnapshot(image, size) == 1 && SameText(camera.GetLastError(), "设备未运行."),
          "no snapshot closed");
    const long before = frames.count.load();
    Check(camera.Open() == 0 && WaitForFrames(frames, before + 5),
          "reopened with the same frame callback");
    camera.Close();
    DestroyWindow(window);
}

}  // namespace

int main() {
    // ---- camera object ----
    CDXCamera camera;
    Check(camera.GetCameraStatus() == 0 && camera.GetCameraIndex() == -1 &&
              camera.GetResolutionIndex() == -1,
          "a new camera is closed with no device or format");
    Check(camera.SetResolutionIndex(0) == 0 && SameText(camera.GetLastError(), "未指定设备。"),
          "a format cannot be chosen before a device");
    Check(SameText(GetErrorCodeText(0x12345678), "未知的错误"),
          "unknown codes have the fallback text");
    Check(std::string(GetErrorCodeText(0x80004005)) == "Unspecified error\r\n",
          "known codes have the system's text");

    // ---- recorder object ----
    CDXRecorder recorder;
    RECT left{0, 0, 320, 240};
    Check(
        recorder.AddVideoSource(&camera, left) == 0 && recorder.AddVideoSource(&camera, left) == 0,
        "a camera is a source once");
    Check(recorder.AddVideoSource(nullptr, left) == -1 &&
              SameText(recorder.GetErrorMsg(), "无效的设备源参数。"),
          "a null camera is refused");
    Check(!recorder.RemoveSourceAt(7) && SameText(recorder.GetErrorMsg(), "无效的索引值：7"),
          "bad indices are named");
    recorder.SetFPS(25);
    Check(recorder.GetFPs() == 30, "frame rates round to tens");

    // ---- windows and messages across threads ----
    WNDCLASSA wc{};
    wc.lpfnWndProc = HostWindowProc;
    wc.lpszClassName = "LumacapExampleHost";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, "LumacapExampleHost", "example", WS_OVERLAPPEDWINDOW, 0, 0, 320,
                                240, nullptr, nullptr, nullptr, nullptr);
    Check(IsWindow(hwnd), "a host window is created");
    LRESULT answeredOn = 0;
    std::thread sender([&] { answeredOn = SendMessageA(hwnd, WM_USER + 1, 0, 0); });
    lumacap::sim::PumpMessagesUntil([&] { return answeredOn != 0; }, 5000);
    sender.join();
    Check(answeredOn == static_cast<LRESULT>(GetCurrentThreadId()),
          "a cross-thread send runs on the window's thread");
    DestroyWindow(hwnd);
    Check(!IsWindow(hwnd) && !PostMessageA(hwnd, WM_USER, 0, 0),
          "posting to a destroyed window fails");

    // ---- capture ----
    CaptureFromTheDefaultCamera();

    std::printf("%s\n", g_failures ? "example host: FAILED" : "example host: all checks passed");
    return g_failures ? 1 : 0;
}
