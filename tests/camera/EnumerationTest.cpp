// Enumerating cameras and their formats through CDXCamera's static operations and the
// CDXCAMERAPROPERTY record.
#include <lumacap/lumacap.h>
#include <lumacap/sim.h>

#include "camera/Enumeration.h"
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

TEST_F(Enumeration, NoCameraMeansCountZeroAndAnswerOne) {
    sim::RemoveAllCameras();
    EXPECT_EQ(CDXCamera::GetCameraCount(), 0);
    CDXCAMERAPROPERTY property;
    EXPECT_EQ(CDXCamera::GetCameraProperty(0, &property), 1);
    EXPECT_STREQ(property.GetID(), "");
    EXPECT_STREQ(property.GetName(), "");
    EXPECT_EQ(property.GetVideoInfoCount(), 0u);
}

TEST_F(Enumeration, DefaultCameraIsReadCompletely) {
    ASSERT_EQ(CDXCamera::GetCameraCount(), 1);
    CDXCAMERAPROPERTY property;
    EXPECT_EQ(property.m_dwMask, 7u);
    ASSERT_EQ(CDXCamera::GetCameraProperty(0, &property), 0);
    EXPECT_STREQ(property.GetID(), "VID_1D6B&PID_0102");
    EXPECT_STREQ(property.GetName(), "Lumacap Virtual Camera");
    const auto caps = sim::DefaultCameraConfig().capabilities;
    ASSERT_EQ(property.GetVideoInfoCount(), caps.size());
    for (size_t i = 0; i < caps.size(); ++i) {
        long w = 0, h = 0;
        ASSERT_EQ(property.GetVideoSize(static_cast<int>(i), &w, &h), 1);
        EXPECT_EQ(w, caps[i].width);
        EXPECT_EQ(h, caps[i].height);
        const unsigned expected = caps[i].subtype == "YUY2"    ? 1
                                  : caps[i].subtype == "RGB24" ? 2
                                                               : 3;
        EXPECT_EQ(property.GetVideoFormat(static_cast<int>(i)), expected);
    }
    // Bad indices answer 0 and write nothing.
    long w = -5, h = -5;
    EXPECT_EQ(property.GetVideoSize(static_cast<int>(caps.size()), &w, &h), 0);
    EXPECT_EQ(property.GetVideoSize(-1, &w, &h), 0);
    EXPECT_EQ(w, -5);
    EXPECT_EQ(h, -5);
    EXPECT_EQ(property.GetVideoFormat(-1), 0u);
}

TEST_F(Enumeration, IndexAtTheCountLeavesTheRecordEmptyWithItsMask) {
    CDXCAMERAPROPERTY property;
    ASSERT_EQ(CDXCamera::GetCameraProperty(0, &property), 0);
    property.m_dwMask = 3;
    EXPECT_EQ(CDXCamera::GetCameraProperty(1, &property), 1);
    EXPECT_EQ(property.m_dwMask, 3u);
    EXPECT_STREQ(property.GetID(), "");
    EXPECT_STREQ(property.GetName(), "");
    EXPECT_EQ(property.GetVideoInfoCount(), 0u);
    EXPECT_EQ(CDXCamera::GetCameraProperty(-1, &property), 1);
    EXPECT_EQ(CDXCamera::GetCameraProperty(0, nullptr), E_POINTER);
}

TEST_F(Enumeration, MaskChoosesTheParts) {
    CDXCAMERAPROPERTY nameOnly;
    nameOnly.m_dwMask = 2;
    ASSERT_EQ(CDXCamera::GetCameraProperty(0, &nameOnly), 0);
    EXPECT_STREQ(nameOnly.GetID(), "");
    EXPECT_STREQ(nameOnly.GetName(), "Lumacap Virtual Camera");
    EXPECT_EQ(nameOnly.GetVideoInfoCount(), 0u);

    CDXCAMERAPROPERTY idAndFormats;
    idAndFormats.m_dwMask = 5;
    ASSERT_EQ(CDXCamera::GetCameraProperty(0, &idAndFormats), 0);
    EXPECT_STREQ(idAndFormats.GetID(), "VID_1D6B&PID_0102");
    EXPECT_STREQ(idAndFormats.GetName(), "");
    EXPECT_GT(idAndFormats.GetVideoInfoCount(), 0u);
}

TEST_F(Enumeration, IdentifiersFollowTheDisplayName) {
    sim::RemoveAllCameras();
    sim::AddCamera(
        Camera("Plain", "@device:sw:{860BB310}\\Plain Camera", {{"YUY2", 320, 240, 30, false}}));
    sim::AddCamera(Camera("Usb", "@device:pnp:\\\\?\\usb#vid_046d&pid_0825&mi_00#6&2c8c",
                          {{"YUY2", 320, 240, 30, false}}));
    sim::AddCamera(Camera("Short", "x#vid_12", {{"YUY2", 320, 240, 30, false}}));
    CDXCAMERAPROPERTY p;
    ASSERT_EQ(CDXCamera::GetCameraProperty(0, &p), 0);
    EXPECT_STREQ(p.GetID(), "@DEVICE:SW:{860BB310}\\PLAIN CAMERA");
    ASSERT_EQ(CDXCamera::GetCameraProperty(1, &p), 0);
    EXPECT_STREQ(p.GetID(), "VID_046D&PID_0825");
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
    long w = 0, h = 0;
    p.GetVideoSize(2, &w, &h);
    EXPECT_EQ(w, 800);  // the entry after the skipped one takes the next position
    EXPECT_EQ(p.GetVideoFormat(2), 0u);
    p.GetVideoSize(3, &w, &h);
    EXPECT_EQ(h, -240);  // as reported, not made positive
    EXPECT_EQ(p.GetVideoFormat(3), 2u);
}

TEST_F(Enumeration, OddRecordSizeGivesAnEmptyListButSuccess) {
    sim::VirtualCameraConfig c = sim::DefaultCameraConfig();
    c.capabilityRecordSize = 136;
    sim::ConfigureCamera(0, c);
    CDXCAMERAPROPERTY p;
    EXPECT_EQ(CDXCamera::GetCameraProperty(0, &p), 0);
    EXPECT_STREQ(p.GetName(), "Lumacap Virtual Camera");
    EXPECT_EQ(p.GetVideoInfoCount(), 0u);
}

TEST_F(Enumeration, NamesCanBeChineseAndSeveralDevicesShareOne) {
    sim::RemoveAllCameras();
    const std::string name = "前置摄像头";  // GBK bytes: sources are compiled to GB18030
    sim::AddCamera(Camera(name.c_str(), "usb#vid_aaaa&pid_0001", {{"YUY2", 320, 240, 30, false}}));
    sim::AddCamera(Camera(name.c_str(), "usb#vid_aaaa&pid_0002", {{"YUY2", 640, 480, 30, false}}));
    CDXCAMERAPROPERTY a, b;
    ASSERT_EQ(CDXCamera::GetCameraProperty(0, &a), 0);
    ASSERT_EQ(CDXCamera::GetCameraProperty(1, &b), 0);
    EXPECT_EQ(HexBytes(a.GetName()), HexBytes(name));
    EXPECT_STREQ(a.GetName(), b.GetName());
    EXPECT_STRNE(a.GetID(), b.GetID());
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
    EXPECT_STREQ(p.GetName(), "");
    EXPECT_EQ(p.GetVideoInfoCount(), 0u);
    sim::DisarmFaults();

    sim::ArmFault("IMoniker::GetDisplayName", E_ACCESSDENIED);
    EXPECT_EQ(CDXCamera::GetCameraProperty(0, &p), E_ACCESSDENIED);
    EXPECT_STREQ(p.GetName(), "");
    sim::DisarmFaults();

    // The third capability cannot be read: the first two stay in the list.
    sim::ArmFault("IAMStreamConfig::GetStreamCaps", E_UNEXPECTED, 3);
    EXPECT_EQ(CDXCamera::GetCameraProperty(0, &p), E_UNEXPECTED);
    EXPECT_EQ(p.GetVideoInfoCount(), 2u);
    sim::DisarmFaults();

    sim::ArmFault("ICaptureGraphBuilder2::FindInterface", E_NOINTERFACE);
    EXPECT_EQ(CDXCamera::GetCameraProperty(0, &p), E_NOINTERFACE);
    EXPECT_STREQ(p.GetName(), "Lumacap Virtual Camera");
}

TEST_F(Enumeration, PropertyRecordsCopyDeeply) {
    CDXCAMERAPROPERTY original;
    ASSERT_EQ(CDXCamera::GetCameraProperty(0, &original), 0);
    original.m_dwMask = 6;
    CDXCAMERAPROPERTY copy(original);
    EXPECT_EQ(copy.m_dwMask, 6u);
    EXPECT_STREQ(copy.GetID(), original.GetID());
    EXPECT_NE(copy.GetName(), original.GetName());  // its own storage
    EXPECT_EQ(copy.GetVideoInfoCount(), original.GetVideoInfoCount());
    CDXCAMERAPROPERTY assigned;
    assigned = original;
    EXPECT_EQ(assigned.GetVideoInfoCount(), original.GetVideoInfoCount());
    assigned = assigned;
    EXPECT_EQ(assigned.GetVideoInfoCount(), original.GetVideoInfoCount());
    CDXCamera::GetCameraProperty(5, &original);
    EXPECT_EQ(original.GetVideoInfoCount(), 0u);
    EXPECT_GT(copy.GetVideoInfoCount(), 0u);
}

TEST_F(Enumeration, FormatCodesCompareWholeSubtypes) {
    EXPECT_EQ(GetVideoFormatCode(MEDIASUBTYPE_YUY2), 1u);
    EXPECT_EQ(GetVideoFormatCode(MEDIASUBTYPE_RGB24), 2u);
    EXPECT_EQ(GetVideoFormatCode(MEDIASUBTYPE_MJPG), 3u);
    EXPECT_EQ(GetVideoFormatCode(MEDIASUBTYPE_RGB32), 0u);
    GUID almost = MEDIASUBTYPE_YUY2;
    almost.Data4[7] ^= 1;
    EXPECT_EQ(GetVideoFormatCode(almost), 0u);
}

}  // namespace
}  // namespace lumacap::test

namespace lumacap::test {
namespace {

class CameraDevice : public SimTest {};

TEST_F(CameraDevice, SetCameraIndexReadsTheDeviceAndKeepsTheResolutionIndex) {
    sim::VirtualCameraConfig second = sim::DefaultCameraConfig();
    second.friendlyName = "Second";
    second.displayName = "usb#vid_0bda&pid_58b0&mi_00";
    second.capabilities = {{"MJPG", 1280, 720, 30, false}, {"YUY2", 640, 480, 30, false}};
    sim::AddCamera(second);

    CDXCamera camera;
    EXPECT_EQ(camera.GetCameraIndex(), -1);
    ASSERT_EQ(camera.SetCameraIndex(1), 1);
    EXPECT_EQ(camera.GetCameraIndex(), 1);
    EXPECT_STREQ(camera.GetID(), "VID_0BDA&PID_58B0");
    EXPECT_STREQ(camera.GetName(), "Second");
    ASSERT_EQ(camera.GetVideoInfoCount(), 2u);
    EXPECT_EQ(camera.GetVideoFormat(0), 3u);
    ASSERT_EQ(camera.SetResolutionIndex(1), 1);

    // Another device: new data, the resolution index is left for the host to set again.
    ASSERT_EQ(camera.SetCameraIndex(0), 1);
    EXPECT_STREQ(camera.GetName(), "Lumacap Virtual Camera");
    EXPECT_EQ(camera.GetResolutionIndex(), 1);
    long w = 0, h = 0;
    ASSERT_EQ(camera.GetVideoSize(1, &w, &h), 1);
    EXPECT_EQ(w, 320);
    EXPECT_EQ(h, 240);
}

TEST_F(CameraDevice, BadIndicesAreRefusedWithTheirTexts) {
    CDXCamera camera;
    ASSERT_EQ(camera.SetCameraIndex(0), 1);
    const std::string id = camera.GetID();
    const unsigned count = camera.GetVideoInfoCount();
    const long cameras = CDXCamera::GetCameraCount();
    for (long bad : {-1L, cameras, cameras + 5}) {
        EXPECT_EQ(camera.SetCameraIndex(bad), 0);
        EXPECT_EQ(HexBytes(camera.GetLastError()), HexBytes("错误的设备索引参数。"));
        EXPECT_EQ(camera.GetCameraIndex(), 0);
        EXPECT_EQ(camera.GetID(), id);
        EXPECT_EQ(camera.GetVideoInfoCount(), count);
    }
    long w = -1, h = -1;
    EXPECT_EQ(camera.GetVideoSize(static_cast<int>(count), &w, &h), 0);
    EXPECT_EQ(w, -1);
    EXPECT_EQ(HexBytes(camera.GetLastError()), HexBytes("错误的分辨率索引参数。"));
    camera.SetCameraIndex(-1);
    EXPECT_EQ(camera.GetVideoFormat(-1), 0u);
    EXPECT_EQ(HexBytes(camera.GetLastError()), HexBytes("错误的分辨率索引参数。"));
}

TEST_F(CameraDevice, AnOpenCameraKeepsItsDeviceAndControlsAreCleared) {
    sim::AddCamera(sim::DefaultCameraConfig());
    CDXCamera camera;
    ASSERT_EQ(camera.SetCameraIndex(0), 1);
    camera.SetBrgihtness(40);
    int automatic = 0;
    camera.SetWhiteBalance(4600, 1);
    for (int status : {1, 2, 3, 4, 5}) {
        CDXCameraTestAccess::Status(camera) = status;
        EXPECT_EQ(camera.SetCameraIndex(1), 0);
        EXPECT_EQ(HexBytes(camera.GetLastError()),
                  HexBytes("设备已经在运行，请先关闭设备再设置初始化参数。"));
        EXPECT_EQ(camera.GetCameraIndex(), 0);
    }
    EXPECT_EQ(camera.GetBrgihtness(), 40);
    CDXCameraTestAccess::Status(camera) = CameraStatus_Closed;
    // Choosing a device clears every queued image-control value and flag.
    ASSERT_EQ(camera.SetCameraIndex(1), 1);
    EXPECT_EQ(camera.GetBrgihtness(), 0);
    EXPECT_EQ(camera.GetWhiteBalance(automatic), 0);
    EXPECT_EQ(automatic, 0);
}

TEST_F(CameraDevice, UnreadablePartsStayEmptyButTheIndexIsTaken) {
    CDXCamera camera;
    sim::ArmFault("IPropertyBag::Read", E_FAIL);
    ASSERT_EQ(camera.SetCameraIndex(0), 1);
    EXPECT_EQ(camera.GetCameraIndex(), 0);
    EXPECT_STREQ(camera.GetID(), "VID_1D6B&PID_0102");
    EXPECT_STREQ(camera.GetName(), "");
    EXPECT_EQ(camera.GetVideoInfoCount(), 0u);
    // With no formats, every resolution index is refused.
    EXPECT_EQ(camera.SetResolutionIndex(0), 0);
}

}  // namespace
}  // namespace lumacap::test
