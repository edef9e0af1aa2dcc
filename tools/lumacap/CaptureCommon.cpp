// What the snapshot and preview commands share: choosing the camera, the host window, frame
// counting, BMP files and text conversion.
#include "CaptureCommon.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include <lumacap/sim.h>

namespace lumacap::tool {

bool ChooseCamera(const char* command, CDXCamera& camera, long device, long format) {
    const long count = CDXCamera::GetCameraCount();
    if (count == 0) {
        std::fprintf(stderr, "lumacap %s: no camera found (see 'lumacap devices')\n", command);
        return false;
    }
    if (device >= count) {
        std::fprintf(
            stderr,
            "lumacap %s: there is no camera %ld; cameras are 0 to %ld (see 'lumacap devices')\n",
            command, device, count - 1);
        return false;
    }
    if (!camera.SetCameraIndex(device)) {
        std::fprintf(stderr, "lumacap %s: camera %ld: %s\n", command, device,
                     Utf8(camera.GetLastError()).c_str());
        return false;
    }
    const long formats = static_cast<long>(camera.GetVideoInfoCount());
    if (formats == 0) {
        std::fprintf(stderr, "lumacap %s: camera %ld (%s) reports no capture formats\n", command,
                     device, Utf8(camera.GetName()).c_str());
        return false;
    }
    if (format >= formats) {
        std::fprintf(stderr,
                     "lumacap %s: camera %ld has no format %ld; formats are 0 to %ld (see 'lumacap "
                     "devices')\n",
                     command, device, format, formats - 1);
        return false;
    }
    if (!camera.SetResolutionIndex(format < 0 ? 0 : format)) {
        std::fprintf(stderr, "lumacap %s: %s\n", command, Utf8(camera.GetLastError()).c_str());
        return false;
    }
    return true;
}

namespace {

LRESULT CALLBACK HostWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        // The camera's windows cover what matters; the rest of the client area is plain black.
        PAINTSTRUCT ps;
        if (HDC dc = BeginPaint(hwnd, &ps)) {
            FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
            EndPaint(hwnd, &ps);
        }
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

HWND CreateHostWindow(const char* title, int w, int h, bool visible) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = HostWindowProc;
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    wc.lpszClassName = "LumacapToolHost";
    RegisterClassA(&wc);
    const DWORD style = WS_POPUP | WS_CLIPCHILDREN | (visible ? WS_VISIBLE : 0);
    return CreateWindowExA(0, "LumacapToolHost", title, style, 0, 0, w, h, nullptr, nullptr,
                           nullptr, nullptr);
}

void ReportDisplay(const char* command) {
    const std::string note = sim::DisplayNote();
    if (!note.empty()) std::fprintf(stderr, "lumacap %s: %s\n", command, note.c_str());
}

bool OnRealDisplay() {
    return sim::DisplayName() != "headless";
}

long FrameCounter::Callback(unsigned char*, long, void* context) {
    auto* counter = static_cast<FrameCounter*>(context);
    const int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count();
    if (counter->frames.fetch_add(1) == 0) counter->firstNs = now;
    counter->lastNs = now;
    return 0;
}

double FrameCounter::Rate() const {
    const long n = frames.load();
    const double seconds = static_cast<double>(lastNs.load() - firstNs.load()) * 1e-9;
    return n >= 2 && seconds > 0 ? static_cast<double>(n - 1) / seconds : 0.0;
}

bool WriteBmp(const std::string& path, const unsigned char* dib, size_t size) {
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;  // "BM"
    file.bfSize = static_cast<DWORD>(sizeof(file) + size);
    file.bfOffBits = static_cast<DWORD>(sizeof(file) + sizeof(BITMAPINFOHEADER));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(&file), sizeof(file));
    out.write(reinterpret_cast<const char*>(dib), static_cast<std::streamsize>(size));
    return static_cast<bool>(out.flush());
}

bool WriteBmp24(const std::string& path, const std::vector<uint8_t>& pixels, int w, int h) {
    std::vector<uint8_t> dib(sizeof(BITMAPINFOHEADER) + pixels.size());
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = w;
    header.biHeight = h;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    std::memcpy(dib.data(), &header, sizeof(header));
    if (!pixels.empty()) std::memcpy(dib.data() + sizeof(header), pixels.data(), pixels.size());
    return WriteBmp(path, dib.data(), dib.size());
}

std::string Utf8(const char* gbk) {
    return sim::GbkToUtf8(gbk ? gbk : "");
}

const char* SubtypeName(unsigned int code) {
    switch (code) {
        case 1:
            return "YUY2";
        case 2:
            return "RGB24";
        case 3:
            return "MJPG";
        default:
            return "other";
    }
}

}  // namespace lumacap::tool
