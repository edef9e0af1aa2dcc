// Capture test support: the host window, opened cameras and the frame log.
#include "CaptureFixture.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "preview/PreviewWnd.h"

namespace lumacap::test {

long FrameLog::Callback(unsigned char* buffer, long length, void* context) {
    auto* log = static_cast<FrameLog*>(context);
    const long number = log->m_height > 0
                            ? sim::ReadFrameNumber(buffer, log->m_width, log->m_height)
                            : ReadTopDownFrameNumber(buffer, log->m_width, -log->m_height);
    std::unique_lock<std::mutex> lock(log->m_mutex);
    log->m_numbers.push_back(number);
    log->m_lengths.push_back(length);
    log->m_threads.push_back(GetCurrentThreadId());
    log->m_last.assign(buffer, buffer + length);
    log->m_held = log->m_hold;
    log->m_cv.notify_all();
    log->m_cv.wait(lock, [log] { return !log->m_hold; });
    log->m_held = false;
    return 0;
}

bool FrameLog::WaitFor(size_t count, unsigned timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                         [&] { return m_numbers.size() >= count; });
}

size_t FrameLog::Count() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_numbers.size();
}

std::vector<long> FrameLog::Numbers() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_numbers;
}

std::vector<long> FrameLog::Lengths() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lengths;
}

std::vector<DWORD> FrameLog::Threads() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_threads;
}

std::vector<uint8_t> FrameLog::Last() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_last;
}

void FrameLog::Hold() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hold = true;
}

bool FrameLog::WaitUntilHeld(unsigned timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_held; });
}

void FrameLog::Release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hold = false;
    m_cv.notify_all();
}

long ConnectLog::Callback(int connected, void* context) {
    auto* log = static_cast<ConnectLog*>(context);
    std::lock_guard<std::mutex> lock(log->mutex);
    log->calls.emplace_back(connected, GetCurrentThreadId());
    return 0;
}

size_t ConnectLog::Count() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls.size();
}

void CaptureTest::SetUp() {
    UiTest::SetUp();
    // The default camera with two formats more: top-down RGB and NV12.
    sim::VirtualCameraConfig config = sim::DefaultCameraConfig();
    config.capabilities.push_back({"RGB24", 320, -240, 30.0, false});
    config.capabilities.push_back({"NV12", 640, 480, 30.0, false});
    sim::ConfigureCamera(0, config);
    m_parent = MakeParent(800, 400);
}

void CaptureTest::TearDown() {
    for (HWND h : m_windows)
        if (IsWindow(h)) DestroyWindow(h);
    m_windows.clear();
    UiTest::TearDown();
}

HWND CaptureTest::MakeParent(int w, int h, int x, int y) {
    HWND hwnd = CreateRecorder(WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, x, y, w, h);
    EXPECT_NE(hwnd, nullptr);
    m_windows.push_back(hwnd);
    return hwnd;
}

std::unique_ptr<CDXCamera> CaptureTest::MakeCamera(long format, unsigned mode, HWND parent) {
    auto camera = std::make_unique<CDXCamera>();
    EXPECT_EQ(camera->SetCameraIndex(0), 1);
    EXPECT_EQ(camera->SetResolutionIndex(format), 1);
    EXPECT_EQ(camera->SetParentWnd(parent ? parent : m_parent), 1);
    camera->SetRenderMode(mode);
    return camera;
}

HWND CaptureTest::PreviewOf(CDXCamera& camera) {
    CPreviewWnd* preview = CDXCameraTestAccess::PreviewWnd(camera);
    return preview ? preview->GetSafeHwnd() : nullptr;
}

HWND CaptureTest::RendererWindowIn(HWND parent) {
    return FindWindowExA(parent, nullptr, "VideoRenderer", nullptr);
}

bool CaptureTest::PumpUntil(const std::function<bool()>& condition, unsigned timeoutMs) {
    return sim::PumpMessagesUntil(condition, timeoutMs);
}

bool CaptureTest::WaitForStatus(CDXCamera& camera, int status, unsigned timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (camera.GetCameraStatus() != status) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool IsBarColor(COLORREF c, int bar, int tolerance) {
    unsigned char b, g, r;
    sim::TestPatternBarColor(bar, &b, &g, &r);
    return std::abs(GetRValue(c) - r) <= tolerance && std::abs(GetGValue(c) - g) <= tolerance &&
           std::abs(GetBValue(c) - b) <= tolerance;
}

bool IsBlack(COLORREF c) {
    return GetRValue(c) < 8 && GetGValue(c) < 8 && GetBValue(c) < 8;
}

long ReadTopDownFrameNumber(const uint8_t* rows, long width, long height) {
    const size_t stride = static_cast<size_t>(Stride(width));
    std::vector<uint8_t> bottomUp(stride * static_cast<size_t>(height));
    for (long y = 0; y < height; ++y)
        std::memcpy(bottomUp.data() + static_cast<size_t>(height - 1 - y) * stride,
                    rows + static_cast<size_t>(y) * stride, stride);
    return sim::ReadFrameNumber(bottomUp.data(), width, height);
}

std::string StepText(const char* step, HRESULT code) {
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), ". ErrorCode=0x%08X:", static_cast<unsigned>(code));
    return std::string(step) + buffer + GetErrorCodeText(static_cast<DWORD>(code)).GetString();
}

}  // namespace lumacap::test
