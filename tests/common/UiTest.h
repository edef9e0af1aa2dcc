// Helpers for the window-system tests: a fixture, a window class whose procedure records what it
// receives, and a few pixel helpers.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include <gdiplus.h>
#include <lumacap/sim.h>
#include <windows.h>

#include "common/SimTest.h"

namespace lumacap::test {

struct Received {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD thread;
};

// Every window of the "Recorder" class logs its messages here; tests may install a handler that
// answers a message instead of DefWindowProc (return true when handled).
class MessageLog {
public:
    static MessageLog& Get();
    void Add(const Received& r);
    std::vector<Received> Take();
    std::vector<Received> Snapshot();
    int Count(UINT message, HWND hwnd = nullptr);
    void SetHandler(std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT*)> handler);
    bool Handle(HWND, UINT, WPARAM, LPARAM, LRESULT*);

private:
    std::mutex m_mutex;
    std::vector<Received> m_log;
    std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT*)> m_handler;
};

const char* RecorderClass();
HWND CreateRecorder(DWORD style, int x, int y, int w, int h, HWND parent = nullptr, int id = 0);

class UiTest : public SimTest {
protected:
    void SetUp() override;
    void TearDown() override;
};

// The count of distinct rows/pixels etc.
inline int R(COLORREF c) {
    return GetRValue(c);
}

// A window client area or screen pixel compared with a colour, for readable failures.
std::string ColorText(COLORREF c);

// PSNR in dB between two equally sized 8-bit buffers.
double Psnr(const uint8_t* a, const uint8_t* b, size_t n);

}  // namespace lumacap::test
