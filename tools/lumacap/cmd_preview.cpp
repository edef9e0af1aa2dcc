// lumacap preview: shows a camera in a window of the tool, pumping the window's messages, and
// reports the frames received and their rate. On a display the window is real: the user draws,
// moves and resizes overlay rectangles with the mouse and each notification is printed as it
// happens, until the window is closed. Rectangles can also be drawn from the command line, and a
// picture of the window written at the end, so a user without a display sees what it showed.
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
        "Previews a camera in an %d x %d window and reports how many frames arrived and at what\n"
        "rate. With an X display (DISPLAY) the window is on the screen until it is closed: drag\n"
        "on the picture to draw a rectangle, drag a rectangle to move it and its handles to\n"
        "resize it; each notification to the window's owner is printed as it comes.\n"
        "\n"
        "  -d, --device DEVICE   camera position (default 0)\n"
        "  -f, --format FORMAT   capture format index (default 0)\n"
        "  --seconds N           how long to preview (default 5; on a display, until the window\n"
        "                        is closed)\n"
        "  --mode M              0: the platform's video renderer draws; 1: nothing is drawn "
        "(frames\n"
        "                        are only counted); 2: the library draws itself (default)\n"
        "  --rotate              turn the renderer's picture a quarter (mode 0)\n"
        "  --rect L,T,R,B        draw an overlay rectangle, in picture pixels, on the self-drawn\n"
        "                        preview once the picture shows (mode 2; may be repeated)\n"
        "  --shot FILE.bmp       at the end, write a picture of the window as a BMP file\n",
        kWindowWidth, kWindowHeight);
}

// The notifications the preview sends its owner: each is printed and allowed.
bool g_closed = false;

void PrintRect(const char* what, LPARAM lParam) {
    const RECT* r = reinterpret_cast<const RECT*>(lParam);
    if (r)
        std::printf("%s %ld,%ld,%ld,%ld\n", what, static_cast<long>(r->left),
                    static_cast<long>(r->top), static_cast<long>(r->right),
                    static_cast<long>(r->bottom));
}

LRESULT CALLBACK PreviewHostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case PWM_NEWRECT_BEGIN:
            std::printf("  [%u] new rectangle from %d,%d\n", message,
                        static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
            break;
        case PWM_NEWRECT_END:
            std::printf("  [%u]", message);
            PrintRect(" new rectangle", lParam);
            break;
        case PWM_EDITRECT_BEGIN:
            std::printf("  [%u] rectangle %d is being edited\n", message, static_cast<int>(wParam));
            break;
        case PWM_EDITRECT_END:
            std::printf("  [%u] rectangle %d", message, static_cast<int>(wParam));
            PrintRect(" becomes", lParam);
            break;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            if (HDC dc = BeginPaint(hwnd, &ps)) {
                FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
                EndPaint(hwnd, &ps);
            }
            return 0;
        }
        case WM_DESTROY:
            g_closed = true;
            return 0;
        default:
            return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    std::fflush(stdout);
    return 0;
}

// The preview's owner: a framed window of `w` x `h` client pixels, closed by the user when it is
// on a display.
HWND CreatePreviewHost(int w, int h) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = PreviewHostProc;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = "LumacapPreviewHost";
    RegisterClassA(&wc);
    const DWORD style = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;
    RECT r{0, 0, w, h};
    AdjustWindowRect(&r, style, FALSE);
    g_closed = false;
    return CreateWindowExA(0, "LumacapPreviewHost", "lumacap preview", style | WS_VISIBLE, 40, 40,
                           r.right - r.left, r.bottom - r.top, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace

int RunPreview(int argc, char** argv) {
    PreviewOptions o;
    if (const int status = ReportParsed("preview", ParsePreview(argc, argv, &o), PrintHelp);
        status >= 0)
        return status;
    const long device = o.device, format = o.format, mode = o.mode;
    long seconds = o.seconds;
    const bool rotate = o.rotate;
    const std::vector<RECT>& rects = o.rects;
    const std::string& shot = o.shot;

    ReportDisplay("preview");
    const bool real = OnRealDisplay();
    if (seconds < 0) seconds = real ? 0 : 5;  // 0: until the window is closed
    if (seconds == 0 && !real) {
        std::fprintf(stderr,
                     "lumacap preview: without a display no one can close the window: give "
                     "--seconds N\n");
        return 2;
    }
    CDXCamera camera;
    if (!ChooseCamera("preview", camera, device, format)) return 1;
    HWND window = CreatePreviewHost(kWindowWidth, kWindowHeight);
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
    std::printf(
        "Camera %ld: %s, format %d (%ld x %ld %s), render mode %ld%s, %s\n", device,
        Utf8(camera.GetName()).c_str(), index, width, height,
        SubtypeName(camera.GetVideoFormat(index)), mode, rotate ? ", rotated" : "",
        seconds > 0 ? (std::to_string(seconds) + " s").c_str() : "until the window is closed");
    if (real)
        std::printf("On %s: draw rectangles on the picture with the mouse.\n",
                    sim::DisplayName().c_str());
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
    while (!g_closed && (seconds == 0 || std::chrono::steady_clock::now() < end)) {
        sim::PumpMessagesUntil([] { return g_closed; }, 100);
        if (sim::DisplayLost()) {
            std::fprintf(stderr, "lumacap preview: %s\n", sim::DisplayNote().c_str());
            status = 1;
            break;
        }
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
    if (g_closed) std::printf("The window was closed.\n");
    if (!shot.empty() && !g_closed) {
        sim::PumpMessages();  // the last frame painted
        sim::SyncDisplay();
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
    if (IsWindow(window)) DestroyWindow(window);
    return status;
}

}  // namespace lumacap::tool
