// Renderers as a source meets them: a pause that completes with the first sample (held until the
// graph runs), refusals while stopped and flushing, the end of a stream told at the run, and the
// video renderer's pin, types and current image.
#include <chrono>
#include <future>
#include <thread>

#include "common/GraphFixture.h"
#include "dshow/ProbeFilter.h"

namespace lumacap::test {
namespace {

class Renderers : public GraphTest {
protected:
    // A probe source connected to `sink`, which joins the graph.
    void Feed(IBaseFilter* sink) {
        source.p = ProbeFilter::Make("S", false, true, &log, &probe);
        graph->AddFilter(source, L"Source");
        graph->AddFilter(sink, L"Renderer");
        ComPtr<IPin> out(FindPinByDirection(source, PINDIR_OUTPUT));
        input.p = FindPinByDirection(sink, PINDIR_INPUT);
        // Given input first, the graph asks the input pin to make the connection.
        ASSERT_EQ(graph->ConnectDirect(input, out, nullptr), S_OK);
    }
    void TearDown() override {
        if (control) control->Stop();
        input.Reset();
        source.Reset();
        GraphTest::TearDown();
    }
    HRESULT State(DWORD ms) {
        OAFilterState s;
        return control->GetState(static_cast<LONG>(ms), &s);
    }
    ProbeLog log;
    ProbeFilter* probe = nullptr;
    ComPtr<IBaseFilter> source;
    ComPtr<IPin> input;
};

TEST_F(Renderers, APauseCompletesWithTheFirstSampleWhichIsHeldUntilTheRun) {
    Feed(renderer);
    EXPECT_EQ(probe->Out()->Send(), VFW_E_NOT_COMMITTED);  // stopped: no buffers yet
    ASSERT_EQ(control->Pause(), S_FALSE);
    EXPECT_EQ(State(0), VFW_S_STATE_INTERMEDIATE);
    auto held = std::async(std::launch::async, [&] { return probe->Out()->Send(); });
    EXPECT_EQ(State(2000), S_OK);
    EXPECT_EQ(held.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(held.get(), S_OK);
    EXPECT_EQ(probe->Out()->Send(), S_OK);

    // Flushing refuses quietly; after the flush a paused renderer waits for a new sample again.
    ASSERT_EQ(control->Pause(), S_FALSE);
    ASSERT_EQ(input->BeginFlush(), S_OK);
    EXPECT_EQ(probe->Out()->Send(), S_FALSE);
    ASSERT_EQ(input->EndFlush(), S_OK);
    EXPECT_EQ(State(0), VFW_S_STATE_INTERMEDIATE);

    // A stop releases a held sample; after it the allocator is committed again by a pause.
    held = std::async(std::launch::async, [&] { return probe->Out()->Send(); });
    EXPECT_EQ(State(2000), S_OK);
    ASSERT_EQ(control->Stop(), S_OK);
    held.get();
    ASSERT_EQ(control->Pause(), S_FALSE);
    held = std::async(std::launch::async, [&] { return probe->Out()->Send(); });
    EXPECT_EQ(State(2000), S_OK);
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(held.get(), S_OK);
}

TEST_F(Renderers, TheEndOfAStreamWhilePausedIsToldAtTheRun) {
    Feed(renderer);
    ASSERT_EQ(control->Pause(), S_FALSE);
    ASSERT_EQ(input->EndOfStream(), S_OK);
    EXPECT_EQ(State(0), S_OK);  // nothing more will come: the pause is complete
    EXPECT_EQ(probe->Out()->Send(), VFW_E_SAMPLE_REJECTED_EOS);
    long code;
    LONG_PTR p1, p2;
    EXPECT_EQ(events->GetEvent(&code, &p1, &p2, 50), E_ABORT);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_EQ(events->GetEvent(&code, &p1, &p2, 1000), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    EXPECT_EQ(p2, 0);
    ASSERT_EQ(control->Stop(), S_OK);
    EXPECT_EQ(input->EndOfStream(), VFW_E_WRONG_STATE);
}

TEST_F(Renderers, TheVideoRendererTakesEveryRgbDepthAndHandsOutItsImage) {
    ComPtr<IBaseFilter> video(Create(CLSID_VideoRenderer));
    ComPtr<IPin> pin;
    ASSERT_EQ(video->FindPin(L"In", &pin), S_OK);
    PIN_INFO info{};
    pin->QueryPinInfo(&info);
    info.pFilter->Release();
    EXPECT_STREQ(info.achName, L"Input");
    EXPECT_EQ(video->FindPin(L"Input", &pin), VFW_E_NOT_FOUND);

    VIDEOINFO vi{};
    vi.bmiHeader = {sizeof(BITMAPINFOHEADER), 16, 16, 1, 8, BI_RGB, 256, 0, 0, 0, 0};
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetFormatType(&FORMAT_VideoInfo);
    mt.SetFormat(reinterpret_cast<BYTE*>(&vi), sizeof(vi));
    ASSERT_EQ(video->FindPin(L"In", &pin), S_OK);
    for (const GUID* subtype : {&MEDIASUBTYPE_RGB8, &MEDIASUBTYPE_RGB565, &MEDIASUBTYPE_RGB555,
                                &MEDIASUBTYPE_RGB24, &MEDIASUBTYPE_RGB32}) {
        mt.SetSubtype(subtype);
        EXPECT_EQ(pin->QueryAccept(&mt), S_OK);
    }
    mt.SetSubtype(&MEDIASUBTYPE_YUY2);
    EXPECT_NE(pin->QueryAccept(&mt), S_OK);

    Feed(video);
    ComPtr<IBasicVideo> basic;
    ASSERT_EQ(graph->QueryInterface(IID_IBasicVideo, basic.Out()), S_OK);
    long w = 0, h = 0, size = 0;
    ASSERT_EQ(basic->GetVideoSize(&w, &h), S_OK);
    EXPECT_EQ(w, 32);
    EXPECT_EQ(h, 2);
    EXPECT_EQ(basic->SetSourcePosition(0, 0, 33, 2), E_INVALIDARG);
    EXPECT_EQ(basic->SetSourcePosition(8, 0, 16, 2), S_OK);
    EXPECT_EQ(basic->IsUsingDefaultSource(), S_FALSE);
    EXPECT_EQ(basic->GetCurrentImage(&size, nullptr), VFW_E_NOT_PAUSED);
    ASSERT_EQ(control->Pause(), S_FALSE);
    EXPECT_EQ(basic->GetCurrentImage(&size, nullptr), E_UNEXPECTED);
    auto held = std::async(std::launch::async, [&] { return probe->Out()->Send(); });
    ASSERT_EQ(State(2000), S_OK);
    ASSERT_EQ(basic->GetCurrentImage(&size, nullptr), S_OK);
    EXPECT_EQ(size, static_cast<long>(sizeof(BITMAPINFOHEADER) + 256));
    std::vector<long> image(static_cast<size_t>(size) / sizeof(long) + 1);
    long small = size - 1;
    EXPECT_EQ(basic->GetCurrentImage(&small, image.data()), E_OUTOFMEMORY);
    ASSERT_EQ(basic->GetCurrentImage(&size, image.data()), S_OK);
    EXPECT_EQ(reinterpret_cast<BITMAPINFOHEADER*>(image.data())->biBitCount, 32);
    ASSERT_EQ(control->Stop(), S_OK);
    held.get();
}

}  // namespace
}  // namespace lumacap::test
