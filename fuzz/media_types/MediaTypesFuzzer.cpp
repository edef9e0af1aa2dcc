// Media types offered to pins during connection: format blocks short, huge, mismatched with their
// format type, or describing impossible pictures and sounds. A source of ours offers them to the
// input pins of every filter the platform and the library provide (directly and through
// intelligent connect), and, once connected, pushes a sample of any length through; a sink of ours
// offers them to the recorder's frame source. Nothing may crash, and what connects must stream or
// refuse cleanly.
//
// Input: which filter, how to connect, then one to four media types, each built from choices of
// major type, subtype, format type and a format block (a video or sound header with fields of
// any value, or raw bytes) cut or padded to a chosen length; then the sample's bytes.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <dshow.h>
#include <dshowasf.h>
#include <lumacap/lumacap.h>
#include <lumacap/sim.h>
#include <mmreg.h>
#include <qedit.h>
#include <rotatefilter.h>
#include <streams.h>

#include "common/FuzzSupport.h"
#include "framesource/VideoMergeFilter.h"

namespace {

using namespace lumacap;

// {5E0B7C41-2D9A-4F3E-A1B6-7C8D9E0F1A2B}, {5E0B7C42-...}: the fuzz source and sink.
constexpr GUID CLSID_FuzzSource = {
    0x5E0B7C41, 0x2D9A, 0x4F3E, {0xA1, 0xB6, 0x7C, 0x8D, 0x9E, 0x0F, 0x1A, 0x2B}};
constexpr GUID CLSID_FuzzSink = {
    0x5E0B7C42, 0x2D9A, 0x4F3E, {0xA1, 0xB6, 0x7C, 0x8D, 0x9E, 0x0F, 0x1A, 0x2B}};

const GUID kMajors[] = {MEDIATYPE_Video, MEDIATYPE_Audio, MEDIATYPE_Stream, GUID_NULL};
const GUID kSubtypes[] = {
    MEDIASUBTYPE_RGB24, MEDIASUBTYPE_RGB32, MEDIASUBTYPE_RGB565, MEDIASUBTYPE_RGB555,
    MEDIASUBTYPE_RGB8,  MEDIASUBTYPE_YUY2,  MEDIASUBTYPE_MJPG,   MEDIASUBTYPE_PCM,
    MEDIASUBTYPE_Avi,   GUID_NULL};
const GUID kFormatTypes[] = {FORMAT_VideoInfo, FORMAT_VideoInfo2, FORMAT_WaveFormatEx, FORMAT_None,
                             GUID_NULL};

GUID PickGuid(fuzz::FuzzInput& in, const GUID* list, uint32_t count) {
    const uint32_t i = in.Pick(count + 1);
    if (i < count) return list[i];
    GUID g;
    g.Data1 = in.Dword();
    g.Data2 = in.Word();
    g.Data3 = in.Word();
    for (auto& b : g.Data4) b = in.Byte();
    return g;
}

LONG Dimension(fuzz::FuzzInput& in) {
    static const LONG kExtremes[] = {0, 1, -1, 2, 3, 65535, -65536, 0x7FFFFFFF, -0x7FFFFFFF - 1};
    if (in.Byte() < 40) return kExtremes[in.Pick(9)];
    return in.Range(-64, 1920);
}

BITMAPINFOHEADER Bitmap(fuzz::FuzzInput& in) {
    static const WORD kBits[] = {0, 1, 4, 8, 12, 15, 16, 24, 32, 48};
    static const DWORD kCompressions[] = {BI_RGB, BI_BITFIELDS, 0x32595559 /* YUY2 */,
                                          0x47504A4D /* MJPG */, 0xFFFFFFFF};
    BITMAPINFOHEADER h{};
    h.biSize = in.Flag() ? sizeof(BITMAPINFOHEADER) : in.Dword();
    h.biWidth = Dimension(in);
    h.biHeight = Dimension(in);
    h.biPlanes = in.Flag() ? 1 : in.Word();
    h.biBitCount = in.Byte() < 200 ? kBits[in.Pick(10)] : in.Word();
    h.biCompression = kCompressions[in.Pick(5)];
    h.biSizeImage = in.Flag() ? 0 : in.Dword();
    h.biClrUsed = in.Byte() < 200 ? 0 : in.Dword();
    return h;
}

// A format block: a header of the kind the input chooses (not necessarily the kind the format
// type says), cut or padded to a length the input chooses.
std::vector<BYTE> FormatBlock(fuzz::FuzzInput& in) {
    std::vector<BYTE> block;
    switch (in.Pick(4)) {
        case 0: {
            VIDEOINFOHEADER vih{};
            vih.AvgTimePerFrame = in.Flag() ? 333333 : static_cast<REFERENCE_TIME>(in.Dword());
            vih.bmiHeader = Bitmap(in);
            block.assign(reinterpret_cast<BYTE*>(&vih), reinterpret_cast<BYTE*>(&vih + 1));
            break;
        }
        case 1: {
            VIDEOINFOHEADER2 vih2{};
            vih2.AvgTimePerFrame = static_cast<REFERENCE_TIME>(in.Dword());
            vih2.bmiHeader = Bitmap(in);
            block.assign(reinterpret_cast<BYTE*>(&vih2), reinterpret_cast<BYTE*>(&vih2 + 1));
            break;
        }
        case 2: {
            WAVEFORMATEX wf{};
            wf.wFormatTag = in.Flag() ? WAVE_FORMAT_PCM : in.Word();
            wf.nChannels = static_cast<WORD>(in.Range(0, 9));
            wf.nSamplesPerSec = in.Flag() ? 11025 : in.Dword();
            wf.wBitsPerSample = static_cast<WORD>(in.Flag() ? 16 : in.Range(0, 64));
            wf.nBlockAlign = in.Word();
            wf.nAvgBytesPerSec = in.Dword();
            wf.cbSize = in.Word();
            block.assign(reinterpret_cast<BYTE*>(&wf), reinterpret_cast<BYTE*>(&wf + 1));
            break;
        }
        default:
            block = in.Bytes(in.Range(0, 256));
            break;
    }
    switch (in.Pick(5)) {
        case 0:
            block.clear();
            break;
        case 1:
            block.resize(block.size() / 2);
            break;
        case 2:
            if (!block.empty()) block.pop_back();
            break;
        case 3:
            block.resize(block.size() + static_cast<size_t>(in.Range(1, in.Flag() ? 65536 : 64)));
            break;
        default:
            break;  // as built
    }
    return block;
}

std::vector<CMediaType> ReadTypes(fuzz::FuzzInput& in) {
    std::vector<CMediaType> types(1 + in.Pick(4));
    for (CMediaType& mt : types) {
        mt.majortype = PickGuid(in, kMajors, 4);
        mt.subtype = PickGuid(in, kSubtypes, 10);
        mt.formattype = PickGuid(in, kFormatTypes, 5);
        mt.bFixedSizeSamples = in.Flag();
        mt.bTemporalCompression = in.Flag();
        mt.lSampleSize = in.Flag() ? 0 : in.Dword();
        std::vector<BYTE> block = FormatBlock(in);
        mt.SetFormat(block.data(), static_cast<ULONG>(block.size()));
    }
    return types;
}

// ---- a source that offers the types -------------------------------------------------------------

class FuzzSourcePin final : public CBaseOutputPin {
public:
    FuzzSourcePin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                  const std::vector<CMediaType>& types)
        : CBaseOutputPin(NAME("Fuzz source pin"), filter, lock, phr, L"Out"), m_types(types) {}

    HRESULT CheckMediaType(const CMediaType* pmt) override {
        for (const CMediaType& mt : m_types)
            if (mt == *pmt) return S_OK;
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int i, CMediaType* pmt) override {
        if (i < 0) return E_INVALIDARG;
        if (i >= static_cast<int>(m_types.size())) return VFW_S_NO_MORE_ITEMS;
        *pmt = m_types[static_cast<size_t>(i)];
        return S_OK;
    }
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
        ALLOCATOR_PROPERTIES want = *request;
        want.cBuffers = want.cBuffers > 0 ? want.cBuffers : 1;
        // Whatever the type claims, samples here are at most this large.
        want.cbBuffer = std::min<long>(std::max<long>(want.cbBuffer, 1 << 16), 8 << 20);
        if (want.cbAlign <= 0) want.cbAlign = 1;
        ALLOCATOR_PROPERTIES actual{};
        return alloc->SetProperties(&want, &actual);
    }

private:
    std::vector<CMediaType> m_types;
};

class FuzzSource final : public CBaseFilter {
public:
    FuzzSource(const std::vector<CMediaType>& types, HRESULT* phr)
        : CBaseFilter(NAME("Fuzz source"), nullptr, &m_lock, CLSID_FuzzSource),
          m_pin(this, &m_lock, phr, types) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_pin : nullptr; }
    FuzzSourcePin& Pin() { return m_pin; }

private:
    CCritSec m_lock;
    FuzzSourcePin m_pin;
};

// ---- a sink that offers the types ---------------------------------------------------------------

class FuzzSinkPin final : public CBaseInputPin {
public:
    FuzzSinkPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr,
                const std::vector<CMediaType>& types, bool acceptAny)
        : CBaseInputPin(NAME("Fuzz sink pin"), filter, lock, phr, L"In"),
          m_types(types),
          m_acceptAny(acceptAny) {}

    HRESULT CheckMediaType(const CMediaType* pmt) override {
        if (m_acceptAny) return S_OK;
        for (const CMediaType& mt : m_types)
            if (mt == *pmt) return S_OK;
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    HRESULT GetMediaType(int i, CMediaType* pmt) override {
        if (i < 0) return E_INVALIDARG;
        if (i >= static_cast<int>(m_types.size())) return VFW_S_NO_MORE_ITEMS;
        *pmt = m_types[static_cast<size_t>(i)];
        return S_OK;
    }
    STDMETHODIMP Receive(IMediaSample* sample) override {
        const HRESULT hr = CBaseInputPin::Receive(sample);
        if (hr != S_OK) return hr;
        // Whatever the connection says, the sample's bytes are all readable.
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const long length = sample->GetActualDataLength();
        unsigned sum = 0;
        for (long i = 0; i < length; i += 997) sum += data[i];
        m_checksum += sum;
        ++m_received;
        return S_OK;
    }
    STDMETHODIMP EndOfStream() override { return S_OK; }
    std::atomic<long> m_received{0};

private:
    std::vector<CMediaType> m_types;
    bool m_acceptAny;
    std::atomic<unsigned> m_checksum{0};
};

class FuzzSink final : public CBaseFilter {
public:
    FuzzSink(const std::vector<CMediaType>& types, bool acceptAny, HRESULT* phr)
        : CBaseFilter(NAME("Fuzz sink"), nullptr, &m_lock, CLSID_FuzzSink),
          m_pin(this, &m_lock, phr, types, acceptAny) {}
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &m_pin : nullptr; }
    FuzzSinkPin& Pin() { return m_pin; }

private:
    CCritSec m_lock;
    FuzzSinkPin m_pin;
};

// ---- graphs -------------------------------------------------------------------------------------

template <class T>
struct Ref {
    T* p = nullptr;
    ~Ref() {
        if (p) p->Release();
    }
    void** Out() { return reinterpret_cast<void**>(&p); }
};

IPin* PinOf(IBaseFilter* filter, PIN_DIRECTION direction, int skip = 0) {
    IEnumPins* pins = nullptr;
    if (FAILED(filter->EnumPins(&pins)) || !pins) return nullptr;
    IPin* pin = nullptr;
    IPin* found = nullptr;
    while (!found && pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_DIRECTION d;
        if (SUCCEEDED(pin->QueryDirection(&d)) && d == direction && skip-- == 0)
            found = pin;
        else
            pin->Release();
    }
    pins->Release();
    return found;
}

void SetOutputFile(IBaseFilter* filter, const char* name) {
    Ref<IFileSinkFilter> sink;
    if (FAILED(filter->QueryInterface(IID_IFileSinkFilter, sink.Out()))) return;
    const std::string path = fuzz::ScratchDirectory() + "/" + name;
    std::wstring wide(path.begin(), path.end());
    sink.p->SetFileName(wide.c_str(), nullptr);
}

struct Target {
    const GUID* clsid;
    int inputPin;
};

const Target kTargets[] = {
    {&CLSID_SampleGrabber, 0}, {&CLSID_Colour, 0},       {&CLSID_MjpegDec, 0},
    {&CLSID_RotateFilter, 0},  {&CLSID_NullRenderer, 0}, {&CLSID_VideoRenderer, 0},
    {&CLSID_SmartTee, 0},      {&CLSID_AviDest, 0},      {&CLSID_FileWriter, 0},
    {&CLSID_WMAsfWriter, 0},   {&CLSID_WMAsfWriter, 1},  {nullptr, 0},  // compressors follow
};
constexpr uint32_t kTargetCount = sizeof(kTargets) / sizeof(kTargets[0]);

// The platform's filter for a target, with whatever else it needs to run (a file, a renderer).
IBaseFilter* Create(uint32_t which, fuzz::FuzzInput& in, IGraphBuilder* graph) {
    IBaseFilter* filter = nullptr;
    if (kTargets[which].clsid) {
        CoCreateInstance(*kTargets[which].clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                         reinterpret_cast<void**>(&filter));
    } else {
        // One of the video compressors, as the recorder finds them.
        static const wchar_t* const kNames[] = {L"MJPEG Compressor", L"MPEG-4 Video Compressor",
                                                L"H.264 Video Compressor",
                                                L"Ut Video Lossless Compressor"};
        const wchar_t* name = kNames[in.Pick(4)];
        ICreateDevEnum* devices = nullptr;
        IEnumMoniker* monikers = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_ICreateDevEnum, reinterpret_cast<void**>(&devices))) &&
            devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, &monikers, 0) == S_OK) {
            IMoniker* moniker = nullptr;
            while (!filter && monikers->Next(1, &moniker, nullptr) == S_OK) {
                IPropertyBag* bag = nullptr;
                VARIANT v;
                VariantInit(&v);
                if (SUCCEEDED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                                     reinterpret_cast<void**>(&bag))) &&
                    SUCCEEDED(bag->Read(L"FriendlyName", &v, nullptr)) && v.vt == VT_BSTR &&
                    std::wcscmp(v.bstrVal, name) == 0)
                    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                          reinterpret_cast<void**>(&filter));
                VariantClear(&v);
                if (bag) bag->Release();
                moniker->Release();
            }
        }
        if (monikers) monikers->Release();
        if (devices) devices->Release();
    }
    if (!filter) return nullptr;
    if (kTargets[which].clsid == &CLSID_SampleGrabber && in.Flag()) {
        ISampleGrabber* grabber = nullptr;
        if (SUCCEEDED(
                filter->QueryInterface(IID_ISampleGrabber, reinterpret_cast<void**>(&grabber)))) {
            AM_MEDIA_TYPE mt{};
            mt.majortype = MEDIATYPE_Video;
            mt.subtype = MEDIASUBTYPE_RGB24;
            grabber->SetMediaType(&mt);
            grabber->SetBufferSamples(TRUE);
            grabber->Release();
        }
    }
    graph->AddFilter(filter, L"Target");
    if (kTargets[which].clsid == &CLSID_FileWriter || kTargets[which].clsid == &CLSID_WMAsfWriter)
        SetOutputFile(filter, kTargets[which].clsid == &CLSID_FileWriter ? "raw.bin" : "out.asf");
    if (kTargets[which].clsid == &CLSID_AviDest) {
        Ref<IBaseFilter> writer;
        if (SUCCEEDED(CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IBaseFilter, writer.Out()))) {
            graph->AddFilter(writer.p, L"File Writer");
            Ref<IPin> out, in2;
            out.p = PinOf(filter, PINDIR_OUTPUT);
            in2.p = PinOf(writer.p, PINDIR_INPUT);
            if (out.p && in2.p) graph->Connect(out.p, in2.p);
            SetOutputFile(writer.p, "out.avi");
        }
    }
    return filter;
}

// Our source into a platform filter; a sample of the input's bytes if they connect.
void SourceCase(fuzz::FuzzInput& in, IGraphBuilder* graph, IMediaControl* control) {
    const uint32_t which = in.Pick(kTargetCount);
    const bool direct = in.Flag();
    HRESULT hr = S_OK;
    auto* source = new FuzzSource(ReadTypes(in), &hr);
    source->NonDelegatingAddRef();
    graph->AddFilter(source, L"Source");
    Ref<IBaseFilter> target;
    target.p = Create(which, in, graph);
    Ref<IPin> input;
    if (target.p) input.p = PinOf(target.p, PINDIR_INPUT, kTargets[which].inputPin);
    IPin* output = &source->Pin();
    bool connected = false;
    if (input.p) {
        if (direct) {
            for (int i = 0; !connected; ++i) {
                CMediaType mt;
                if (source->Pin().GetMediaType(i, &mt) != S_OK) break;
                connected = SUCCEEDED(graph->ConnectDirect(output, input.p, &mt));
            }
        } else {
            connected = SUCCEEDED(graph->Connect(output, input.p));
        }
    }
    if (connected) {
        // Whatever the target passes on goes to a renderer, if anything takes it.
        Ref<IBaseFilter> renderer;
        Ref<IPin> next, rendererIn;
        next.p = PinOf(target.p, PINDIR_OUTPUT);
        if (next.p && SUCCEEDED(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                                 IID_IBaseFilter, renderer.Out()))) {
            graph->AddFilter(renderer.p, L"Renderer");
            rendererIn.p = PinOf(renderer.p, PINDIR_INPUT);
            graph->Connect(next.p, rendererIn.p);
        }
        if (SUCCEEDED(control->Run())) {
            for (int samples = 0; samples < 3 && !in.Empty(); ++samples) {
                IMediaSample* sample = nullptr;
                if (FAILED(source->Pin().GetDeliveryBuffer(&sample, nullptr, nullptr, 0))) break;
                BYTE* data = nullptr;
                sample->GetPointer(&data);
                const std::vector<uint8_t> bytes = in.Bytes(static_cast<size_t>(sample->GetSize()));
                if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
                sample->SetActualDataLength(static_cast<long>(bytes.size()));
                sample->SetSyncPoint(TRUE);
                source->Pin().Deliver(sample);
                sample->Release();
            }
            source->Pin().DeliverEndOfStream();
        }
        control->Stop();
    }
    graph->RemoveFilter(source);
    source->NonDelegatingRelease();
}

// A sink of ours offered to the recorder's frame source; a few frames if they connect.
void SinkCase(fuzz::FuzzInput& in, IGraphBuilder* graph, IMediaControl* control) {
    CDXRecorder recorder;
    const int width = in.Range(-2, 400);
    recorder.SetVideoSize(width, in.Range(-2, 300));
    recorder.AddWindowSource(nullptr, RECT{0, 0, 64, 64});
    HRESULT hr = S_OK;
    auto* merge = new CVideoMergeFilter(nullptr, &hr);
    merge->NonDelegatingAddRef();
    merge->SetRecorder(&recorder);
    merge->SetFrameRate(30);
    const bool direct = in.Flag();
    const std::vector<CMediaType> types = ReadTypes(in);
    auto* sink = new FuzzSink(types, in.Flag(), &hr);
    sink->NonDelegatingAddRef();
    graph->AddFilter(merge, L"VideoMergeFilter");
    graph->AddFilter(sink, L"Sink");
    bool connected = false;
    if (direct) {
        for (int i = 0; !connected; ++i) {
            CMediaType mt;
            if (sink->Pin().GetMediaType(i, &mt) != S_OK) break;
            connected = SUCCEEDED(graph->ConnectDirect(merge->Pin(), &sink->Pin(), &mt));
        }
    } else {
        connected = SUCCEEDED(graph->Connect(merge->Pin(), &sink->Pin()));
    }
    if (connected && SUCCEEDED(control->Run())) {
        sim::PumpMessagesUntil([&] { return sink->Pin().m_received >= 2; }, 2000);
        control->Stop();
    }
    graph->RemoveFilter(sink);
    graph->RemoveFilter(merge);
    sink->NonDelegatingRelease();
    merge->NonDelegatingRelease();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::InitializeMachine();
    // Frames are held until due by the manual clock, which moves on at once.
    sim::UseManualClock(2024, 3, 5, 12, 0, 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const long objects = sim::LiveObjects();
    {
        fuzz::FuzzInput in(data, size);
        Ref<IGraphBuilder> graph;
        Ref<IMediaControl> control;
        if (FAILED(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IGraphBuilder, graph.Out())) ||
            FAILED(graph.p->QueryInterface(IID_IMediaControl, control.Out())))
            std::abort();
        if (in.Byte() < 220)
            SourceCase(in, graph.p, control.p);
        else
            SinkCase(in, graph.p, control.p);
    }
    if (!sim::PumpMessagesUntil([&] { return sim::LiveObjects() == objects; }, 5000)) {
        std::fprintf(stderr, "media_types: objects %ld -> %ld\n", objects, sim::LiveObjects());
        std::abort();
    }
    return 0;
}
