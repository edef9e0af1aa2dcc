// One suite, three cameras: the in-process double, the double served through FUSE (every request
// through the kernel), and the machine's own camera or vivid when there is one. What the library
// sees must not depend on which it is.
#include <linux/videodev2.h>

#include <fstream>
#include <thread>

#include "camera/CaptureFixture.h"
#include "platform/system/hw/v4l2/FakeApi.h"
#include "v4l2/CameraBackends.h"

namespace lumacap::test {
namespace {

// What the doubles offer: three packed and planar formats, a stepwise range, RGB in the byte order
// that needs swapping, and the controls of a typical webcam.
sim::V4l2CameraConfig Config() {
    sim::V4l2CameraConfig config = sim::DefaultV4l2CameraConfig();
    sim::V4l2FormatSpec yuyv{"YUYV", {{640, 480}, {320, 240}}};
    yuyv.framesPerSecond = {30, 15};
    sim::V4l2FormatSpec mjpg{"MJPG", {{640, 480}}};
    sim::V4l2FormatSpec nv12{"NV12", {}};
    nv12.minWidth = 320, nv12.maxWidth = 640, nv12.stepWidth = 320;
    nv12.minHeight = 240, nv12.maxHeight = 480, nv12.stepHeight = 120;
    sim::V4l2FormatSpec i420{"YU12", {{320, 240}}};
    sim::V4l2FormatSpec rgb{"RGB3", {{320, 240}}};
    config.formats = {yuyv, mjpg, nv12, i420, rgb};
    return config;
}

class V4l2Conformance : public CaptureTest, public ::testing::WithParamInterface<const char*> {
protected:
    void SetUp() override {
        CaptureTest::SetUp();
        m_backend = MakeBackend(GetParam(), TempDir() + "/fakecam");
        std::string reason;
        const int started = m_backend->Start(Config(), &reason);
        if (started > 0) GTEST_SKIP() << reason;
        ASSERT_EQ(started, 0) << reason;
    }
    void TearDown() override {
        m_backend.reset();
        CaptureTest::TearDown();
    }

    bool Double() const { return m_backend->IsDouble(); }

    // A control's value as the device holds it, asked through a file of its own.
    long DeviceControl(uint32_t id) {
        auto seam = m_backend->Seam();
        const int fd = seam->Open(m_backend->Node());
        v4l2_control control{id, -12345};
        const int r = fd >= 0 ? seam->Ioctl(fd, VIDIOC_G_CTRL, &control) : fd;
        if (fd >= 0) seam->Close(fd);
        return r == 0 ? control.value : -12345;
    }

    // Opens format `index` in render mode 1 and collects `frames` frames.
    void Capture(CDXCamera& camera, long index, size_t frames, FrameLog* log) {
        camera.SetLumacapBuffCB(&FrameLog::Callback, log);
        ASSERT_EQ(camera.Open(), 0) << sim::GbkToUtf8(camera.GetLastError());
        ASSERT_TRUE(log->WaitFor(frames)) << "format " << index;
    }

    static void ExpectInOrder(const std::vector<long>& numbers) {
        for (size_t i = 0; i < numbers.size(); ++i) {
            EXPECT_GE(numbers[i], 0) << "frame " << i << " carries its number";
            if (i) {
                EXPECT_GT(numbers[i], numbers[i - 1]);
            }
        }
    }

    std::unique_ptr<CameraBackend> m_backend;
};

TEST_P(V4l2Conformance, TheCaptureNodeIsListedFirstWithItsFormatsAndFrameRates) {
    const long count = CDXCamera::GetCameraCount();
    CDXCAMERAPROPERTY last;
    ASSERT_EQ(CDXCamera::GetCameraProperty(static_cast<int>(count - 1), &last), 0);
    EXPECT_STREQ(last.GetName(), "Lumacap Virtual Camera") << "the virtual camera comes last";
    CDXCAMERAPROPERTY first;
    ASSERT_EQ(CDXCamera::GetCameraProperty(0, &first), 0);
    if (!Double()) {
        EXPECT_GT(first.GetVideoInfoCount(), 0u);
        return;
    }
    EXPECT_EQ(count, 2) << "the metadata node is no camera";
    EXPECT_STREQ(first.GetName(), "Lumacap Test Webcam");
    EXPECT_STREQ(first.GetID(), "VID_046D&PID_0825");
    const std::vector<std::tuple<long, long, unsigned>> expected = {
        {640, 480, 1}, {320, 240, 1}, {640, 480, 3}, {320, 240, 0},
        {640, 360, 0}, {640, 480, 0}, {320, 240, 0}, {320, 240, 2}};
    ASSERT_EQ(first.GetVideoInfoCount(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        long w = 0, h = 0;
        first.GetVideoSize(static_cast<int>(i), &w, &h);
        EXPECT_EQ(std::make_tuple(w, h, first.GetVideoFormat(static_cast<int>(i))), expected[i])
            << "format " << i;
    }

    // Frame rates become the capability's range of frame times.
    auto camera = MakeCamera(0, 1);
    ASSERT_EQ(camera->Open(), 0);
    IPin* pin = nullptr;
    IEnumPins* pins = nullptr;
    ASSERT_EQ(CDXCameraTestAccess::SourceFilter(*camera)->EnumPins(&pins), S_OK);
    ASSERT_EQ(pins->Next(1, &pin, nullptr), S_OK);
    IAMStreamConfig* config = nullptr;
    ASSERT_EQ(pin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&config)), S_OK);
    AM_MEDIA_TYPE* mt = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    ASSERT_EQ(config->GetStreamCaps(0, &mt, reinterpret_cast<BYTE*>(&caps)), S_OK);
    EXPECT_EQ(caps.MinFrameInterval, 333333);
    EXPECT_EQ(caps.MaxFrameInterval, 666666);
    DeleteMediaType(mt);
    config->Release();
    pin->Release();
    pins->Release();
}

TEST_P(V4l2Conformance, EveryFormatDeliversWholeFramesInOrder) {
    CDXCAMERAPROPERTY property;
    ASSERT_EQ(CDXCamera::GetCameraProperty(0, &property), 0);
    for (unsigned i = 0; i < property.GetVideoInfoCount(); ++i) {
        long w = 0, h = 0;
        property.GetVideoSize(static_cast<int>(i), &w, &h);
        FrameLog log(w, h);
        auto camera = MakeCamera(i, 1);
        Capture(*camera, i, 4, &log);
        camera->Close();
        for (long length : log.Lengths()) EXPECT_EQ(length, Stride(w) * h) << "format " << i;
        if (Double()) ExpectInOrder(log.Numbers());
    }
    if (std::string(GetParam()) == "in-process") {
        EXPECT_EQ(hw::v4l2::FakeApi::Instance()->LiveMappings(), 0u) << "buffers unmapped";
        EXPECT_EQ(hw::v4l2::FakeApi::Instance()->OpenFiles(), 0u) << "device files closed";
    }
}

TEST_P(V4l2Conformance, ControlsKeepTheDeviceRangesUnitsAndAutoModes) {
    auto camera = MakeCamera(Double() ? 1 : 0, 1);
    ASSERT_EQ(camera->Open(), 0);
    long min, max, def, step, flags, value;
    // Any camera: each control reads inside its range, takes its own value back, and refuses one
    // past its maximum.
    IAMVideoProcAmp* procAmp = nullptr;
    ASSERT_EQ(CDXCameraTestAccess::SourceFilter(*camera)->QueryInterface(
                  IID_IAMVideoProcAmp, reinterpret_cast<void**>(&procAmp)),
              S_OK);
    for (long number :
         {0L, 1L, 2L, 3L, 4L, 5L, 7L, 8L, 9L, 13L, 100L, 101L, 103L, 104L, 105L, 106L}) {
        if (!camera->GetVideoPropertyRange(number, &min, &max, &def, &step, &flags)) continue;
        ASSERT_EQ(camera->GetVideoPropertyValue(number, &value, &flags), 1) << number;
        EXPECT_TRUE(value >= min && value <= max && def >= min && def <= max) << number;
        if (flags == 2) {
            EXPECT_EQ(camera->SetVideoPropertyValue(number, value, 2), 1) << number;
        }
        if (number < 100) {
            EXPECT_EQ(procAmp->Set(number, max + step, 2), E_INVALIDARG) << number;
        }
    }
    if (!Double()) {
        procAmp->Release();
        return;
    }
    ASSERT_EQ(
        camera->GetVideoPropertyRange(VideoProcAmp_Brightness, &min, &max, &def, &step, &flags), 1);
    EXPECT_EQ(std::make_tuple(min, max, def, step, flags), std::make_tuple(0, 255, 128, 1, 2));
    EXPECT_EQ(camera->SetVideoPropertyValue(VideoProcAmp_Brightness, 200, 2), 1);
    EXPECT_EQ(DeviceControl(V4L2_CID_BRIGHTNESS), 200);
    // Out of range is refused, although the kernel would clamp.
    EXPECT_EQ(procAmp->Set(VideoProcAmp_Brightness, 256, 2), E_INVALIDARG);
    EXPECT_EQ(procAmp->Set(VideoProcAmp_ColorEnable, 1, 2), E_PROP_ID_UNSUPPORTED);
    procAmp->Release();
    EXPECT_EQ(DeviceControl(V4L2_CID_BRIGHTNESS), 200);

    // White balance: the temperature, with the automatic switch beside it.
    ASSERT_EQ(
        camera->GetVideoPropertyRange(VideoProcAmp_WhiteBalance, &min, &max, &def, &step, &flags),
        1);
    EXPECT_EQ(std::make_tuple(min, max, step, flags), std::make_tuple(2800, 6500, 10, 3));
    ASSERT_EQ(camera->GetVideoPropertyValue(VideoProcAmp_WhiteBalance, &value, &flags), 1);
    EXPECT_EQ(flags, 1);
    EXPECT_EQ(camera->SetVideoPropertyValue(VideoProcAmp_WhiteBalance, 5000, 2), 1);
    EXPECT_EQ(DeviceControl(V4L2_CID_AUTO_WHITE_BALANCE), 0);
    EXPECT_EQ(DeviceControl(V4L2_CID_WHITE_BALANCE_TEMPERATURE), 5000);
    EXPECT_EQ(camera->SetVideoPropertyValue(VideoProcAmp_WhiteBalance, 5000, 1), 1);
    EXPECT_EQ(DeviceControl(V4L2_CID_AUTO_WHITE_BALANCE), 1);

    // Exposure in log2 seconds over 100-microsecond units, automatic through the exposure menu.
    ASSERT_EQ(camera->GetVideoPropertyRange(104, &min, &max, &def, &step, &flags), 1);
    EXPECT_EQ(std::make_tuple(min, max, def, step, flags), std::make_tuple(-13, 0, -6, 1, 3));
    EXPECT_EQ(camera->SetVideoPropertyValue(104, -6, 2), 1);
    EXPECT_EQ(DeviceControl(V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_MANUAL);
    EXPECT_EQ(DeviceControl(V4L2_CID_EXPOSURE_ABSOLUTE), 156);
    ASSERT_EQ(camera->GetVideoPropertyValue(104, &value, &flags), 1);
    EXPECT_EQ(std::make_pair(value, flags), std::make_pair(-6L, 2L));
    EXPECT_EQ(camera->SetVideoPropertyValue(104, 0, 1), 1);
    EXPECT_EQ(DeviceControl(V4L2_CID_EXPOSURE_AUTO), V4L2_EXPOSURE_APERTURE_PRIORITY);

    // Pan in degrees over arc-seconds; a power-line menu; a control the device lacks.
    ASSERT_EQ(camera->GetVideoPropertyRange(100, &min, &max, &def, &step, &flags), 1);
    EXPECT_EQ(std::make_tuple(min, max, step), std::make_tuple(-10, 10, 1));
    EXPECT_EQ(camera->SetVideoPropertyValue(100, 2, 2), 1);
    EXPECT_EQ(DeviceControl(V4L2_CID_PAN_ABSOLUTE), 7200);
    EXPECT_EQ(camera->SetVideoPropertyValue(13, 1, 2), 1);
    EXPECT_EQ(DeviceControl(V4L2_CID_POWER_LINE_FREQUENCY), 1);
    EXPECT_EQ(camera->GetVideoPropertyRange(102, &min, &max, &def, &step, &flags), 0) << "roll";

    // The camera's own settings reach the device at open, and are read back from it.
    camera->Close();
    camera->SetContrast(77);
    camera->SetExposure(-3, 0);
    ASSERT_EQ(camera->Open(), 0);
    EXPECT_EQ(DeviceControl(V4L2_CID_CONTRAST), 77);
    EXPECT_EQ(DeviceControl(V4L2_CID_EXPOSURE_ABSOLUTE), 1250);
    EXPECT_EQ(camera->GetSaturation(), 32);
}

TEST_P(V4l2Conformance, ThePropertyFrameShowsTheDeviceControls) {
    if (!Double()) GTEST_SKIP() << "a real camera's controls are its own";
    auto camera = MakeCamera(1, 1);
    ASSERT_EQ(camera->Open(), 0);
    std::vector<sim::PropertyFrameControl> seen;
    std::thread user([&] {
        HWND frame = sim::FindPropertyFrame(5000);
        if (!frame) return;
        seen = sim::PropertyFrameControls(frame);
        sim::SetPropertyFrameValue(frame, "Brightness", 99);
        sim::ClosePropertyFrame(frame);
    });
    EXPECT_EQ(camera->ShowDeviceProperty(), 0);
    user.join();
    std::vector<std::string> names;
    for (const auto& c : seen) names.push_back(c.name);
    EXPECT_EQ(names,
              (std::vector<std::string>{"Brightness", "Contrast", "Hue", "Saturation", "Sharpness",
                                        "Gamma", "White Balance", "Backlight Comp", "Gain", "Pan",
                                        "Tilt", "Zoom", "Exposure", "Focus"}));
    EXPECT_EQ(DeviceControl(V4L2_CID_BRIGHTNESS), 99);
    EXPECT_EQ(camera->GetBrgihtness(), 99);
}

TEST_P(V4l2Conformance, UnpluggingAndReturningReachTheConnectCallback) {
    if (!Double()) GTEST_SKIP() << "a real camera cannot be unplugged from here";
    FrameLog frames(320, 240), again(320, 240);
    auto camera = MakeCamera(1, 2);
    ConnectLog connects;
    camera->SetLumacapConnectCB(&ConnectLog::Callback, &connects);
    Capture(*camera, 1, 2, &frames);

    ASSERT_TRUE(m_backend->Unplug());
    ASSERT_TRUE(PumpUntil([&] { return connects.Count() >= 1; }));
    EXPECT_EQ(camera->GetCameraStatus(), 4);
    EXPECT_EQ(camera->Run(), 1);
    ASSERT_TRUE(m_backend->Replug());
    ASSERT_TRUE(PumpUntil([&] { return connects.Count() >= 2; }));
    EXPECT_EQ(camera->GetCameraStatus(), 5);
    EXPECT_EQ(connects.calls[0].first, 0);
    EXPECT_EQ(connects.calls[1].first, 1);
    EXPECT_EQ(connects.calls[1].second, GetCurrentThreadId()) << "on the window's thread";

    // The host opens it again and frames flow from the new device.
    camera->Close();
    Capture(*camera, 1, 2, &again);
    ExpectInOrder(again.Numbers());

    // With the graph stopped no stream notices: the node going and coming is what tells.
    ASSERT_EQ(camera->Stop(), 0);
    ASSERT_TRUE(WaitForStatus(*camera, 1));
    ASSERT_TRUE(m_backend->Unplug());
    ASSERT_TRUE(PumpUntil([&] { return connects.Count() >= 3; }));
    ASSERT_TRUE(m_backend->Replug());
    ASSERT_TRUE(PumpUntil([&] { return connects.Count() >= 4; }));
    EXPECT_EQ(connects.calls[2].first, 0);
    EXPECT_EQ(connects.calls[3].first, 1);
}

TEST_P(V4l2Conformance, BrokenFramesAreDroppedAndCountedNeverPassedOn) {
    if (!Double()) GTEST_SKIP() << "a real camera cannot be made to misbehave";
    sim::V4l2Faults faults;
    faults.errorEvery = 3;
    faults.emptyEvery = 5;
    faults.truncatedEvery = 7;
    faults.corruptEvery = 4;
    ASSERT_TRUE(m_backend->SetFaults(faults));
    for (long index : {1L, 2L}) {  // YUY2, then MJPG where pictures can also be garbage
        FrameLog log(index == 1 ? 320 : 640, index == 1 ? 240 : 480);
        auto camera = MakeCamera(index, 1);
        Capture(*camera, index, 8, &log);
        IPin* pin = nullptr;
        IEnumPins* pins = nullptr;
        ASSERT_EQ(CDXCameraTestAccess::SourceFilter(*camera)->EnumPins(&pins), S_OK);
        ASSERT_EQ(pins->Next(1, &pin, nullptr), S_OK);
        IAMDroppedFrames* dropped = nullptr;
        ASSERT_EQ(pin->QueryInterface(IID_IAMDroppedFrames, reinterpret_cast<void**>(&dropped)),
                  S_OK);
        long count = 0;
        dropped->GetNumDropped(&count);
        camera->Close();
        dropped->Release();
        pin->Release();
        pins->Release();
        ExpectInOrder(log.Numbers());
        // Frame n is the (n + 1)-th the device made.
        for (long n : log.Numbers()) {
            const long k = n + 1;
            EXPECT_TRUE(k % 3 && k % 5 && k % 7 && (index == 1 || k % 4)) << "frame " << n;
        }
        EXPECT_GE(count, 4) << "format " << index;
    }
}

TEST_P(V4l2Conformance, BadDevicesGiveClearErrorsAndLeaveNothingOpen) {
    if (!Double()) GTEST_SKIP() << "a real camera cannot be made to misbehave";
    auto camera = MakeCamera(1, 1);

    // Another program streams from it.
    auto seam = m_backend->Seam();
    const int other = seam->Open(m_backend->Node());
    ASSERT_GE(other, 0);
    v4l2_requestbuffers request{2, V4L2_BUF_TYPE_VIDEO_CAPTURE, V4L2_MEMORY_MMAP};
    ASSERT_EQ(seam->Ioctl(other, VIDIOC_REQBUFS, &request), 0);
    EXPECT_EQ(camera->Open(), HRESULT_FROM_WIN32(ERROR_BUSY));
    EXPECT_EQ(camera->GetLastError(),
              StepText(" Failed to InitVideoSize.", HRESULT_FROM_WIN32(ERROR_BUSY)));
    request.count = 0;
    seam->Ioctl(other, VIDIOC_REQBUFS, &request);
    seam->Close(other);
    EXPECT_EQ(camera->Open(), 0) << "free again";
    camera->Close();

    // The driver will not give a format it listed.
    sim::V4l2Faults faults;
    faults.refuseFourcc = "MJPG";
    ASSERT_TRUE(m_backend->SetFaults(faults));
    auto mjpg = MakeCamera(2, 1);
    EXPECT_EQ(mjpg->Open(), VFW_E_INVALIDMEDIATYPE);
    EXPECT_EQ(mjpg->GetLastError(), StepText(" Failed to InitVideoSize.", VFW_E_INVALIDMEDIATYPE));

    // Unplugged while it opens: the graph cannot run, and the camera is closed.
    faults = {};
    faults.unplugAt = "STREAMON";
    ASSERT_TRUE(m_backend->SetFaults(faults));
    const HRESULT gone = HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(camera->Open(), gone);
    EXPECT_EQ(camera->GetLastError(), StepText(" Failed to Run.", gone));
    EXPECT_EQ(camera->GetCameraStatus(), 0);
    EXPECT_FALSE(CDXCameraTestAccess::HoldsAnyInterface(*camera));
    EXPECT_EQ(CDXCamera::GetCameraCount(), 1) << "only the virtual camera is left";

    // Plugged back in, but this user may not open it: still listed, with the reason.
    faults = {};
    faults.denyOpen = true;
    ASSERT_TRUE(m_backend->SetFaults(faults));
    ASSERT_TRUE(m_backend->Replug());
    CDXCAMERAPROPERTY property;
    EXPECT_TRUE(PumpUntil([&] { return CDXCamera::GetCameraCount() == 2; }));
    EXPECT_EQ(CDXCamera::GetCameraProperty(0, &property), E_ACCESSDENIED);
    EXPECT_STREQ(property.GetName(), "Lumacap Test Webcam");
    EXPECT_EQ(property.GetVideoInfoCount(), 0u);

    // A file in the directory that is no device is passed over.
    if (std::string(GetParam()) == "served") {
        std::ofstream(TempDir() + "/fakecam/dev/video7") << "not a camera";
        EXPECT_EQ(CDXCamera::GetCameraCount(), 2);
    }
    m_backend->SetFaults({});
    if (std::string(GetParam()) == "in-process") {
        EXPECT_EQ(hw::v4l2::FakeApi::Instance()->LiveMappings(), 0u);
        EXPECT_EQ(hw::v4l2::FakeApi::Instance()->OpenFiles(), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(Cameras, V4l2Conformance,
                         ::testing::Values("in-process", "served", "real"), [](const auto& info) {
                             std::string name = info.param;
                             name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                             return name;
                         });

}  // namespace
}  // namespace lumacap::test
