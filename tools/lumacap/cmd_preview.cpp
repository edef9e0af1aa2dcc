// lumacap preview: shows a camera in a window of the tool for a while, pumping the window's
// messages, and reports the frames received and their rate. Overlay rectangles can be drawn on
// the self-drawn preview, and a picture of the window written at the end, so a user without a
// display sees what it showed.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "CaptureCommon.h"
#include "Commands.h"
#include "Options.h"

namespace lumacap::tool {
namespace {

constexpr int kWindowWidth = 800;
constexpr int kWindowHeight = 600;

void PrintHelp() {
    std::printf(
        "usage: lumacap preview [-d DEVICE] [-f FORMAT] [--seconds N] [--mode 0|1|2] [--rotate]\n"
        "                       [--rect L,T,R,B]... [--shot FILE.bmp]\n"
        "\n"
        "Previews a camera in an %d x %d window for N seconds and reports how many frames arrived\n"
        "and at what rate.\n"
        "\n"
        "  -d, --device DEVICE   camera position (default 0)\n"
        "  -f, --format FORMAT   capture format index (default 0)\n"
        "  --seconds N           how long to preview (default 5)\n"
        "  --mode M              0: the platform's video renderer draws; 1: nothing is drawn "
        "(frames\n"
        "                        are only counted); 2: the library draws itself (default)\n"
        "  --rotate              turn the renderer's picture a quarter (mode 0)\n"
        "  --rect L,T,R,B        draw an overlay rectangle, in picture pixels, on the self-drawn\n"
        "                        preview once the picture shows (mode 2; may be repeated)\n"
        "  --shot FILE.bmp       at the end, write a picture of the window as a BMP file\n",
        kWindowWidth, kWindowHeight);
}

}  // namespace

int RunPreview(int argc, char** argv) {
    PreviewOptions o;
    if (const int status = ReportParsed("preview", ParsePreview(argc, argv, &o), PrintHelp);
        status >= 0)
        return status;
    const long device = o.device, format = o.format, seconds = o.seconds, mode = o.mode;
    const bool rotate = o.rotate;
    const std::vector<RECT>& rects = o.rects;
    const std::string& shot = o.shot;

    CDXCamera camera;
    if (!ChooseCamera("preview", camera, device, format)) return 1;
    HWND window = CreateHostWindow("lumacap preview", kWindowWidth, kWindowHeight, true);
    if (!window || !camera.SetParentWnd(window)) {
        std::fprintf(stderr, "lumacap preview: cannot create the preview window\n");
        if (window) DestroyWindow(window);
        return 1;
    }
    camera.SetRenderMode(static_cast<unsigned>(mode));
    camera.SetRotatePreview(rotate ? 1 : 0);
    FrameCounter counter;
    camera.SetLumacapBuffCB(&FrameCounter::Callback, &counter);
    const int index = static_cast<int>(camera.GetResolutionIndex());
    long width = 0, height = 0;
    camera.GetVideoSize(index, &width, &height);
    std::printf("Camera %ld: %s, format %d (%ld x %ld %s), render mode %ld%s, %ld s\n", device,
                Utf8(camera.GetName()).c_str(), index, width, height,
                SubtypeName(camera.GetVideoFormat(index)), mode, rotate ? ", rotated" : "",
                seconds);
    if (camera.Open() != 0) {
        std::fprintf(stderr, "lumacap preview: the camera does not open: %s\n",
                     Utf8(camera.GetLastError()).c_str());
        DestroyWindow(window);
        return 1;
    }

    // The library draws its preview on this thread: the messages are pumped here while it runs.
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    bool overlaysDrawn = rects.empty();
    long reported = 0;
    int status = 0;
    while (std::chrono::steady_clock::now() < end) {
        sim::PumpMessagesUntil([] { return false; }, 100);
        if (camera.GetCameraStatus() == 4) {
            std::fprintf(stderr, "lumacap preview: the camera was disconnected\n");
            status = 1;
            break;
        }
        if (!overlaysDrawn && counter.frames.load() > 0) {
            // The user's rectangles, drawn with the pointer on the picture the preview shows.
            HWND preview = FindWindowExA(window, nullptr, "AfxWnd", "VideoRender");
            for (const RECT& r : rects) {
                const bool added = preview && sim::DrawPreviewRect(preview, r);
                std::printf("  overlay rectangle %ld,%ld,%ld,%ld: %s\n", static_cast<long>(r.left),
                            static_cast<long>(r.top), static_cast<long>(r.right),
                            static_cast<long>(r.bottom),
                            added ? "drawn" : "not drawn (too small, or outside the picture)");
            }
            overlaysDrawn = true;
        }
        const long elapsed = static_cast<long>(std::chrono::duration_cast<std::chrono::seconds>(
                                                   std::chrono::steady_clock::now() - start)
                                                   .count());
        if (elapsed > reported) {
            reported = elapsed;
            std::printf("  %ld s: %ld frames\n", elapsed, counter.frames.load());
            std::fflush(stdout);
        }
    }
    std::printf("Frames received: %ld, measured rate %.2f frames per second\n",
                counter.frames.load(), counter.Rate());
    if (counter.frames.load() == 0) {
        std::fprintf(stderr, "lumacap preview: the camera delivered no frame\n");
        status = 1;
    }
    if (!shot.empty()) {
        sim::PumpMessages();  // the last frame painted
        const sim::Pixels pixels = sim::ReadWindowClient(window);
        if (!pixels.Empty() &&
            WriteBmp24(shot, pixels.ToBgr24BottomUp(), pixels.width, pixels.height)) {
            std::printf("Window picture: %d x %d, written to %s\n", pixels.width, pixels.height,
                        shot.c_str());
        } else {
            std::fprintf(stderr, "lumacap preview: cannot write %s\n", shot.c_str());
            status = 1;
        }
    }
    camera.Close();
    DestroyWindow(window);
    return status;
}

}  // namespace lumacap::tool
