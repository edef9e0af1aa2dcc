// Graph events: the device's loss and return reach the connect callback on the window's thread,
// through the preview window even while it is hidden; other events change nothing.
#include <evcode.h>

#include <thread>

#include "CaptureFixture.h"

namespace lumacap::test {
namespace {

using DeviceEventsTest = CaptureTest;

TEST_F(DeviceEventsTest, UnplugAndReplugReachTheConnectCallbackOnTheWindowsThread) {
    for (unsigned mode : {1u, 0u, 2u}) {
        SCOPED_TRACE(mode);
        FrameLog frames(640, 480);
        auto camera = MakeCamera(kYuy2_640x480, mode);
        ConnectLog connects;
        camera->SetLumacapBuffCB(&FrameLog::Callback, &frames);
        camera->SetLumacapConnectCB(&ConnectLog::Callback, &connects);
        ASSERT_EQ(camera->Open(), 0);
        ASSERT_TRUE(frames.WaitFor(2));
        // In render modes 0 and 1 the preview window stays hidden and still relays the events.
        EXPECT_EQ(IsWindowVisible(PreviewOf(*camera)) != FALSE, mode == 2);

        ASSERT_TRUE(sim::UnplugCamera(0));
        ASSERT_TRUE(PumpUntil([&] { return connects.Count() >= 1; }));
        EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_DeviceLost);
        for (auto call : {&CDXCamera::Run, &CDXCamera::Pause, &CDXCamera::Stop}) {
            EXPECT_EQ((camera.get()->*call)(), 1);
            EXPECT_STREQ(camera->GetLastError(), "设备断开连接.");
        }
        EXPECT_EQ(camera->ShowDeviceProperty(), 1);
        EXPECT_STREQ(camera->GetLastError(), "设备已断开连接.");
        // The grabber still holds the last frame.
        unsigned char* image = nullptr;
        unsigned long size = 0;
        EXPECT_EQ(camera->TakeSnapshot(image, size), 0);
        camera->FreeImageMemery(image);

        ASSERT_TRUE(sim::ReplugCamera(0));
        ASSERT_TRUE(PumpUntil([&] { return connects.Count() >= 2; }));
        EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_DeviceBack);
        {
            std::lock_guard<std::mutex> lock(connects.mutex);
            ASSERT_EQ(connects.calls.size(), 2u);
            EXPECT_EQ(connects.calls[0].first, 0);
            EXPECT_EQ(connects.calls[1].first, 1);
            for (const auto& call : connects.calls) EXPECT_EQ(call.second, GetCurrentThreadId());
        }
        // The lost filter stays dead; closing and opening again brings the frames back.
        const size_t before = frames.Count();
        ASSERT_EQ(camera->Open(), 0);
        EXPECT_TRUE(frames.WaitFor(before + 3));
    }
}

TEST_F(DeviceEventsTest, OtherEventsAreConsumedWithoutEffect) {
    auto camera = MakeCamera(kYuy2_320x240, RenderMode_NullRenderer);
    ConnectLog connects;
    camera->SetLumacapConnectCB(&ConnectLog::Callback, &connects);
    ASSERT_EQ(camera->Open(), 0);
    IMediaEventSink* sink = nullptr;
    ASSERT_EQ(CDXCameraTestAccess::Graph(*camera)->QueryInterface(IID_IMediaEventSink,
                                                                  reinterpret_cast<void**>(&sink)),
              S_OK);
    sink->Notify(EC_COMPLETE, S_OK, 0);
    sink->Notify(EC_USERABORT, 0, 0);
    sink->Release();
    HWND preview = PreviewOf(*camera);
    // The queue drains: nothing is left for the next message.
    PumpUntil([] { return false; }, 100);
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    EXPECT_EQ(CDXCameraTestAccess::MediaEvent(*camera)->GetEvent(&code, &p1, &p2, 0), E_ABORT);
    EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_Running);
    EXPECT_EQ(connects.Count(), 0u);
    EXPECT_TRUE(IsWindow(preview));
}

// A host that closes the camera from its connect callback.
long __cdecl CloseOnLoss(int connected, void* context) {
    if (!connected) static_cast<CDXCamera*>(context)->Close();
    return 0;
}

TEST_F(DeviceEventsTest, TheHostMayCloseTheCameraFromItsConnectCallback) {
    auto camera = MakeCamera(kYuy2_320x240, RenderMode_NullRenderer);
    camera->SetLumacapConnectCB(&CloseOnLoss, camera.get());
    ASSERT_EQ(camera->Open(), 0);
    ASSERT_TRUE(sim::UnplugCamera(0));
    EXPECT_TRUE(PumpUntil([&] { return camera->GetCameraStatus() == CameraStatus_Closed; }));
    EXPECT_FALSE(CDXCameraTestAccess::HoldsAnyInterface(*camera));
    // Replugged while closed: no graph, nobody told.
    ASSERT_TRUE(sim::ReplugCamera(0));
    PumpUntil([] { return false; }, 100);
    EXPECT_EQ(camera->GetCameraStatus(), CameraStatus_Closed);
    ASSERT_EQ(camera->Open(), 0);
}

}  // namespace
}  // namespace lumacap::test
