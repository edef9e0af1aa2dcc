// Image controls on the virtual camera: values queued for open and read back, the device's
// controls by number, and the device's property frame.
#include <atomic>
#include <thread>

#include "CaptureFixture.h"

namespace lumacap::test {
namespace {

using ImageControlsTest = CaptureTest;

struct DeviceValue {
    long value = 0;
    long flags = 0;
};

DeviceValue Device(bool cameraControl, long property) {
    DeviceValue v;
    EXPECT_TRUE(sim::GetCameraControl(0, cameraControl, property, &v.value, &v.flags));
    return v;
}

TEST_F(ImageControlsTest, QueuedValuesReachTheDeviceAtOpenAndTheDevicesAreReadBack) {
    auto camera = MakeCamera(kYuy2_320x240, RenderMode_NullRenderer);
    camera->SetBrgihtness(40);
    camera->SetWhiteBalance(5000, 1);
    camera->SetExposure(-6, 0);
    EXPECT_EQ(CDXCameraTestAccess::PropertyFlags(*camera), 0x1u | 0x40u | 0x80u | 0x400000u);
    EXPECT_EQ(Device(false, VideoProcAmp_Brightness).value, 0) << "nothing reaches a closed device";
    ASSERT_EQ(camera->Open(), 0);
    EXPECT_EQ(Device(false, VideoProcAmp_Brightness).value, 40);
    EXPECT_EQ(Device(false, VideoProcAmp_Brightness).flags, VideoProcAmp_Flags_Manual);
    EXPECT_EQ(Device(false, VideoProcAmp_WhiteBalance).value, 5000);
    EXPECT_EQ(Device(false, VideoProcAmp_WhiteBalance).flags, VideoProcAmp_Flags_Auto);
    EXPECT_EQ(Device(true, CameraControl_Exposure).value, -6);
    EXPECT_EQ(Device(true, CameraControl_Exposure).flags, CameraControl_Flags_Manual);
    // Values never set are the device's own after open.
    EXPECT_EQ(camera->GetContrast(), 32);
    EXPECT_EQ(camera->GetSaturation(), 64);
    EXPECT_EQ(camera->GetGamma(), 100);
    int automatic = -1;
    EXPECT_EQ(camera->GetExposure(automatic), -6);
    EXPECT_EQ(automatic, 0);

    // Set on an open camera: cached at once, applied at the next open.
    camera->SetBrgihtness(10);
    EXPECT_EQ(camera->GetBrgihtness(), 10);
    EXPECT_EQ(Device(false, VideoProcAmp_Brightness).value, 40);
    camera->Close();
    ASSERT_EQ(camera->Open(), 0);
    EXPECT_EQ(Device(false, VideoProcAmp_Brightness).value, 10);
}

TEST_F(ImageControlsTest, ADeviceWithoutControlsIsSkippedSilently) {
    sim::VirtualCameraConfig config = sim::DefaultCameraConfig();
    config.videoProcAmp.clear();
    config.cameraControl.clear();
    sim::ConfigureCamera(0, config);
    auto camera = MakeCamera(kYuy2_320x240, RenderMode_NullRenderer);
    camera->SetBrgihtness(40);
    camera->SetExposure(-3, 1);
    ASSERT_EQ(camera->Open(), 0);
    EXPECT_EQ(camera->GetBrgihtness(), 40) << "a refused read keeps the cached value";
    long value = 0, flags = 0;
    EXPECT_EQ(camera->GetVideoPropertyValue(0, &value, &flags), 0);
}

TEST_F(ImageControlsTest, GenericOperationsTalkToTheOpenDevice) {
    auto camera = MakeCamera(kYuy2_320x240, RenderMode_NullRenderer);
    long a = -7, b = -7, c = -7, d = -7, e = -7;
    EXPECT_EQ(camera->GetVideoPropertyRange(0, &a, &b, &c, &d, &e), 0);
    EXPECT_EQ(camera->GetVideoPropertyValue(0, &a, &b), 0);
    EXPECT_EQ(camera->SetVideoPropertyValue(0, 5, 2), 0);
    EXPECT_EQ(a, -7) << "outputs untouched on a closed camera";
    EXPECT_STREQ(camera->GetLastError(), "");
    ASSERT_EQ(camera->Open(), 0);

    // Outputs in the order minimum, maximum, default, step, flags.
    EXPECT_EQ(camera->GetVideoPropertyRange(VideoProcAmp_WhiteBalance, &a, &b, &c, &d, &e), 1);
    EXPECT_EQ(a, 2800);
    EXPECT_EQ(b, 6500);
    EXPECT_EQ(c, 4600);
    EXPECT_EQ(d, 10);
    EXPECT_EQ(e, VideoProcAmp_Flags_Auto | VideoProcAmp_Flags_Manual);
    // 100 and up are camera controls.
    EXPECT_EQ(camera->GetVideoPropertyRange(104, &a, &b, &c, &d, &e), 1);
    EXPECT_EQ(a, -13);
    EXPECT_EQ(c, -6);
    EXPECT_EQ(camera->GetVideoPropertyRange(105, &a, &b, &c, &d, &e), 0) << "no iris";

    EXPECT_EQ(camera->SetVideoPropertyValue(104, -5, 2), 1);
    EXPECT_EQ(Device(true, CameraControl_Exposure).value, -5);
    int automatic = -1;
    EXPECT_EQ(camera->GetExposure(automatic), -5);
    EXPECT_EQ(automatic, 0);
    EXPECT_EQ(CDXCameraTestAccess::PropertyFlags(*camera) & 0x80u, 0u)
        << "not queued for the next open";
    EXPECT_EQ(camera->SetVideoPropertyValue(VideoProcAmp_WhiteBalance, 3000, 1), 1);
    EXPECT_EQ(camera->GetWhiteBalance(automatic), 3000);
    EXPECT_EQ(automatic, 1);
    EXPECT_EQ(camera->SetVideoPropertyValue(VideoProcAmp_Hue, 9, 2), 1);
    EXPECT_EQ(camera->GetHue(), 9);
    // Gain has no cached value; a value out of range is refused and changes nothing.
    EXPECT_EQ(camera->SetVideoPropertyValue(VideoProcAmp_Gain, 50, 2), 1);
    EXPECT_EQ(camera->SetVideoPropertyValue(VideoProcAmp_Brightness, 1000, 2), 0);
    EXPECT_NE(camera->GetBrgihtness(), 1000);
    long value = 0, flags = 0;
    EXPECT_EQ(camera->GetVideoPropertyValue(VideoProcAmp_Gain, &value, &flags), 1);
    EXPECT_EQ(value, 50);
    EXPECT_EQ(flags, VideoProcAmp_Flags_Manual);
}

TEST_F(ImageControlsTest, ThePropertyFrameListsTheControlsAndTheCameraReadsBackWhatTheUserChanged) {
    FrameLog log(320, 240);
    auto camera = MakeCamera(kYuy2_320x240, RenderMode_NullRenderer);
    EXPECT_EQ(camera->ShowDeviceProperty(), 1);
    EXPECT_STREQ(camera->GetLastError(), "设备未运行.");
    camera->SetLumacapBuffCB(&FrameLog::Callback, &log);
    ASSERT_EQ(camera->Open(), 0);
    ASSERT_TRUE(log.WaitFor(1));

    // The user, on another thread: finds the frame, reads it, drags brightness, closes it.
    std::vector<sim::PropertyFrameControl> seen;
    HWND frameOwner = nullptr;
    size_t framesDuringDialog = 0;
    std::thread user([&] {
        HWND frame = sim::FindPropertyFrame(5000);
        if (!frame) return;
        frameOwner = GetParent(frame);
        seen = sim::PropertyFrameControls(frame);
        const size_t before = log.Count();
        log.WaitFor(before + 3, 2000);
        framesDuringDialog = log.Count() - before;
        sim::SetPropertyFrameValue(frame, "Brightness", 25);
        sim::SetPropertyFrameValue(frame, "Exposure", -99);  // clamped to the range
        sim::ClosePropertyFrame(frame);
    });
    EXPECT_EQ(camera->ShowDeviceProperty(), 0);
    user.join();
    EXPECT_EQ(sim::FindPropertyFrame(), nullptr) << "closed";
    EXPECT_EQ(frameOwner, m_parent);
    EXPECT_GE(framesDuringDialog, 3u) << "frames keep flowing while the dialog is open";

    ASSERT_EQ(seen.size(), 11u);  // nine video processing controls, two camera controls
    EXPECT_EQ(seen[0].page, "Video Proc Amp");
    EXPECT_EQ(seen[0].name, "Brightness");
    EXPECT_EQ(seen[0].minimum, -64);
    EXPECT_EQ(seen[0].maximum, 64);
    EXPECT_EQ(seen[0].value, 0);
    EXPECT_EQ(seen[6].name, "White Balance");
    EXPECT_EQ(seen[6].step, 10);
    EXPECT_EQ(seen[6].value, 4600);
    EXPECT_EQ(seen[9].page, "Camera Control");
    EXPECT_EQ(seen[9].name, "Exposure");

    // What the user changed reached the device, and the camera read it back.
    EXPECT_EQ(Device(false, VideoProcAmp_Brightness).value, 25);
    EXPECT_EQ(camera->GetBrgihtness(), 25);
    int automatic = -1;
    EXPECT_EQ(camera->GetExposure(automatic), -13);
    EXPECT_EQ(automatic, 0);

    // A device that cannot list its pages still gets the frame, empty, and the values are read
    // back afterwards all the same.
    sim::ArmFault("ISpecifyPropertyPages::GetPages", E_NOTIMPL);
    camera->SetBrgihtness(7);  // the camera's copy only
    seen.assign(1, {});
    std::thread closer([&] {
        if (HWND frame = sim::FindPropertyFrame(5000)) {
            seen = sim::PropertyFrameControls(frame);
            sim::ClosePropertyFrame(frame);
        }
    });
    EXPECT_EQ(camera->ShowDeviceProperty(), 0);
    closer.join();
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(camera->GetBrgihtness(), 25);
}

}  // namespace
}  // namespace lumacap::test
