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

bool ParseRect(const char* text, RECT* rect) {
    if (!text) return false;
    long v[4];
    char tail = 0;
    if (std::sscanf(text, "%ld,%ld,%ld,%ld%c", &v[0], &v[1], &v[2], &v[3], &tail) != 4)
        return false;
    *rect = RECT{static_cast<LONG>(v[0]), static_cast<LONG>(v[1]), static_cast<LONG>(v[2]),
                 static_cast<LONG>(v[3])};
    return rect->right > rect->left && rect->bottom > rect->top;
}

}  // namespace

int RunPreview(int argc, char** argv) {
    long device = 0, format = -1, seconds = 5, mode = 2;
    bool rotate = false;
    std::vector<RECT> rects;
    std::string shot;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
            PrintHelp();
            return 0;
        } else if (std::strcmp(a, "-d") == 0 || std::strcmp(a, "--device") == 0) {
            if (!ParseIndex("preview", a, value, &device)) return 2;
            ++i;
        } else if (std::strcmp(a, "-f") == 0 || std::strcmp(a, "--format") == 0) {
            if (!ParseIndex("preview", a, value, &format)) return 2;
            ++i;
        } else if (std::strcmp(a, "--seconds") == 0) {
            if (!ParseIndex("preview", a, value, &seconds)) return 2;
            ++i;
        } else if (std::strcmp(a, "--mode") == 0) {
            if (!ParseIndex("preview", a, value, &mode)) return 2;
            if (mode > 2) {
                std::fprintf(stderr, "lumacap preview: --mode is 0, 1 or 2, not %ld\n", mode);
                return 2;
            }
            ++i;
        } else if (std::strcmp(a, "--rotate") == 0) {
            rotate = true;
        } else if (std::strcmp(a, "--rect") == 0) {
            RECT r;
            if (!ParseRect(value, &r)) {
                std::fprintf(
                    stderr,
                    "lumacap preview: --rect takes L,T,R,B with L < R and T < B, not '%s'\n",
                    value ? value : "");
                return 2;
            }
            rects.push_back(r);
            ++i;
        } else if (std::strcmp(a, "--shot") == 0) {
            if (!value) {
                std::fprintf(stderr, "lumacap preview: --shot needs a file name\n");
                return 2;
            }
            shot = value;
            ++i;
        } else {
            std::fprintf(
                stderr, "lumacap preview: unknown option '%s' (see 'lumacap preview --help')\n", a);
            return 2;
        }
    }
    if (!rects.empty() && mode != 2) {
        std::fprintf(
            stderr, "lumacap preview: overlay rectangles need the self-drawn preview (--mode 2)\n");
        return 2;
    }

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
