// The virtual camera recorded through the whole chain: its own frame numbers, stamped into its
// pictures, come back from the file in order, uncompressed and through the MJPEG compressor.
#include <chrono>
#include <thread>

#include <lumacap/lumacap.h>

#include "common/SimTest.h"
#include "recorder/ReadBack.h"

namespace lumacap::test {
namespace {

// The default virtual camera, opened as a host opens it (in a parent window of its thread),
// delivering 320x240 frames 30 times a second.
class CameraSource {
public:
    CameraSource() {
        sim::VirtualCameraConfig config = sim::DefaultCameraConfig();
        config.capabilities = {{"YUY2", 320, 240, 30.0}};
        config.defaultCapability = 0;
        sim::ConfigureCamera(0, config);
        WNDCLASSA wc{};
        wc.lpfnWndProc = DefWindowProcA;
        wc.lpszClassName = "RecordedFileHost";
        RegisterClassA(&wc);
        m_parent = CreateWindowExA(0, "RecordedFileHost", "host", WS_OVERLAPPEDWINDOW, 0, 0, 320,
                                   240, nullptr, nullptr, nullptr, nullptr);
        camera.SetCameraIndex(0);
        camera.SetResolutionIndex(0);
        camera.SetParentWnd(m_parent);
        camera.SetRenderMode(RenderMode_NullRenderer);
        camera.Open();
    }
    ~CameraSource() {
        camera.Close();
        DestroyWindow(m_parent);
    }
    CDXCamera camera;

private:
    HWND m_parent = nullptr;
};

struct CameraCase {
    const char* compressor;
    const char* codec;
};

class RecordedCameraTest : public SimTest, public ::testing::WithParamInterface<CameraCase> {
protected:
    std::string Path(const char* name) const { return TempDir() + "/" + name; }
};

TEST_P(RecordedCameraTest, TheCamerasOwnFrameNumbersComeBackInOrder) {
    CameraSource source;
    ASSERT_EQ(source.camera.GetCameraStatus(), CameraStatus_Running)
        << sim::GbkToUtf8(source.camera.GetLastError());
    CDXRecorder recorder;
    recorder.SetVideoSize(320, 240);
    recorder.SetVideoCompressor(GetParam().compressor);
    recorder.AddVideoSource(&source.camera, RECT{0, 0, 320, 240});
    ASSERT_TRUE(recorder.StartRecord(Path("camera.avi").c_str(), 0))
        << sim::GbkToUtf8(recorder.GetErrorMsg());
    std::this_thread::sleep_for(std::chrono::seconds(2));
    recorder.CloseRecord();
    const Probe probe = ProbeFile(Path("camera.avi"));
    ASSERT_TRUE(probe.Ok());
    EXPECT_EQ(probe.Stream(0, "codec_name"), GetParam().codec);

    const auto frames = DecodeFrames(Path("camera.avi"), 320, 240);
    ASSERT_GE(frames.size(), 10u);
    std::vector<long> numbers;
    for (const auto& frame : frames)
        numbers.push_back(sim::ReadFrameNumber(frame.data(), 320, 240));
    // Until the camera's first frame arrives its rectangle is black and carries no number.
    size_t first = 0;
    while (first < numbers.size() && numbers[first] < 0) ++first;
    ASSERT_LT(first, 3u) << "the camera's frames reach the recording at once";
    for (size_t i = first + 1; i < numbers.size(); ++i) {
        ASSERT_GE(numbers[i], 0) << "frame " << i << " has no readable number";
        EXPECT_GE(numbers[i], numbers[i - 1]) << "frame " << i << " goes back in time";
    }
    // The camera runs three times as fast as the recording.
    const double perFrame = static_cast<double>(numbers.back() - numbers[first]) /
                            static_cast<double>(numbers.size() - 1 - first);
    EXPECT_NEAR(perFrame, 3.0, 1.0);
}

INSTANTIATE_TEST_SUITE_P(Codecs, RecordedCameraTest,
                         ::testing::Values(CameraCase{"", "rawvideo"},
                                           CameraCase{"MJPEG Compressor", "mjpeg"}),
                         [](const ::testing::TestParamInfo<CameraCase>& info) {
                             return std::string(info.index == 0 ? "Uncompressed" : "Mjpeg");
                         });

}  // namespace
}  // namespace lumacap::test
