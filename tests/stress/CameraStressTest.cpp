// Cameras under stress: a thousand open/close cycles streaming into a self-drawn preview, eight
// cameras at once, and the control calls of one camera from two threads at once.
#include <barrier>
#include <functional>
#include <thread>

#include "stress/StressSupport.h"

namespace lumacap::test {
namespace {

TEST_F(StressTest, AThousandOpenCloseCyclesIntoAPreviewLeaveNothingBehind) {
    // Unpaced, so every cycle streams at once.
    ConfigureCamera(0, 320, 240, false);
    auto camera = MakeCamera(0, 2);
    OrderLog log;
    log.SetSize(320, 240);
    camera->SetLumacapBuffCB(&OrderLog::Callback, &log);
    const auto cycle = [&] {
        ASSERT_EQ(camera->Open(), 0) << sim::GbkToUtf8(camera->GetLastError());
        const long before = log.Count();
        // The preview paints on this thread while frames arrive.
        ASSERT_TRUE(sim::PumpMessagesUntil([&] { return log.Count() > before; }));
        ASSERT_EQ(camera->Close(), 0);
    };
    // The first cycle creates the preview window and starts the drawing library for good.
    cycle();
    const Census baseline = TakeCensus();
    for (int i = 0; i < 1000 && !HasFatalFailure(); ++i) cycle();
    EXPECT_TRUE(BackToBaseline(baseline))
        << Describe(TakeCensus()) << "; before: " << Describe(baseline);
}

class EightCamerasRealtimeTest : public StressTest {};

TEST_F(EightCamerasRealtimeTest, EachDeliversEveryFrameInOrderAtItsRate) {
    constexpr int kCameras = 8;
    constexpr int kSeconds = 3;
    std::vector<std::unique_ptr<CDXCamera>> cameras;
    std::vector<OrderLog> logs(kCameras);
    for (int i = 0; i < kCameras; ++i) {
        ConfigureCamera(i, 640, 480);
        cameras.push_back(MakeCamera(i, 2));
        logs[i].SetSize(640, 480);
        cameras[i]->SetLumacapBuffCB(&OrderLog::Callback, &logs[i]);
        RECT place{(i % 4) * 320, (i / 4) * 240, (i % 4 + 1) * 320, (i / 4 + 1) * 240};
        cameras[i]->SetVideoPos(&place);
        ASSERT_EQ(cameras[i]->Open(), 0) << i << ": " << sim::GbkToUtf8(cameras[i]->GetLastError());
    }
    const auto start = std::chrono::steady_clock::now();
    sim::PumpMessagesUntil([] { return false; }, kSeconds * 1000);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (auto& camera : cameras) camera->Close();
    for (int i = 0; i < kCameras; ++i) {
        EXPECT_EQ(logs[i].Breaks(), 0) << "camera " << i << " lost or reordered frames";
        // Under a sanitizer the machine cannot keep up; order is all that is asked then.
        if (!kSanitized)
            EXPECT_GE(logs[i].Count(), static_cast<long>(30 * seconds * 0.8)) << "camera " << i;
        else
            EXPECT_GT(logs[i].Count(), 0) << "camera " << i;
    }
}

// Stop and Close of one camera, each pair from two threads at the same moment.
TEST_F(StressTest, StopAndCloseFromTwoThreadsAtOnce) {
    ConfigureCamera(0, 320, 240);
    auto camera = MakeCamera(0, 1);
    OrderLog log;
    log.SetSize(320, 240);
    camera->SetLumacapBuffCB(&OrderLog::Callback, &log);
    const auto stop = [&] { camera->Stop(); };
    const auto close = [&] { camera->Close(); };
    const std::vector<std::pair<std::function<void()>, std::function<void()>>> pairs = {
        {stop, close}, {close, stop}, {stop, stop}, {close, close}};
    for (int round = 0; round < 25; ++round) {
        for (const auto& [first, second] : pairs) {
            ASSERT_EQ(camera->Open(), 0) << sim::GbkToUtf8(camera->GetLastError());
            std::barrier both(2);
            std::thread other([&] {
                both.arrive_and_wait();
                first();
            });
            both.arrive_and_wait();
            second();
            other.join();
            const int status = camera->GetCameraStatus();
            EXPECT_TRUE(status == 0 || status == 1 || status == 3) << status;
        }
    }
    // Destroyed while the worker of a Stop is still stopping the graph.
    ASSERT_EQ(camera->Open(), 0);
    camera->Stop();
    camera.reset();
}

}  // namespace
}  // namespace lumacap::test
