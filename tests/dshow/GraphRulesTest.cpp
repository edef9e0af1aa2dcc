// The graph manager's rules as applications meet them: the order of state changes, when the clock
// is handed out, how completion is reported, filter bookkeeping, the interfaces it answers, and
// intelligent connect preferring the filters already in the graph.
#include <algorithm>
#include <chrono>
#include <thread>

#include <ocidl.h>

#include "common/GraphFixture.h"
#include "dshow/ProbeFilter.h"

namespace lumacap::test {
namespace {

class GraphRules : public GraphTest {
protected:
    // Probes A -> B -> C, added source first.
    void BuildChain() {
        a.p = ProbeFilter::Make("A", false, true, &log);
        b.p = ProbeFilter::Make("B", true, true, &log);
        c.p = ProbeFilter::Make("C", true, false, &log);
        for (auto* f : {a.p, b.p, c.p}) ASSERT_EQ(graph->AddFilter(f, nullptr), S_OK);
        ASSERT_EQ(Link(a, b), S_OK);
        ASSERT_EQ(Link(b, c), S_OK);
    }
    HRESULT Link(IBaseFilter* up, IBaseFilter* down) {
        ComPtr<IPin> out(FindPinByDirection(up, PINDIR_OUTPUT));
        ComPtr<IPin> in(FindPinByDirection(down, PINDIR_INPUT));
        return graph->ConnectDirect(out, in, nullptr);
    }
    std::vector<std::string> TakeCalls() {
        std::lock_guard<std::mutex> lock(log.mutex);
        return std::move(log.calls);
    }
    // The completion events in the queue: their second parameters.
    std::vector<LONG_PTR> Completions(long waitMs) {
        std::vector<LONG_PTR> seen;
        long code;
        LONG_PTR p1, p2;
        while (events->GetEvent(&code, &p1, &p2, waitMs) == S_OK) {
            if (code == EC_COMPLETE) seen.push_back(p2);
            events->FreeEventParams(code, p1, p2);
            waitMs = 50;
        }
        return seen;
    }
    void TearDown() override {
        if (control) control->Stop();
        a.Reset();
        b.Reset();
        c.Reset();
        GraphTest::TearDown();
    }
    ProbeLog log;
    ComPtr<IBaseFilter> a, b, c;
};

TEST_F(GraphRules, StateChangesGoDownstreamFirstAndAStopPausesFirst) {
    BuildChain();
    TakeCalls();
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"C.Pause", "B.Pause", "A.Pause", "C.Run",
                                                     "B.Run", "A.Run"}));
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(TakeCalls(), (std::vector<std::string>{"C.Pause", "B.Pause", "A.Pause", "C.Stop",
                                                     "B.Stop", "A.Stop"}));
    // A running filter's pins refuse to disconnect, so the graph keeps it.
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(graph->RemoveFilter(b), VFW_E_NOT_STOPPED);
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(graph->RemoveFilter(b), S_OK);
}

TEST_F(GraphRules, TheClockIsHandedOutAtTheFirstPause) {
    BuildChain();
    ComPtr<IReferenceClock> clock;
    ASSERT_EQ(a->GetSyncSource(&clock), S_OK);
    EXPECT_EQ(clock.p, nullptr);
    ASSERT_EQ(control->Pause(), S_OK);
    ASSERT_EQ(a->GetSyncSource(&clock), S_OK);
    ASSERT_NE(clock.p, nullptr);
    ComPtr<IReferenceClock> graphClock;
    ComPtr<IMediaFilter> filter;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaFilter, filter.Out()), S_OK);
    ASSERT_EQ(filter->GetSyncSource(&graphClock), S_OK);
    EXPECT_EQ(graphClock.p, clock.p);
    ASSERT_EQ(control->Stop(), S_OK);
    // A graph told to run without a clock keeps none.
    ASSERT_EQ(filter->SetSyncSource(nullptr), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_EQ(c->GetSyncSource(&clock), S_OK);
    EXPECT_EQ(clock.p, nullptr);

    ComPtr<IReferenceClock> system;
    ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IReferenceClock, system.Out()),
              S_OK);
    REFERENCE_TIME t0 = 0, t1 = 0;
    system->GetTime(&t0);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    DWORD_PTR cookie = 0;
    ASSERT_EQ(system->AdviseTime(t0, 200000, reinterpret_cast<HEVENT>(event), &cookie), S_OK);
    EXPECT_EQ(WaitForSingleObject(event, 2000), WAIT_OBJECT_0);
    system->GetTime(&t1);
    EXPECT_GE(t1 - t0, 200000);
    EXPECT_EQ(system->Unadvise(cookie), S_FALSE);  // already done
    CloseHandle(event);
}

TEST_F(GraphRules, CompletionIsPassedOnOnceEveryRendererHasFinished) {
    ComPtr<IBaseFilter> second(Create(CLSID_NullRenderer));
    graph->AddFilter(renderer, nullptr);
    graph->AddFilter(second, nullptr);
    // Unconnected renderers finish as soon as they run.
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(Completions(500), std::vector<LONG_PTR>{0});
    ASSERT_EQ(control->Stop(), S_OK);
    // Without the graph's handling, each renderer's own report comes through, naming it.
    ASSERT_EQ(events->CancelDefaultHandling(EC_COMPLETE), S_OK);
    ASSERT_EQ(control->Run(), S_OK);
    std::vector<LONG_PTR> each = Completions(500);
    std::sort(each.begin(), each.end());
    std::vector<LONG_PTR> expected{reinterpret_cast<LONG_PTR>(renderer.p),
                                   reinterpret_cast<LONG_PTR>(second.p)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(each, expected);
    EXPECT_EQ(events->CancelDefaultHandling(EC_DEVICE_LOST), S_FALSE);
}

TEST_F(GraphRules, NamesEnumerationAndLoops) {
    ComPtr<IBaseFilter> first(Create(CLSID_SmartTee));
    ComPtr<IBaseFilter> second(Create(CLSID_SmartTee));
    ASSERT_EQ(graph->AddFilter(first, nullptr), S_OK);
    ASSERT_EQ(graph->AddFilter(second, L"0001"), VFW_S_DUPLICATE_NAME);
    EXPECT_TRUE(HasFilter(L"0001"));
    EXPECT_TRUE(HasFilter(L"0001 0002"));

    // The newest filter first; a change puts an enumerator out of step until it is reset.
    ComPtr<IEnumFilters> e;
    ASSERT_EQ(graph->EnumFilters(&e), S_OK);
    IBaseFilter* got[2] = {};
    ULONG n = 0;
    ASSERT_EQ(e->Next(2, got, &n), S_OK);
    EXPECT_EQ(got[0], second.p);
    EXPECT_EQ(got[1], first.p);
    for (IBaseFilter* f : got) f->Release();
    EXPECT_EQ(e->Skip(1), E_INVALIDARG);  // at the end already
    ASSERT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(2), S_OK);
    ASSERT_EQ(e->Reset(), S_OK);
    EXPECT_EQ(e->Skip(3), S_FALSE);
    ComPtr<IBaseFilter> third(Create(CLSID_NullRenderer));
    graph->AddFilter(third, nullptr);
    EXPECT_EQ(e->Next(1, got, nullptr), VFW_E_ENUM_OUT_OF_SYNC);
    EXPECT_EQ(e->Skip(1), VFW_E_ENUM_OUT_OF_SYNC);
    ASSERT_EQ(e->Reset(), S_OK);
    ASSERT_EQ(e->Next(1, got, nullptr), S_OK);
    EXPECT_EQ(got[0], third.p);
    got[0]->Release();
    ComPtr<IGraphVersion> version;
    ASSERT_EQ(graph->QueryInterface(IID_IGraphVersion, version.Out()), S_OK);
    LONG before = 0, after = 0;
    version->QueryVersion(&before);
    graph->RemoveFilter(third);
    version->QueryVersion(&after);
    EXPECT_NE(before, after);

    // A stream may not come back to where it started.
    ComPtr<IBaseFilter> p(ProbeFilter::Make("P", true, true, &log));
    ComPtr<IBaseFilter> q(ProbeFilter::Make("Q", true, true, &log));
    graph->AddFilter(p, L"P");
    graph->AddFilter(q, L"Q");
    ASSERT_EQ(Link(p, q), S_OK);
    EXPECT_EQ(Link(q, p), VFW_E_CIRCULAR_GRAPH);
}

TEST_F(GraphRules, TheGraphAnswersItsInterfacesButNotIDispatchAndCanBeAggregated) {
    for (const IID* iid :
         {&IID_IFilterGraph2, &IID_IMediaFilter, &IID_IMediaSeeking, &IID_IMediaPosition,
          &IID_IBasicAudio, &IID_IBasicVideo, &IID_IBasicVideo2, &IID_IVideoWindow,
          &IID_IFilterMapper2, &IID_IFilterMapper3, &IID_IGraphConfig, &IID_IVideoFrameStep,
          &IID_IObjectWithSite, &IID_IGraphVersion, &IID_IMediaEventSink}) {
        ComPtr<IUnknown> i;
        EXPECT_EQ(graph->QueryInterface(*iid, i.Out()), S_OK);
        // Every interface leads back to the same object.
        ComPtr<IUnknown> back;
        ASSERT_EQ(i->QueryInterface(IID_IUnknown, back.Out()), S_OK);
        ComPtr<IUnknown> self;
        graph->QueryInterface(IID_IUnknown, self.Out());
        EXPECT_EQ(back.p, self.p);
    }
    ComPtr<IUnknown> dispatch;
    EXPECT_EQ(graph->QueryInterface(IID_IDispatch, dispatch.Out()), E_NOINTERFACE);

    // Every platform class takes an outer object, handing out only its own IUnknown.
    for (const CLSID* clsid :
         {&CLSID_FilterGraph, &CLSID_FilterGraphNoThread, &CLSID_NullRenderer, &CLSID_VideoRenderer,
          &CLSID_SmartTee, &CLSID_SampleGrabber, &CLSID_AviDest, &CLSID_FileWriter, &CLSID_Colour,
          &CLSID_MjpegDec, &CLSID_CaptureGraphBuilder2, &CLSID_FilterMapper2, &CLSID_SystemClock,
          &CLSID_MemoryAllocator, &CLSID_AudioRecord}) {
        IUnknown* outer = graph;  // any object serves as the outer one here
        ComPtr<IUnknown> inner;
        ComPtr<IBaseFilter> refused;
        EXPECT_EQ(
            CoCreateInstance(*clsid, outer, CLSCTX_INPROC_SERVER, IID_IBaseFilter, refused.Out()),
            E_NOINTERFACE);
        EXPECT_EQ(refused.p, nullptr);
        ASSERT_EQ(CoCreateInstance(*clsid, outer, CLSCTX_INPROC_SERVER, IID_IUnknown, inner.Out()),
                  S_OK);
        // Its interfaces delegate to the outer object.
        ComPtr<IUnknown> viaInner;
        ASSERT_EQ(inner->QueryInterface(IID_IUnknown, viaInner.Out()), S_OK);
        EXPECT_EQ(viaInner.p, inner.p);
    }
}

TEST_F(GraphRules, FiltersAnswerTheInterfacesApplicationsUse) {
    const std::pair<const CLSID*, std::vector<const IID*>> table[] = {
        {&CLSID_VideoRenderer,
         {&IID_IBasicVideo2, &IID_IVideoWindow, &IID_IMediaSeeking, &IID_IQualityControl}},
        {&CLSID_NullRenderer, {&IID_IMediaSeeking, &IID_IMediaPosition, &IID_IQualityControl}},
        {&CLSID_AviDest,
         {&IID_IMediaSeeking, &IID_IConfigAviMux, &IID_IConfigInterleaving,
          &IID_ISpecifyPropertyPages}},
        {&CLSID_FileWriter, {&IID_IFileSinkFilter2, &IID_IAMFilterMiscFlags}},
        {&CLSID_AudioRecord, {&IID_IPersistPropertyBag, &IID_IAMFilterMiscFlags}},
    };
    for (const auto& [clsid, iids] : table) {
        ComPtr<IBaseFilter> f(Create(*clsid));
        for (const IID* iid : iids) {
            ComPtr<IUnknown> i;
            EXPECT_EQ(f->QueryInterface(*iid, i.Out()), S_OK);
        }
    }
    // The video renderer's window, through its pin's overlay.
    ComPtr<IBaseFilter> video(Create(CLSID_VideoRenderer));
    ComPtr<IPin> pin(FindPinByDirection(video, PINDIR_INPUT));
    ComPtr<IOverlay> overlay;
    ASSERT_EQ(pin->QueryInterface(IID_IOverlay, overlay.Out()), S_OK);
    HWND hwnd = nullptr;
    EXPECT_EQ(overlay->GetWindowHandle(&hwnd), S_OK);
    EXPECT_TRUE(IsWindow(hwnd));
    // The mux tells how much it has written; it cannot seek.
    ComPtr<IBaseFilter> mux(Create(CLSID_AviDest));
    ComPtr<IMediaSeeking> seeking;
    mux->QueryInterface(IID_IMediaSeeking, seeking.Out());
    DWORD caps = 0;
    ASSERT_EQ(seeking->GetCapabilities(&caps), S_OK);
    EXPECT_EQ(caps, static_cast<DWORD>(AM_SEEKING_CanGetCurrentPos | AM_SEEKING_CanGetDuration));
    LONGLONG stop = 0;
    EXPECT_EQ(seeking->GetStopPosition(&stop), E_NOTIMPL);
}

TEST_F(GraphRules, ConnectUsesAConverterAlreadyInTheGraph) {
    ComPtr<IBaseFilter> cam(BindDevice(CLSID_VideoInputDeviceCategory, 0));
    ComPtr<IBaseFilter> video(Create(CLSID_VideoRenderer));
    ComPtr<IBaseFilter> mine(Create(CLSID_Colour));
    graph->AddFilter(cam, L"Camera");
    graph->AddFilter(video, L"Video");
    graph->AddFilter(mine, L"Mine");
    ComPtr<IPin> out(FindPinByDirection(cam, PINDIR_OUTPUT));
    ComPtr<IPin> in(FindPinByDirection(video, PINDIR_INPUT));
    // YUY2, which the renderer cannot show.
    AM_MEDIA_TYPE* yuy2 = CameraCapability(cam, "YUY2", 640, 480);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(out->QueryInterface(IID_IAMStreamConfig, config.Out()), S_OK);
    ASSERT_EQ(config->SetFormat(yuy2), S_OK);
    DeleteMediaType(yuy2);
    ASSERT_EQ(graph->Connect(out, in), S_OK);
    EXPECT_EQ(FilterCount(), 3);
    ComPtr<IPin> converterIn(FindPinByDirection(mine, PINDIR_INPUT));
    ComPtr<IPin> peer;
    EXPECT_EQ(converterIn->ConnectedTo(&peer), S_OK);
}

TEST_F(GraphRules, ALiveGraphHasNoDurationButItsPositionAdvances) {
    ASSERT_TRUE(SUCCEEDED(BuildCameraGraph()));
    ComPtr<IMediaSeeking> seeking;
    ComPtr<IMediaPosition> position;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaSeeking, seeking.Out()), S_OK);
    ASSERT_EQ(graph->QueryInterface(IID_IMediaPosition, position.Out()), S_OK);
    LONGLONG duration = 0, now = -1;
    EXPECT_EQ(seeking->GetDuration(&duration), E_NOTIMPL);
    EXPECT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME), S_OK);
    EXPECT_EQ(seeking->IsFormatSupported(&TIME_FORMAT_FRAME), S_FALSE);
    ASSERT_EQ(seeking->GetCurrentPosition(&now), S_OK);
    EXPECT_EQ(now, 0);
    ASSERT_EQ(control->Run(), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_EQ(seeking->GetCurrentPosition(&now), S_OK);
    EXPECT_GT(now, 500000);
    REFTIME seconds = 0;
    ASSERT_EQ(position->get_CurrentPosition(&seconds), S_OK);
    EXPECT_GT(seconds, 0.05);
    // The renderer passes the question upstream, where a live source cannot answer it.
    ComPtr<IMediaSeeking> rendererSeeking;
    ASSERT_EQ(renderer->QueryInterface(IID_IMediaSeeking, rendererSeeking.Out()), S_OK);
    EXPECT_EQ(rendererSeeking->GetDuration(&duration), E_NOTIMPL);
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(seeking->GetCurrentPosition(&now), S_OK);
    EXPECT_GT(now, 500000);  // stopping keeps the position
}

}  // namespace
}  // namespace lumacap::test
