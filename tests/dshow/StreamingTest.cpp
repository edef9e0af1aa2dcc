// Streaming behaviour of a running capture graph: pooled samples, stopping that joins the
// streaming threads, graph state reporting, the grabber's buffer, and events.
#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include <lumacap/sim.h>

#include "common/GraphFixture.h"
#include "platform/system/hw/TestPattern.h"

namespace lumacap::test {
namespace {

class Streaming : public GraphTest {
protected:
    // Camera (default format, 640x480 YUY2) -> converter -> RGB24 grabber -> null renderer.
    void BuildCamera(int position = 0) {
        ASSERT_TRUE(SUCCEEDED(BuildCameraGraph(position)));
        frames.width = 640;
        frames.height = 480;
    }
    FrameCollector frames;
};

TEST_F(Streaming, SamplesComeFromAPoolAndAreReused) {
    BuildCamera();
    // Mode 0 hands the sample objects themselves to the callback.
    ASSERT_EQ(grabber->SetCallback(&frames, 0), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(frames.WaitFor(40, 10000));
    ASSERT_EQ(control->Stop(), S_OK);
    // Forty frames went through a handful of samples and buffers.
    EXPECT_LE(frames.samplePointers.size(), 4u);
    EXPECT_LE(frames.bufferPointers.size(), 4u);
    const std::vector<long> numbers = frames.FrameNumbers();
    for (size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], static_cast<long>(i));
}

TEST_F(Streaming, StopReturnsOnlyAfterTheStreamingThreadHasFinished) {
    BuildCamera();
    // A slow consumer: the streaming thread spends most of its time inside the callback.
    frames.sleepMs = 30;
    ASSERT_EQ(grabber->SetCallback(&frames, 1), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(frames.WaitFor(3));
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(frames.active.load(), 0) << "a callback was still running when Stop returned";
    const size_t atStop = frames.Count();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(frames.Count(), atStop) << "a frame arrived after Stop returned";
    OAFilterState state = -1;
    EXPECT_EQ(control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);

    // The graph runs again from frame 0 of a new stream.
    frames.sleepMs = 0;
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(frames.WaitFor(atStop + 3));
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(frames.FrameNumbers()[atStop], 0);
}

TEST_F(Streaming, GetStateReportsTransitionsAndStopWhenReadyStops) {
    BuildCamera();
    OAFilterState state = -1;
    ASSERT_EQ(control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_EQ(control->GetState(0, nullptr), E_POINTER);

    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_EQ(control->GetState(100, &state), S_OK);
    EXPECT_EQ(state, State_Running);

    // A live source cannot cue data while paused.
    EXPECT_TRUE(SUCCEEDED(control->Pause()));
    EXPECT_EQ(control->GetState(50, &state), VFW_S_CANT_CUE);
    EXPECT_EQ(state, State_Paused);

    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_EQ(control->StopWhenReady(), S_OK);
    ASSERT_EQ(control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_EQ(control->StopWhenReady(), S_OK);  // already stopped
}

TEST_F(Streaming, GrabberBuffersTheLatestSampleAndAnswersLikeTheRealOne) {
    long size = 0;
    // Not connected yet.
    EXPECT_EQ(grabber->GetCurrentBuffer(&size, nullptr), VFW_E_NOT_CONNECTED);
    AM_MEDIA_TYPE mt{};
    EXPECT_EQ(grabber->GetConnectedMediaType(&mt), VFW_E_NOT_CONNECTED);
    BuildCamera();
    EXPECT_EQ(grabber->GetCurrentBuffer(nullptr, nullptr), E_POINTER);
    // Not buffering.
    EXPECT_EQ(grabber->GetCurrentBuffer(&size, nullptr), E_INVALIDARG);
    ASSERT_EQ(grabber->SetBufferSamples(TRUE), S_OK);
    // Buffering, but nothing has arrived yet.
    EXPECT_EQ(grabber->GetCurrentBuffer(&size, nullptr), VFW_E_WRONG_STATE);
    EXPECT_EQ(grabber->SetCallback(&frames, 2), E_INVALIDARG);

    ASSERT_EQ(grabber->SetCallback(&frames, 1), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(frames.WaitFor(2));
    // Read while streaming: each copy is one whole frame of the camera.
    const long frameBytes = 640 * 480 * 3;
    std::vector<long> copy(static_cast<size_t>(frameBytes / 4 + 1));
    for (int i = 0; i < 5; ++i) {
        size = 0;
        ASSERT_EQ(grabber->GetCurrentBuffer(&size, nullptr), S_OK);
        ASSERT_EQ(size, frameBytes);
        long small = size - 1;
        EXPECT_EQ(grabber->GetCurrentBuffer(&small, copy.data()), E_OUTOFMEMORY);
        ASSERT_EQ(grabber->GetCurrentBuffer(&size, copy.data()), S_OK);
        EXPECT_GE(sim::ReadFrameNumber(reinterpret_cast<unsigned char*>(copy.data()), 640, 480), 0);
    }
    ASSERT_EQ(control->Stop(), S_OK);
    // The last frame stays available after the stop.
    EXPECT_EQ(grabber->GetCurrentBuffer(&size, nullptr), S_OK);
}

TEST_F(Streaming, GrabberLendsItsLatestFrameUnchangedUntilReleasedAndReusesTheMemory) {
    BuildCamera();
    IMediaSample* first = nullptr;
    EXPECT_EQ(grabber->GetCurrentSample(nullptr), E_POINTER);
    ASSERT_EQ(grabber->SetBufferSamples(TRUE), S_OK);
    EXPECT_EQ(grabber->GetCurrentSample(&first), VFW_E_WRONG_STATE);
    EXPECT_EQ(first, nullptr);
    ASSERT_EQ(grabber->SetCallback(&frames, 1), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(frames.WaitFor(2));

    // Taken and given back frame after frame, the same blocks of memory go round: as many as a
    // reader holding one frame across two arrivals needs, all made as lending starts.
    std::vector<const BYTE*> seen;
    for (size_t n = frames.Count(); seen.size() < 30; ++n) {
        ASSERT_TRUE(frames.WaitFor(n + 1));
        IMediaSample* s = nullptr;
        ASSERT_EQ(grabber->GetCurrentSample(&s), S_OK);
        BYTE* p = nullptr;
        s->GetPointer(&p);
        seen.push_back(p);
        s->Release();
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::unique(seen.begin(), seen.end()) - seen.begin(), 3);

    // A frame held across many later ones keeps its number and bytes.
    ASSERT_EQ(grabber->GetCurrentSample(&first), S_OK);
    BYTE* bytes = nullptr;
    ASSERT_EQ(first->GetPointer(&bytes), S_OK);
    ASSERT_EQ(first->GetActualDataLength(), 640 * 480 * 3);
    const std::vector<uint8_t> before(bytes, bytes + 640 * 480 * 3);
    const long number = sim::ReadFrameNumber(bytes, 640, 480);
    ASSERT_GE(number, 0);
    ASSERT_TRUE(frames.WaitFor(frames.Count() + 6));
    IMediaSample* later = nullptr;
    ASSERT_EQ(grabber->GetCurrentSample(&later), S_OK);
    BYTE* laterBytes = nullptr;
    later->GetPointer(&laterBytes);
    EXPECT_GT(sim::ReadFrameNumber(laterBytes, 640, 480), number);
    EXPECT_TRUE(std::equal(before.begin(), before.end(), bytes));
    // Lent frames are the grabber's, not writable by a reader.
    EXPECT_EQ(first->SetActualDataLength(1), E_ACCESSDENIED);
    first->Release();
    later->Release();

    ASSERT_EQ(control->Stop(), S_OK);
}

TEST_F(Streaming, OneShotGrabberTakesOneFrameAndCompletes) {
    BuildCamera();
    ASSERT_EQ(grabber->SetOneShot(TRUE), S_OK);
    ASSERT_EQ(grabber->SetCallback(&frames, 1), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    long code = 0;
    ASSERT_EQ(events->WaitForCompletion(5000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(frames.Count(), 1u);
    ASSERT_EQ(control->Stop(), S_OK);
}

TEST_F(Streaming, EventsAreQueuedAndPostedToTheNotifyWindow) {
    BuildCamera();
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 60), E_ABORT);
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(50));

    MessageWindow window;
    ASSERT_NE(window.Handle(), nullptr);
    ASSERT_EQ(events->SetNotifyWindow(reinterpret_cast<OAHWND>(window.Handle()), 0x464, 77), S_OK);
    ComPtr<IMediaEventSink> sink;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaEventSink, sink.Out()), S_OK);
    ASSERT_EQ(sink->Notify(EC_USER + 1, 10, 20), S_OK);
    ASSERT_EQ(sink->Notify(EC_USER + 2, 30, 40), S_OK);
    LPARAM instance = 0;
    EXPECT_EQ(window.TakePosted(0x464, &instance), 2);
    EXPECT_EQ(instance, 77);
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_USER + 1);
    EXPECT_EQ(p1, 10);
    EXPECT_EQ(p2, 20);
    EXPECT_EQ(events->FreeEventParams(code, p1, p2), S_OK);

    // With no window, events are still queued but nothing is posted.
    ASSERT_EQ(events->SetNotifyWindow(0, 0, 0), S_OK);
    ASSERT_EQ(sink->Notify(EC_USER + 3, 0, 0), S_OK);
    EXPECT_EQ(window.TakePosted(0x464), 0);
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_USER + 2);
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(code, EC_USER + 3);

    // The event handle is signalled exactly while events wait in the queue.
    OAEVENT handle = 0;
    ASSERT_EQ(events->GetEventHandle(&handle), S_OK);
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0),
              static_cast<DWORD>(WAIT_TIMEOUT));
    ASSERT_EQ(sink->Notify(EC_USER + 5, 0, 0), S_OK);
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0),
              static_cast<DWORD>(WAIT_OBJECT_0));
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 0), S_OK);
    EXPECT_EQ(WaitForSingleObject(reinterpret_cast<HANDLE>(handle), 0),
              static_cast<DWORD>(WAIT_TIMEOUT));

    // Suppressed notifications drop events altogether.
    ASSERT_EQ(events->SetNotifyFlags(1), S_OK);
    ASSERT_EQ(sink->Notify(EC_USER + 4, 0, 0), S_OK);
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 0), E_ABORT);
    EXPECT_EQ(events->SetNotifyFlags(5), E_INVALIDARG);
}

TEST_F(Streaming, UnplugSurfacesAsDeviceLostThenBack) {
    BuildCamera();
    MessageWindow window;
    ASSERT_EQ(events->SetNotifyWindow(reinterpret_cast<OAHWND>(window.Handle()), 0x464, 0), S_OK);
    ASSERT_EQ(grabber->SetCallback(&frames, 1), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(frames.WaitFor(2));

    ASSERT_TRUE(sim::UnplugCamera(0));
    EXPECT_EQ(CountDevices(CLSID_VideoInputDeviceCategory), 0);
    long code = 0;
    LONG_PTR p1 = 0, p2 = 0;
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 1000), S_OK);
    EXPECT_EQ(code, EC_DEVICE_LOST);
    EXPECT_EQ(p2, 0);
    // The first parameter is the device's filter.
    ComPtr<IBaseFilter> lost;
    ASSERT_EQ(reinterpret_cast<IUnknown*>(p1)->QueryInterface(IID_IBaseFilter, lost.Out()), S_OK);
    EXPECT_EQ(lost.p, camera.p);
    EXPECT_EQ(events->FreeEventParams(code, p1, p2), S_OK);
    // No frames arrive from a device that is gone.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const size_t afterLoss = frames.Count();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(frames.Count(), afterLoss);

    ASSERT_TRUE(sim::ReplugCamera(0));
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 1000), S_OK);
    EXPECT_EQ(code, EC_DEVICE_LOST);
    EXPECT_EQ(p2, 1);
    EXPECT_EQ(events->FreeEventParams(code, p1, p2), S_OK);
    EXPECT_EQ(window.TakePosted(0x464), 2);
    ASSERT_EQ(control->Stop(), S_OK);
}

TEST_F(Streaming, BrightnessAndContrastChangeTheFramesWhileStreaming) {
    BuildCamera();
    ASSERT_EQ(grabber->SetCallback(&frames, 1), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(frames.WaitFor(2));
    // Bar 0 (75% white) and bar 7 (black), in the middle of the bars.
    auto bars = [&] {
        const std::vector<uint8_t> f = frames.LastFrame();
        const uint8_t* row = f.data() + (479 - 200) * 640 * 3;
        return std::make_pair(row[40 * 3 + 1], row[600 * 3 + 1]);
    };
    EXPECT_NEAR(bars().first, 191, 6);
    ComPtr<IAMVideoProcAmp> procAmp;
    ASSERT_EQ(camera->QueryInterface(IID_IAMVideoProcAmp, procAmp.Out()), S_OK);
    ASSERT_EQ(procAmp->Set(VideoProcAmp_Brightness, 40, VideoProcAmp_Flags_Manual), S_OK);
    size_t seen = frames.Count();
    ASSERT_TRUE(frames.WaitFor(seen + 3));
    EXPECT_NEAR(bars().first, 231, 6);
    EXPECT_NEAR(bars().second, 40, 6);
    // No contrast: everything flattens to mid-grey (plus the brightness).
    ASSERT_EQ(procAmp->Set(VideoProcAmp_Contrast, 0, VideoProcAmp_Flags_Manual), S_OK);
    seen = frames.Count();
    ASSERT_TRUE(frames.WaitFor(seen + 3));
    EXPECT_NEAR(bars().first, 168, 6);
    EXPECT_NEAR(bars().second, 168, 6);
    // The frame numbers are still readable.
    EXPECT_GE(sim::ReadFrameNumber(frames.LastFrame().data(), 640, 480), 0);
    ASSERT_EQ(control->Stop(), S_OK);
}

TEST_F(Streaming, TheTeeAnswersOnceItsInputIsConnectedAndSendsPreviewsUntimed) {
    ComPtr<IBaseFilter> tee(Create(CLSID_SmartTee));
    ComPtr<IPin> preview;
    ASSERT_EQ(tee->FindPin(L"Preview", &preview), S_OK);
    ComPtr<IEnumMediaTypes> types;
    EXPECT_EQ(preview->EnumMediaTypes(&types), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(types.p, nullptr);
    FILTER_STATE state;
    ASSERT_EQ(tee->Pause(), S_OK);
    EXPECT_EQ(tee->GetState(0, &state), VFW_S_CANT_CUE);
    ASSERT_EQ(tee->Stop(), S_OK);

    // RGB24 needs no converter: the grabber takes the tee's preview samples themselves.
    ASSERT_EQ(BuildCameraGraph(0, "RGB24", 320, 240), VFW_S_NOPREVIEWPIN);
    ASSERT_EQ(grabber->SetCallback(&frames, 0), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(frames.WaitFor(3));
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(frames.timed, 0);
}

TEST_F(Streaming, UnreadEventsDoNotKeepTheDeviceAlive) {
    // The graph holds the lost device in its queue; releasing the graph frees it.
    BuildCamera();
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(sim::UnplugCamera(0));
    ASSERT_EQ(control->Stop(), S_OK);
    // TearDown releases everything; the live-object check then proves nothing leaked.
}

// A camera given pictures delivers those, in turn, instead of drawing its own.
TEST_F(Streaming, ACameraReplaysThePicturesItIsGivenInTurn) {
    hw::FrameRenderer renderer;
    ASSERT_TRUE(renderer.Configure(AV_PIX_FMT_NONE, true, 320, 240, {}));
    auto pictures = std::make_shared<std::vector<std::vector<unsigned char>>>();
    const long given[] = {500, 700, 900};  // the encoder wants rising frame numbers
    for (long number : given) {
        std::vector<unsigned char> jpeg(static_cast<size_t>(renderer.MaxSize()));
        const long size = renderer.Render(number, jpeg.data(), static_cast<long>(jpeg.size()));
        ASSERT_GT(size, 0);
        jpeg.resize(static_cast<size_t>(size));
        pictures->push_back(std::move(jpeg));
    }
    sim::VirtualCameraConfig config = sim::DefaultCameraConfig();
    config.pictures = pictures;
    sim::ConfigureCamera(0, config);
    ASSERT_TRUE(SUCCEEDED(BuildCameraGraph(0, "MJPG", 320, 240)));
    frames.width = 320;
    frames.height = 240;
    ASSERT_EQ(grabber->SetCallback(&frames, 1), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(frames.WaitFor(7, 10000));
    ASSERT_EQ(control->Stop(), S_OK);
    const std::vector<long> numbers = frames.FrameNumbers();
    for (size_t i = 0; i < 7; ++i) EXPECT_EQ(numbers[i], given[i % 3]) << i;
}

}  // namespace
}  // namespace lumacap::test

namespace lumacap::test {
namespace {

TEST_F(Streaming, AFormatTheDeviceCannotProduceFailsTheRunWithoutHanging) {
    sim::VirtualCameraConfig odd = sim::DefaultCameraConfig();
    odd.capabilities = {{"Y41P", 320, 240, 30, false}};
    sim::ConfigureCamera(0, odd);
    camera.p = BindDevice(CLSID_VideoInputDeviceCategory, 0);
    ASSERT_EQ(graph->AddFilter(camera, L"Video Capture"), S_OK);
    ASSERT_EQ(graph->AddFilter(grabberFilter, L"Sample Grabber"), S_OK);
    ASSERT_EQ(graph->AddFilter(renderer, L"VideoRender"), S_OK);
    // The grabber takes any video; nothing converts this format, so the connection is direct.
    ASSERT_TRUE(SUCCEEDED(builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera,
                                                grabberFilter, renderer)));
    EXPECT_TRUE(FAILED(control->Run()));
    OAFilterState state = -1;
    EXPECT_EQ(control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    // The graph still works as a graph: stop and run again give the same clean answers.
    EXPECT_EQ(control->Stop(), S_OK);
    EXPECT_TRUE(FAILED(control->Run()));
}

}  // namespace
}  // namespace lumacap::test
