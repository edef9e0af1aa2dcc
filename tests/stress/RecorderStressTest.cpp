// Recordings under stress: the cameras they compose from closed, reopened, unplugged and replugged
// meanwhile, and their control calls from two threads at once. The files must stay whole.
#include <barrier>
#include <functional>
#include <thread>

#include "stress/StressSupport.h"

namespace lumacap::test {
namespace {

class RecorderStressTest : public StressTest {
protected:
    // A recording of camera 0 at 30 frames a second, uncompressed.
    void Start(CDXRecorder& recorder, CDXCamera& camera, const char* name) {
        recorder.SetVideoSize(160, 120);
        recorder.SetFPS(30);
        recorder.AddVideoSource(&camera, RECT{0, 0, 160, 120});
        ASSERT_TRUE(recorder.StartRecord(Path(name).c_str(), 0))
            << sim::GbkToUtf8(recorder.GetErrorMsg());
    }
    // Every composed frame is in the file (but the one a close caught waiting for its time), and
    // the file decodes without a complaint.
    void ExpectWhole(const char* name, long composed) {
        const FileCheck file = CheckRecording(Path(name));
        ASSERT_TRUE(file.readable) << name;
        EXPECT_GE(file.frames, composed - 1) << name;
        EXPECT_LE(file.frames, composed) << name;
        // A late frame takes the clock's slot, so on a slow or loaded machine the file lasts
        // longer than its frames at 30 a second, never shorter.
        EXPECT_GE(file.duration, static_cast<double>(file.frames) / 30.0 - 0.05) << name;
        EXPECT_EQ(file.decodeErrors, "") << name;
    }
};

TEST_F(RecorderStressTest, CamerasClosedAndReopenedWhileComposedFrom) {
    ConfigureCamera(0, 320, 240);
    auto camera = MakeCamera(0, 1);
    ASSERT_EQ(camera->Open(), 0);
    OrderLog log;
    log.SetSize(320, 240);
    camera->SetLumacapBuffCB(&OrderLog::Callback, &log);
    CDXRecorder recorder;
    Start(recorder, *camera, "reopened.avi");
    for (int i = 0; i < 60 && !HasFatalFailure(); ++i) {
        const long frames = recorder.GetRealFramesCount();
        ASSERT_TRUE(sim::PumpMessagesUntil([&] { return recorder.GetRealFramesCount() > frames; }));
        camera->Close();
        ASSERT_EQ(camera->Open(), 0) << sim::GbkToUtf8(camera->GetLastError());
        const long delivered = log.Count();
        ASSERT_TRUE(sim::PumpMessagesUntil([&] { return log.Count() > delivered; }));
    }
    recorder.CloseRecord();
    camera->Close();
    ExpectWhole("reopened.avi", recorder.GetRealFramesCount());
}

TEST_F(RecorderStressTest, UnpluggedAndReplugged100TimesMidRecording) {
    ConfigureCamera(0, 320, 240);
    // Self-drawn: the device's comings and goings reach the camera on this thread.
    auto camera = MakeCamera(0, 2);
    ASSERT_EQ(camera->Open(), 0);
    CDXRecorder recorder;
    Start(recorder, *camera, "replugged.avi");
    for (int i = 0; i < 100 && !HasFatalFailure(); ++i) {
        ASSERT_TRUE(sim::UnplugCamera(0));
        ASSERT_TRUE(sim::PumpMessagesUntil([&] { return camera->GetCameraStatus() == 4; }));
        ASSERT_TRUE(sim::ReplugCamera(0));
        ASSERT_TRUE(sim::PumpMessagesUntil([&] { return camera->GetCameraStatus() == 5; }));
        // As a host does when its device is back: the graph is built again.
        ASSERT_EQ(camera->Open(), 0) << sim::GbkToUtf8(camera->GetLastError());
    }
    const long frames = recorder.GetRealFramesCount();
    ASSERT_TRUE(sim::PumpMessagesUntil([&] { return recorder.GetRealFramesCount() > frames + 3; }));
    recorder.CloseRecord();
    camera->Close();
    ExpectWhole("replugged.avi", recorder.GetRealFramesCount());
}

TEST_F(RecorderStressTest, StopAndCloseFromTwoThreadsAtOnce) {
    ConfigureCamera(0, 320, 240);
    auto camera = MakeCamera(0, 1);
    ASSERT_EQ(camera->Open(), 0);
    CDXRecorder recorder;
    const auto stop = [&] { recorder.Stop(); };
    const auto close = [&] { recorder.CloseRecord(); };
    const std::vector<std::pair<std::function<void()>, std::function<void()>>> pairs = {
        {stop, close}, {close, stop}, {stop, stop}, {close, close}};
    int round = 0;
    for (const auto& [first, second] : pairs) {
        for (int i = 0; i < 10; ++i, ++round) {
            const std::string name = "twice" + std::to_string(round) + ".avi";
            recorder.RemoveAll();
            Start(recorder, *camera, name.c_str());
            if (HasFatalFailure()) return;
            std::barrier both(2);
            std::thread other([&] {
                both.arrive_and_wait();
                first();
            });
            both.arrive_and_wait();
            second();
            other.join();
            recorder.CloseRecord();
            EXPECT_TRUE(CheckRecording(Path(name.c_str())).readable) << name;
        }
    }
    // Destroyed while recording, as the camera it composes from closes on another thread.
    auto last = std::make_unique<CDXRecorder>();
    Start(*last, *camera, "destroyed.avi");
    std::barrier both(2);
    std::thread other([&] {
        both.arrive_and_wait();
        camera->Close();
    });
    both.arrive_and_wait();
    last.reset();
    other.join();
    EXPECT_TRUE(CheckRecording(Path("destroyed.avi")).readable);
}

}  // namespace
}  // namespace lumacap::test
