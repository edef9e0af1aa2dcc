// Support for the stress tests: what a process holds (threads, descriptors, component objects,
// windows, drawing objects) to compare before and after, a host window with cameras on virtual
// devices, a frame log that checks order, and reading a recording back with ffprobe and ffmpeg.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <lumacap/lumacap.h>

#include "common/SimTest.h"

namespace lumacap::test {

// Whether the suite runs under a sanitizer (slower, and address-space limits cannot apply).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

struct Census {
    long threads = 0;
    long descriptors = 0;
    long objects = 0;
    long windows = 0;
    long gdiObjects = 0;
};
Census TakeCensus();
std::string Describe(const Census& c);
// Waits (pumping this thread's messages) until the process holds no more than `baseline` again:
// threads that were told to end may take a moment to leave.
bool BackToBaseline(const Census& baseline, unsigned timeoutMs = 5000);

// Frames a host callback received from one camera: their numbers, and whether any came out of
// order or with a gap.
class OrderLog {
public:
    static long __cdecl Callback(unsigned char* buffer, long length, void* context);
    void SetSize(long width, long height) { m_width = width, m_height = height; }
    long Count() const { return m_count.load(); }
    // Numbers that did not follow the previous frame's by one.
    long Breaks() const { return m_breaks.load(); }

private:
    long m_width = 0, m_height = 0;
    long m_last = -1;
    std::atomic<long> m_count{0};
    std::atomic<long> m_breaks{0};
};

class StressTest : public SimTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // Configures virtual camera `position` (adding cameras as needed) with one YUY2 format.
    static void ConfigureCamera(int position, long width, long height, bool paced = true);
    // A camera on virtual camera `position`, child of the test's host window, not yet open.
    std::unique_ptr<CDXCamera> MakeCamera(int position, unsigned renderMode);
    std::string Path(const char* name) const { return TempDir() + "/" + name; }

    HWND m_host = nullptr;
};

// What ffprobe and ffmpeg make of a recording.
struct FileCheck {
    bool readable = false;  // ffprobe read a format
    long frames = -1;       // video frames counted by reading every packet
    double duration = 0;    // the container's duration, seconds
    double frameRate = 0;
    std::string decodeErrors;  // what ffmpeg complained of while decoding everything
};
FileCheck CheckRecording(const std::string& path);

}  // namespace lumacap::test
