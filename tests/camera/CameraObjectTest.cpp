// The camera object: format indices, error texts and copies.
#include <string>

#include <lumacap/lumacap.h>

#include "common/SimTest.h"
#include "common/TestAccess.h"

namespace lumacap::test {
namespace {

class CameraObjectTest : public SimTest {
protected:
    // A camera that has chosen a device with three formats, without touching the device registry.
    static void GiveFormats(CDXCamera& camera, int count = 3) {
        CDXCameraTestAccess::CameraIndex(camera) = 0;
        auto& list = CDXCameraTestAccess::VideoInfo(camera);
        list.clear();
        for (int i = 0; i < count; ++i) list.push_back({640 + i, 480, 1});
    }
};

TEST_F(CameraObjectTest, FormatIndicesAreCheckedAgainstTheFormatList) {
    CDXCamera camera;
    EXPECT_EQ(camera.SetResolutionIndex(0), 0);
    EXPECT_EQ(HexBytes(camera.GetLastError()),
              "CE B4 D6 B8 B6 A8 C9 E8 B1 B8 A1 A3");  // 未指定设备。
    EXPECT_EQ(camera.GetResolutionIndex(), -1);

    GiveFormats(camera, 3);
    EXPECT_EQ(camera.SetResolutionIndex(3), 0);
    EXPECT_STREQ(camera.GetLastError(), "错误的分辨率索引参数。");
    EXPECT_EQ(camera.SetResolutionIndex(-1), 0);
    EXPECT_EQ(camera.SetResolutionIndex(2), 1);
    EXPECT_EQ(camera.GetResolutionIndex(), 2);
    EXPECT_STREQ(camera.GetLastError(), "错误的分辨率索引参数。")
        << "success leaves the last error in place";
    for (int status : {1, 2, 3, 4, 5}) {
        CDXCameraTestAccess::Status(camera) = status;
        EXPECT_EQ(camera.SetResolutionIndex(0), 0) << status;
        EXPECT_STREQ(camera.GetLastError(), "设备已经在运行，请先关闭设备再设置初始化参数。");
        EXPECT_EQ(camera.GetResolutionIndex(), 2);
    }
    CDXCameraTestAccess::Status(camera) = CameraStatus_Closed;

    // The accessors: a bad index writes nothing and says so.
    LONG w = -7, h = -7;
    EXPECT_EQ(camera.GetVideoSize(1, &w, &h), 1);
    EXPECT_EQ(w, 641);
    w = -7;
    camera.SetResolutionIndex(0);
    EXPECT_EQ(camera.GetVideoSize(3, &w, &h), 0);
    EXPECT_EQ(w, -7);
    EXPECT_STREQ(camera.GetLastError(), "错误的分辨率索引参数。");
    EXPECT_EQ(camera.GetVideoFormat(-1), 0u);
}

TEST_F(CameraObjectTest, ErrorTextsFollowTheConvention) {
    CDXCamera camera;
    CDXCameraTestAccess::FormatErrorMessage(camera, " Failed to Run.", 0x80004005);
    EXPECT_STREQ(camera.GetLastError(),
                 " Failed to Run.. ErrorCode=0x80004005:Unspecified error\r\n");
    CDXCameraTestAccess::FormatErrorMessage(camera, " Failed to Run.", 0x8004020a);
    EXPECT_NE(std::string(camera.GetLastError()).find("ErrorCode=0x8004020A:"), std::string::npos);
    // Codes neither the system nor the network module knows.
    CDXCameraTestAccess::FormatErrorMessage(camera, " Failed to Run.", 0x12345678);
    EXPECT_STREQ(camera.GetLastError(), " Failed to Run.. ErrorCode=0x12345678:未知的错误");
    EXPECT_STREQ(GetErrorCodeText(2221), "The user name could not be found.\r\n");
    EXPECT_EQ(HexBytes(GetErrorCodeText(0xC0DEC0DE).GetString()), "CE B4 D6 AA B5 C4 B4 ED CE F3");
}

TEST_F(CameraObjectTest, CopiesCarryTheConfigurationButNeverAGraph) {
    CDXCamera original;
    GiveFormats(original, 3);
    CDXCameraTestAccess::ID(original) = "VID_046D&PID_0825";
    original.SetResolutionIndex(1);
    original.SetRenderMode(RenderMode_SelfDrawn);
    original.SetExposure(-6, 1);
    // A callback declared the way many hosts write it, with long.
    original.SetLumacapBuffCB([](unsigned char*, long, void*) -> long { return 0; }, nullptr);
    original.SetResolutionIndex(9);  // leaves a last error to carry

    CDXCamera copy(original);
    EXPECT_EQ(copy.GetResolutionIndex(), 1);
    EXPECT_STREQ(copy.GetID(), "VID_046D&PID_0825");
    EXPECT_STREQ(copy.GetLastError(), "错误的分辨率索引参数。");
    EXPECT_EQ(copy.GetVideoInfoCount(), 3u);
    EXPECT_EQ(copy.GetRenderMode(), RenderMode_SelfDrawn);
    EXPECT_EQ(CDXCameraTestAccess::PropertyFlags(copy),
              CDXCameraTestAccess::PropertyFlags(original));

    // An open original still gives a closed copy.
    CDXCameraTestAccess::Status(original) = CameraStatus_Running;
    CDXCamera closedCopy(original);
    EXPECT_EQ(closedCopy.GetCameraStatus(), CameraStatus_Closed);
    CDXCameraTestAccess::Status(original) = CameraStatus_Closed;

    CDXCamera assigned;
    assigned = original;
    assigned = assigned;
    EXPECT_EQ(assigned.GetVideoInfoCount(), 3u) << "self-assignment keeps the list";
}

}  // namespace
}  // namespace lumacap::test
