// The camera object: state before opening, format indices, error texts, copies, callbacks.
#include <regex>
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

TEST_F(CameraObjectTest, NewCameraIsClosedAndUnconfigured) {
    CDXCamera camera;
    EXPECT_EQ(camera.GetCameraStatus(), 0);
    EXPECT_EQ(camera.GetCameraIndex(), -1);
    EXPECT_EQ(camera.GetResolutionIndex(), -1);
    EXPECT_STREQ(camera.GetID(), "");
    EXPECT_STREQ(camera.GetName(), "");
    EXPECT_STREQ(camera.GetLastError(), "");
    EXPECT_EQ(camera.GetParentWnd(), nullptr);
    EXPECT_EQ(camera.GetRenderMode(), 0u);
    EXPECT_EQ(camera.GetRotatePreview(), 0u);
    EXPECT_EQ(CDXCameraTestAccess::PreviewLeft(camera), -1);
    EXPECT_EQ(CDXCameraTestAccess::PreviewTop(camera), -1);
    EXPECT_EQ(camera.GetVideoInfoCount(), 0u);
}

TEST_F(CameraObjectTest, ResolutionIndexIsCheckedAgainstTheFormatList) {
    CDXCamera camera;
    EXPECT_EQ(camera.SetResolutionIndex(0), 0);
    EXPECT_STREQ(camera.GetLastError(), "未指定设备。");
    EXPECT_EQ(HexBytes(camera.GetLastError()), "CE B4 D6 B8 B6 A8 C9 E8 B1 B8 A1 A3");
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
    CDXCameraTestAccess::Status(camera) = 0;
}

TEST_F(CameraObjectTest, FormatAccessorsReportBadIndices) {
    CDXCamera camera;
    GiveFormats(camera, 2);
    long w = -7, h = -7;
    EXPECT_EQ(camera.GetVideoSize(1, &w, &h), 1);
    EXPECT_EQ(w, 641);
    EXPECT_EQ(h, 480);
    w = h = -7;
    EXPECT_EQ(camera.GetVideoSize(2, &w, &h), 0);
    EXPECT_EQ(w, -7) << "outputs untouched";
    EXPECT_STREQ(camera.GetLastError(), "错误的分辨率索引参数。");
    EXPECT_EQ(camera.GetVideoFormat(1), 1u);
    EXPECT_EQ(camera.GetVideoFormat(-1), 0u);
}

TEST_F(CameraObjectTest, StepFailureTextFollowsTheConvention) {
    CDXCamera camera;
    CDXCameraTestAccess::FormatErrorMessage(camera, " Failed to Run.", 0x80004005);
    EXPECT_STREQ(camera.GetLastError(),
                 " Failed to Run.. ErrorCode=0x80004005:Unspecified error\r\n");
    CDXCameraTestAccess::FormatErrorMessage(camera, " Failed to ConnectFilters,code=003.",
                                            0x8004020a);
    const std::string text = camera.GetLastError();
    EXPECT_TRUE(std::regex_match(
        text,
        std::regex(R"( Failed to ConnectFilters,code=003\.\. ErrorCode=0x[0-9A-F]{8}:.*\r\n)")))
        << text;
    EXPECT_NE(text.find("0x8004020A:"), std::string::npos);
    CDXCameraTestAccess::FormatErrorMessage(camera, " Failed to Run.", 0x12345678);
    EXPECT_STREQ(camera.GetLastError(), " Failed to Run.. ErrorCode=0x12345678:未知的错误");
}

TEST_F(CameraObjectTest, ErrorCodeTextAsksTheSystemThenTheNetworkModule) {
    EXPECT_STREQ(GetErrorCodeText(0x80004002), "No such interface supported\r\n");
    EXPECT_STREQ(GetErrorCodeText(2221), "The user name could not be found.\r\n");
    EXPECT_STREQ(GetErrorCodeText(0xC0DEC0DE), "未知的错误");
    EXPECT_EQ(HexBytes(GetErrorCodeText(0xC0DEC0DE).GetString()), "CE B4 D6 AA B5 C4 B4 ED CE F3");
}

TEST_F(CameraObjectTest, CopiesCarryTheConfigurationButNeverAGraph) {
    CDXCamera original;
    GiveFormats(original, 3);
    CDXCameraTestAccess::ID(original) = "VID_046D&PID_0825";
    CDXCameraTestAccess::Name(original) = "Webcam";
    original.SetResolutionIndex(1);
    original.SetRenderMode(2);
    original.SetRotatePreview(1);
    original.SetBrgihtness(40);
    original.SetExposure(-6, 1);
    auto cb = [](unsigned char*, long, void*) -> long { return 0; };
    int context = 0;
    original.SetLumacapBuffCB(cb, &context);
    original.SetResolutionIndex(9);  // leaves a last error to carry

    CDXCamera copy(original);
    EXPECT_EQ(copy.GetCameraIndex(), 0);
    EXPECT_EQ(copy.GetResolutionIndex(), 1);
    EXPECT_STREQ(copy.GetID(), "VID_046D&PID_0825");
    EXPECT_STREQ(copy.GetName(), "Webcam");
    EXPECT_STREQ(copy.GetLastError(), "错误的分辨率索引参数。");
    EXPECT_EQ(copy.GetVideoInfoCount(), 3u);
    EXPECT_EQ(copy.GetRenderMode(), 2u);
    EXPECT_EQ(copy.GetRotatePreview(), 1u);
    EXPECT_EQ(copy.GetBrgihtness(), 40);
    int automatic = 0;
    EXPECT_EQ(copy.GetExposure(automatic), -6);
    EXPECT_EQ(automatic, 1);
    EXPECT_EQ(CDXCameraTestAccess::PropertyFlags(copy),
              CDXCameraTestAccess::PropertyFlags(original));

    // An open original still gives a closed copy.
    CDXCameraTestAccess::Status(original) = 3;
    CDXCamera closedCopy(original);
    EXPECT_EQ(closedCopy.GetCameraStatus(), 0);
    CDXCameraTestAccess::Status(original) = 0;

    CDXCamera assigned;
    assigned = original;
    EXPECT_EQ(assigned.GetVideoInfoCount(), 3u);
    assigned = assigned;
    EXPECT_EQ(assigned.GetVideoInfoCount(), 3u) << "self-assignment keeps the list";
    EXPECT_EQ(assigned.GetParentWnd(), nullptr) << "the parent window belongs to the original";
}

TEST_F(CameraObjectTest, GrabberCallbackAnswersAsAnEmbeddedObject) {
    CDXCamera camera;
    ISampleGrabberCB& cb = CDXCameraTestAccess::GrabberCB(camera);
    void* out = nullptr;
    EXPECT_EQ(cb.QueryInterface(IID_ISampleGrabberCB, nullptr), E_POINTER);
    EXPECT_EQ(cb.QueryInterface(IID_ISampleGrabberCB, &out), S_OK);
    EXPECT_EQ(out, &cb);
    EXPECT_EQ(cb.QueryInterface(IID_IUnknown, &out), S_OK);
    EXPECT_EQ(cb.QueryInterface(IID_ISampleGrabber, &out), E_NOINTERFACE);
    EXPECT_EQ(cb.AddRef(), 2u);
    EXPECT_EQ(cb.AddRef(), 2u);
    EXPECT_EQ(cb.Release(), 1u);
    EXPECT_EQ(cb.SampleCB(0.0, nullptr), S_OK);
}

TEST_F(CameraObjectTest, FrameCallbackReceivesEveryBufferWithItsContext) {
    CDXCamera camera;
    struct Seen {
        unsigned char* buffer = nullptr;
        long length = 0;
        int calls = 0;
    } seen;
    camera.SetLumacapBuffCB(
        [](unsigned char* b, long n, void* ctx) -> long {
            auto* s = static_cast<Seen*>(ctx);
            s->buffer = b;
            s->length = n;
            ++s->calls;
            return 99;
        },
        &seen);
    unsigned char frame[12] = {};
    EXPECT_EQ(CDXCameraTestAccess::GrabberCB(camera).BufferCB(0.5, frame, sizeof(frame)), S_OK);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_EQ(seen.buffer, frame);
    EXPECT_EQ(seen.length, 12);
    camera.SetLumacapBuffCB(nullptr, nullptr);
    CDXCameraTestAccess::GrabberCB(camera).BufferCB(0.5, frame, sizeof(frame));
    EXPECT_EQ(seen.calls, 1);
}

TEST_F(CameraObjectTest, ClosingAClosedCameraChangesOnlyThePreviewSize) {
    CDXCamera camera;
    CDXCameraTestAccess::GrabberCB(camera).SetPreviewSize(320, 240);
    CDXCameraTestAccess::GrabberCB(camera).SetPreviewPos(5, 6);
    camera.SetResolutionIndex(0);
    const std::string lastError = camera.GetLastError();
    EXPECT_EQ(camera.Close(), 0);
    EXPECT_EQ(CDXCameraTestAccess::PreviewWidth(camera), 0);
    EXPECT_EQ(CDXCameraTestAccess::PreviewHeight(camera), 0);
    EXPECT_EQ(CDXCameraTestAccess::PreviewLeft(camera), 5);
    EXPECT_EQ(camera.GetLastError(), lastError);
}

}  // namespace
}  // namespace lumacap::test
