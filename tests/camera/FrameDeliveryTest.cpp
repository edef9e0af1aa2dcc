// Frames on the virtual camera: the host callback in order and complete, the self-drawn preview,
// snapshots, run/pause/stop with the stop worker, and destroying a camera that is busy.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "CaptureFixture.h"

namespace lumacap::test {
namespace {

using FrameDeliveryTest = CaptureTest;

TEST_F(FrameDeliveryTest, FramesReachTheHostInOrderAndComplete) {
    struct Case {
        long format, width, height;
    } cases[] = {{kYuy2_640x480, 640, 480},
                 {kMjpg_1280x720, 1280, 720},
                 {kRgb24_640x480, 640, 480},
                 {kRgb24TopDown_320x240, 320, -240},
                 {kNv12_640x480, 640, 480}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.format);
        FrameLog log(c.width, c.height);
        auto camera = MakeCamera(c.format, RenderMode_NullRenderer);
        camera->SetLumacapBuffCB(&FrameLog::Callback, &log);
        ASSERT_EQ(camera->Open(), 0) << sim::GbkToUtf8(camera->GetLastError());
        EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_Running);
        ASSERT_TRUE(log.WaitFor(20));
        camera->Close();
        const std::vector<long> numbers = log.Numbers();
        // Every frame the device made, in its order: none skipped, none repeated.
        ASSERT_GE(numbers.size(), 20u);
        for (size_t i = 0; i < numbers.size(); ++i)
            ASSERT_EQ(numbers[i], numbers[0] + static_cast<long>(i)) << i;
        for (long length : log.Lengths()) ASSERT_EQ(length, Stride(c.width) * std::abs(c.height));
        for (DWORD thread : log.Threads())
            ASSERT_NE(thread, GetCurrentThreadId()) << "frames come on the capture thread";
        EXPECT_EQ(CDXCameraTestAccess::HoldsAnyInterface(*camera), false);
    }
}

TEST_F(FrameDeliveryTest, SelfDrawnPreviewShowsTheFrameFittedInItsWindow) {
    // No host callback: the frames are drawn all the same, top-down ones the right way up.
    for (long format : {kYuy2_640x480, kRgb24TopDown_320x240}) {
        SCOPED_TRACE(format);
        auto camera = MakeCamera(format, RenderMode_SelfDrawn);
        HWND preview = PreviewOf(*camera);
        ASSERT_NE(preview, nullptr);
        EXPECT_FALSE(IsWindowVisible(preview));
        ASSERT_EQ(camera->Open(), 0) << sim::GbkToUtf8(camera->GetLastError());
        EXPECT_TRUE(IsWindowVisible(preview));
        // 4 : 3 in 800 x 400 with a one-pixel margin: 530 x 398 at (135, 1).
        const int left = 135, top = 1, width = 530, height = 398;
        auto barsShown = [&] {
            const sim::Pixels p = sim::ReadWindowClient(preview);
            if (p.Empty()) return false;
            for (int bar = 0; bar < 8; ++bar)
                if (!IsBarColor(p.ColorAt(left + (2 * bar + 1) * width / 16, top + height * 5 / 12),
                                bar))
                    return false;
            // The stamp's white marker is at the top left.
            const COLORREF marker = p.ColorAt(left + width / 64, top + height / 12);
            return GetGValue(marker) > 200 && IsBlack(p.ColorAt(left / 2, 200)) &&
                   IsBlack(p.ColorAt(800 - left / 2, 200));
        };
        EXPECT_TRUE(PumpUntil(barsShown));
        long w = -1, h = -1;
        EXPECT_EQ(camera->GetPreviewSize(&w, &h), 1);
        EXPECT_EQ(w, 0) << "the self-drawn preview records no placement";

        camera->Close();
        // Closed: the window is hidden and its picture gone; shown again, it paints black.
        EXPECT_FALSE(IsWindowVisible(preview));
        ShowWindow(preview, SW_SHOW);
        EXPECT_TRUE(PumpUntil([&] {
            const sim::Pixels p = sim::ReadWindowClient(preview);
            return !p.Empty() && IsBlack(p.ColorAt(left + width / 16, top + height * 5 / 12));
        }));
        ShowWindow(preview, SW_HIDE);
    }
}

TEST_F(FrameDeliveryTest, SnapshotIsTheGrabbersLastFrameWithAHeader) {
    FrameLog log(640, 480);
    auto camera = MakeCamera(kYuy2_640x480, RenderMode_NullRenderer);
    unsigned char* image = reinterpret_cast<unsigned char*>(0x1);
    unsigned long size = 7;
    EXPECT_EQ(camera->TakeSnapshot(image, size), 1);
    EXPECT_STREQ(camera->GetLastError(), "设备未运行.");
    EXPECT_EQ(image, reinterpret_cast<unsigned char*>(0x1));
    EXPECT_EQ(size, 7u);

    camera->SetLumacapBuffCB(&FrameLog::Callback, &log);
    ASSERT_EQ(camera->Open(), 0);
    ASSERT_TRUE(log.WaitFor(3));
    // Stopped, the grabber keeps the frame the host saw last.
    ASSERT_EQ(camera->Stop(), 0);
    ASSERT_TRUE(WaitForStatus(*camera, CameraStatus_Stopped));
    image = nullptr;
    ASSERT_EQ(camera->TakeSnapshot(image, size), 0);
    ASSERT_NE(image, nullptr);
    const unsigned long frameBytes = 640 * 480 * 3;
    ASSERT_EQ(size, 40 + frameBytes);
    BITMAPINFOHEADER header;
    std::memcpy(&header, image, sizeof(header));
    BITMAPINFOHEADER expected{};
    expected.biSize = 40;
    expected.biWidth = 640;
    expected.biHeight = 480;
    expected.biPlanes = 1;
    expected.biBitCount = 24;
    EXPECT_EQ(std::memcmp(&header, &expected, sizeof(header)), 0) << "and every other field 0";
    const std::vector<uint8_t> last = log.Last();
    ASSERT_EQ(last.size(), frameBytes);
    EXPECT_TRUE(std::memcmp(image + 40, last.data(), frameBytes) == 0);
    EXPECT_EQ(sim::ReadFrameNumber(image + 40, 640, 480), log.Numbers().back());
    camera->FreeImageMemery(image);
    camera->FreeImageMemery(nullptr);

    // The grabber refusing the size query, then the copy.
    const HRESULT refused = VFW_E_WRONG_STATE;
    sim::ArmFault("ISampleGrabber::GetCurrentBuffer", refused, 1);
    image = nullptr;
    size = 7;
    EXPECT_EQ(camera->TakeSnapshot(image, size), refused);
    EXPECT_STREQ(camera->GetLastError(), "抓图失败, code=0x80040227");
    EXPECT_EQ(size, 7u);
    sim::ArmFault("ISampleGrabber::GetCurrentBuffer", E_OUTOFMEMORY, 2);
    EXPECT_EQ(camera->TakeSnapshot(image, size), E_OUTOFMEMORY);
    EXPECT_STREQ(camera->GetLastError(), "抓图失败, code2=0x8007000E");
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(image, nullptr) << "the host's pointer is left alone";
    camera->Close();

    // A top-down format: the header keeps the negative height, so it describes the rows as the
    // grabber holds them.
    FrameLog topDownLog(320, -240);
    auto topDown = MakeCamera(kRgb24TopDown_320x240, RenderMode_NullRenderer);
    topDown->SetLumacapBuffCB(&FrameLog::Callback, &topDownLog);
    ASSERT_EQ(topDown->Open(), 0);
    ASSERT_TRUE(topDownLog.WaitFor(2));
    ASSERT_EQ(topDown->TakeSnapshot(image, size), 0);
    std::memcpy(&header, image, sizeof(header));
    EXPECT_EQ(header.biHeight, -240);
    EXPECT_GE(ReadTopDownFrameNumber(image + 40, 320, 240), 0);
    topDown->FreeImageMemery(image);
}

TEST_F(FrameDeliveryTest, RunPauseAndStopMoveTheStatus) {
    FrameLog log(320, 240);
    auto camera = MakeCamera(kYuy2_320x240, RenderMode_NullRenderer);
    for (auto call : {&CDXCamera::Run, &CDXCamera::Pause, &CDXCamera::Stop}) {
        EXPECT_EQ((camera.get()->*call)(), 1);
        EXPECT_STREQ(camera->GetLastError(), "设备未运行.");
    }
    camera->SetLumacapBuffCB(&FrameLog::Callback, &log);
    ASSERT_EQ(camera->Open(), 0);
    ASSERT_TRUE(log.WaitFor(2));

    // Already running: the graph is not asked again.
    sim::ArmFault("IMediaControl::Run", E_FAIL);
    EXPECT_EQ(camera->Run(), 0);
    EXPECT_EQ(sim::FaultHits("IMediaControl::Run"), 0);
    sim::DisarmFaults();

    EXPECT_EQ(camera->Pause(), 0);
    EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_Paused);
    const size_t paused = log.Count();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_LE(log.Count(), paused + 1) << "a paused live source delivers nothing";
    sim::ArmFault("IMediaControl::Pause", E_FAIL);
    EXPECT_EQ(camera->Pause(), 0);
    EXPECT_EQ(sim::FaultHits("IMediaControl::Pause"), 0);
    // A graph that refuses to run leaves the status; the call still answers 0.
    sim::ArmFault("IMediaControl::Run", E_FAIL);
    EXPECT_EQ(camera->Run(), 0);
    EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_Paused);
    sim::DisarmFaults();
    EXPECT_EQ(camera->Run(), 0);
    EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_Running);
    EXPECT_TRUE(log.WaitFor(log.Count() + 3));
}

// A host whose frame callback sends a message to its own window: while its thread is in Stop,
// Run or Pause, the capture thread waits in that send, so none of them may wait for the graph.
struct SendingHost {
    HWND window = nullptr;
    std::atomic<bool> inSend{false};
    std::mutex mutex;
    std::vector<long> numbers;
    static long __cdecl Callback(unsigned char* buffer, long, void* context) {
        auto* host = static_cast<SendingHost*>(context);
        {
            std::lock_guard<std::mutex> lock(host->mutex);
            host->numbers.push_back(sim::ReadFrameNumber(buffer, 320, 240));
        }
        host->inSend = true;
        SendMessageA(host->window, WM_USER + 50, 0, 0);
        host->inSend = false;
        return 0;
    }
};

TEST_F(FrameDeliveryTest, StopNeverWaitsForTheGraphAndRequestsTakeEffectInOrder) {
    auto camera = MakeCamera(kYuy2_320x240, RenderMode_NullRenderer);
    SendingHost host;
    host.window = m_parent;
    camera->SetLumacapBuffCB(&SendingHost::Callback, &host);
    ASSERT_EQ(camera->Open(), 0);
    ASSERT_TRUE(WaitForStatus(*camera, CameraStatus_Running));
    for (int i = 0; i < 500 && !host.inSend; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(host.inSend);

    // Nothing here pumps, so a call that waits for the graph never returns: the watchdog ends
    // the program with a message instead of hanging the suite.
    std::atomic<bool> returned{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 1000 && !returned; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!returned) {
            std::fprintf(stderr, "Stop, Run or Pause waited for the graph\n");
            std::abort();
        }
    });
    EXPECT_EQ(camera->Stop(), 0);
    EXPECT_EQ(camera->Stop(), 0);
    EXPECT_EQ(camera->Pause(), 0);
    EXPECT_EQ(camera->Run(), 0);
    returned = true;
    watchdog.join();
    EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_Running)
        << "nothing has happened to the graph yet";
    size_t before = 0;
    {
        std::lock_guard<std::mutex> lock(host.mutex);
        before = host.numbers.size();
    }

    // Answered, the capture thread lets the stop through; then the pause and the run follow.
    EXPECT_TRUE(PumpUntil([&] {
        std::lock_guard<std::mutex> lock(host.mutex);
        return host.numbers.size() >= before + 3;
    }));
    EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_Running);
    {
        std::lock_guard<std::mutex> lock(host.mutex);
        // The device counts its frames from 0 again after a stop: the stop came before the run.
        EXPECT_EQ(host.numbers[before], 0);
    }
    // Stopped already: another Stop leaves the status alone, and a Run right after acts at once.
    EXPECT_EQ(camera->Stop(), 0);
    EXPECT_TRUE(PumpUntil([&] { return camera->GetCameraStatus() == CameraStatus_Stopped; }));
    EXPECT_EQ(camera->Stop(), 0);
    EXPECT_EQ(camera->Run(), 0);
    EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_Running);
    camera->SetLumacapBuffCB(nullptr, nullptr);
    PumpUntil([&] { return !host.inSend; });
}

TEST_F(FrameDeliveryTest, DestroyingABusyCameraIsClean) {
    // Open, then destroyed at once.
    {
        auto camera = MakeCamera(kMjpg_640x480, RenderMode_SelfDrawn);
        ASSERT_EQ(camera->Open(), 0);
    }
    // Destroyed while its stop worker waits for the capture thread.
    {
        FrameLog log(640, 480);
        auto camera = MakeCamera(kYuy2_640x480, RenderMode_VideoRenderer);
        camera->SetLumacapBuffCB(&FrameLog::Callback, &log);
        ASSERT_EQ(camera->Open(), 0);
        log.Hold();
        ASSERT_TRUE(log.WaitUntilHeld());
        EXPECT_EQ(camera->Stop(), 0);
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            log.Release();
        });
        camera.reset();
        release.join();
    }
    // Closed while a worker runs, then reopened with its callback intact.
    FrameLog log(640, 480);
    auto camera = MakeCamera(kYuy2_640x480, RenderMode_NullRenderer);
    camera->SetLumacapBuffCB(&FrameLog::Callback, &log);
    ASSERT_EQ(camera->Open(), 0);
    ASSERT_TRUE(log.WaitFor(1));
    camera->Stop();
    EXPECT_EQ(camera->Close(), 0);
    EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_Closed);
    const size_t before = log.Count();
    ASSERT_EQ(camera->Open(), 0);
    EXPECT_TRUE(log.WaitFor(before + 5));
}

}  // namespace
}  // namespace lumacap::test
