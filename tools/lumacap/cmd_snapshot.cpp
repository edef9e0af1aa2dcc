// lumacap snapshot: opens a camera, waits for its first frame, and writes the camera's snapshot
// (the sample grabber's last frame) as a BMP file.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "CaptureCommon.h"
#include "Commands.h"
#include "Options.h"

namespace lumacap::tool {
namespace {

void PrintHelp() {
    std::printf(
        "usage: lumacap snapshot [-d DEVICE] [-f FORMAT] -o FILE.bmp\n"
        "\n"
        "Opens a camera, waits until it has delivered a frame, takes a snapshot and writes it as "
        "a\n"
        "24-bit BMP file.\n"
        "\n"
        "  -d, --device DEVICE   camera position (default 0, the first camera)\n"
        "  -f, --format FORMAT   capture format index (default 0, the camera's first format)\n"
        "  -o, --output FILE     the BMP file to write\n"
        "\n"
        "Positions and format indices are those 'lumacap devices' lists.\n");
}

}  // namespace

int RunSnapshot(int argc, char** argv) {
    SnapshotOptions o;
    if (const int status = ReportParsed("snapshot", ParseSnapshot(argc, argv, &o), PrintHelp);
        status >= 0)
        return status;
    const long device = o.device, format = o.format;
    const std::string& output = o.output;

    CDXCamera camera;
    if (!ChooseCamera("snapshot", camera, device, format)) return 1;
    // The camera needs a parent window even when it shows nothing: its preview window, hidden
    // in render mode 1, receives the graph's events.
    HWND host = CreateHostWindow("lumacap snapshot", 320, 240, false);
    if (!host || !camera.SetParentWnd(host)) {
        std::fprintf(stderr, "lumacap snapshot: cannot create the camera's window\n");
        if (host) DestroyWindow(host);
        return 1;
    }
    camera.SetRenderMode(1);
    FrameCounter counter;
    camera.SetLumacapBuffCB(&FrameCounter::Callback, &counter);
    long width = 0, height = 0;
    camera.GetVideoSize(static_cast<int>(camera.GetResolutionIndex()), &width, &height);
    std::printf("Camera %ld: %s, format %ld (%ld x %ld %s)\n", device,
                Utf8(camera.GetName()).c_str(), static_cast<long>(camera.GetResolutionIndex()),
                width, height,
                SubtypeName(camera.GetVideoFormat(static_cast<int>(camera.GetResolutionIndex()))));

    int status = 1;
    if (const long hr = camera.Open(); hr != 0) {
        std::fprintf(stderr, "lumacap snapshot: the camera does not open: %s\n",
                     Utf8(camera.GetLastError()).c_str());
    } else if (!sim::PumpMessagesUntil(
                   [&] { return counter.frames.load() > 0 || camera.GetCameraStatus() == 4; },
                   10000) ||
               counter.frames.load() == 0) {
        std::fprintf(stderr, "lumacap snapshot: the camera delivered no frame within 10 seconds\n");
    } else {
        unsigned char* image = nullptr;
        unsigned long size = 0;
        if (camera.TakeSnapshot(image, size) != 0) {
            std::fprintf(stderr, "lumacap snapshot: %s\n", Utf8(camera.GetLastError()).c_str());
        } else {
            if (WriteBmp(output, image, size)) {
                std::printf("Snapshot: %ld x %ld, %lu bytes of bitmap, written to %s\n", width,
                            std::labs(height), size, output.c_str());
                status = 0;
            } else {
                std::fprintf(stderr, "lumacap snapshot: cannot write %s: %s\n", output.c_str(),
                             std::strerror(errno));
            }
            camera.FreeImageMemery(image);
        }
    }
    camera.Close();
    DestroyWindow(host);
    return status;
}

}  // namespace lumacap::tool
