// A host's whole use of a camera, on the double served through FUSE: every render mode, frames,
// a snapshot, and a recording whose frames carry the camera's own numbers.
#include <chrono>
#include <cstdlib>
#include <thread>

#include "camera/CaptureFixture.h"
#include "recorder/ReadBack.h"
#include "v4l2/CameraBackends.h"

namespace lumacap::test {
namespace {

class ServedCameraTest : public CaptureTest {
protected:
    void SetUp() override {
        CaptureTest::SetUp();
        m_backend = MakeBackend("served", TempDir() + "/fakecam");
        sim::V4l2CameraConfig config = sim::DefaultV4l2CameraConfig();
        config.formats = {{"YUYV", {{320, 240}}}, {"MJPG", {{640, 480}}}};
        std::string reason;
        const int started = m_backend->Start(config, &reason);
        if (started > 0) GTEST_SKIP() << reason;
        ASSERT_EQ(started, 0) << reason;
    }
    void TearDown() override {
        m_backend.reset();
        CaptureTest::TearDown();
    }
    std::unique_ptr<CameraBackend> m_backend;
};

TEST_F(ServedCameraTest, EveryRenderModeShowsFramesAndSnapshotsThem) {
    for (unsigned mode : {0u, 1u, 2u}) {
        SCOPED_TRACE(mode);
        FrameLog log(640, 480);
        auto camera = MakeCamera(1, mode);
        camera->SetLumacapBuffCB(&FrameLog::Callback, &log);
        ASSERT_EQ(camera->Open(), 0) << sim::GbkToUtf8(camera->GetLastError());
        ASSERT_TRUE(log.WaitFor(3));
        if (mode == 0) {
            EXPECT_TRUE(IsWindowVisible(RendererWindowIn(m_parent)));
        } else if (mode == 2) {
            EXPECT_TRUE(IsWindowVisible(PreviewOf(*camera)));
        }

        unsigned char* image = nullptr;
        unsigned long size = 0;
        ASSERT_EQ(camera->TakeSnapshot(image, size), 0);
        ASSERT_EQ(size, 40u + 640 * 480 * 3);
        const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(image);
        EXPECT_EQ(header->biWidth, 640);
        EXPECT_EQ(header->biHeight, 480);
        const long number = sim::ReadFrameNumber(image + 40, 640, 480);
        EXPECT_GE(number, log.Numbers().front());
        camera->FreeImageMemery(image);
        camera->Close();
    }
}

TEST_F(ServedCameraTest, ARecordingCarriesTheCamerasFrameNumbersInOrder) {
    auto camera = MakeCamera(0, 1);
    ASSERT_EQ(camera->Open(), 0) << sim::GbkToUtf8(camera->GetLastError());
    CDXRecorder recorder;
    recorder.SetVideoSize(320, 240);
    recorder.AddVideoSource(camera.get(), RECT{0, 0, 320, 240});
    const std::string path = TempDir() + "/served.avi";
    ASSERT_TRUE(recorder.StartRecord(path.c_str(), 0)) << sim::GbkToUtf8(recorder.GetErrorMsg());
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    recorder.CloseRecord();
    camera->Close();

    std::vector<long> numbers;
    for (const auto& frame : DecodeFrames(path, 320, 240))
        numbers.push_back(sim::ReadFrameNumber(frame.data(), 320, 240));
    ASSERT_GE(numbers.size(), 10u);
    // Until the camera's first frame arrives its rectangle is black and carries no number.
    size_t first = 0;
    while (first < numbers.size() && numbers[first] < 0) ++first;
    ASSERT_LT(first, 5u);
    for (size_t i = first + 1; i < numbers.size(); ++i) {
        ASSERT_GE(numbers[i], 0) << "frame " << i;
        // The recorder may repeat a frame or skip one, never go back.
        EXPECT_GE(numbers[i], numbers[i - 1]) << "frame " << i;
    }
    EXPECT_GT(numbers.back(), numbers[first] + 10) << "the camera kept delivering";
}

// Another V4L2 program (FFmpeg's capture device, which waits in blocking dequeues) streams the
// served camera as it would a webcam.
TEST_F(ServedCameraTest, FfmpegCapturesFromTheServedNode) {
    const std::string path = TempDir() + "/ffmpeg.avi";
    const std::string command =
        "ffmpeg -v error -y -f v4l2 -input_format yuyv422 -video_size "
        "320x240 -i " +
        TempDir() + "/fakecam/dev/video0 -frames:v 6 -c:v rawvideo " + "-pix_fmt bgr24 " + path +
        " </dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::vector<long> numbers;
    for (const auto& frame : DecodeFrames(path, 320, 240))
        numbers.push_back(sim::ReadFrameNumber(frame.data(), 320, 240));
    ASSERT_EQ(numbers.size(), 6u);
    for (size_t i = 1; i < numbers.size(); ++i) EXPECT_GT(numbers[i], numbers[i - 1]);
    EXPECT_GE(numbers.front(), 0);
}

}  // namespace
}  // namespace lumacap::test
