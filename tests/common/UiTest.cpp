// The window test fixture: a window class that records every message, and its log.
#include "common/UiTest.h"

#include <cmath>
#include <cstdio>

namespace lumacap::test {
namespace {

LRESULT CALLBACK RecorderProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    MessageLog::Get().Add(Received{hwnd, msg, wp, lp, GetCurrentThreadId()});
    LRESULT r = 0;
    if (MessageLog::Get().Handle(hwnd, msg, wp, lp, &r)) return r;
    return DefWindowProcA(hwnd, msg, wp, lp);
}

}  // namespace

MessageLog& MessageLog::Get() {
    static MessageLog log;
    return log;
}

void MessageLog::Add(const Received& r) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.push_back(r);
}

std::vector<Received> MessageLog::Take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Received> out;
    out.swap(m_log);
    return out;
}

std::vector<Received> MessageLog::Snapshot() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

int MessageLog::Count(UINT message, HWND hwnd) {
    std::lock_guard<std::mutex> lock(m_mutex);
    int n = 0;
    for (const auto& r : m_log)
        if (r.message == message && (!hwnd || r.hwnd == hwnd)) ++n;
    return n;
}

void MessageLog::SetHandler(std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT*)> handler) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_handler = std::move(handler);
}

bool MessageLog::Handle(HWND h, UINT m, WPARAM w, LPARAM l, LRESULT* r) {
    std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT*)> handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        handler = m_handler;
    }
    return handler && handler(h, m, w, l, r);
}

const char* RecorderClass() {
    static const char* name = [] {
        WNDCLASSA wc{};
        wc.lpfnWndProc = RecorderProc;
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
        wc.lpszClassName = "Recorder";
        RegisterClassA(&wc);
        return "Recorder";
    }();
    return name;
}

HWND CreateRecorder(DWORD style, int x, int y, int w, int h, HWND parent, int id) {
    return CreateWindowExA(0, RecorderClass(), "recorder", style, x, y, w, h, parent,
                           reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), nullptr, nullptr);
}

void UiTest::SetUp() {
    SimTest::SetUp();
    MessageLog::Get().SetHandler(nullptr);
    MessageLog::Get().Take();
}

void UiTest::TearDown() {
    MessageLog::Get().SetHandler(nullptr);
    MessageLog::Get().Take();
    SimTest::TearDown();
}

std::string ColorText(COLORREF c) {
    char buf[32];
    std::snprintf(buf, sizeof(buf), "RGB(%d,%d,%d)", GetRValue(c), GetGValue(c), GetBValue(c));
    return buf;
}

double Psnr(const uint8_t* a, const uint8_t* b, size_t n) {
    double se = 0;
    for (size_t i = 0; i < n; ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        se += d * d;
    }
    if (se == 0) return 99.0;
    return 10.0 * std::log10(255.0 * 255.0 / (se / static_cast<double>(n)));
}

}  // namespace lumacap::test
