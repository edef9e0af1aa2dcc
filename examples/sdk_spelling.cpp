// A small host written as SDK-style Windows code is: LONG and DWORD for the library's 32-bit
// values, callbacks declared with LONG. It checks that results compare with error codes as they
// do on Windows. Exit status 1 on any difference.
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

LONG __cdecl OnFrame(unsigned char*, LONG length, void* context) {
    *static_cast<LONG*>(context) = length;
    return 0;
}
LONG __cdecl OnConnect(int, void*) {
    return 0;
}
LONG __cdecl OnComposed(unsigned char*, LONG, void*) {
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
    LONG lastLength = 0;
    camera.SetLumacapBuffCB(OnFrame, &lastLength);
    camera.SetLumacapConnectCB(OnConnect, nullptr);
    camera.SetCameraIndex(0);
    camera.SetResolutionIndex(0);
    camera.SetParentWnd(window);
    camera.SetRenderMode(RenderMode_NullRenderer);

    LONG width = 0, height = 0;
    Check(camera.GetVideoSize(0, &width, &height) == 1 && width == 640 && height == 480,
          "format size into LONGs");
    CDXCAMERAPROPERTY property;
    Check(CDXCamera::GetCameraProperty(CDXCamera::GetCameraCount(), &property) == S_FALSE,
          "a position past the last device answers S_FALSE");

    lumacap::sim::ArmCreateFault(CLSID_FilterGraph, E_ACCESSDENIED);
    const HRESULT hr = camera.Open();
    Check(hr == E_ACCESSDENIED && camera.Open() == 0x80070005,
          "a refused open compares equal to 0x80070005");
    lumacap::sim::DisarmFaults();

    Check(camera.Open() == S_OK &&
              lumacap::sim::PumpMessagesUntil([&] { return lastLength != 0; }, 5000),
          "frames reach a LONG callback");
    unsigned char* image = nullptr;
    DWORD size = 0;
    Check(camera.TakeSnapshot(image, size) == S_OK && size == 40 + 640 * 480 * 3,
          "snapshot size into a DWORD");
    camera.FreeImageMemery(image);
    LONG value = 0, flags = 0;
    Check(camera.GetVideoPropertyValue(0, &value, &flags) == TRUE, "device value into LONGs");
    camera.Close();

    CDXRecorder recorder;
    recorder.SetDxRecorderBuffCB(OnComposed, nullptr);
    Check(recorder.Run() == 1, "a recorder that never started refuses Run");
    DestroyWindow(window);
    return g_failures == 0 ? 0 : 1;
}
