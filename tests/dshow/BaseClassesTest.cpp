// The filter base classes as a filter writer uses them: a push source of our own, media types,
// the pooled allocator, and the renderer's pause that completes when data arrives.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include <streams.h>

#include "common/GraphFixture.h"
#include "platform/system/dshow/LendingAllocator.h"

namespace lumacap::test {
namespace {

constexpr GUID CLSID_TestSource = {
    0x1b0a57e1, 0x2f7a, 0x4c55, {0x8e, 0x5c, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};

// A push source delivering small RGB24 frames whose first byte counts the frames.
class CountingPin final : public CSourceStream {
public:
    CountingPin(HRESULT* phr, CSource* filter)
        : CSourceStream(NAME("Counting pin"), phr, filter, L"Out") {}

    HRESULT GetMediaType(CMediaType* pmt) override {
        auto* vih =
            reinterpret_cast<VIDEOINFOHEADER*>(pmt->AllocFormatBuffer(sizeof(VIDEOINFOHEADER)));
        std::memset(vih, 0, sizeof(*vih));
        vih->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih->bmiHeader.biWidth = 64;
        vih->bmiHeader.biHeight = 48;
        vih->bmiHeader.biPlanes = 1;
        vih->bmiHeader.biBitCount = 24;
        vih->bmiHeader.biSizeImage = GetBitmapSize(&vih->bmiHeader);
        pmt->SetType(&MEDIATYPE_Video);
        pmt->SetSubtype(&MEDIASUBTYPE_RGB24);
        pmt->SetFormatType(&FORMAT_VideoInfo);
        pmt->SetSampleSize(vih->bmiHeader.biSizeImage);
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
        request->cBuffers = 2;
        request->cbBuffer = 64 * 48 * 3;
        ALLOCATOR_PROPERTIES actual{};
        return alloc->SetProperties(request, &actual);
    }
    HRESULT FillBuffer(IMediaSample* sample) override {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        data[0] = static_cast<BYTE>(m_count++);
        if (m_limit > 0 && m_count > m_limit) return S_FALSE;  // end of stream
        return S_OK;
    }
    std::atomic<int> m_count{0};
    int m_limit = 0;
};

class CountingSource final : public CSource {
public:
    explicit CountingSource(HRESULT* phr)
        : CSource(NAME("Counting source"), nullptr, CLSID_TestSource, phr), m_pin(phr, this) {}
    CountingPin m_pin;
};

IBaseFilter* NewCountingSource(CountingPin** pin) {
    HRESULT hr = S_OK;
    auto* source = new CountingSource(&hr);
    IBaseFilter* filter = nullptr;
    source->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&filter));
    *pin = &source->m_pin;
    return filter;
}

class BaseClasses : public GraphTest {};

TEST_F(BaseClasses, PushSourceStreamsThroughAGrabberAndStopsCleanly) {
    CountingPin* pin = nullptr;
    ComPtr<IBaseFilter> source(NewCountingSource(&pin));
    ASSERT_EQ(graph->AddFilter(source, L"Source"), S_OK);
    ASSERT_EQ(graph->AddFilter(grabberFilter, L"Grabber"), S_OK);
    ASSERT_EQ(graph->AddFilter(renderer, L"Renderer"), S_OK);

    ComPtr<IPin> out(FindPinByDirection(source, PINDIR_OUTPUT));
    ComPtr<IPin> grabIn(FindPinByDirection(grabberFilter, PINDIR_INPUT));
    ComPtr<IPin> grabOut(FindPinByDirection(grabberFilter, PINDIR_OUTPUT));
    ComPtr<IPin> rendIn(FindPinByDirection(renderer, PINDIR_INPUT));
    ASSERT_EQ(graph->Connect(out, grabIn), S_OK);
    ASSERT_EQ(graph->Connect(grabOut, rendIn), S_OK);
    EXPECT_EQ(graph->Connect(out, grabIn), VFW_E_ALREADY_CONNECTED);

    FrameCollector frames;
    ASSERT_EQ(grabber->SetCallback(&frames, 0), S_OK);
    // A push source delivers while paused: the renderer holds the first sample and the pause
    // completes.
    EXPECT_TRUE(SUCCEEDED(control->Pause()));
    OAFilterState state;
    EXPECT_EQ(control->GetState(2000, &state), S_OK);
    EXPECT_EQ(state, State_Paused);
    ASSERT_EQ(control->Run(), S_OK);
    ASSERT_TRUE(frames.WaitFor(50));
    ASSERT_EQ(control->Stop(), S_OK);
    // Everything went through the source's two buffers, in order.
    EXPECT_LE(frames.bufferPointers.size(), 2u);
    grabber->SetCallback(nullptr, 0);  // the collector goes before the fixture's grabber
}

TEST_F(BaseClasses, EndOfStreamCompletesTheGraph) {
    CountingPin* pin = nullptr;
    ComPtr<IBaseFilter> source(NewCountingSource(&pin));
    pin->m_limit = 5;
    graph->AddFilter(source, L"Source");
    graph->AddFilter(renderer, L"Renderer");
    ComPtr<IPin> out(FindPinByDirection(source, PINDIR_OUTPUT));
    ComPtr<IPin> in(FindPinByDirection(renderer, PINDIR_INPUT));
    ASSERT_EQ(graph->ConnectDirect(out, in, nullptr), S_OK);
    // S_FALSE: the run begins once the renderer holds the first sample.
    ASSERT_EQ(control->Run(), S_FALSE);
    long code = 0;
    ASSERT_EQ(events->WaitForCompletion(5000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    ASSERT_EQ(control->Stop(), S_OK);
}

TEST_F(BaseClasses, MediaTypesCopyCompareAndMatchPartially) {
    CMediaType full;
    full.SetType(&MEDIATYPE_Video);
    full.SetSubtype(&MEDIASUBTYPE_RGB24);
    full.SetFormatType(&FORMAT_VideoInfo);
    VIDEOINFOHEADER vih{};
    vih.bmiHeader.biWidth = 320;
    ASSERT_TRUE(full.SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof(vih)));

    CMediaType copy(full);
    EXPECT_TRUE(copy == full);
    EXPECT_NE(copy.Format(), full.Format());  // a deep copy
    reinterpret_cast<VIDEOINFOHEADER*>(copy.Format())->bmiHeader.biWidth = 640;
    EXPECT_TRUE(copy != full);

    CMediaType partial(&MEDIATYPE_Video);
    EXPECT_TRUE(partial.IsPartiallySpecified());
    EXPECT_TRUE(full.MatchesPartial(&partial));
    partial.SetSubtype(&MEDIASUBTYPE_YUY2);
    EXPECT_FALSE(full.MatchesPartial(&partial));

    AM_MEDIA_TYPE* created = CreateMediaType(&full);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->cbFormat, sizeof(VIDEOINFOHEADER));
    EXPECT_NE(created->pbFormat, full.pbFormat);
    DeleteMediaType(created);
    DeleteMediaType(nullptr);
    EXPECT_EQ(CopyMediaType(nullptr, &full), E_POINTER);
    EXPECT_EQ(CreateMediaType(nullptr), nullptr);
}

TEST_F(BaseClasses, PinAndTypeEnumeratorsStepSkipResetAndClone) {
    ComPtr<IBaseFilter> tee(Create(CLSID_SmartTee));
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(tee->EnumPins(&pins), S_OK);
    IPin* got[3] = {};
    ULONG n = 0;
    EXPECT_EQ(pins->Next(2, got, nullptr), E_INVALIDARG);
    ASSERT_EQ(pins->Next(2, got, &n), S_OK);
    EXPECT_EQ(n, 2u);
    for (ULONG i = 0; i < n; ++i) got[i]->Release();
    ComPtr<IEnumPins> clone;
    ASSERT_EQ(pins->Clone(&clone), S_OK);
    EXPECT_EQ(pins->Next(2, got, &n), S_FALSE);
    ASSERT_EQ(n, 1u);
    got[0]->Release();
    EXPECT_EQ(pins->Skip(1), S_FALSE);
    // The clone kept its own place: the third pin is still ahead of it.
    ASSERT_EQ(clone->Next(1, got, nullptr), S_OK);
    LPWSTR id = nullptr;
    got[0]->QueryId(&id);
    EXPECT_STREQ(id, L"Preview");
    CoTaskMemFree(id);
    got[0]->Release();
    ASSERT_EQ(pins->Reset(), S_OK);
    EXPECT_EQ(pins->Skip(3), S_OK);
    EXPECT_EQ(pins->Next(1, got, &n), S_FALSE);
    EXPECT_EQ(n, 0u);

    ComPtr<IBaseFilter> cam(BindDevice(CLSID_VideoInputDeviceCategory, 0));
    ComPtr<IPin> out(FindPinByDirection(cam, PINDIR_OUTPUT));
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(out->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* mt = nullptr;
    ULONG count = 0;
    while (types->Next(1, &mt, nullptr) == S_OK) {
        DeleteMediaType(mt);
        ++count;
    }
    ASSERT_GT(count, 2u);
    ASSERT_EQ(types->Reset(), S_OK);
    EXPECT_EQ(types->Skip(count - 1), S_OK);
    ComPtr<IEnumMediaTypes> typesClone;
    ASSERT_EQ(types->Clone(&typesClone), S_OK);
    EXPECT_EQ(types->Skip(2), S_FALSE);
    ASSERT_EQ(typesClone->Next(1, &mt, nullptr), S_OK);  // the last type
    DeleteMediaType(mt);
    EXPECT_EQ(typesClone->Next(1, &mt, nullptr), S_FALSE);
}

TEST_F(BaseClasses, AllocatorPoolsBlocksAndWakesWaitersOnDecommit) {
    HRESULT hr = S_OK;
    auto* raw = new CMemAllocator(NAME("test allocator"), nullptr, &hr);
    ComPtr<IMemAllocator> alloc;
    ASSERT_EQ(raw->NonDelegatingQueryInterface(IID_IMemAllocator, alloc.Out()), S_OK);
    ALLOCATOR_PROPERTIES request{2, 1000, 0, 0}, actual{};
    ASSERT_EQ(alloc->GetProperties(&actual), S_OK);
    EXPECT_EQ(actual.cBuffers + actual.cbBuffer + actual.cbAlign, 0);
    EXPECT_EQ(alloc->SetProperties(&request, &actual), VFW_E_BADALIGN);  // no alignment at all
    request.cbAlign = 16;
    ASSERT_EQ(alloc->SetProperties(&request, &actual), S_OK);
    EXPECT_EQ(actual.cBuffers, 2);
    EXPECT_GE(actual.cbBuffer, 1000);
    IMediaSample* sample = nullptr;
    EXPECT_EQ(alloc->GetBuffer(&sample, nullptr, nullptr, 0), VFW_E_NOT_COMMITTED);
    ASSERT_EQ(alloc->Commit(), S_OK);
    EXPECT_EQ(alloc->SetProperties(&request, &actual), VFW_E_ALREADY_COMMITTED);

    IMediaSample* a = nullptr;
    IMediaSample* b = nullptr;
    ASSERT_EQ(alloc->GetBuffer(&a, nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(alloc->GetBuffer(&b, nullptr, nullptr, 0), S_OK);
    BYTE* pa = nullptr;
    a->GetPointer(&pa);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(pa) % 16, 0u);
    // New samples are black, not old heap memory (the sanitizer build fills new memory, so
    // this is checked there for certain).
    BYTE* pbFirst = nullptr;
    b->GetPointer(&pbFirst);
    for (BYTE* p : {pa, pbFirst}) EXPECT_EQ(std::count(p, p + actual.cbBuffer, 0), actual.cbBuffer);
    EXPECT_EQ(alloc->GetBuffer(&sample, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);

    // Released samples come back: the same object is handed out again.
    a->Release();
    ASSERT_EQ(alloc->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(sample, a);
    sample->Release();

    // A waiter blocked on an empty pool wakes when the allocator is decommitted.
    a = nullptr;
    ASSERT_EQ(alloc->GetBuffer(&a, nullptr, nullptr, 0), S_OK);
    HRESULT waited = S_OK;
    std::thread waiter([&] {
        IMediaSample* s = nullptr;
        waited = alloc->GetBuffer(&s, nullptr, nullptr, 0);
        if (s) s->Release();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(alloc->Decommit(), S_OK);
    waiter.join();
    EXPECT_EQ(waited, VFW_E_NOT_COMMITTED);
    // Outstanding samples stay usable until they are released.
    BYTE* pb = nullptr;
    b->GetPointer(&pb);
    pb[0] = 1;
    a->Release();
    b->Release();
    EXPECT_EQ(raw->SamplesCreated(), 2);
}

// The grabber's pool: while readers hold every sample it makes another instead of stalling the
// producer, up to a limit; a new shape retires the samples still out once they come back.
TEST_F(BaseClasses, LendingPoolGrowsWhileSamplesAreHeldAndRetiresOldShapes) {
    HRESULT hr = S_OK;
    auto* raw = new dshow::LendingAllocator(NAME("test pool"), &hr);
    ComPtr<IMemAllocator> alloc;
    ASSERT_EQ(raw->NonDelegatingQueryInterface(IID_IMemAllocator, alloc.Out()), S_OK);
    ALLOCATOR_PROPERTIES request{2, 1000, 1, 0}, actual{};
    ASSERT_EQ(alloc->SetProperties(&request, &actual), S_OK);
    ASSERT_EQ(alloc->Commit(), S_OK);
    // Never fewer than a slow reader needs, all made at commit.
    EXPECT_EQ(actual.cBuffers, dshow::LendingAllocator::kLentSamples);
    EXPECT_EQ(raw->SamplesCreated(), dshow::LendingAllocator::kLentSamples);
    const LONG limit = actual.cBuffers + dshow::LendingAllocator::kExtraSamples;
    std::vector<IMediaSample*> held(static_cast<size_t>(limit), nullptr);
    for (IMediaSample*& s : held) ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(raw->SamplesCreated(), limit);
    IMediaSample* more = nullptr;
    EXPECT_EQ(alloc->GetBuffer(&more, nullptr, nullptr, AM_GBF_NOWAIT), VFW_E_TIMEOUT);
    held.back()->Release();
    ASSERT_EQ(alloc->GetBuffer(&more, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(more, held.back());
    EXPECT_EQ(more->GetSize(), 1000);
    held.back() = more;

    // Reshaped while samples are out: the old ones stay valid until released, new ones fit.
    ASSERT_EQ(alloc->Decommit(), S_OK);
    request.cbBuffer = 3000;
    ASSERT_EQ(alloc->SetProperties(&request, &actual), S_OK);
    ASSERT_EQ(alloc->Commit(), S_OK);
    ASSERT_EQ(alloc->GetBuffer(&more, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(more->GetSize(), 3000);
    BYTE* old = nullptr;
    held[0]->GetPointer(&old);
    old[999] = 1;
    for (IMediaSample* s : held) s->Release();
    more->Release();
    IMediaSample* again = nullptr;
    ASSERT_EQ(alloc->GetBuffer(&again, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(again->GetSize(), 3000);
    again->Release();
}

TEST_F(BaseClasses, SampleKeepsTimesFlagsAndLength) {
    HRESULT hr = S_OK;
    auto* raw = new CMemAllocator(NAME("test allocator"), nullptr, &hr);
    ComPtr<IMemAllocator> alloc;
    raw->NonDelegatingQueryInterface(IID_IMemAllocator, alloc.Out());
    ALLOCATOR_PROPERTIES request{1, 100, 1, 0}, actual{};
    alloc->SetProperties(&request, &actual);
    alloc->Commit();
    IMediaSample* s = nullptr;
    ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    REFERENCE_TIME start = 0, stop = 0;
    EXPECT_EQ(s->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
    start = 100;
    stop = 200;
    s->SetTime(&start, &stop);
    start = stop = 0;
    EXPECT_EQ(s->GetTime(&start, &stop), S_OK);
    EXPECT_EQ(start, 100);
    EXPECT_EQ(stop, 200);
    ComPtr<IMediaSample2> second;
    ASSERT_EQ(s->QueryInterface(IID_IMediaSample2, second.Out()), S_OK);
    AM_SAMPLE2_PROPERTIES props{};
    ASSERT_EQ(second->GetProperties(sizeof(props), reinterpret_cast<BYTE*>(&props)), S_OK);
    EXPECT_EQ(props.tStart, 100);
    EXPECT_EQ(props.dwSampleFlags & (AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID),
              static_cast<DWORD>(AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID));
    second.Reset();
    EXPECT_EQ(s->SetActualDataLength(101), VFW_E_BUFFER_OVERFLOW);
    EXPECT_EQ(s->SetActualDataLength(50), S_OK);
    EXPECT_EQ(s->GetActualDataLength(), 50);
    EXPECT_EQ(s->IsSyncPoint(), S_FALSE);
    s->SetSyncPoint(TRUE);
    EXPECT_EQ(s->IsSyncPoint(), S_OK);
    s->Release();
    // Reused: the previous use's properties are gone.
    ASSERT_EQ(alloc->GetBuffer(&s, nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(s->IsSyncPoint(), S_FALSE);
    EXPECT_EQ(s->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
    EXPECT_EQ(s->GetActualDataLength(), s->GetSize());
    s->Release();
    alloc->Decommit();
}

TEST_F(BaseClasses, AutomationStringsAndVariants) {
    BSTR s = SysAllocString(L"FriendlyName");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(SysStringLen(s), 12u);
    BSTR withZero = SysAllocStringLen(L"a\0b", 3);
    EXPECT_EQ(SysStringLen(withZero), 3u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    VARIANT v, w;
    VariantInit(&v);
    VariantInit(&w);
    v.vt = VT_BSTR;
    v.bstrVal = s;
    ASSERT_EQ(VariantCopy(&w, &v), S_OK);
    EXPECT_NE(w.bstrVal, v.bstrVal);
    EXPECT_EQ(std::wcscmp(w.bstrVal, L"FriendlyName"), 0);
    EXPECT_EQ(VariantClear(&v), S_OK);
    EXPECT_EQ(v.vt, VT_EMPTY);
    EXPECT_EQ(VariantClear(&w), S_OK);
    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
    SysFreeString(withZero);
    SysFreeString(nullptr);
}

}  // namespace
}  // namespace lumacap::test
