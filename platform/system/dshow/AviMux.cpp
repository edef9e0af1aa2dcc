// The AVI Mux (CLSID_AviDest): any number of video and audio inputs (a fresh input appears each
// time the last free one is connected) and one byte-stream output to a File Writer, which it
// drives through the writer pin's IStream. libavformat lays out the file: AVI with an idx1 index,
// and OpenDML (further RIFF 'AVIX' chunks with standard and super indexes) once it passes 1 GiB.
//
// Video goes into the file as delivered, one chunk per frame: uncompressed bitmaps stay
// uncompressed, compressed pictures stay as encoded. Time stamps place frames (see FrameSlots);
// an empty chunk stands for each slot without a frame, which players show as a repeated frame.
// Audio is PCM written in the order it arrives, interleaved with the pictures.
//
// The file header needs every video stream's frame length. A connection type that states it
// (AvgTimePerFrame) gives it at once; otherwise the first frame's duration does, and audio that
// comes earlier waits in memory until then.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <mmreg.h>
#include <streams.h>

#include "platform/system/codecs/Muxer.h"
#include "platform/system/com/ClassRegistry.h"
#include "platform/system/dshow/FilterRegistry.h"
#include "platform/system/dshow/MuxConfig.h"
#include "platform/system/dshow/MuxSeeking.h"
#include "platform/system/dshow/WriterTiming.h"
#include "platform/system/win/Trace.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace lumacap::dshow {
namespace {

constexpr int kMaxInputs = 99;
// Used when neither the type nor the first frame says how long a frame lasts.
constexpr REFERENCE_TIME kDefaultFrameLength = 333333;
// Audio held back while the header waits for the first picture.
constexpr size_t kMaxPendingBytes = 16 * 1024 * 1024;

// How one input's samples become packets.
struct InputLayout {
    codecs::StreamSpec spec;
    bool raw = false;       // uncompressed frames of a fixed size
    bool topDown = false;   // raw rows stored top row first (negative height)
    size_t frameBytes = 0;  // raw: the bytes of one frame
    size_t rowBytes = 0;
    int rows = 0;
    REFERENCE_TIME frameLength = 0;  // video: 0 until known
    int blockAlign = 0;              // audio
    uint8_t silence = 0;             // audio: the byte value of silence
};

AVCodecID PcmCodec(const WAVEFORMATEX& wfx) {
    if (wfx.wFormatTag == WAVE_FORMAT_PCM) {
        switch (wfx.wBitsPerSample) {
            case 8:
                return AV_CODEC_ID_PCM_U8;
            case 16:
                return AV_CODEC_ID_PCM_S16LE;
            case 24:
                return AV_CODEC_ID_PCM_S24LE;
            case 32:
                return AV_CODEC_ID_PCM_S32LE;
            default:
                return AV_CODEC_ID_NONE;
        }
    }
    if (wfx.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && wfx.wBitsPerSample == 32)
        return AV_CODEC_ID_PCM_F32LE;
    return AV_CODEC_ID_NONE;
}

// What a connection type means for the file, or VFW_E_TYPE_NOT_ACCEPTED.
HRESULT DescribeInput(const AM_MEDIA_TYPE& mt, InputLayout* out) {
    InputLayout layout;
    if (mt.majortype == MEDIATYPE_Video) {
        if (mt.formattype != FORMAT_VideoInfo || mt.cbFormat < sizeof(VIDEOINFOHEADER) ||
            !mt.pbFormat)
            return VFW_E_TYPE_NOT_ACCEPTED;
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat);
        const BITMAPINFOHEADER& bih = vih->bmiHeader;
        if (bih.biWidth <= 0 || bih.biHeight == 0 || bih.biWidth > 32768 ||
            std::abs(bih.biHeight) > 32768)
            return VFW_E_TYPE_NOT_ACCEPTED;
        codecs::StreamSpec& spec = layout.spec;
        spec.video = true;
        spec.width = bih.biWidth;
        spec.height = std::abs(bih.biHeight);
        spec.bitsPerPixel = bih.biBitCount;
        if (bih.biCompression == BI_RGB) {
            // Bitmaps: 24- and 32-bit, as the subtype says.
            const bool rgb24 = mt.subtype == MEDIASUBTYPE_RGB24 && bih.biBitCount == 24;
            const bool rgb32 =
                (mt.subtype == MEDIASUBTYPE_RGB32 || mt.subtype == MEDIASUBTYPE_ARGB32) &&
                bih.biBitCount == 32;
            if (!rgb24 && !rgb32) return VFW_E_TYPE_NOT_ACCEPTED;
            spec.codec = AV_CODEC_ID_RAWVIDEO;
            spec.codecTag = 0;
            spec.pixelFormat = rgb24 ? AV_PIX_FMT_BGR24 : AV_PIX_FMT_BGRA;
            layout.raw = true;
            layout.topDown = bih.biHeight < 0;
            layout.rowBytes = DIBWIDTHBYTES(bih);
            layout.rows = spec.height;
            layout.frameBytes = layout.rowBytes * static_cast<size_t>(layout.rows);
        } else {
            // A FourCC the AVI world knows (MJPG, FMP4, H264, ULRG, FFV1, ...).
            const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
            spec.codec = av_codec_get_id(tags, bih.biCompression);
            if (spec.codec == AV_CODEC_ID_NONE) return VFW_E_TYPE_NOT_ACCEPTED;
            spec.codecTag = bih.biCompression;
            // Codec set-up bytes follow the bitmap header, as codecs of this kind place them.
            if (mt.cbFormat > sizeof(VIDEOINFOHEADER))
                spec.extradata.assign(mt.pbFormat + sizeof(VIDEOINFOHEADER),
                                      mt.pbFormat + mt.cbFormat);
        }
        layout.frameLength = vih->AvgTimePerFrame > 0 ? vih->AvgTimePerFrame : 0;
    } else if (mt.majortype == MEDIATYPE_Audio) {
        if (mt.formattype != FORMAT_WaveFormatEx || mt.cbFormat < sizeof(WAVEFORMATEX) ||
            !mt.pbFormat)
            return VFW_E_TYPE_NOT_ACCEPTED;
        const auto* wfx = reinterpret_cast<const WAVEFORMATEX*>(mt.pbFormat);
        const AVCodecID codec = PcmCodec(*wfx);
        if (codec == AV_CODEC_ID_NONE || wfx->nChannels == 0 || wfx->nChannels > 8 ||
            wfx->nSamplesPerSec == 0 || wfx->nSamplesPerSec > 384000 ||
            wfx->nBlockAlign != wfx->nChannels * wfx->wBitsPerSample / 8)
            return VFW_E_TYPE_NOT_ACCEPTED;
        codecs::StreamSpec& spec = layout.spec;
        spec.video = false;
        spec.codec = codec;
        spec.codecTag = wfx->wFormatTag;
        spec.sampleRate = static_cast<int>(wfx->nSamplesPerSec);
        spec.channels = wfx->nChannels;
        spec.blockAlign = wfx->nBlockAlign;
        spec.bitsPerSample = wfx->wBitsPerSample;
        spec.bitRate = static_cast<int64_t>(wfx->nBlockAlign) * wfx->nSamplesPerSec * 8;
        spec.timeBase = AVRational{1, spec.sampleRate};
        layout.blockAlign = wfx->nBlockAlign;
        layout.silence = wfx->wBitsPerSample == 8 ? 0x80 : 0;
    } else {
        return VFW_E_TYPE_NOT_ACCEPTED;
    }
    if (out) *out = std::move(layout);
    return S_OK;
}

class AviMux;

class AviMuxInputPin final : public CBaseInputPin {
public:
    AviMuxInputPin(AviMux* mux, CCritSec* lock, HRESULT* phr, LPCWSTR name, int number);

    HRESULT CheckMediaType(const CMediaType* pmt) override {
        if (!pmt) return E_POINTER;
        return DescribeInput(*pmt, nullptr);
    }
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    STDMETHODIMP Receive(IMediaSample* pSample) override;
    STDMETHODIMP EndOfStream() override;
    int Number() const { return m_number; }

private:
    AviMux* m_mux;
    int m_number;
};

// The output: a byte stream of the AVI file, written through the downstream pin's IStream.
class AviMuxOutputPin final : public CBasePin {
public:
    AviMuxOutputPin(CBaseFilter* filter, CCritSec* lock, HRESULT* phr)
        : CBasePin(NAME("AVI Mux output"), filter, lock, phr, L"AVI Out", PINDIR_OUTPUT) {}
    ~AviMuxOutputPin() override { ReleaseStream(); }

    HRESULT GetMediaType(int iPosition, CMediaType* pmt) override {
        if (iPosition < 0) return E_INVALIDARG;
        if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
        // A byte stream: fixed one-byte samples, no format block.
        pmt->InitMediaType();
        pmt->SetType(&MEDIATYPE_Stream);
        pmt->SetSubtype(&MEDIASUBTYPE_Avi);
        pmt->SetFormatType(&GUID_NULL);
        pmt->SetSampleSize(1);
        return S_OK;
    }
    HRESULT CheckMediaType(const CMediaType* pmt) override {
        if (!pmt) return E_POINTER;
        if (pmt->majortype != MEDIATYPE_Stream && pmt->majortype != GUID_NULL)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return pmt->subtype == MEDIASUBTYPE_Avi || pmt->subtype == GUID_NULL
                   ? S_OK
                   : VFW_E_TYPE_NOT_ACCEPTED;
    }
    // The file is laid out by seeking back to headers and indexes: only a stream will do.
    HRESULT CheckConnect(IPin* pPin) override {
        HRESULT hr = CBasePin::CheckConnect(pPin);
        if (FAILED(hr)) return hr;
        ReleaseStream();
        hr = pPin->QueryInterface(IID_IStream, reinterpret_cast<void**>(&m_stream));
        return FAILED(hr) || !m_stream ? VFW_E_NO_TRANSPORT : S_OK;
    }
    HRESULT BreakConnect() override {
        ReleaseStream();
        return S_OK;
    }
    STDMETHODIMP BeginFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndFlush() override { return E_UNEXPECTED; }
    STDMETHODIMP EndOfStream() override { return E_UNEXPECTED; }

    IStream* Stream() const { return m_stream; }

private:
    void ReleaseStream() {
        if (m_stream) m_stream->Release();
        m_stream = nullptr;
    }
    IStream* m_stream = nullptr;
};

class AviMux final : public CBaseFilter, private codecs::ByteSink {
public:
    explicit AviMux(HRESULT* phr)
        : CBaseFilter(NAME("AVI Mux"), nullptr, &m_lock, CLSID_AviDest, phr) {
        m_output = std::make_unique<AviMuxOutputPin>(this, &m_lock, phr);
        AddInput(phr);
    }

    ~AviMux() override {
        std::lock_guard<std::mutex> lock(m_sessionMutex);
        FinishSessionLocked();
    }

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IMediaSeeking) return GetInterface(&m_seeking, ppv);
        if (SUCCEEDED(m_config.Answer(riid, ppv))) return S_OK;
        return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
    }
    MuxSeeking& Seeking() { return m_seeking; }

    int GetPinCount() override {
        CAutoLock lock(&m_lock);
        return 1 + static_cast<int>(m_inputs.size());
    }
    CBasePin* GetPin(int n) override {
        CAutoLock lock(&m_lock);
        if (n == 0) return m_output.get();
        if (n < 1 || n > static_cast<int>(m_inputs.size())) return nullptr;
        return m_inputs[static_cast<size_t>(n - 1)].get();
    }

    STDMETHODIMP Pause() override {
        CAutoLock lock(&m_lock);
        if (m_State == State_Stopped) {
            m_seeking.Reset();
            const HRESULT hr = StartSession();
            if (FAILED(hr)) return hr;
        }
        const HRESULT hr = CBaseFilter::Pause();
        if (FAILED(hr)) {
            std::lock_guard<std::mutex> session(m_sessionMutex);
            m_active = false;
            m_streams.clear();
        }
        return hr;
    }

    STDMETHODIMP Stop() override {
        CAutoLock lock(&m_lock);
        const bool wasActive = m_State != State_Stopped;
        HRESULT hr = CBaseFilter::Stop();
        if (wasActive) {
            // Samples already inside Receive finish first; later ones find the filter stopped.
            std::lock_guard<std::mutex> session(m_sessionMutex);
            const HRESULT finish = FinishSessionLocked();
            if (SUCCEEDED(hr)) hr = finish;
        }
        return hr;
    }

    // A connected input leaves a fresh one behind, so another stream can always join.
    void OnInputConnected() {
        CAutoLock lock(&m_lock);
        for (const auto& pin : m_inputs)
            if (!pin->IsConnected()) return;
        if (static_cast<int>(m_inputs.size()) >= kMaxInputs) return;
        HRESULT hr = S_OK;
        AddInput(&hr);
    }

    HRESULT Receive(AviMuxInputPin* pin, IMediaSample* sample);
    HRESULT InputEndOfStream(AviMuxInputPin* pin);

private:
    struct MuxStream {
        AviMuxInputPin* pin = nullptr;
        InputLayout layout;
        int index = -1;
        FrameSlots slots;
        AudioClock clock;
        bool eos = false;
    };
    struct Pending {
        size_t stream;
        std::vector<uint8_t> data;
        bool hasTime;
        REFERENCE_TIME start;
    };

    void AddInput(HRESULT* phr) {
        const int number = static_cast<int>(m_inputs.size()) + 1;
        wchar_t name[16];
        std::swprintf(name, 16, L"Input %02d", number);
        m_inputs.push_back(std::make_unique<AviMuxInputPin>(this, &m_lock, phr, name, number));
        IncrementPinVersion();
    }

    HRESULT StartSession();
    HRESULT FinishSessionLocked();
    HRESULT WriteHeaderLocked(bool force);
    HRESULT WriteVideoLocked(MuxStream& s, IMediaSample* sample);
    HRESULT WriteAudioLocked(size_t index, const BYTE* data, size_t size, bool hasTime,
                             REFERENCE_TIME start);
    HRESULT WriteSilenceLocked(MuxStream& s, int64_t samples);
    HRESULT FailLocked(HRESULT hr);
    HRESULT MuxerFailure() const {
        if (FAILED(m_ioFailure)) return m_ioFailure;
        return HRESULT_FROM_WIN32(codecs::AvErrorToWin32(m_muxer.Error()));
    }

    // ByteSink: the file's bytes go to the File Writer's stream.
    //
    // A write the file refuses (a full disk) ends the recording, but the file is still finished:
    // the bytes that did not go in are stepped over as if written, so libavformat's layout stays
    // whole and the headers and index it writes at the end describe every packet before the
    // failure (the one that failed reads as a gap). Whatever of the end no longer fits is lost
    // the same way; the headers near the start are rewritten in place and still fit.
    int Write(const uint8_t* data, int size) override {
        IStream* stream = m_output->Stream();
        if (!stream) return AVERROR(EPIPE);
        ULONG written = 0;
        const HRESULT hr = stream->Write(data, static_cast<ULONG>(size), &written);
        if (SUCCEEDED(hr) && written == static_cast<ULONG>(size)) return size;
        if (SUCCEEDED(m_ioFailure)) {
            m_ioFailure = FAILED(hr) ? hr : HRESULT_FROM_WIN32(ERROR_DISK_FULL);
            TraceWriteFailure(m_ioFailure);
        }
        LARGE_INTEGER skip;
        skip.QuadPart = static_cast<LONGLONG>(size) - static_cast<LONGLONG>(written);
        stream->Seek(skip, STREAM_SEEK_CUR, nullptr);
        return size;
    }
    // One line on standard error, as the system's own trace of a failed file: which file, and the
    // failure's code and text.
    void TraceWriteFailure(HRESULT hr) {
        std::string file = "the file";
        if (IPin* peer = m_output->GetConnected()) {
            PIN_INFO info{};
            IFileSinkFilter* sink = nullptr;
            if (SUCCEEDED(peer->QueryPinInfo(&info)) && info.pFilter &&
                SUCCEEDED(info.pFilter->QueryInterface(IID_IFileSinkFilter,
                                                       reinterpret_cast<void**>(&sink)))) {
                LPOLESTR name = nullptr;
                if (SUCCEEDED(sink->GetCurFile(&name, nullptr)) && name) {
                    char narrow[1024] = {};
                    WideCharToMultiByte(CP_ACP, 0, name, -1, narrow, sizeof(narrow), nullptr,
                                        nullptr);
                    file = narrow;
                    CoTaskMemFree(name);
                }
                sink->Release();
            }
            if (info.pFilter) info.pFilter->Release();
        }
        char* text = nullptr;
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<LPSTR>(&text), 0,
                       nullptr);
        std::string reason = text ? text : "";
        if (text) LocalFree(text);
        while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r'))
            reason.pop_back();
        // Lost pictures are an error the user must see: on standard error, or in the trace when
        // the graph is being traced.
        char line[1600];
        std::snprintf(line, sizeof(line),
                      "lumacap: AVI Mux: writing %s failed (0x%08X: %s); the recording ends and "
                      "the file keeps what was written before",
                      file.c_str(), static_cast<unsigned>(hr), reason.c_str());
        if (trace::On(trace::kDshow))
            trace::Line(trace::kDshow, "%s", line);
        else
            std::fprintf(stderr, "%s\n", line);
    }
    int64_t Seek(int64_t offset, int whence) override {
        IStream* stream = m_output->Stream();
        if (!stream) return AVERROR(EPIPE);
        if (whence == AVSEEK_SIZE) {
            STATSTG stat;
            if (FAILED(stream->Stat(&stat, STATFLAG_NONAME))) return AVERROR(EIO);
            return static_cast<int64_t>(stat.cbSize.QuadPart);
        }
        DWORD origin = STREAM_SEEK_SET;
        if ((whence & ~AVSEEK_FORCE) == SEEK_CUR) origin = STREAM_SEEK_CUR;
        if ((whence & ~AVSEEK_FORCE) == SEEK_END) origin = STREAM_SEEK_END;
        LARGE_INTEGER move;
        move.QuadPart = offset;
        ULARGE_INTEGER position{};
        const HRESULT hr = stream->Seek(move, origin, &position);
        if (FAILED(hr)) {
            m_ioFailure = hr;
            return AVERROR(EIO);
        }
        return static_cast<int64_t>(position.QuadPart);
    }

    CCritSec m_lock;
    MuxSeeking m_seeking{this};
    MuxConfig m_config{this};
    std::unique_ptr<AviMuxOutputPin> m_output;
    std::vector<std::unique_ptr<AviMuxInputPin>> m_inputs;

    // The file being written, from the first pause to the stop or the end of every stream.
    std::mutex m_sessionMutex;
    bool m_active = false;
    HRESULT m_failure = S_OK;
    HRESULT m_ioFailure = S_OK;
    std::vector<MuxStream> m_streams;
    std::deque<Pending> m_pending;
    size_t m_pendingBytes = 0;
    codecs::Muxer m_muxer;
    std::vector<uint8_t> m_scratch;
};

AviMuxInputPin::AviMuxInputPin(AviMux* mux, CCritSec* lock, HRESULT* phr, LPCWSTR name, int number)
    : CBaseInputPin(NAME("AVI Mux input"), mux, lock, phr, name), m_mux(mux), m_number(number) {}

HRESULT AviMuxInputPin::CompleteConnect(IPin* pReceivePin) {
    const HRESULT hr = CBaseInputPin::CompleteConnect(pReceivePin);
    if (FAILED(hr)) return hr;
    m_mux->OnInputConnected();
    return S_OK;
}

STDMETHODIMP AviMuxInputPin::Receive(IMediaSample* pSample) {
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    hr = m_mux->Receive(this, pSample);
    REFERENCE_TIME start = 0, stop = 0;
    if (SUCCEEDED(hr) && pSample->GetTime(&start, &stop) == S_OK) m_mux->Seeking().Written(stop);
    return hr;
}

STDMETHODIMP AviMuxInputPin::EndOfStream() {
    const HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr;
    return m_mux->InputEndOfStream(this);
}

HRESULT AviMux::StartSession() {
    if (!m_output->IsConnected() || !m_output->Stream()) return VFW_E_NOT_CONNECTED;
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    m_streams.clear();
    m_pending.clear();
    m_pendingBytes = 0;
    m_failure = S_OK;
    m_ioFailure = S_OK;
    for (const auto& pin : m_inputs) {
        if (!pin->IsConnected()) continue;
        MuxStream s;
        s.pin = pin.get();
        if (FAILED(DescribeInput(pin->CurrentMediaType(), &s.layout)))
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (!s.layout.spec.video) s.clock.Reset(s.layout.spec.sampleRate);
        m_streams.push_back(std::move(s));
    }
    if (m_streams.empty()) return VFW_E_NOT_CONNECTED;
    if (!m_muxer.Open("avi", this))
        return HRESULT_FROM_WIN32(codecs::AvErrorToWin32(m_muxer.Error()));
    m_active = true;
    // With every frame length known from the types, the header can go out now.
    const HRESULT hr = WriteHeaderLocked(false);
    if (FAILED(hr)) {
        m_active = false;
        m_streams.clear();
    }
    return hr;
}

HRESULT AviMux::WriteHeaderLocked(bool force) {
    if (m_muxer.HeaderWritten()) return S_OK;
    for (MuxStream& s : m_streams) {
        if (!s.layout.spec.video || s.layout.frameLength > 0) continue;
        if (!force) return S_FALSE;
        s.layout.frameLength = kDefaultFrameLength;
    }
    for (MuxStream& s : m_streams) {
        if (s.layout.spec.video) {
            s.slots.Reset(s.layout.frameLength);
            s.layout.spec.timeBase = av_make_q(static_cast<int>(s.layout.frameLength), 10000000);
        }
        s.index = m_muxer.AddStream(s.layout.spec);
        if (s.index < 0) return E_OUTOFMEMORY;
    }
    if (!m_muxer.WriteHeader()) return MuxerFailure();
    // Audio that came before the first picture.
    while (!m_pending.empty()) {
        Pending p = std::move(m_pending.front());
        m_pending.pop_front();
        const HRESULT hr =
            WriteAudioLocked(p.stream, p.data.data(), p.data.size(), p.hasTime, p.start);
        if (FAILED(hr)) return hr;
    }
    m_pendingBytes = 0;
    return S_OK;
}

HRESULT AviMux::FailLocked(HRESULT hr) {
    if (SUCCEEDED(m_failure)) {
        m_failure = hr;
        NotifyEvent(EC_ERRORABORT, hr, 0);
    }
    return hr;
}

HRESULT AviMux::Receive(AviMuxInputPin* pin, IMediaSample* sample) {
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    if (!m_active) return VFW_E_WRONG_STATE;
    if (FAILED(m_failure)) return m_failure;
    auto it = std::find_if(m_streams.begin(), m_streams.end(),
                           [pin](const MuxStream& s) { return s.pin == pin; });
    // Connected after the run began: not part of this file.
    if (it == m_streams.end()) return S_OK;
    if (it->eos) return VFW_E_SAMPLE_REJECTED_EOS;
    // Preroll samples come before the stream's time zero and are not shown.
    if (sample->IsPreroll() == S_OK) return S_OK;
    HRESULT hr = S_OK;
    if (it->layout.spec.video) {
        if (it->layout.frameLength == 0) {
            REFERENCE_TIME start = 0, stop = 0;
            it->layout.frameLength = sample->GetTime(&start, &stop) == S_OK && stop > start
                                         ? stop - start
                                         : kDefaultFrameLength;
            hr = WriteHeaderLocked(false);
            if (SUCCEEDED(hr) && FAILED(m_ioFailure)) hr = m_ioFailure;
            if (FAILED(hr)) return FailLocked(hr);
        }
        if (!m_muxer.HeaderWritten()) return S_OK;  // another video stream has yet to start
        hr = WriteVideoLocked(*it, sample);
    } else {
        BYTE* data = nullptr;
        sample->GetPointer(&data);
        const long length = sample->GetActualDataLength();
        if (!data || length <= 0) return S_OK;
        REFERENCE_TIME start = 0, stop = 0;
        const bool hasTime = SUCCEEDED(sample->GetTime(&start, &stop));
        const size_t index = static_cast<size_t>(it - m_streams.begin());
        if (!m_muxer.HeaderWritten()) {
            m_pending.push_back({index, std::vector<uint8_t>(data, data + length), hasTime, start});
            m_pendingBytes += static_cast<size_t>(length);
            if (m_pendingBytes <= kMaxPendingBytes) return S_OK;
            // No picture for too long: commit to a frame length and go.
            hr = WriteHeaderLocked(true);
        } else {
            hr = WriteAudioLocked(index, data, static_cast<size_t>(length), hasTime, start);
        }
    }
    // A write the file refused ends the recording here (the packet itself went through).
    if (SUCCEEDED(hr) && FAILED(m_ioFailure)) hr = m_ioFailure;
    return FAILED(hr) ? FailLocked(hr) : S_OK;
}

HRESULT AviMux::WriteVideoLocked(MuxStream& s, IMediaSample* sample) {
    REFERENCE_TIME start = 0, stop = 0;
    const bool hasTime = SUCCEEDED(sample->GetTime(&start, &stop));
    const int64_t previous = s.slots.Last();
    const int64_t slot = s.slots.Place(hasTime, start);
    // Empty chunks for the slots the stamps skipped.
    for (int64_t empty = previous + 1; empty < slot; ++empty)
        if (!m_muxer.WritePacket(s.index, nullptr, 0, empty, empty, 1, false, false))
            return MuxerFailure();
    BYTE* data = nullptr;
    sample->GetPointer(&data);
    long length = sample->GetActualDataLength();
    bool key = sample->IsSyncPoint() == S_OK;
    if (s.layout.raw) {
        key = true;
        if (!data || length < static_cast<long>(s.layout.frameBytes)) {
            // A short bitmap cannot be shown: keep its time as a dropped frame.
            return m_muxer.WritePacket(s.index, nullptr, 0, slot, slot, 1, false, false)
                       ? S_OK
                       : MuxerFailure();
        }
        length = static_cast<long>(s.layout.frameBytes);
        if (s.layout.topDown) {
            // The file holds bitmaps bottom row first.
            m_scratch.resize(s.layout.frameBytes);
            for (int row = 0; row < s.layout.rows; ++row)
                std::memcpy(m_scratch.data() + static_cast<size_t>(row) * s.layout.rowBytes,
                            data + static_cast<size_t>(s.layout.rows - 1 - row) * s.layout.rowBytes,
                            s.layout.rowBytes);
            data = m_scratch.data();
        }
    }
    if (!data || length <= 0)
        return m_muxer.WritePacket(s.index, nullptr, 0, slot, slot, 1, false, false)
                   ? S_OK
                   : MuxerFailure();
    return m_muxer.WritePacket(s.index, data, static_cast<int>(length), slot, slot, 1, key, false)
               ? S_OK
               : MuxerFailure();
}

HRESULT AviMux::WriteSilenceLocked(MuxStream& s, int64_t samples) {
    const int64_t chunk = std::max<int64_t>(1, s.layout.spec.sampleRate / 10);
    std::vector<uint8_t> silence;
    while (samples > 0) {
        const int64_t n = std::min(samples, chunk);
        silence.assign(static_cast<size_t>(n) * static_cast<size_t>(s.layout.blockAlign),
                       s.layout.silence);
        const int64_t position = s.clock.Position();
        if (!m_muxer.WritePacket(s.index, silence.data(), static_cast<int>(silence.size()),
                                 position, position, n, true, false))
            return MuxerFailure();
        s.clock.Advance(n);
        samples -= n;
    }
    return S_OK;
}

HRESULT AviMux::WriteAudioLocked(size_t index, const BYTE* data, size_t size, bool hasTime,
                                 REFERENCE_TIME start) {
    MuxStream& s = m_streams[index];
    const size_t align = static_cast<size_t>(s.layout.blockAlign);
    size -= size % align;
    if (size == 0) return S_OK;
    const HRESULT hr = WriteSilenceLocked(s, s.clock.SilenceBefore(hasTime, start));
    if (FAILED(hr)) return hr;
    const int64_t samples = static_cast<int64_t>(size / align);
    const int64_t position = s.clock.Position();
    if (!m_muxer.WritePacket(s.index, data, static_cast<int>(size), position, position, samples,
                             true, false))
        return MuxerFailure();
    s.clock.Advance(samples);
    return S_OK;
}

HRESULT AviMux::InputEndOfStream(AviMuxInputPin* pin) {
    std::lock_guard<std::mutex> lock(m_sessionMutex);
    if (!m_active) return S_OK;
    bool all = true;
    for (MuxStream& s : m_streams) {
        if (s.pin == pin) s.eos = true;
        all = all && s.eos;
    }
    if (!all) return S_OK;
    const HRESULT hr = FinishSessionLocked();
    if (SUCCEEDED(hr)) return S_OK;
    return hr;
}

HRESULT AviMux::FinishSessionLocked() {
    if (!m_active) return S_OK;
    m_active = false;
    HRESULT hr = m_failure;
    if (SUCCEEDED(hr)) {
        hr = WriteHeaderLocked(true);
        if (SUCCEEDED(hr) && !m_muxer.Finish()) hr = MuxerFailure();
    } else {
        m_muxer.Finish();
    }
    m_streams.clear();
    m_pending.clear();
    m_pendingBytes = 0;
    // The file is complete: the writer may close it.
    if (IPin* peer = m_output->GetConnected()) peer->EndOfStream();
    return hr;
}

}  // namespace

LUMACAP_REGISTER_CLASS(CLSID_AviDest, "AVI Mux", CreateComInstance<AviMux>);
// Installed in the legacy filter category, where the mapper finds it.
static const BuiltinFilter s_aviMux(CLSID_AviDest, L"AVI Mux", MERIT_DO_NOT_USE,
                                    {{REG_PINFLAG_B_MANY | REG_PINFLAG_B_ZERO,
                                      {{MEDIATYPE_Video, GUID_NULL}, {MEDIATYPE_Audio, GUID_NULL}}},
                                     {REG_PINFLAG_B_OUTPUT,
                                      {{MEDIATYPE_Stream, MEDIASUBTYPE_Avi}}}});

}  // namespace lumacap::dshow
