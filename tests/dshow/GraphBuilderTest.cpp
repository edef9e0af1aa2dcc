// Building graphs: filter names, intelligent connect, the rotate filter, the video window the
// graph forwards to its renderer, finding interfaces along a stream, and failure answers.
#include <chrono>
#include <cstdlib>
#include <thread>

#include <rotatefilter.h>

#include <lumacap/sim.h>

#include "common/GraphFixture.h"
#include "platform/system/win/Trace.h"

namespace lumacap::test {
namespace {

class GraphBuilding : public GraphTest {};

TEST_F(GraphBuilding, NamesAreUniqueAndFiltersCanBeFoundAndRemoved) {
    ComPtr<IBaseFilter> a(Create(CLSID_NullRenderer));
    ComPtr<IBaseFilter> b(Create(CLSID_NullRenderer));
    EXPECT_EQ(graph->AddFilter(nullptr, L"x"), E_POINTER);
    ASSERT_EQ(graph->AddFilter(a, L"Renderer"), S_OK);
    // A second filter under the same name gets a numbered name.
    ASSERT_EQ(graph->AddFilter(b, L"Renderer"), VFW_S_DUPLICATE_NAME);
    ComPtr<IBaseFilter> found;
    ASSERT_EQ(graph->FindFilterByName(L"Renderer", &found), S_OK);
    EXPECT_EQ(found.p, a.p);
    ASSERT_EQ(graph->FindFilterByName(L"Renderer 0001", &found), S_OK);
    EXPECT_EQ(found.p, b.p);
    FILTER_INFO info{};
    ASSERT_EQ(b->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"Renderer 0001");
    EXPECT_NE(info.pGraph, nullptr);
    info.pGraph->Release();
    EXPECT_EQ(graph->FindFilterByName(L"Nothing", &found), VFW_E_NOT_FOUND);
    EXPECT_EQ(FilterCount(), 2);
    ASSERT_EQ(graph->RemoveFilter(a), S_OK);
    EXPECT_EQ(graph->RemoveFilter(a), VFW_E_NOT_FOUND);
    EXPECT_EQ(FilterCount(), 1);
}

TEST_F(GraphBuilding, ConnectInsertsAConverterForTheVideoRendererAndTheWindowFollows) {
    ComPtr<IVideoWindow> window;
    ASSERT_EQ(graph->QueryInterface(IID_IVideoWindow, window.Out()), S_OK);
    // No video renderer in the graph: the window calls fail.
    EXPECT_EQ(window->put_Visible(OAFALSE), E_NOINTERFACE);

    ComPtr<IBaseFilter> camera(BindDevice(CLSID_VideoInputDeviceCategory, 0));
    ComPtr<IBaseFilter> renderer(Create(CLSID_VideoRenderer));
    ASSERT_EQ(graph->AddFilter(camera, L"Video Capture"), S_OK);
    ASSERT_EQ(graph->AddFilter(renderer, L"VideoRender"), S_OK);
    ComPtr<IPin> out(FindPinByDirection(camera, PINDIR_OUTPUT));
    ComPtr<IPin> in(FindPinByDirection(renderer, PINDIR_INPUT));
    // The renderer takes RGB only; the camera is set to deliver YUY2.
    AM_MEDIA_TYPE* yuy2 = CameraCapability(camera, "YUY2", 640, 480);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(out->QueryInterface(IID_IAMStreamConfig, config.Out()), S_OK);
    ASSERT_EQ(config->SetFormat(yuy2), S_OK);
    DeleteMediaType(yuy2);
    EXPECT_EQ(graph->ConnectDirect(out, in, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
    const std::string traceFile = TempDir() + "/trace.txt";
    trace::Configure("dshow", traceFile.c_str());
    const HRESULT connected = graph->Connect(out, in);
    trace::Configure(std::getenv("LUMACAP_TRACE"), std::getenv("LUMACAP_TRACE_FILE"));
    ASSERT_EQ(connected, S_OK);
    ComPtr<IBaseFilter> converter;
    EXPECT_EQ(graph->FindFilterByName(L"Color Space Converter", &converter), S_OK);
    // The trace tells how: each connection with its type, the allocator, the converter.
    const std::string trace = ReadWholeFile(traceFile);
    for (const char* line :
         {"connected Video Capture.Capture -> Color Space Converter.XForm In: Video YUY2 640x480 "
          "16-bit",
          "allocator of Color Space Converter.XForm Out: ",
          "connected Color Space Converter.XForm Out -> VideoRender.Input: Video RGB",
          "inserted Color Space Converter between Video Capture.Capture and VideoRender.Input"})
        EXPECT_NE(trace.find(line), std::string::npos) << line << "\n" << trace;

    ASSERT_EQ(window->put_Owner(0x5678), S_OK);
    ASSERT_EQ(window->SetWindowPosition(10, 20, 320, 240), S_OK);
    OAHWND owner = 0;
    long l, t, w, h;
    ASSERT_EQ(window->get_Owner(&owner), S_OK);
    EXPECT_EQ(owner, 0x5678);
    ASSERT_EQ(window->GetWindowPosition(&l, &t, &w, &h), S_OK);
    EXPECT_EQ(l, 10);
    EXPECT_EQ(h, 240);
    ASSERT_EQ(window->GetMaxIdealImageSize(&w, &h), S_OK);
    EXPECT_EQ(w, 640);
    EXPECT_EQ(h, 480);
}

TEST_F(GraphBuilding, FailedConnectLeavesNoConverterBehind) {
    // An audio source cannot reach a video renderer through any converter.
    ComPtr<IBaseFilter> microphone(BindDevice(CLSID_AudioInputDeviceCategory, 0));
    ComPtr<IBaseFilter> renderer(Create(CLSID_VideoRenderer));
    graph->AddFilter(microphone, L"Audio");
    graph->AddFilter(renderer, L"VideoRender");
    ComPtr<IPin> out(FindPinByDirection(microphone, PINDIR_OUTPUT));
    ComPtr<IPin> in(FindPinByDirection(renderer, PINDIR_INPUT));
    EXPECT_EQ(graph->Connect(out, in), VFW_E_CANNOT_CONNECT);
    EXPECT_EQ(FilterCount(), 2);
    // The pins may come in either order; two inputs and pins outside the graph are refused.
    EXPECT_EQ(graph->Connect(in, out), VFW_E_CANNOT_CONNECT);
    EXPECT_EQ(graph->Connect(in, in), VFW_E_INVALID_DIRECTION);
    ComPtr<IBaseFilter> stray(Create(CLSID_NullRenderer));
    ComPtr<IPin> strayIn(FindPinByDirection(stray, PINDIR_INPUT));
    EXPECT_EQ(graph->Connect(out, strayIn), VFW_E_NOT_IN_GRAPH);
}

TEST_F(GraphBuilding, RotateFilterTurnsThePictureAQuarterClockwise) {
    ComPtr<IBaseFilter> camera(BindDevice(CLSID_VideoInputDeviceCategory, 0));
    ComPtr<ISampleGrabber> grabber;
    ASSERT_EQ(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ISampleGrabber, grabber.Out()),
              S_OK);
    ComPtr<IBaseFilter> grabberFilter;
    grabber->QueryInterface(IID_IBaseFilter, grabberFilter.Out());
    AM_MEDIA_TYPE rgb{};
    rgb.majortype = MEDIATYPE_Video;
    rgb.subtype = MEDIASUBTYPE_RGB24;
    grabber->SetMediaType(&rgb);
    ComPtr<IBaseFilter> rotate(Create(CLSID_RotateFilter));
    ComPtr<IBaseFilter> renderer(Create(CLSID_NullRenderer));
    ASSERT_NE(rotate.p, nullptr);
    graph->AddFilter(camera, L"Video Capture");
    graph->AddFilter(grabberFilter, L"Sample Grabber");
    graph->AddFilter(rotate, L"RotateFilter");
    graph->AddFilter(renderer, L"VideoRender");
    // Each link from the first output to the first input, as the camera makes them.
    auto link = [&](IBaseFilter* up, IBaseFilter* down) {
        ComPtr<IPin> o(FindPinByDirection(up, PINDIR_OUTPUT));
        ComPtr<IPin> i(FindPinByDirection(down, PINDIR_INPUT));
        return graph->Connect(o, i);
    };
    ASSERT_EQ(link(camera, grabberFilter), S_OK);
    ASSERT_EQ(link(grabberFilter, rotate), S_OK);
    // A second grabber after the rotation sees the turned picture.
    ComPtr<ISampleGrabber> after;
    CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleGrabber,
                     after.Out());
    ComPtr<IBaseFilter> afterFilter;
    after->QueryInterface(IID_IBaseFilter, afterFilter.Out());
    graph->AddFilter(afterFilter, L"After");
    ASSERT_EQ(link(rotate, afterFilter), S_OK);
    ASSERT_EQ(link(afterFilter, renderer), S_OK);

    AM_MEDIA_TYPE mt{};
    ASSERT_EQ(after->GetConnectedMediaType(&mt), S_OK);
    const auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(mt.pbFormat);
    EXPECT_EQ(vih->bmiHeader.biWidth, 480);
    EXPECT_EQ(vih->bmiHeader.biHeight, 640);
    FreeMediaType(mt);

    FrameCollector before, turned;
    before.width = 640;
    before.height = 480;
    grabber->SetCallback(&before, 1);
    after->SetCallback(&turned, 1);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(turned.WaitFor(3));
    ASSERT_EQ(control->Stop(), S_OK);
    grabber->SetCallback(nullptr, 1);
    after->SetCallback(nullptr, 1);
    // The frames the camera delivers keep their size; the frame number is still readable there.
    EXPECT_EQ(before.LastFrame().size(), 640u * 480u * 3u);
    EXPECT_GE(before.FrameNumbers().back(), 0);

    // Turned clockwise, the picture's top row (the frame-number stamp) becomes its right column
    // and the colour bars run from top (white) to bottom (black).
    const std::vector<uint8_t> frame = turned.LastFrame();
    ASSERT_EQ(frame.size(), 480u * 640u * 3u);
    const long stride = 480 * 3;
    auto pixel = [&](long x, long yTop) { return frame.data() + (639 - yTop) * stride + x * 3; };
    const long barsColumn = 480 - 1 - 480 * 5 / 12;  // the middle of the bars, now a column
    for (int bar = 0; bar < 8; ++bar) {
        unsigned char b, g, r;
        sim::TestPatternBarColor(bar, &b, &g, &r);
        const uint8_t* p = pixel(barsColumn, (2 * bar + 1) * 640 / 16);
        EXPECT_NEAR(p[0], b, 6) << "bar " << bar;
        EXPECT_NEAR(p[2], r, 6) << "bar " << bar;
    }
    // The stamp's first cell (white) is at the top of the right edge.
    EXPECT_GT(pixel(470, 5)[1], 200);
}

TEST_F(GraphBuilding, FindInterfaceFollowsPinCategories) {
    ComPtr<ICaptureGraphBuilder2> builder;
    ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICaptureGraphBuilder2, builder.Out()),
              S_OK);
    ASSERT_EQ(builder->SetFiltergraph(graph), S_OK);
    EXPECT_EQ(builder->SetFiltergraph(graph), E_UNEXPECTED);
    ComPtr<IBaseFilter> camera(BindDevice(CLSID_VideoInputDeviceCategory, 0));
    graph->AddFilter(camera, L"Video Capture");
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera,
                                     IID_IAMStreamConfig, config.Out()),
              S_OK);
    EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera,
                                     IID_IAMStreamConfig, config.Out()),
              E_NOINTERFACE);
    EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, camera,
                                     IID_IAMStreamConfig, config.Out()),
              E_NOINTERFACE);
    ComPtr<IAMVideoProcAmp> procAmp;
    EXPECT_EQ(builder->FindInterface(nullptr, nullptr, camera, IID_IAMVideoProcAmp, procAmp.Out()),
              S_OK);
    EXPECT_EQ(builder->FindInterface(nullptr, nullptr, nullptr, IID_IAMVideoProcAmp, procAmp.Out()),
              E_POINTER);
}

TEST_F(GraphBuilding, FindInterfaceLooksAtTheFilterThenDownstreamThenUpstream) {
    ASSERT_TRUE(SUCCEEDED(BuildCameraGraph()));
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(GraphTest::builder->FindInterface(nullptr, nullptr, grabberFilter,
                                                IID_IAMStreamConfig, config.Out()),
              S_OK);  // on the camera's pin, upstream
    EXPECT_EQ(GraphTest::builder->FindInterface(&LOOK_DOWNSTREAM_ONLY, nullptr, grabberFilter,
                                                IID_IAMStreamConfig, config.Out()),
              E_FAIL);
    ComPtr<ISampleGrabber> found;
    EXPECT_EQ(GraphTest::builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, renderer,
                                                IID_ISampleGrabber, found.Out()),
              S_OK);
    EXPECT_EQ(found.p, grabber.p);
    // Only-upstream searches leave the filter itself out.
    EXPECT_EQ(GraphTest::builder->FindInterface(&LOOK_UPSTREAM_ONLY, nullptr, grabberFilter,
                                                IID_ISampleGrabber, found.Out()),
              E_FAIL);
}

TEST_F(GraphBuilding, CaptureAndPreviewShareOneSmartTee) {
    ComPtr<ICaptureGraphBuilder2> builder;
    CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                     IID_ICaptureGraphBuilder2, builder.Out());
    builder->SetFiltergraph(graph);
    ComPtr<IBaseFilter> camera(BindDevice(CLSID_VideoInputDeviceCategory, 0));
    ComPtr<IBaseFilter> preview(Create(CLSID_NullRenderer));
    ComPtr<IBaseFilter> capture(Create(CLSID_NullRenderer));
    graph->AddFilter(camera, L"Video Capture");
    graph->AddFilter(preview, L"Preview");
    graph->AddFilter(capture, L"Capture");
    EXPECT_EQ(
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera, nullptr, preview),
        VFW_S_NOPREVIEWPIN);
    EXPECT_EQ(
        builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, camera, nullptr, capture),
        S_OK);
    EXPECT_EQ(FilterCount(), 4);  // camera, one tee, two renderers
    ASSERT_EQ(control->Run(), S_OK);
    ComPtr<IBaseFilter> tee;
    ASSERT_EQ(graph->FindFilterByName(L"Smart Tee", &tee), S_OK);
    ASSERT_EQ(control->Stop(), S_OK);
}

TEST_F(GraphBuilding, ArmedFaultsComeBackFromTheCallsTheyName) {
    ComPtr<ICaptureGraphBuilder2> builder;
    CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                     IID_ICaptureGraphBuilder2, builder.Out());
    builder->SetFiltergraph(graph);
    ComPtr<IBaseFilter> camera(BindDevice(CLSID_VideoInputDeviceCategory, 0));
    ComPtr<IBaseFilter> renderer(Create(CLSID_NullRenderer));
    sim::ArmFault("IGraphBuilder::AddFilter", E_OUTOFMEMORY, 2);
    EXPECT_EQ(graph->AddFilter(camera, L"Video Capture"), S_OK);
    EXPECT_EQ(graph->AddFilter(renderer, L"VideoRender"), E_OUTOFMEMORY);
    EXPECT_EQ(graph->AddFilter(renderer, L"VideoRender"), S_OK);
    sim::ArmFault("ICaptureGraphBuilder2::RenderStream", E_FAIL);
    EXPECT_EQ(
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera, nullptr, renderer),
        E_FAIL);
    EXPECT_EQ(sim::FaultHits("ICaptureGraphBuilder2::RenderStream"), 1);
    sim::DisarmFaults();
    EXPECT_TRUE(SUCCEEDED(
        builder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, camera, nullptr, renderer)));
    sim::ArmFault("IMediaControl::Run", static_cast<HRESULT>(0x80070005));
    EXPECT_EQ(control->Run(), static_cast<HRESULT>(0x80070005));
    OAFilterState state;
    EXPECT_EQ(control->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    sim::ArmFault("IGraphBuilder::QueryInterface", E_NOINTERFACE);
    ComPtr<IMediaEventEx> events;
    EXPECT_EQ(graph->QueryInterface(IID_IMediaEventEx, events.Out()), E_NOINTERFACE);
    EXPECT_EQ(events.p, nullptr);
    sim::ArmCreateFault(CLSID_SampleGrabber, REGDB_E_CLASSNOTREG);
    ComPtr<IBaseFilter> grabber;
    EXPECT_EQ(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               grabber.Out()),
              REGDB_E_CLASSNOTREG);
}

}  // namespace
}  // namespace lumacap::test

namespace lumacap::test {
namespace {

TEST_F(GraphBuilding, VideoRendererShowsTheFramesInAChildOfItsOwner) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "LumacapTestOwner";
    RegisterClassA(&wc);
    HWND owner = CreateWindowExA(0, "LumacapTestOwner", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 500,
                                 400, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(owner, nullptr);
    ComPtr<IBaseFilter> camera(BindDevice(CLSID_VideoInputDeviceCategory, 0));
    ComPtr<IBaseFilter> renderer(Create(CLSID_VideoRenderer));
    graph->AddFilter(camera, L"Video Capture");
    graph->AddFilter(renderer, L"VideoRender");
    ComPtr<IPin> out(FindPinByDirection(camera, PINDIR_OUTPUT));
    ComPtr<IPin> in(FindPinByDirection(renderer, PINDIR_INPUT));
    ASSERT_EQ(graph->Connect(out, in), S_OK);
    ComPtr<IVideoWindow> window;
    ASSERT_EQ(graph->QueryInterface(IID_IVideoWindow, window.Out()), S_OK);
    ASSERT_EQ(window->put_Owner(reinterpret_cast<OAHWND>(owner)), S_OK);
    ASSERT_EQ(window->SetWindowPosition(10, 20, 320, 240), S_OK);
    ASSERT_EQ(window->put_Visible(OATRUE), S_OK);
    ASSERT_EQ(control->Run(), S_OK);

    // The picture arrives scaled into the window rectangle: the colour bars in the middle band.
    auto barsShown = [&] {
        const sim::Pixels pixels = sim::ReadWindowClient(owner);
        if (pixels.Empty()) return false;
        for (int bar = 0; bar < 8; ++bar) {
            unsigned char b, g, r;
            sim::TestPatternBarColor(bar, &b, &g, &r);
            const COLORREF c = pixels.ColorAt(10 + (2 * bar + 1) * 320 / 16, 20 + 240 * 5 / 12);
            if (std::abs(GetRValue(c) - r) > 8 || std::abs(GetGValue(c) - g) > 8 ||
                std::abs(GetBValue(c) - b) > 8)
                return false;
        }
        return true;
    };
    bool shown = false;
    for (int i = 0; i < 200 && !shown; ++i) {
        shown = barsShown();
        if (!shown) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(shown);
    ASSERT_EQ(control->Stop(), S_OK);
    window->put_Visible(OAFALSE);
    window->put_Owner(0);
    DestroyWindow(owner);
}

}  // namespace
}  // namespace lumacap::test
