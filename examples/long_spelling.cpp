// A small host written as much Windows code is: long and unsigned long for the library's 32-bit
// values (both 32 bits on Windows), callbacks declared with long. It checks that results compare
// with error codes as they do on Windows. Exit status 1 on any difference.
#include <cstdio>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

// Windows code compares results with the codes' unsigned literals (hr == 0x80070005); that is
// what is checked here, so the compiler's warning about it is off.
#pragma GCC diagnostic ignored "-Wsign-compare"

namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++g_failures;
}

long __cdecl OnFrame(unsigned char*, long length, void* context) {
    *static_cast<long*>(context) = length;
    return 0;
}
long __cdecl OnConnect(int, void*) {
    return 0;
}
long __cdecl OnComposed(unsigned char*, long, void*) {
    return 0;
}

}  // namespace

int main() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "SpellingHost";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "SpellingHost", "host", WS_POPUP, 0, 0, 320, 240, nullptr,
                                  nullptr, nullptr, nullptr);
    CDXCamera camera;
    long lastLength = 0;
    camera.SetLumacapBuffCB(OnFrame, &lastLength);
    camera.SetLumacapConnectCB(OnConnect, nullptr);
    camera.SetCameraIndex(0);
    camera.SetResolutionIndex(0);
    camera.SetParentWnd(window);
    camera.SetRenderMode(RenderMode_NullRenderer);

    long width = 0, height = 0;
    Check(camera.GetVideoSize(0, &width, &height) == 1 && width == 640 && height == 480,
          "format size into longs");
    CDXCAMERAPROPERTY property;
    Check(CDXCamera::GetCameraProperty(CDXCamera::GetCameraCount(), &property) == S_FALSE,
          "a position past the last device answers S_FALSE");

    lumacap::sim::ArmCreateFault(CLSID_FilterGraph, E_ACCESSDENIED);
    const long hr = camera.Open();
    Check(hr == E_ACCESSDENIED && camera.Open() == 0x80070005,
          "a refused open compares equal to 0x80070005");
    lumacap::sim::DisarmFaults();

    Check(camera.Open() == S_OK &&
              lumacap::sim::PumpMessagesUntil([&] { return lastLength != 0; }, 5000),
          "frames reach a long callback");
    unsigned char* image = nullptr;
    unsigned long size = 0;
    Check(camera.TakeSnapshot(image, size) == S_OK && size == 40 + 640 * 480 * 3,
          "snapshot size into an unsigned long");
    camera.FreeImageMemery(image);
    long value = 0, flags = 0;
    Check(camera.GetVideoPropertyValue(0, &value, &flags) == TRUE, "device value into longs");
    camera.Close();

    CDXRecorder recorder;
    recorder.SetDxRecorderBuffCB(OnComposed, nullptr);
    Check(recorder.Run() == 1, "a recorder that never started refuses Run");
    DestroyWindow(window);
    return g_failures == 0 ? 0 : 1;
}
