// Other programs' windows as window handles: a real X client (xlogo) found by title and class,
// measured, recorded with the recorder's window source (its pixels checked against ffmpeg's own
// screen grab), and the screen recorded instead once it is gone.
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdio>

#include <lumacap/lumacap.h>

#include "x11/X11Test.h"

namespace lumacap::test {
namespace {

using ForeignWindowTest = X11Test;

// Raw 24-bit BGR pictures, top-down, from an ffmpeg command's standard output.
std::vector<std::vector<uint8_t>> RawPictures(const std::string& command, size_t bytes) {
    std::vector<std::vector<uint8_t>> out;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (!pipe) return out;
    std::vector<uint8_t> picture(bytes);
    while (std::fread(picture.data(), 1, bytes, pipe) == bytes) out.push_back(picture);
    pclose(pipe);
    return out;
}

TEST_F(ForeignWindowTest, AnotherProgramsWindowIsFoundMeasuredAndRecorded) {
    const pid_t logo = m_server->Run({"xlogo", "-geometry", "200x150+300+200"});
    ASSERT_GT(logo, 0);
    HWND hwnd = nullptr;
    ASSERT_TRUE(Until([&] { return (hwnd = FindWindowA(nullptr, "XLOGO")) != nullptr; }, 10000));
    EXPECT_EQ(FindWindowA("XLogo", nullptr), hwnd);  // by either part of WM_CLASS
    EXPECT_EQ(FindWindowA("xlogo", "xlogo"), hwnd);
    char text[64];
    EXPECT_EQ(GetWindowTextA(hwnd, text, sizeof(text)), 5);
    EXPECT_STREQ(text, "xlogo");
    GetClassNameA(hwnd, text, sizeof(text));
    EXPECT_STREQ(text, "XLogo");
    RECT r;
    ASSERT_TRUE(GetClientRect(hwnd, &r));
    EXPECT_EQ(r.right, 200);
    EXPECT_EQ(r.bottom, 150);
    // Its window rectangle takes in the X border round the client area.
    ASSERT_TRUE(GetWindowRect(hwnd, &r));
    EXPECT_EQ(r.left, 300);
    EXPECT_EQ(r.top, 200);
    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    EXPECT_EQ(origin.x, 301);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    std::vector<HWND> listed;
    EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&listed));
    EXPECT_NE(std::find(listed.begin(), listed.end(), hwnd), listed.end());
    EXPECT_FALSE(DestroyWindow(hwnd));  // not this process's to destroy
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

    // WindowFromPoint finds it where it is on top, and one of ours where that is.
    EXPECT_EQ(WindowFromPoint(POINT{400, 275}), hwnd);
    HWND cover = CreateRecorder(WS_POPUP | WS_VISIBLE, 350, 250, 100, 50);
    sim::SyncDisplay();
    EXPECT_EQ(WindowFromPoint(POINT{400, 275}), cover);
    EXPECT_EQ(WindowFromPoint(POINT{320, 220}), hwnd);
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(m_server->Conn(), m_server->FindWindow("xlogo"),
                         XCB_CONFIG_WINDOW_STACK_MODE, &above);
    m_server->Sync();
    EXPECT_EQ(WindowFromPoint(POINT{400, 275}), hwnd);
    DestroyWindow(cover);

    // Recorded at its own size, with the pointer elsewhere, it is what the server shows there.
    m_server->MoveTo(5, 5);
    const std::string path = TempDir() + "/logo.avi";
    {
        CDXRecorder recorder;
        recorder.SetVideoSize(200, 150);
        recorder.SetFPS(10);
        recorder.AddWindowSource(hwnd, RECT{0, 0, 200, 150});
        ASSERT_TRUE(recorder.StartRecord(path.c_str(), RecorderFormat_AVI));
        ASSERT_TRUE(sim::PumpMessagesUntil([&] { return recorder.GetRealFramesCount() >= 5; }));
        recorder.CloseRecord();
    }
    const size_t bytes = 200 * 150 * 3;
    const auto recorded =
        RawPictures("ffmpeg -v error -i '" + path + "' -f rawvideo -pix_fmt bgr24 -", bytes);
    const auto grabbed =
        RawPictures("ffmpeg -v error -f x11grab -video_size 200x150 -i " + m_server->Name() + "+" +
                        std::to_string(origin.x) + "," + std::to_string(origin.y) +
                        " -frames:v 1 -f rawvideo -pix_fmt bgr24 -",
                    bytes);
    ASSERT_FALSE(recorded.empty());
    ASSERT_EQ(grabbed.size(), 1u);
    EXPECT_TRUE(recorded.back() == grabbed[0]);
    int black = 0;
    for (size_t i = 0; i < bytes; i += 3) black += grabbed[0][i] == 0;
    EXPECT_GT(black, 100);  // the logo itself, not an empty picture

    // Gone, the handle stops being a window, and a recording of it records the screen.
    kill(logo, SIGTERM);
    waitpid(logo, nullptr, 0);
    ASSERT_TRUE(Until([&] { return !IsWindow(hwnd); }));
    HWND red = CreateRecorder(WS_POPUP | WS_VISIBLE, 0, 0, m_width, m_height);
    sim::PumpMessages();
    HDC dc = GetDC(red);
    HBRUSH brush = CreateSolidBrush(RGB(255, 0, 0));
    RECT all{0, 0, m_width, m_height};
    FillRect(dc, &all, brush);
    DeleteObject(brush);
    ReleaseDC(red, dc);
    sim::SyncDisplay();
    static std::vector<uint8_t> s_frame;
    s_frame.clear();
    CDXRecorder recorder;
    recorder.SetVideoSize(200, 150);
    recorder.AddWindowSource(hwnd, RECT{0, 0, 200, 150});
    recorder.SetDxRecorderBuffCB(
        [](unsigned char* buffer, long length, void*) -> long {
            s_frame.assign(buffer, buffer + length);
            return 0;
        },
        nullptr);
    ASSERT_TRUE(recorder.StartRecord((TempDir() + "/screen.avi").c_str(), RecorderFormat_AVI));
    ASSERT_TRUE(sim::PumpMessagesUntil([&] { return recorder.GetRealFramesCount() >= 2; }));
    recorder.CloseRecord();
    ASSERT_EQ(s_frame.size(), bytes);
    const uint8_t* centre = &s_frame[(75 * 200 + 100) * 3];  // bottom-up, but the middle row
    EXPECT_EQ(centre[2], 255);
    EXPECT_EQ(centre[1], 0);
    DestroyWindow(red);
}

}  // namespace
}  // namespace lumacap::test
