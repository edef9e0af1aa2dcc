// The scene the recording benchmarks compose into 1920x1080: two virtual MJPEG cameras at 1280x720
// and 30 fps (prerendered, so the device costs one copy) opened under a host window, and two
// windows.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

namespace bench {

// Opens both cameras into `cameras`, each given to `prepare` (render mode, callbacks) first; false
// (with the reason on stderr) when one does not open.
inline bool OpenTwoMjpegCameras(const char* windowClass, CDXCamera (&cameras)[2], HWND* host,
                                const std::function<void(CDXCamera&, int)>& prepare = {}) {
    lumacap::sim::VirtualCameraConfig config = lumacap::sim::DefaultCameraConfig();
    config.capabilities = {{"MJPG", 1280, 720, 30.0}};
    config.defaultCapability = 0;
    config.prerenderedFrames = 30;
    lumacap::sim::ConfigureCamera(0, config);
    config.friendlyName += " 2";
    config.displayName += "-2";
    lumacap::sim::AddCamera(config, 1);

    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = windowClass;
    RegisterClassA(&wc);
    *host = CreateWindowExA(0, windowClass, "host", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                            nullptr, nullptr, nullptr);
    for (int i = 0; i < 2; ++i) {
        cameras[i].SetCameraIndex(i);
        cameras[i].SetResolutionIndex(0);
        cameras[i].SetParentWnd(*host);
        if (prepare) prepare(cameras[i], i);
        if (cameras[i].Open() != 0 || cameras[i].GetCameraStatus() != 3) {
            std::fprintf(stderr, "camera %d did not open: %s\n", i,
                         lumacap::sim::GbkToUtf8(cameras[i].GetLastError()).c_str());
            return false;
        }
    }
    return true;
}

// The layout both compose: the cameras side by side on top, the two windows below them.
inline void AddQuarters(CDXRecorder& recorder, CDXCamera (&cameras)[2], HWND w1, HWND w2) {
    recorder.AddVideoSource(&cameras[0], RECT{0, 0, 960, 540});
    recorder.AddVideoSource(&cameras[1], RECT{960, 0, 1920, 540});
    recorder.AddWindowSource(w1, RECT{0, 540, 960, 1080});
    recorder.AddWindowSource(w2, RECT{960, 540, 1920, 1080});
}

// Ends the recording, closes the cameras, destroys the windows and removes the file.
inline void CloseScene(CDXRecorder& recorder, CDXCamera (&cameras)[2], HWND w1, HWND w2, HWND host,
                       const std::string& output) {
    recorder.CloseRecord();
    for (CDXCamera& camera : cameras) camera.Close();
    DestroyWindow(w1);
    DestroyWindow(w2);
    DestroyWindow(host);
    std::remove(output.c_str());
}

}  // namespace bench
