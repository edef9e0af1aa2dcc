// What the snapshot and preview commands share: choosing the camera and its format from the
// command line, a host window for the camera, counting frames, and writing BMP files.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <lumacap/lumacap.h>

namespace lumacap::tool {

// Chooses device and format on a camera, checking them against what the machine offers; prints
// why not otherwise. A negative format picks the device's first one.
bool ChooseCamera(const char* command, CDXCamera& camera, long device, long format);

// A top-level window of the tool, `w` x `h` client pixels, shown or hidden; null on failure.
HWND CreateHostWindow(const char* title, int w, int h, bool visible);

// Says on stderr, once, why windows are kept in memory though an X display was asked for.
void ReportDisplay(const char* command);
// Whether windows show on a real display (X11) rather than in memory.
bool OnRealDisplay();

// Counts the frames a camera hands to its host, with the time of the first and the last.
struct FrameCounter {
    std::atomic<long> frames{0};
    std::atomic<int64_t> firstNs{0};
    std::atomic<int64_t> lastNs{0};
    static long __cdecl Callback(unsigned char* buffer, long length, void* context);
    // Frames per second between the first and the last frame (0 with fewer than two frames).
    double Rate() const;
};

// Writes a BMP file: the file header, then `dib` (a 40-byte BITMAPINFOHEADER and its pixels).
bool WriteBmp(const std::string& path, const unsigned char* dib, size_t size);
// Writes 24-bit bottom-up pixels of w x h as a BMP file.
bool WriteBmp24(const std::string& path, const std::vector<uint8_t>& pixels, int w, int h);

// The library's (GBK) text as UTF-8.
std::string Utf8(const char* gbk);
const char* SubtypeName(unsigned int code);

}  // namespace lumacap::tool
