// A host program built against the installed package, as a user builds one: it creates cameras
// and a recorder, checks the answers and texts the library gives, and drives a window across
// threads. It exits with status 1 if anything differs from what the library promises.
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
bool SameText(const char* gbk, const char* utf8) { return lumacap::sim::GbkToUtf8(gbk) == utf8; }

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_USER + 1) return static_cast<LRESULT>(GetCurrentThreadId());
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

}  // namespace

int main() {
    // ---- camera object ----
    CDXCamera camera;
    Check(camera.GetCameraStatus() == 0 && camera.GetCameraIndex() == -1 && camera.GetResolutionIndex() == -1,
          "a new camera is closed with no device or format");
    Check(camera.SetResolutionIndex(0) == 0 && SameText(camera.GetLastError(), "未指定设备。"),
          "a format cannot be chosen before a device");
    Check(SameText(GetErrorCodeText(0x12345678), "未知的错误"), "unknown codes have the fallback text");
    Check(std::string(GetErrorCodeText(0x80004005)) == "Unspecified error\r\n", "known codes have the system's text");

    // ---- recorder object ----
    CDXRecorder recorder;
    RECT left{0, 0, 320, 240};
    Check(recorder.AddVideoSource(&camera, left) == 0 && recorder.AddVideoSource(&camera, left) == 0,
          "a camera is a source once");
    Check(recorder.AddVideoSource(nullptr, left) == -1 && SameText(recorder.GetErrorMsg(), "无效的设备源参数。"),
          "a null camera is refused");
    Check(!recorder.RemoveSourceAt(7) && SameText(recorder.GetErrorMsg(), "无效的索引值：7"), "bad indices are named");
    recorder.SetFPS(25);
    Check(recorder.GetFPs() == 30, "frame rates round to tens");

    // ---- windows and messages across threads ----
    WNDCLASSA wc{};
    wc.lpfnWndProc = HostWindowProc;
    wc.lpszClassName = "LumacapExampleHost";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, "LumacapExampleHost", "example", WS_OVERLAPPEDWINDOW, 0, 0, 320, 240, nullptr,
                                nullptr, nullptr, nullptr);
    Check(IsWindow(hwnd), "a host window is created");
    LRESULT answeredOn = 0;
    std::thread sender([&] { answeredOn = SendMessageA(hwnd, WM_USER + 1, 0, 0); });
    lumacap::sim::PumpMessagesUntil([&] { return answeredOn != 0; }, 5000);
    sender.join();
    Check(answeredOn == static_cast<LRESULT>(GetCurrentThreadId()), "a cross-thread send runs on the window's thread");
    DestroyWindow(hwnd);
    Check(!IsWindow(hwnd) && !PostMessageA(hwnd, WM_USER, 0, 0), "posting to a destroyed window fails");

    std::printf("%s\n", g_failures ? "example host: FAILED" : "example host: all checks passed");
    return g_failures ? 1 : 0;
}
