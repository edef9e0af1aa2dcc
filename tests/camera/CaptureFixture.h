// Shared by the capture tests: a visible host window of a chosen client size, cameras opened on the
// default virtual camera, and a host frame callback that records what it receives.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "common/TestAccess.h"
#include "common/UiTest.h"

namespace lumacap::test {

// Positions of the default virtual camera's formats used here.
constexpr long kYuy2_640x480 = 0;
constexpr long kYuy2_320x240 = 1;
constexpr long kYuy2_1280x720 = 4;
constexpr long kMjpg_640x480 = 6;
constexpr long kMjpg_1280x720 = 9;
constexpr long kRgb24_640x480 = 11;
// Added by the fixture: top-down RGB (its height reported as -240) and NV12.
constexpr long kRgb24TopDown_320x240 = 13;
constexpr long kNv12_640x480 = 14;

// How long a test waits for something a working camera does within a few frames. Only a fault
// waits this long, so it is generous: a sanitizer's slowdown on a loaded machine must not fail a
// test.
constexpr unsigned kPatienceMs = 30000;

inline long Stride(long width) {
    return GDI_WIDTHBYTES(width * 24);
}

// What a host frame callback saw: frame numbers read from the pixels, lengths, threads, and a copy
// of the last frame. A negative height reads top-down frames. Declare it before the camera that
// calls it: the camera then goes first, its streaming thread with it, on every way out of a test.
class FrameLog {
public:
    FrameLog(long width, long height) : m_width(width), m_height(height) {}
    static long __cdecl Callback(unsigned char* buffer, long length, void* context);

    bool WaitFor(size_t count, unsigned timeoutMs = kPatienceMs);
    size_t Count();
    std::vector<long> Numbers();
    std::vector<long> Lengths();
    std::vector<DWORD> Threads();
    std::vector<uint8_t> Last();

    // While set, the callback waits inside until Release: the streaming thread is held there.
    void Hold();
    bool WaitUntilHeld(unsigned timeoutMs = kPatienceMs);
    void Release();

private:
    long m_width, m_height;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<long> m_numbers;
    std::vector<long> m_lengths;
    std::vector<DWORD> m_threads;
    std::vector<uint8_t> m_last;
    bool m_hold = false;
    bool m_held = false;
};

// Connect callbacks: the value and the thread of each call.
struct ConnectLog {
    std::mutex mutex;
    std::vector<std::pair<int, DWORD>> calls;
    static long __cdecl Callback(int connected, void* context);
    size_t Count();
};

class CaptureTest : public UiTest {
protected:
    void SetUp() override;
    void TearDown() override;

    // A visible top-level host window whose client area is exactly w x h.
    HWND MakeParent(int w, int h, int x = 0, int y = 0);
    // A camera on the default virtual camera with format `format`, parent `parent` (the fixture's
    // own 800 x 400 window by default) and render mode `mode`; not yet open.
    std::unique_ptr<CDXCamera> MakeCamera(long format, unsigned mode, HWND parent = nullptr);
    // The camera's preview window, or null.
    static HWND PreviewOf(CDXCamera& camera);
    // The video renderer's window inside a parent, or null.
    static HWND RendererWindowIn(HWND parent);
    // Pumps this thread's messages until `condition` holds.
    static bool PumpUntil(const std::function<bool()>& condition, unsigned timeoutMs = kPatienceMs);
    // Waits (without pumping) until the status reads `status`.
    static bool WaitForStatus(CDXCamera& camera, int status, unsigned timeoutMs = kPatienceMs);

    HWND m_parent = nullptr;
    std::vector<HWND> m_windows;
};

// Whether a read-back pixel is within `tolerance` of a test-pattern bar's colour.
bool IsBarColor(COLORREF c, int bar, int tolerance = 12);
bool IsBlack(COLORREF c);
// The frame number of a 24-bit frame whose rows run from the top.
long ReadTopDownFrameNumber(const uint8_t* rows, long width, long height);
// The expected last-error text of a failed step, as the camera composes it.
std::string StepText(const char* step, HRESULT code);

}  // namespace lumacap::test
