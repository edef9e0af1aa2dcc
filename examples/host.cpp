// A host program built against the installed package, as a user builds one: it creates cameras
// and a recorder, checks the answers and texts the library gives, drives a window across threads,
// captures from the default camera in its own window (frames, a snapshot, run, pause, stop, close
// and reopen, image controls), and records the camera and two windows with sound to AVI and ASF
// through start, pause, resume, stop and close, reading both files back with ffprobe. It exits
// with status 1 if anything differs from what the library promises.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
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
    camera.SetRenderMode(RenderMode_SelfDrawn);
    camera.SetBrgihtness(20);
    Check(camera.Open() == 0 && camera.GetCameraStatus() == CameraStatus_Running,
          "the camera opens and runs");
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

    Check(camera.Pause() == 0 && camera.GetCameraStatus() == CameraStatus_Paused, "paused");
    Check(camera.Run() == 0 && camera.GetCameraStatus() == CameraStatus_Running, "running again");
    Check(camera.Stop() == 0, "stop answers at once");
    Check(lumacap::sim::PumpMessagesUntil(
              [&] { return camera.GetCameraStatus() == CameraStatus_Stopped; }, 5000),
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

    Check(camera.Close() == 0 && camera.GetCameraStatus() == CameraStatus_Closed, "closed");
    Check(camera.TakeSnapshot(image, size) == 1 && SameText(camera.GetLastError(), "设备未运行."),
          "no snapshot closed");
    const long before = frames.count.load();
    Check(camera.Open() == 0 && WaitForFrames(frames, before + 5),
          "reopened with the same frame callback");
    camera.Close();
    DestroyWindow(window);
}

// ---- recording ----

std::atomic<int> g_levels{0};

LRESULT CALLBACK NotifyProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_RECORDER_AUDIOLEVEL) ++g_levels;
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Keeps this thread's windows answering while time passes.
void Wait(double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        lumacap::sim::PumpMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// ffprobe's flat key=value view of a file (empty if it cannot be read).
std::map<std::string, std::string> Probe(const std::string& path) {
    std::map<std::string, std::string> values;
    const std::string command =
        "ffprobe -v error -show_entries format=duration:stream=codec_type,width,height -of flat '" +
        path + "' 2>/dev/null";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return values;
    char line[512];
    while (std::fgets(line, sizeof(line), pipe)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '"')) text.pop_back();
        const size_t eq = text.find('=');
        if (eq != std::string::npos)
            values[text.substr(0, eq)] = text.substr(text[eq + 1] == '"' ? eq + 2 : eq + 1);
    }
    if (pclose(pipe) != 0) values.clear();
    return values;
}

// Records the camera and two windows with sound through start, pause, resume, stop and close, and
// checks what ffprobe reads back.
void RecordAndCheck(CDXCamera& camera, HWND notify, HWND left, HWND right,
                    const std::string& path) {
    const std::string name = path.substr(path.rfind('.') + 1);
    CDXRecorder recorder;
    recorder.SetVideoSize(480, 160);
    recorder.SetFPS(20);
    recorder.SetAudioRecord(TRUE);
    recorder.SetNotifyWnd(notify);
    recorder.AddVideoSource(&camera, RECT{0, 0, 160, 160});
    recorder.AddWindowSource(left, RECT{160, 0, 320, 160});
    recorder.AddWindowSource(right, RECT{320, 0, 480, 160});
    g_levels = 0;
    Check(recorder.StartRecord(path.c_str(), 0) && recorder.GetStatus() == RecorderStatus_Running,
          (name + ": the recording starts").c_str());
    Wait(1.0);
    Check(recorder.Pause() == 0 && recorder.GetStatus() == RecorderStatus_Paused,
          (name + ": it pauses").c_str());
    Check(recorder.Stop() == 1 && SameText(recorder.GetErrorMsg(), "录像已经暂停."),
          (name + ": paused, it cannot stop").c_str());
    Wait(1.0);
    Check(recorder.Run() == 0 && recorder.GetStatus() == RecorderStatus_Running,
          (name + ": it resumes").c_str());
    Wait(1.0);
    Check(recorder.Stop() == 0 && recorder.GetStatus() == RecorderStatus_Stopped,
          (name + ": it stops").c_str());
    recorder.CloseRecord();
    Check(recorder.GetStatus() == RecorderStatus_Closed && recorder.GetRealFramesCount() >= 20,
          (name + ": it closes with its frames").c_str());
    Check(g_levels > 5, (name + ": sound levels reach the notify window").c_str());

    const auto probe = Probe(path);
    auto get = [&](const std::string& key) {
        auto it = probe.find(key);
        return it == probe.end() ? std::string() : it->second;
    };
    Check(!probe.empty(), (name + ": ffprobe reads the file").c_str());
    const std::string first = get("streams.stream.0.codec_type"),
                      second = get("streams.stream.1.codec_type");
    Check(((first == "video" && second == "audio") || (first == "audio" && second == "video")) &&
              get("streams.stream.2.codec_type").empty(),
          (name + ": one video and one sound stream").c_str());
    const std::string video = "streams.stream." + std::string(first == "video" ? "0" : "1") + ".";
    Check(get(video + "width") == "480" && get(video + "height") == "160",
          (name + ": the video is 480 x 160").c_str());
    // Two seconds recorded around a pause of one that leaves no gap.
    const double duration = std::atof(get("format.duration").c_str());
    Check(duration > 1.5 && duration < 2.8,
          (name + ": the file lasts the two seconds recorded").c_str());
}

void RecordTheCameraAndTwoWindows() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = NotifyProc;
    wc.lpszClassName = "LumacapExampleRecording";
    RegisterClassA(&wc);
    HWND host = CreateWindowExA(0, "LumacapExampleRecording", "recording", WS_OVERLAPPEDWINDOW, 0,
                                0, 320, 240, nullptr, nullptr, nullptr, nullptr);
    HWND left = CreateWindowExA(0, "LumacapExampleRecording", "left", WS_POPUP | WS_VISIBLE, 100,
                                100, 300, 200, nullptr, nullptr, nullptr, nullptr);
    HWND right = CreateWindowExA(0, "LumacapExampleRecording", "right", WS_POPUP | WS_VISIBLE, 500,
                                 100, 200, 300, nullptr, nullptr, nullptr, nullptr);
    CDXCamera camera;
    camera.SetCameraIndex(0);
    camera.SetResolutionIndex(0);
    camera.SetParentWnd(host);
    camera.SetRenderMode(RenderMode_NullRenderer);
    Check(camera.Open() == 0 && camera.GetCameraStatus() == CameraStatus_Running,
          "the camera to record opens");
    char dir[] = "/tmp/lumacap-example-XXXXXX";
    if (mkdtemp(dir)) {
        for (const char* file : {"/host.avi", "/host.asf"}) {
            const std::string path = std::string(dir) + file;
            RecordAndCheck(camera, host, left, right, path);
            std::remove(path.c_str());
        }
        rmdir(dir);
    }
    camera.Close();
    DestroyWindow(left);
    DestroyWindow(right);
    DestroyWindow(host);
}

}  // namespace

int main() {
    // ---- camera object ----
    CDXCamera camera;
    Check(camera.GetCameraStatus() == CameraStatus_Closed && camera.GetCameraIndex() == -1 &&
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

    // ---- recording ----
    RecordTheCameraAndTwoWindows();

    std::printf("%s\n", g_failures ? "example host: FAILED" : "example host: all checks passed");
    return g_failures ? 1 : 0;
}
