// Enumerating cameras and their formats through CDXCamera's static operations and the
// CDXCAMERAPROPERTY record, and choosing a camera's device.
#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "common/GraphFixture.h"
#include "common/TestAccess.h"

namespace lumacap::test {
namespace {

class Enumeration : public SimTest {};

sim::VirtualCameraConfig Camera(const char* name, const char* display,
                                std::vector<sim::VideoCapability> caps) {
    sim::VirtualCameraConfig c = sim::DefaultCameraConfig();
    c.friendlyName = name;
    c.displayName = display;
    c.capabilities = std::move(caps);
    return c;
}

TEST_F(Enumeration, PositionsAndTheMaskDecideWhatIsRead) {
    CDXCAMERAPROPERTY all;
    ASSERT_EQ(CDXCamera::GetCameraProperty(0, &all), 0);
    EXPECT_STREQ(all.GetID(), "VID_1D6B&PID_0102");
    EXPECT_STREQ(all.GetName(), "Lumacap Virtual Camera");
    ASSERT_EQ(all.GetVideoInfoCount(), sim::DefaultCameraConfig().capabilities.size());
    LONG w = 0, h = 0;
    ASSERT_EQ(all.GetVideoSize(11, &w, &h), 1);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(all.GetVideoFormat(11), 2u);  // RGB24
    w = -5;
    EXPECT_EQ(all.GetVideoSize(-1, &w, &h), 0);
    EXPECT_EQ(w, -5) << "a bad index writes nothing";

    // Mask 5: ID and formats, no name. A position at the count empties the record, mask kept.
    CDXCAMERAPROPERTY some;
    some.m_dwMask = 5;
    ASSERT_EQ(CDXCamera::GetCameraProperty(0, &some), 0);
    EXPECT_STREQ(some.GetName(), "");
    EXPECT_GT(some.GetVideoInfoCount(), 0u);
    EXPECT_EQ(CDXCamera::GetCameraProperty(1, &some), 1);
    EXPECT_EQ(some.m_dwMask, 5u);
    EXPECT_STREQ(some.GetID(), "");
    EXPECT_EQ(some.GetVideoInfoCount(), 0u);
    EXPECT_EQ(CDXCamera::GetCameraProperty(-1, &some), 1);
    EXPECT_GT(all.GetVideoInfoCount(), 0u) << "records are values: another's reset leaves it";

    sim::RemoveAllCameras();
    EXPECT_EQ(CDXCamera::GetCameraCount(), 0);
    EXPECT_EQ(CDXCamera::GetCameraProperty(0, &all), 1);
    EXPECT_STREQ(all.GetName(), "");
}

TEST_F(Enumeration, IdentifiersFollowTheDisplayNameAndNamesCanBeChinese) {
    sim::RemoveAllCameras();
    const std::string name = "前置摄像头";  // GBK bytes: sources are compiled to GB18030
    sim::AddCamera(
        Camera("Plain", "@device:sw:{860BB310}\\Plain Camera", {{"YUY2", 320, 240, 30, false}}));
    sim::AddCamera(Camera(name.c_str(), "@device:pnp:\\\\?\\usb#vid_046d&pid_0825&mi_00#6&2c8c",
                          {{"YUY2", 320, 240, 30, false}}));
    sim::AddCamera(Camera(name.c_str(), "x#vid_12", {{"YUY2", 320, 240, 30, false}}));
    CDXCAMERAPROPERTY p;
    ASSERT_EQ(CDXCamera::GetCameraProperty(0, &p), 0);
    EXPECT_STREQ(p.GetID(), "@DEVICE:SW:{860BB310}\\PLAIN CAMERA");
    ASSERT_EQ(CDXCamera::GetCameraProperty(1, &p), 0);
    EXPECT_STREQ(p.GetID(), "VID_046D&PID_0825");
    EXPECT_EQ(HexBytes(p.GetName()), HexBytes(name));
    ASSERT_EQ(CDXCamera::GetCameraProperty(2, &p), 0);
    EXPECT_STREQ(p.GetID(), "VID_12");
}

TEST_F(Enumeration, FormatsKeepTheDeviceOrderAndCountVideoInfoOnly) {
    sim::RemoveAllCameras();
    sim::AddCamera(Camera("Mixed", "usb#vid_0001&pid_0002",
                          {{"MJPG", 640, 480, 30, false},
                           {"YUY2", 640, 480, 30, false},
                           {"YUY2", 1280, 720, 10, true},  // VIDEOINFOHEADER2: no entry
                           {"NV12", 800, 600, 30, false},
                           {"RGB24", 320, -240, 30, false}}));
    CDXCAMERAPROPERTY p;
    ASSERT_EQ(CDXCamera::GetCameraProperty(0, &p), 0);
    ASSERT_EQ(p.GetVideoInfoCount(), 4u);
    EXPECT_EQ(p.GetVideoFormat(0), 3u);
    EXPECT_EQ(p.GetVideoFormat(1), 1u);
    LONG w = 0, h = 0;
    p.GetVideoSize(2, &w, &h);
    EXPECT_EQ(w, 800);  // the entry after the skipped one takes the next position
    EXPECT_EQ(p.GetVideoFormat(2), 0u);
    p.GetVideoSize(3, &w, &h);
    EXPECT_EQ(h, -240);  // as reported, not made positive
    EXPECT_EQ(p.GetVideoFormat(3), 2u);

    // Capability records of another size cannot be read: no formats, but no failure either.
    sim::VirtualCameraConfig odd = sim::DefaultCameraConfig();
    odd.capabilityRecordSize = 136;
    sim::ConfigureCamera(0, odd);
    EXPECT_EQ(CDXCamera::GetCameraProperty(0, &p), 0);
    EXPECT_EQ(p.GetVideoInfoCount(), 0u);
}

TEST_F(Enumeration, FailingPlatformCallsAreAnswered) {
    CDXCAMERAPROPERTY p;
    sim::ArmCreateFault(CLSID_SystemDeviceEnum, E_OUTOFMEMORY);
    EXPECT_EQ(CDXCamera::GetCameraCount(), 0);
    EXPECT_EQ(CDXCamera::GetCameraProperty(0, &p), E_OUTOFMEMORY);
    sim::DisarmFaults();

    // A failing part stops the parts after it; what was read stays.
    sim::ArmFault("IPropertyBag::Read", E_FAIL);
    EXPECT_EQ(CDXCamera::GetCameraProperty(0, &p), E_FAIL);
    EXPECT_STREQ(p.GetID(), "VID_1D6B&PID_0102");
    EXPECT_EQ(p.GetVideoInfoCount(), 0u);
    sim::DisarmFaults();

    // The third capability cannot be read: the first two stay in the list.
    sim::ArmFault("IAMStreamConfig::GetStreamCaps", E_UNEXPECTED, 3);
    EXPECT_EQ(CDXCamera::GetCameraProperty(0, &p), E_UNEXPECTED);
    EXPECT_EQ(p.GetVideoInfoCount(), 2u);
    sim::DisarmFaults();

    // A camera takes a device whose parts could not be read, with nothing to choose from.
    CDXCamera camera;
    sim::ArmFault("IPropertyBag::Read", E_FAIL);
    ASSERT_EQ(camera.SetCameraIndex(0), 1);
    EXPECT_STREQ(camera.GetName(), "");
    EXPECT_EQ(camera.SetResolutionIndex(0), 0);
}

TEST_F(Enumeration, ChoosingADeviceReadsItClearsTheControlsAndKeepsTheResolutionIndex) {
    sim::VirtualCameraConfig second = sim::DefaultCameraConfig();
    second.friendlyName = "Second";
    second.displayName = "usb#vid_0bda&pid_58b0&mi_00";
    second.capabilities = {{"MJPG", 1280, 720, 30, false}, {"YUY2", 640, 480, 30, false}};
    sim::AddCamera(second);

    CDXCamera camera;
    ASSERT_EQ(camera.SetCameraIndex(1), 1);
    EXPECT_STREQ(camera.GetID(), "VID_0BDA&PID_58B0");
    EXPECT_STREQ(camera.GetName(), "Second");
    ASSERT_EQ(camera.GetVideoInfoCount(), 2u);
    ASSERT_EQ(camera.SetResolutionIndex(1), 1);
    camera.SetBrgihtness(40);
    camera.SetWhiteBalance(4600, 1);

    // Refused while a graph exists, and for positions that hold no device.
    for (int status : {1, 2, 3, 4, 5}) {
        CDXCameraTestAccess::Status(camera) = status;
        EXPECT_EQ(camera.SetCameraIndex(0), 0);
        EXPECT_STREQ(camera.GetLastError(), "设备已经在运行，请先关闭设备再设置初始化参数。");
    }
    CDXCameraTestAccess::Status(camera) = CameraStatus_Closed;
    for (LONG bad : {-1L, 2L}) {
        EXPECT_EQ(camera.SetCameraIndex(bad), 0);
        EXPECT_STREQ(camera.GetLastError(), "错误的设备索引参数。");
    }
    EXPECT_EQ(camera.GetCameraIndex(), 1);
    EXPECT_EQ(camera.GetBrgihtness(), 40);

    // Another device: its data, no queued controls, and the old resolution index.
    ASSERT_EQ(camera.SetCameraIndex(0), 1);
    EXPECT_STREQ(camera.GetName(), "Lumacap Virtual Camera");
    EXPECT_EQ(camera.GetResolutionIndex(), 1);
    int automatic = 1;
    EXPECT_EQ(camera.GetBrgihtness(), 0);
    EXPECT_EQ(camera.GetWhiteBalance(automatic), 0);
    EXPECT_EQ(automatic, 0);
}

}  // namespace
}  // namespace lumacap::test
