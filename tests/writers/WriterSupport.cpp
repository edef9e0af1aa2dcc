// File writer test support: scripted sources, running ffprobe and ffmpeg, and reading their output.
#include "writers/WriterSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include <lumacap/sim.h>

#include "devices/Devices.h"
#include "platform/system/hw/TestPattern.h"

namespace lumacap::test {
namespace {

// {D9E2F0A1-6B3C-4C55-8E1A-3F4B5C6D7E81}
constexpr GUID CLSID_ScriptedSource = {
    0xD9E2F0A1, 0x6B3C, 0x4C55, {0x8E, 0x1A, 0x3F, 0x4B, 0x5C, 0x6D, 0x7E, 0x81}};

class ScriptedSourceFilter;

class ScriptedPin final : public CSourceStream {
public:
    ScriptedPin(HRESULT* phr, CSource* filter, const SourceScript& script)
        : CSourceStream(NAME("Scripted source pin"), phr, filter, L"Out"), m_script(script) {}

    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override {
        if (iPosition < 0) return E_INVALIDARG;
        if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
        pmt->InitMediaType();
        pmt->SetType(&MEDIATYPE_Video);
        pmt->SetSubtype(m_script.rgb32 ? &MEDIASUBTYPE_RGB32 : &MEDIASUBTYPE_RGB24);
        pmt->SetFormatType(&FORMAT_VideoInfo);
        VIDEOINFOHEADER vih{};
        vih.AvgTimePerFrame = m_script.typeFrameLength;
        vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih.bmiHeader.biWidth = m_script.width;
        vih.bmiHeader.biHeight = m_script.topDown ? -m_script.height : m_script.height;
        vih.bmiHeader.biPlanes = 1;
        vih.bmiHeader.biBitCount = m_script.rgb32 ? 32 : 24;
        vih.bmiHeader.biCompression = BI_RGB;
        vih.bmiHeader.biSizeImage = GetBitmapSize(&vih.bmiHeader);
        pmt->SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof(vih));
        pmt->SetSampleSize(vih.bmiHeader.biSizeImage);
        return S_OK;
    }
    HRESULT CheckMediaType(const CMediaType* pmt) override {
        CMediaType mine;
        GetMediaType(0, &mine);
        return mine == *pmt ? S_OK : E_FAIL;
    }
    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* request) override {
        ALLOCATOR_PROPERTIES want = *request;
        want.cBuffers = 2;
        want.cbBuffer = static_cast<long>(m_mt.GetSampleSize());
        if (want.cbAlign <= 0) want.cbAlign = 1;
        ALLOCATOR_PROPERTIES actual{};
        return alloc->SetProperties(&want, &actual);
    }

    HRESULT FillBuffer(IMediaSample* sample) override {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const size_t i = m_next;
        if (m_picture.empty()) {
            m_renderer.Configure(AV_PIX_FMT_BGR24, false, m_script.width, m_script.height,
                                 hw::PatternAdjust{});
            m_picture.resize(static_cast<size_t>(m_renderer.MaxSize()));
        }
        m_renderer.Render(static_cast<long>(i), m_picture.data(),
                          static_cast<long>(m_picture.size()));
        if (m_script.noise > 0) {
            // Below the stamp (the top sixth of the picture, the last rows in memory).
            const size_t stampRows = static_cast<size_t>(m_script.height / 6 + 2);
            const size_t stride24 = static_cast<size_t>((m_script.width * 3 + 3) & ~3);
            const size_t end = m_picture.size() - stampRows * stride24;
            for (size_t p = 0; p < end; ++p) {
                m_seed ^= m_seed << 13;
                m_seed ^= m_seed >> 17;
                m_seed ^= m_seed << 5;
                const int grain =
                    static_cast<int>(m_seed % (2 * m_script.noise + 1)) - m_script.noise;
                m_picture[p] = static_cast<uint8_t>(std::clamp(m_picture[p] + grain, 0, 255));
            }
        }
        const std::vector<uint8_t>& picture = m_picture;
        const size_t stride24 = static_cast<size_t>((m_script.width * 3 + 3) & ~3);
        const size_t stride = m_script.rgb32 ? static_cast<size_t>(m_script.width) * 4 : stride24;
        for (int row = 0; row < m_script.height; ++row) {
            // Bottom-up rows unless the type says top-down.
            const int target = m_script.topDown ? m_script.height - 1 - row : row;
            const uint8_t* src = picture.data() + static_cast<size_t>(row) * stride24;
            uint8_t* dst = data + static_cast<size_t>(target) * stride;
            if (!m_script.rgb32) {
                std::memcpy(dst, src, stride24);
            } else {
                for (int x = 0; x < m_script.width; ++x) {
                    dst[x * 4] = src[x * 3];
                    dst[x * 4 + 1] = src[x * 3 + 1];
                    dst[x * 4 + 2] = src[x * 3 + 2];
                    dst[x * 4 + 3] = 255;
                }
            }
        }
        sample->SetActualDataLength(static_cast<long>(m_mt.GetSampleSize()));
        REFERENCE_TIME start = m_script.starts[i];
        REFERENCE_TIME stop = start + m_script.frameLength;
        sample->SetTime(&start, &stop);
        sample->SetSyncPoint(TRUE);
        return S_OK;
    }

    HRESULT DoBufferProcessingLoop() override {
        Command com;
        for (;;) {
            if (CheckRequest(&com)) {
                if (com == CMD_RUN || com == CMD_PAUSE) {
                    Reply(NOERROR);
                    continue;
                }
                return S_OK;
            }
            if (m_next >= m_script.starts.size()) {
                if (m_script.endOfStream && !m_eosSent) {
                    m_eosSent = true;
                    DeliverEndOfStream();
                }
                WaitForRequest(20);
                continue;
            }
            IMediaSample* sample = nullptr;
            if (FAILED(GetDeliveryBuffer(&sample, nullptr, nullptr, 0)) || !sample) {
                WaitForRequest(5);
                continue;
            }
            FillBuffer(sample);
            const HRESULT hr = Deliver(sample);
            sample->Release();
            if (hr != S_OK) return S_OK;
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                ++m_next;
            }
            m_cv.notify_all();
        }
    }

    bool WaitForAll(int timeoutMs) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return m_next >= m_script.starts.size(); });
    }

private:
    SourceScript m_script;
    hw::FrameRenderer m_renderer;
    std::vector<uint8_t> m_picture;
    uint32_t m_seed = 2463534242u;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    size_t m_next = 0;
    bool m_eosSent = false;
};

class ScriptedSourceFilter final : public CSource {
public:
    explicit ScriptedSourceFilter(const SourceScript& script, HRESULT* phr)
        : CSource(NAME("Scripted source"), nullptr, CLSID_ScriptedSource),
          m_pin(phr, this, script) {}
    ScriptedPin& Pin() { return m_pin; }

private:
    ScriptedPin m_pin;
};

std::string Quote(const std::string& path) {
    return "'" + path + "'";
}

std::string RunText(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

std::string Tool(const char* name) {
    if (std::strcmp(name, "ffprobe") == 0) {
        const char* env = std::getenv("LUMACAP_TEST_FFPROBE");
        if (env && *env) return env;
    }
    return name;
}

}  // namespace

std::vector<REFERENCE_TIME> RegularStarts(int frames, REFERENCE_TIME frameLength) {
    std::vector<REFERENCE_TIME> starts;
    for (int i = 0; i < frames; ++i) starts.push_back(i * frameLength);
    return starts;
}

IBaseFilter* CreateScriptedSource(const SourceScript& script) {
    HRESULT hr = S_OK;
    auto* filter = new ScriptedSourceFilter(script, &hr);
    filter->NonDelegatingAddRef();
    IBaseFilter* out = nullptr;
    filter->NonDelegatingQueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&out));
    filter->NonDelegatingRelease();
    return out;
}

bool WaitForScript(IBaseFilter* source, int timeoutMs) {
    auto* filter = dynamic_cast<ScriptedSourceFilter*>(source);
    return filter && filter->Pin().WaitForAll(timeoutMs);
}

std::vector<uint8_t> ScriptPicture(int width, int height, long n) {
    hw::FrameRenderer renderer;
    renderer.Configure(AV_PIX_FMT_BGR24, false, width, height, hw::PatternAdjust{});
    std::vector<uint8_t> picture(static_cast<size_t>(renderer.MaxSize()));
    renderer.Render(n, picture.data(), static_cast<long>(picture.size()));
    return picture;
}

std::map<std::string, std::string> Probe(const std::string& path) {
    std::map<std::string, std::string> out;
    std::istringstream text(
        RunText(Tool("ffprobe") + " -v error -show_streams -show_format -of flat " + Quote(path)));
    std::string line;
    while (std::getline(text, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        out[line.substr(0, eq)] = value;
    }
    return out;
}

std::string Field(const std::map<std::string, std::string>& probe, const std::string& key) {
    auto it = probe.find(key);
    return it == probe.end() ? std::string() : it->second;
}

double NumberField(const std::map<std::string, std::string>& probe, const std::string& key) {
    const std::string value = Field(probe, key);
    return value.empty() ? -1.0 : std::atof(value.c_str());
}

std::vector<PacketInfo> Packets(const std::string& path, int stream) {
    std::vector<PacketInfo> out;
    std::istringstream text(
        RunText(Tool("ffprobe") + " -v error -select_streams " + std::to_string(stream) +
                " -show_entries packet=dts,size,flags -of csv=p=0 " + Quote(path)));
    std::string line;
    while (std::getline(text, line)) {
        long long dts = 0;
        long size = 0;
        char flags[8] = {};
        if (std::sscanf(line.c_str(), "%lld,%ld,%7s", &dts, &size, flags) >= 2)
            out.push_back({dts, size, flags[0] == 'K'});
    }
    return out;
}

namespace {

std::vector<std::vector<uint8_t>> SplitPictures(const std::string& raw, int width, int height) {
    const size_t tight = static_cast<size_t>(width) * 3;
    const size_t stride = (tight + 3) & ~static_cast<size_t>(3);
    const size_t frameBytes = tight * static_cast<size_t>(height);
    std::vector<std::vector<uint8_t>> pictures;
    for (size_t offset = 0; offset + frameBytes <= raw.size(); offset += frameBytes) {
        std::vector<uint8_t> picture(stride * static_cast<size_t>(height), 0);
        // ffmpeg writes the top row first; the library's pictures start at the bottom.
        for (int row = 0; row < height; ++row)
            std::memcpy(picture.data() + static_cast<size_t>(height - 1 - row) * stride,
                        raw.data() + offset + static_cast<size_t>(row) * tight, tight);
        pictures.push_back(std::move(picture));
    }
    return pictures;
}

}  // namespace

std::vector<std::vector<uint8_t>> DecodePictures(const std::string& path, int width, int height,
                                                 int stream) {
    return SplitPictures(RunText(Tool("ffmpeg") + " -v error -i " + Quote(path) +
                                 " -map 0:" + std::to_string(stream) +
                                 " -fps_mode passthrough -f rawvideo -pix_fmt bgr24 -"),
                         width, height);
}

std::vector<std::vector<uint8_t>> DecodePicturesAt(const std::string& path, int width, int height,
                                                   double seconds, int count) {
    char position[32];
    std::snprintf(position, sizeof(position), "%.3f", seconds);
    return SplitPictures(RunText(Tool("ffmpeg") + " -v error -ss " + position + " -i " +
                                 Quote(path) + " -map 0:v:0 -frames:v " + std::to_string(count) +
                                 " -fps_mode passthrough -f rawvideo -pix_fmt bgr24 -"),
                         width, height);
}

std::vector<long> DecodedFrameNumbers(const std::string& path, int width, int height, int stream) {
    std::vector<long> numbers;
    for (const auto& picture : DecodePictures(path, width, height, stream))
        numbers.push_back(sim::ReadFrameNumber(picture.data(), width, height));
    return numbers;
}

std::vector<int16_t> DecodeAudio(const std::string& path, int stream) {
    const std::string raw = RunText(Tool("ffmpeg") + " -v error -i " + Quote(path) +
                                    " -map 0:" + std::to_string(stream) + " -f s16le -ac 1 -");
    std::vector<int16_t> samples(raw.size() / 2);
    if (!samples.empty()) std::memcpy(samples.data(), raw.data(), samples.size() * 2);
    return samples;
}

// Chooses 11,025 Hz 16-bit mono among the pin's types and suggests six buffers of 1,024 samples.
void ChooseVoiceFormat(IPin* pin) {
    ComPtr<IEnumMediaTypes> types;
    ASSERT_EQ(pin->EnumMediaTypes(&types), S_OK);
    AM_MEDIA_TYPE* chosen = nullptr;
    AM_MEDIA_TYPE* mt = nullptr;
    while (!chosen && types->Next(1, &mt, nullptr) == S_OK) {
        const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt->pbFormat);
        if (mt->formattype == FORMAT_WaveFormatEx && mt->cbFormat == sizeof(WAVEFORMATEX) &&
            wfx->nSamplesPerSec == 11025 && wfx->wBitsPerSample == 16 && wfx->nChannels == 1)
            chosen = mt;
        else
            DeleteMediaType(mt);
    }
    ASSERT_NE(chosen, nullptr);
    ComPtr<IAMBufferNegotiation> negotiation;
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(pin->QueryInterface(IID_IAMBufferNegotiation, negotiation.Out()), S_OK);
    ASSERT_EQ(pin->QueryInterface(IID_IAMStreamConfig, config.Out()), S_OK);
    ALLOCATOR_PROPERTIES props{6, 2 * 1024, 2, 0};
    EXPECT_EQ(negotiation->SuggestAllocatorProperties(&props), S_OK);
    EXPECT_EQ(config->SetFormat(chosen), S_OK);
    DeleteMediaType(chosen);
}

IBaseFilter* CreateFilter(REFCLSID clsid) {
    IBaseFilter* filter = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                reinterpret_cast<void**>(&filter))))
        return nullptr;
    return filter;
}

IPin* PinNamed(IBaseFilter* filter, const wchar_t* name) {
    IPin* pin = nullptr;
    return SUCCEEDED(filter->FindPin(name, &pin)) ? pin : nullptr;
}

std::vector<std::wstring> PinNames(IBaseFilter* filter) {
    std::vector<std::wstring> names;
    ComPtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(&pins))) return names;
    ComPtr<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK) {
        PIN_INFO info;
        pin->QueryPinInfo(&info);
        if (info.pFilter) info.pFilter->Release();
        names.push_back(info.achName);
    }
    return names;
}

HRESULT SetOutputFile(IBaseFilter* sink, const std::string& path) {
    ComPtr<IFileSinkFilter> fileSink;
    HRESULT hr = sink->QueryInterface(IID_IFileSinkFilter, fileSink.Out());
    if (FAILED(hr)) return hr;
    const std::wstring wide(path.begin(), path.end());
    return fileSink->SetFileName(wide.c_str(), nullptr);
}

long WaitForCompletion(IGraphBuilder* graph, int timeoutMs) {
    ComPtr<IMediaEventEx> events;
    if (FAILED(graph->QueryInterface(IID_IMediaEventEx, events.Out()))) return 0;
    long code = 0;
    return events->WaitForCompletion(timeoutMs, &code) == S_OK ? code : 0;
}

}  // namespace lumacap::test
