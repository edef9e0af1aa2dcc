// The WM ASF Writer (CLSID_WMAsfWriter): a sink that encodes what it receives to the streams of
// its Windows Media profile and writes an ASF file of its own. Each profile stream is an input pin
// ("Audio Input 01", "Video Input 01", ...); configuring another profile keeps the pins (and their
// connections) whose streams remain and removes the others, so pins may be connected before the
// profile is final. Video arrives uncompressed in any size and is scaled to the stream's size,
// placed in frame slots of the stream's frame time and encoded at its bit rate (Windows Media
// Video 8); PCM audio is resampled to the stream's format and encoded (Windows Media Audio 2).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <dshowasf.h>
#include <mmreg.h>
#include <streams.h>

#include "platform/system/codecs/Codecs.h"
#include "platform/system/codecs/Muxer.h"
#include "platform/system/codecs/StreamEncoders.h"
#include "platform/system/com/ClassRegistry.h"
#include "platform/system/dshow/FileSink.h"
#include "platform/system/dshow/WmProfile.h"
#include "platform/system/dshow/WriterTiming.h"
#include "platform/sim/Faults.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace lumacap::dshow {
namespace {

constexpr REFERENCE_TIME kDefaultFrameTime = 333333;

const VIDEOINFOHEADER* VideoInfo(const AM_MEDIA_TYPE& mt) {
    if (mt.formattype != FORMAT_VideoInfo || mt.cbFormat < sizeof(VIDEOINFOHEADER) || !mt.pbFormat)
        return nullptr;
    return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
}

const WAVEFORMATEX* WaveFormat(const AM_MEDIA_TYPE& mt) {
    if (mt.formattype != FORMAT_WaveFormatEx || mt.cbFormat < sizeof(WAVEFORMATEX) || !mt.pbFormat)
        return nullptr;
    return reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
}

// The encoder behind a profile stream's codec.
AVCodecID StreamCodec(const wm::StreamData& s) {
    if (s.type == WMMEDIATYPE_Video) {
        const VIDEOINFOHEADER* vih = VideoInfo(s.mediaType);
        if (!vih) return AV_CODEC_ID_NONE;
        const DWORD fourcc = vih->bmiHeader.biCompression;
        if (fourcc == 0x32564D57) return AV_CODEC_ID_WMV2;  // WMV2: Windows Media Video 8
        if (fourcc == 0x31564D57) return AV_CODEC_ID_WMV1;  // WMV1: Windows Media Video 7
        return AV_CODEC_ID_NONE;
    }
    if (s.type == WMMEDIATYPE_Audio) {
        const WAVEFORMATEX* wfx = WaveFormat(s.mediaType);
        if (!wfx) return AV_CODEC_ID_NONE;
        if (wfx->wFormatTag == WAVE_FORMAT_WMAUDIO2) return AV_CODEC_ID_WMAV2;
        if (wfx->wFormatTag == 0x0160) return AV_CODEC_ID_WMAV1;
    }
    return AV_CODEC_ID_NONE;
}

// What a profile stream asks of its encoder.
struct VideoTarget {
    int width = 0;
    int height = 0;
    REFERENCE_TIME frameTime = 0;
    int64_t bitRate = 0;
};
struct AudioTarget {
    int sampleRate = 0;
    int channels = 0;
    int64_t bitRate = 0;
};

VideoTarget VideoTargetOf(const wm::StreamData& s) {
    VideoTarget t;
    const VIDEOINFOHEADER* vih = VideoInfo(s.mediaType);
    t.width = vih->bmiHeader.biWidth;
    t.height = std::abs(vih->bmiHeader.biHeight);
    t.frameTime = vih->AvgTimePerFrame > 0 ? vih->AvgTimePerFrame : kDefaultFrameTime;
    t.bitRate = s.bitrate ? s.bitrate : vih->dwBitRate;
    return t;
}

AudioTarget AudioTargetOf(const wm::StreamData& s) {
    AudioTarget t;
    const WAVEFORMATEX* wfx = WaveFormat(s.mediaType);
    t.sampleRate = static_cast<int>(wfx->nSamplesPerSec);
    t.channels = wfx->nChannels;
    t.bitRate = s.bitrate ? s.bitrate : static_cast<int64_t>(wfx->nAvgBytesPerSec) * 8;
    return t;
}

// Whether the platform can encode a profile: its codecs exist and accept its sizes, rates and bit
// rates (each encoder is opened once to find out).
HRESULT ValidateProfile(const wm::ProfileData& profile) {
    if (profile.streams.empty()) return E_INVALIDARG;
    for (size_t i = 0; i < profile.streams.size(); ++i) {
        const wm::StreamData& s = profile.streams[i];
        if (s.number < 1 || s.number > 63) return E_INVALIDARG;
        for (size_t j = 0; j < i; ++j)
            if (profile.streams[j].number == s.number) return E_INVALIDARG;
        if (s.type != s.mediaType.majortype) return E_INVALIDARG;
        const AVCodecID codec = StreamCodec(s);
        if (s.type == WMMEDIATYPE_Video) {
            if (codec == AV_CODEC_ID_NONE) return VFW_E_UNSUPPORTED_VIDEO;
            const VideoTarget t = VideoTargetOf(s);
            if (t.width <= 0 || t.height <= 0 || t.width > 4096 || t.height > 4096 ||
                t.bitRate <= 0)
                return VFW_E_UNSUPPORTED_VIDEO;
            codecs::VideoStreamEncoder probe;
            if (probe.Open(codec, t.width, t.height, t.frameTime, t.bitRate) < 0)
                return VFW_E_UNSUPPORTED_VIDEO;
        } else if (s.type == WMMEDIATYPE_Audio) {
            if (codec == AV_CODEC_ID_NONE) return VFW_E_UNSUPPORTED_AUDIO;
            const AudioTarget t = AudioTargetOf(s);
            if (t.sampleRate <= 0 || t.channels < 1 || t.channels > 2 || t.bitRate <= 0)
                return VFW_E_UNSUPPORTED_AUDIO;
            codecs::AudioStreamEncoder probe;
            if (probe.Open(codec, t.sampleRate, t.channels, t.bitRate, t.sampleRate, t.channels,
                           16) < 0)
                return VFW_E_UNSUPPORTED_AUDIO;
        } else {
            return E_INVALIDARG;
        }
    }
    return S_OK;
}

class AsfWriter;

class AsfInputPin final : public CBaseInputPin {
public:
    AsfInputPin(AsfWriter* writer, CCritSec* lock, HRESULT* phr, LPCWSTR name, bool video,
                WORD stream);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP EndOfStream() override;

    bool IsVideo() const { return m_video; }
    WORD StreamNumber() const { return m_stream; }
    void SetStreamNumber(WORD stream) { m_stream = stream; }

private:
    AsfWriter* m_writer;
    bool m_video;
    WORD m_stream;
};

class AsfWriter final : public CBaseFilter,
                        public IFileSinkFilter,
                        public IConfigAsfWriter,
                        public IAMFilterMiscFlags {
public:
    explicit AsfWriter(HRESULT* phr)
        : CBaseFilter(NAME("WM ASF Writer"), nullptr, &m_lock, CLSID_WMAsfWriter, phr),
          m_name(MEDIATYPE_Stream, MEDIASUBTYPE_Asf),
          m_profile(wm::DefaultProfile()) {
        RebuildPins();
    }

    ~AsfWriter() override {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        FinishSessionLocked();
    }

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IFileSinkFilter) {
            LUMACAP_FAULT_POINT("IBaseFilter::QueryInterface");
            return GetInterface(static_cast<IFileSinkFilter*>(this), ppv);
        }
        if (riid == IID_IConfigAsfWriter) {
            LUMACAP_FAULT_POINT("IBaseFilter::QueryInterface");
            return GetInterface(static_cast<IConfigAsfWriter*>(this), ppv);
        }
        if (riid == IID_IAMFilterMiscFlags)
            return GetInterface(static_cast<IAMFilterMiscFlags*>(this), ppv);
        return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
    }

    int GetPinCount() override {
        CAutoLock lock(&m_lock);
        return static_cast<int>(m_pins.size());
    }
    CBasePin* GetPin(int n) override {
        CAutoLock lock(&m_lock);
        if (n < 0 || n >= static_cast<int>(m_pins.size())) return nullptr;
        return m_pins[static_cast<size_t>(n)].get();
    }

    STDMETHODIMP Pause() override {
        CAutoLock lock(&m_lock);
        if (m_State == State_Stopped) {
            const HRESULT hr = StartSession();
            if (FAILED(hr)) return hr;
        }
        {
            std::lock_guard<std::mutex> session(m_sessionMutex);
            m_running = false;
        }
        const HRESULT hr = CBaseFilter::Pause();
        if (FAILED(hr)) {
            std::lock_guard<std::mutex> session(m_sessionMutex);
            FinishSessionLocked();
        }
        return hr;
    }

    // Streams that all ended while the graph was still paused are reported when it runs.
    STDMETHODIMP Run(REFERENCE_TIME tStart) override {
        const HRESULT hr = CBaseFilter::Run(tStart);
        bool complete = false;
        if (SUCCEEDED(hr)) {
            std::lock_guard<std::mutex> session(m_sessionMutex);
            m_running = true;
            complete = std::exchange(m_completeWaiting, false);
        }
        if (complete) NotifyEvent(EC_COMPLETE, S_OK, 0);
        return hr;
    }

    STDMETHODIMP Stop() override {
        CAutoLock lock(&m_lock);
        HRESULT hr = CBaseFilter::Stop();
        std::lock_guard<std::mutex> session(m_sessionMutex);
        m_running = false;
        m_completeWaiting = false;
        const HRESULT finish = FinishSessionLocked();
        return SUCCEEDED(hr) ? finish : hr;
    }

    STDMETHODIMP_(ULONG) GetMiscFlags() override { return AM_FILTER_MISC_FLAGS_IS_RENDERER; }

    // IFileSinkFilter
    STDMETHODIMP SetFileName(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override {
        LUMACAP_FAULT_POINT("IFileSinkFilter::SetFileName");
        CAutoLock lock(&m_lock);
        if (m_State != State_Stopped) return VFW_E_WRONG_STATE;
        return m_name.Set(pszFileName, pmt);
    }
    STDMETHODIMP GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override {
        LUMACAP_FAULT_POINT("IFileSinkFilter::GetCurFile");
        return m_name.Get(ppszFileName, pmt);
    }

    // IConfigAsfWriter. Profiles are configured as objects; the system's numbered and GUID-named
    // profile catalogue is not installed.
    STDMETHODIMP ConfigureFilterUsingProfileId(DWORD) override { return E_NOTIMPL; }
    STDMETHODIMP GetCurrentProfileId(DWORD* pdwProfileId) override {
        if (pdwProfileId) *pdwProfileId = 0;
        return E_NOTIMPL;
    }
    STDMETHODIMP ConfigureFilterUsingProfileGuid(REFGUID) override { return E_NOTIMPL; }
    STDMETHODIMP GetCurrentProfileGuid(GUID* pProfileGuid) override {
        if (pProfileGuid) *pProfileGuid = GUID_NULL;
        return E_NOTIMPL;
    }
    STDMETHODIMP ConfigureFilterUsingProfile(IWMProfile* pProfile) override {
        LUMACAP_FAULT_POINT("IConfigAsfWriter::ConfigureFilterUsingProfile");
        if (!pProfile) return E_POINTER;
        wm::ProfileData profile;
        HRESULT hr = wm::ReadProfile(pProfile, &profile);
        if (FAILED(hr)) return hr;
        hr = ValidateProfile(profile);
        if (FAILED(hr)) return hr;
        std::vector<IPin*> orphans;
        {
            CAutoLock lock(&m_lock);
            if (m_State != State_Stopped) return VFW_E_NOT_STOPPED;
            m_profile = std::move(profile);
            orphans = RebuildPins();
        }
        Disconnect(orphans);
        return S_OK;
    }
    STDMETHODIMP GetCurrentProfile(IWMProfile** ppProfile) override {
        LUMACAP_FAULT_POINT("IConfigAsfWriter::GetCurrentProfile");
        if (!ppProfile) return E_POINTER;
        CAutoLock lock(&m_lock);
        *ppProfile = wm::CreateProfile(m_profile);
        return S_OK;
    }
    // The file always gets its index (libavformat writes one when it can seek).
    STDMETHODIMP SetIndexMode(BOOL bIndexFile) override {
        m_indexMode = bIndexFile;
        return S_OK;
    }
    STDMETHODIMP GetIndexMode(BOOL* pbIndexFile) override {
        if (!pbIndexFile) return E_POINTER;
        *pbIndexFile = m_indexMode;
        return S_OK;
    }

    HRESULT Receive(AsfInputPin* pin, IMediaSample* sample);
    HRESULT InputEndOfStream(AsfInputPin* pin);

private:
    struct Encoding {
        AsfInputPin* pin = nullptr;
        bool video = false;
        int index = -1;
        bool eos = false;
        // video
        codecs::VideoStreamEncoder videoEncoder;
        FrameSlots slots;
        AVPixelFormat sourceFormat = AV_PIX_FMT_NONE;
        int sourceWidth = 0;
        int sourceHeight = 0;
        bool bottomUp = false;
        size_t sourceBytes = 0;
        // audio
        codecs::AudioStreamEncoder audioEncoder;
        AudioClock clock;
        int blockAlign = 0;
        uint8_t silence = 0;
    };

    // Pins for the profile's streams, keeping those of streams that remain; answers the dropped
    // pins that are still connected.
    std::vector<IPin*> RebuildPins();
    void Disconnect(const std::vector<IPin*>& pins);
    HRESULT StartSession();
    HRESULT FinishSessionLocked();
    HRESULT FailLocked(HRESULT hr) {
        if (SUCCEEDED(m_failure)) {
            m_failure = hr;
            NotifyEvent(EC_ERRORABORT, hr, 0);
        }
        return hr;
    }
    HRESULT MuxFailure() const {
        return HRESULT_FROM_WIN32(codecs::AvErrorToWin32(m_muxer.Error()));
    }
    codecs::PacketSink SinkFor(Encoding& e) {
        const AVRational timeBase = e.video ? e.videoEncoder.TimeBase() : e.audioEncoder.TimeBase();
        const int index = e.index;
        return [this, index, timeBase](AVPacket* packet) {
            return m_muxer.WritePacket(index, packet, timeBase, true);
        };
    }

    CCritSec m_lock;
    FileSinkName m_name;
    wm::ProfileData m_profile;
    std::vector<std::unique_ptr<AsfInputPin>> m_pins;
    // Pins of streams a later profile dropped: callers may still hold them, so they live on.
    std::vector<std::unique_ptr<AsfInputPin>> m_retired;
    BOOL m_indexMode = TRUE;

    std::mutex m_sessionMutex;
    bool m_active = false;
    bool m_running = false;
    bool m_completeWaiting = false;
    HRESULT m_failure = S_OK;
    std::vector<std::unique_ptr<Encoding>> m_encodings;
    codecs::Muxer m_muxer;
    std::vector<uint8_t> m_silence;
};

AsfInputPin::AsfInputPin(AsfWriter* writer, CCritSec* lock, HRESULT* phr, LPCWSTR name, bool video,
                         WORD stream)
    : CBaseInputPin(NAME("WM ASF Writer input"), writer, lock, phr, name),
      m_writer(writer),
      m_video(video),
      m_stream(stream) {}

HRESULT AsfInputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    if (m_video) {
        const VIDEOINFOHEADER* vih = VideoInfo(*pmt);
        if (pmt->majortype != MEDIATYPE_Video || !vih) return VFW_E_TYPE_NOT_ACCEPTED;
        const AVPixelFormat format = codecs::PixelFormatOfSubtype(pmt->subtype);
        const BITMAPINFOHEADER& bih = vih->bmiHeader;
        if (format == AV_PIX_FMT_NONE || bih.biWidth <= 0 || bih.biHeight == 0 ||
            bih.biWidth > 8192 || bih.biHeight > 8192 || bih.biHeight < -8192)
            return VFW_E_TYPE_NOT_ACCEPTED;
        const bool rgb = format == AV_PIX_FMT_BGR24 || format == AV_PIX_FMT_BGRA;
        if (rgb && bih.biBitCount != (format == AV_PIX_FMT_BGR24 ? 24 : 32))
            return VFW_E_TYPE_NOT_ACCEPTED;
        // Only bitmaps may be stored top row first.
        if (!rgb && bih.biHeight < 0) return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }
    const WAVEFORMATEX* wfx = WaveFormat(*pmt);
    if (pmt->majortype != MEDIATYPE_Audio || !wfx || wfx->wFormatTag != WAVE_FORMAT_PCM)
        return VFW_E_TYPE_NOT_ACCEPTED;
    if ((wfx->wBitsPerSample != 8 && wfx->wBitsPerSample != 16) || wfx->nChannels < 1 ||
        wfx->nChannels > 2 || wfx->nSamplesPerSec < 1000 || wfx->nSamplesPerSec > 192000 ||
        wfx->nBlockAlign != wfx->nChannels * wfx->wBitsPerSample / 8)
        return VFW_E_TYPE_NOT_ACCEPTED;
    return S_OK;
}

STDMETHODIMP AsfInputPin::Receive(IMediaSample* pSample) {
    const HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    return m_writer->Receive(this, pSample);
}

STDMETHODIMP AsfInputPin::EndOfStream() {
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return m_writer->InputEndOfStream(this);
}

std::vector<IPin*> AsfWriter::RebuildPins() {
    std::vector<std::unique_ptr<AsfInputPin>> pins;
    int audio = 0, video = 0;
    for (const wm::StreamData& s : m_profile.streams) {
        const bool isVideo = s.type == WMMEDIATYPE_Video;
        wchar_t name[32];
        std::swprintf(name, 32, isVideo ? L"Video Input %02d" : L"Audio Input %02d",
                      isVideo ? ++video : ++audio);
        auto same = std::find_if(m_pins.begin(), m_pins.end(), [&](const auto& pin) {
            return pin && std::wcscmp(pin->Name(), name) == 0;
        });
        if (same != m_pins.end()) {
            (*same)->SetStreamNumber(s.number);
            pins.push_back(std::move(*same));
        } else {
            HRESULT hr = S_OK;
            pins.push_back(
                std::make_unique<AsfInputPin>(this, &m_lock, &hr, name, isVideo, s.number));
        }
    }
    // Streams that went away take their pins with them; their connections are broken by the
    // caller, outside the filter's lock.
    std::vector<IPin*> orphans;
    for (auto& pin : m_pins) {
        if (!pin) continue;
        if (pin->IsConnected()) orphans.push_back(pin.get());
        m_retired.push_back(std::move(pin));
    }
    m_pins = std::move(pins);
    IncrementPinVersion();
    return orphans;
}

void AsfWriter::Disconnect(const std::vector<IPin*>& pins) {
    for (IPin* pin : pins) {
        IPin* peer = nullptr;
        if (FAILED(pin->ConnectedTo(&peer)) || !peer) continue;
        if (m_pGraph) {
            m_pGraph->Disconnect(peer);
            m_pGraph->Disconnect(pin);
        } else {
            peer->Disconnect();
            pin->Disconnect();
        }
        peer->Release();
    }
}

HRESULT AsfWriter::StartSession() {
    std::string host;
    HRESULT hr = ResolveOutputPath(m_name.Name(), &host);
    if (FAILED(hr)) return hr;
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    m_encodings.clear();
    m_failure = S_OK;
    // Streams go into the file in profile order; streams without a connected input are left out.
    for (const wm::StreamData& s : m_profile.streams) {
        auto pin = std::find_if(m_pins.begin(), m_pins.end(), [&](const auto& p) {
            return p->StreamNumber() == s.number && p->IsConnected();
        });
        if (pin == m_pins.end()) continue;
        auto e = std::make_unique<Encoding>();
        e->pin = pin->get();
        e->video = e->pin->IsVideo();
        const CMediaType& input = e->pin->CurrentMediaType();
        if (e->video) {
            const VIDEOINFOHEADER* vih = VideoInfo(input);
            e->sourceFormat = codecs::PixelFormatOfSubtype(input.subtype);
            e->sourceWidth = vih->bmiHeader.biWidth;
            e->sourceHeight = std::abs(vih->bmiHeader.biHeight);
            e->bottomUp = vih->bmiHeader.biHeight > 0;
            e->sourceBytes = codecs::BufferSize(e->sourceFormat, e->sourceWidth, e->sourceHeight);
            const VideoTarget t = VideoTargetOf(s);
            // The profile's bit rate is a promise about the file's size: held whatever the
            // pictures, at the cost of their quality (and of frames, for noise).
            codecs::VideoEncoderSettings settings;
            settings.codec = StreamCodec(s);
            settings.width = t.width;
            settings.height = t.height;
            settings.frameLength = t.frameTime;
            settings.bitRate = t.bitRate;
            settings.holdBitRate = true;
            if (e->videoEncoder.Open(settings) < 0) return VFW_E_UNSUPPORTED_VIDEO;
            e->slots.Reset(t.frameTime);
        } else {
            const WAVEFORMATEX* wfx = WaveFormat(input);
            const AudioTarget t = AudioTargetOf(s);
            if (e->audioEncoder.Open(StreamCodec(s), t.sampleRate, t.channels, t.bitRate,
                                     static_cast<int>(wfx->nSamplesPerSec), wfx->nChannels,
                                     wfx->wBitsPerSample) < 0)
                return VFW_E_UNSUPPORTED_AUDIO;
            e->blockAlign = wfx->nBlockAlign;
            e->silence = wfx->wBitsPerSample == 8 ? 0x80 : 0;
            e->clock.Reset(static_cast<int>(wfx->nSamplesPerSec));
        }
        m_encodings.push_back(std::move(e));
    }
    if (m_encodings.empty()) return VFW_E_NOT_CONNECTED;
    if (!m_muxer.OpenFile("asf", host)) {
        m_encodings.clear();
        const int error = m_muxer.Error();
        return error < 0 && error > -4096 ? OpenFailure(-error, host)
                                          : HRESULT_FROM_WIN32(codecs::AvErrorToWin32(error));
    }
    for (auto& e : m_encodings) {
        e->index = e->video
                       ? m_muxer.AddStream(e->videoEncoder.Context(), e->videoEncoder.TimeBase())
                       : m_muxer.AddStream(e->audioEncoder.Context(), e->audioEncoder.TimeBase());
        if (e->index < 0) hr = E_OUTOFMEMORY;
    }
    if (SUCCEEDED(hr) && !m_muxer.WriteHeader()) hr = MuxFailure();
    if (FAILED(hr)) {
        m_muxer.Finish();
        m_encodings.clear();
        return hr;
    }
    m_active = true;
    return S_OK;
}

HRESULT AsfWriter::Receive(AsfInputPin* pin, IMediaSample* sample) {
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    if (!m_active) return VFW_E_WRONG_STATE;
    if (FAILED(m_failure)) return m_failure;
    auto it = std::find_if(m_encodings.begin(), m_encodings.end(),
                           [pin](const auto& e) { return e->pin == pin; });
    if (it == m_encodings.end()) return S_OK;
    Encoding& e = **it;
    if (e.eos) return VFW_E_SAMPLE_REJECTED_EOS;
    if (sample->IsPreroll() == S_OK) return S_OK;
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    const long length = sample->GetActualDataLength();
    REFERENCE_TIME start = 0, stop = 0;
    const bool hasTime = SUCCEEDED(sample->GetTime(&start, &stop));
    int ret = 0;
    if (e.video) {
        if (!data || length < static_cast<long>(e.sourceBytes)) return S_OK;  // not a picture
        const int64_t slot = e.slots.PlaceOrDrop(hasTime, start);
        if (slot < 0) return S_OK;  // faster than the stream's frame rate
        ret = e.videoEncoder.Encode(e.sourceFormat, e.sourceWidth, e.sourceHeight, e.bottomUp, data,
                                    slot, SinkFor(e));
    } else {
        if (!data || length < e.blockAlign) return S_OK;
        const int64_t gap = e.clock.SilenceBefore(hasTime, start);
        if (gap > 0) {
            m_silence.assign(static_cast<size_t>(gap) * static_cast<size_t>(e.blockAlign),
                             e.silence);
            ret = e.audioEncoder.Encode(m_silence.data(), static_cast<int>(gap), SinkFor(e));
            e.clock.Advance(gap);
        }
        const int samples = static_cast<int>(length / e.blockAlign);
        if (ret >= 0) ret = e.audioEncoder.Encode(data, samples, SinkFor(e));
        e.clock.Advance(samples);
    }
    if (ret < 0) return FailLocked(m_muxer.Error() ? MuxFailure() : E_FAIL);
    return S_OK;
}

HRESULT AsfWriter::InputEndOfStream(AsfInputPin* pin) {
    bool complete = false;
    HRESULT hr = S_OK;
    {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        if (!m_active) return S_OK;
        bool all = true;
        for (auto& e : m_encodings) {
            if (e->pin == pin) e->eos = true;
            all = all && e->eos;
        }
        if (all) {
            hr = FinishSessionLocked();
            complete = m_running;
            m_completeWaiting = !m_running;
        }
    }
    if (complete) NotifyEvent(EC_COMPLETE, S_OK, 0);
    return hr;
}

HRESULT AsfWriter::FinishSessionLocked() {
    if (!m_active) return S_OK;
    m_active = false;
    HRESULT hr = m_failure;
    for (auto& e : m_encodings) {
        if (FAILED(hr)) break;
        const int ret =
            e->video ? e->videoEncoder.Flush(SinkFor(*e)) : e->audioEncoder.Flush(SinkFor(*e));
        if (ret < 0) hr = m_muxer.Error() ? MuxFailure() : E_FAIL;
    }
    if (!m_muxer.Finish() && SUCCEEDED(hr)) hr = MuxFailure();
    m_encodings.clear();
    return hr;
}

}  // namespace

LUMACAP_REGISTER_CLASS(CLSID_WMAsfWriter, "WM ASF Writer", CreateComInstance<AsfWriter>);

}  // namespace lumacap::dshow
