// The video compressors installed with the platform, listed in the video compressor category:
// FFmpeg encoders behind the transform filter interface, taking the RGB frames a recording
// produces. Each is listed only where its encoder is present:
//   "MJPEG Compressor"              MJPG, every frame a JPEG picture
//   "MPEG-4 Video Compressor"       FMP4, MPEG-4 Part 2
//   "H.264 Video Compressor"        H264, libx264 without frame reordering or lookahead
//   "Ut Video Lossless Compressor"  ULRG, lossless RGB (decodes to the exact input)
// Each compressor encodes on a thread of its own, one picture behind the thread that delivers
// them, so a recording composes its next frame on one core while the last one is encoded on the
// other. MJPEG is encoded by libjpeg-turbo straight from the RGB rows (its SIMD colour conversion
// instead of a libswscale pass); libavcodec's encoder remains for what turbo cannot open.
#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include <streams.h>

#include "platform/system/codecs/Codecs.h"
#include "platform/system/codecs/JpegEncoder.h"
#include "platform/system/codecs/StreamEncoders.h"
#include "platform/system/com/ClassRegistry.h"
#include "platform/system/com/DeviceRegistry.h"
#include "platform/system/dshow/VideoFormat.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace lumacap::codecs {
namespace {

struct CompressorInfo {
    CLSID clsid;
    const wchar_t* friendlyName;
    const wchar_t* handler;  // the display name's last part, as for installed codecs
    uint32_t fourcc;
    AVCodecID codec;
    const char* encoderName;  // a particular encoder of the codec, or null for the default
    AVPixelFormat format;     // what the encoder is given
    int quality;              // fixed quantiser, or 0
    int bitsPerPixel;         // bit rate per pixel and second when neither quality nor options
    const char* options;
    bool temporal;    // pictures refer to earlier ones
    bool extradata;   // the decoder needs the encoder's set-up bytes (in the format block)
    int jpegQuality;  // encode with libjpeg-turbo at this quality instead, where it takes the input
};

constexpr uint32_t FourCC(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

const CompressorInfo kCompressors[] = {
    {{0xB8A3E0B1, 0x54D7, 0x4E0F, {0x9C, 0x1B, 0x6F, 0x3A, 0x2D, 0x7C, 0x8E, 0x01}},
     L"MJPEG Compressor",
     L"mjpg",
     FourCC('M', 'J', 'P', 'G'),
     AV_CODEC_ID_MJPEG,
     nullptr,
     AV_PIX_FMT_YUVJ420P,
     3,
     0,
     nullptr,
     false,
     false,
     kMjpegCompressorQuality},
    {{0xB8A3E0B2, 0x54D7, 0x4E0F, {0x9C, 0x1B, 0x6F, 0x3A, 0x2D, 0x7C, 0x8E, 0x01}},
     L"MPEG-4 Video Compressor",
     L"fmp4",
     FourCC('F', 'M', 'P', '4'),
     AV_CODEC_ID_MPEG4,
     nullptr,
     AV_PIX_FMT_YUV420P,
     0,
     4,
     nullptr,
     true,
     false,
     0},
    // One picture in, one out: no B-frames and no lookahead, so the stream stays in step.
    {{0xB8A3E0B3, 0x54D7, 0x4E0F, {0x9C, 0x1B, 0x6F, 0x3A, 0x2D, 0x7C, 0x8E, 0x01}},
     L"H.264 Video Compressor",
     L"h264",
     FourCC('H', '2', '6', '4'),
     AV_CODEC_ID_H264,
     "libx264",
     AV_PIX_FMT_YUV420P,
     0,
     0,
     "preset=veryfast:tune=zerolatency:crf=23",
     true,
     false,
     0},
    {{0xB8A3E0B4, 0x54D7, 0x4E0F, {0x9C, 0x1B, 0x6F, 0x3A, 0x2D, 0x7C, 0x8E, 0x01}},
     L"Ut Video Lossless Compressor",
     L"ulrg",
     FourCC('U', 'L', 'R', 'G'),
     AV_CODEC_ID_UTVIDEO,
     "utvideo",
     AV_PIX_FMT_GBRP,
     0,
     0,
     nullptr,
     false,
     true,
     0},
};

bool EncoderPresent(const CompressorInfo& info) {
    return info.encoderName ? avcodec_find_encoder_by_name(info.encoderName) != nullptr
                            : avcodec_find_encoder(info.codec) != nullptr;
}

class VideoCompressor final : public CTransformFilter {
public:
    explicit VideoCompressor(const CompressorInfo& info)
        : CTransformFilter(NAME("Video compressor"), nullptr, info.clsid), m_info(info) {}
    // A graph released while it streams never stopped this filter: its thread ends here.
    ~VideoCompressor() override { StopStreaming(); }

    HRESULT CheckInputType(const CMediaType* mt) override {
        if (mt->majortype != MEDIATYPE_Video || mt->formattype != FORMAT_VideoInfo)
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (mt->subtype != MEDIASUBTYPE_RGB24 && mt->subtype != MEDIASUBTYPE_RGB32)
            return VFW_E_TYPE_NOT_ACCEPTED;
        const BITMAPINFOHEADER* h = dshow::VideoHeaderOf(*mt);
        // The encoders work on pictures of even size.
        if (!dshow::PlausiblePictureSize(h) || (h->biWidth & 1) || (h->biHeight & 1))
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
        if (CheckInputType(in) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
        const BITMAPINFOHEADER* ho = dshow::VideoHeaderOf(*out);
        const BITMAPINFOHEADER* hi = dshow::VideoHeaderOf(*in);
        if (out->majortype != MEDIATYPE_Video || !ho || ho->biCompression != m_info.fourcc)
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (ho->biWidth != hi->biWidth || std::abs(ho->biHeight) != std::abs(hi->biHeight))
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT GetMediaType(int iPosition, CMediaType* mt) override {
        if (iPosition < 0) return E_INVALIDARG;
        if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
        const CMediaType& in = m_pInput->CurrentMediaType();
        const auto* vin = reinterpret_cast<const VIDEOINFOHEADER*>(in.pbFormat);
        const int width = vin->bmiHeader.biWidth;
        const int height = std::abs(vin->bmiHeader.biHeight);
        // Codecs that keep their set-up outside the pictures hand it over in the format block,
        // after the bitmap header, as installed codecs of this kind do.
        std::vector<uint8_t> extradata;
        if (m_info.extradata) {
            VideoStreamEncoder probe;
            if (probe.Open(Settings(width, height, vin->AvgTimePerFrame)) < 0 || !probe.Context())
                return E_FAIL;
            extradata.assign(probe.Context()->extradata,
                             probe.Context()->extradata + probe.Context()->extradata_size);
        }
        mt->InitMediaType();
        mt->SetType(&MEDIATYPE_Video);
        GUID subtype = MEDIASUBTYPE_YUY2;
        subtype.Data1 = m_info.fourcc;
        mt->SetSubtype(&subtype);
        mt->SetFormatType(&FORMAT_VideoInfo);
        std::vector<BYTE> format(sizeof(VIDEOINFOHEADER) + extradata.size(), 0);
        auto* vih = reinterpret_cast<VIDEOINFOHEADER*>(format.data());
        vih->AvgTimePerFrame = vin->AvgTimePerFrame;
        vih->bmiHeader.biSize = static_cast<DWORD>(sizeof(BITMAPINFOHEADER) + extradata.size());
        vih->bmiHeader.biWidth = width;
        vih->bmiHeader.biHeight = height;
        vih->bmiHeader.biPlanes = 1;
        vih->bmiHeader.biBitCount = 24;
        vih->bmiHeader.biCompression = m_info.fourcc;
        vih->bmiHeader.biSizeImage = static_cast<DWORD>(width * height * 3);
        if (!extradata.empty())
            std::memcpy(format.data() + sizeof(VIDEOINFOHEADER), extradata.data(),
                        extradata.size());
        mt->SetFormat(format.data(), static_cast<ULONG>(format.size()));
        mt->SetVariableSize();
        mt->SetTemporalCompression(m_info.temporal);
        return S_OK;
    }

    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) override {
        const BITMAPINFOHEADER* h = dshow::VideoHeaderOf(m_pOutput->CurrentMediaType());
        if (!h) return E_UNEXPECTED;
        // Room for a picture that does not compress (noise through a lossless codec).
        const long needed = static_cast<long>(h->biWidth) * std::abs(h->biHeight) * 4 + 65536;
        ALLOCATOR_PROPERTIES request = *prop;
        request.cBuffers = std::max<long>(request.cBuffers, 2);
        request.cbBuffer = std::max<long>(request.cbBuffer, needed);
        if (request.cbAlign <= 0) request.cbAlign = 1;
        ALLOCATOR_PROPERTIES actual{};
        const HRESULT hr = alloc->SetProperties(&request, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer < needed ? E_FAIL : S_OK;
    }

    HRESULT StartStreaming() override {
        const CMediaType& in = m_pInput->CurrentMediaType();
        const auto* vin = reinterpret_cast<const VIDEOINFOHEADER*>(in.pbFormat);
        m_width = vin->bmiHeader.biWidth;
        m_height = std::abs(vin->bmiHeader.biHeight);
        m_bottomUp = vin->bmiHeader.biHeight > 0;
        m_srcFormat = PixelFormatOfSubtype(in.subtype);
        try {
            if (!OpenJpeg()) {
                m_encoder = std::make_unique<VideoStreamEncoder>();
                if (m_encoder->Open(Settings(m_width, m_height, vin->AvgTimePerFrame)) < 0) {
                    m_encoder.reset();
                    return E_FAIL;
                }
            }
        } catch (const std::bad_alloc&) {
            m_jpeg.reset();
            m_encoder.reset();
            return E_OUTOFMEMORY;
        }
        m_frame = 0;
        m_skipped = false;
        m_busy = false;
        m_quit = false;
        m_result = S_OK;
        try {
            m_thread = std::thread([this] { EncodeLoop(); });
        } catch (const std::exception&) {
            m_encoder.reset();
            m_jpeg.reset();
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    HRESULT StopStreaming() override {
        if (m_thread.joinable()) {
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                m_quit = true;
            }
            m_wake.notify_all();
            m_thread.join();
        }
        m_encoder.reset();
        m_jpeg.reset();
        std::vector<uint8_t>().swap(m_copy);  // a stopped graph holds no frame-sized buffer
        return S_OK;
    }

    // Hands the picture to the encoding thread and returns while it is encoded. The sample is
    // held only until it is converted to the encoder's format: the upstream filter gets it back
    // for its next picture then, while this one is still being encoded. Waits only for the
    // picture before to be done, so at most one is ever queued. A failure to encode or deliver
    // is answered for the picture after it.
    HRESULT Receive(IMediaSample* pIn) override {
        if ((!m_encoder && !m_jpeg) || !m_thread.joinable()) return E_UNEXPECTED;
        Picture picture;
        pIn->GetPointer(&picture.data);
        if (!picture.data || pIn->GetActualDataLength() <
                                 static_cast<long>(BufferSize(m_srcFormat, m_width, m_height)))
            return E_FAIL;
        picture.timeResult = pIn->GetTime(&picture.start, &picture.end);
        picture.preroll = pIn->IsPreroll() == S_OK;
        picture.discontinuity = pIn->IsDiscontinuity() == S_OK;
        picture.hasMediaTime = pIn->GetMediaTime(&picture.mediaStart, &picture.mediaEnd) == S_OK;
        HRESULT earlier = S_OK;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_done.wait(lock, [this] { return !m_busy; });
            earlier = m_result;
            m_result = S_OK;
            pIn->AddRef();
            picture.sample = pIn;
            m_job = picture;
            m_busy = true;
        }
        m_wake.notify_one();
        return earlier;
    }

    HRESULT EndOfStream() override {
        WaitIdle();
        return CTransformFilter::EndOfStream();
    }

    HRESULT BeginFlush() override {
        // Downstream refuses samples from here, so the picture in flight finishes at once.
        const HRESULT hr = CTransformFilter::BeginFlush();
        WaitIdle();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_result = S_OK;
        return hr;
    }

    // Downstream filters pause and stop before this one: the picture in flight reaches the writer
    // while it still takes pictures, as it would have were it encoded on the upstream thread.
    // Bounded, in case a downstream filter holds pictures back while paused.
    STDMETHODIMP Pause() override {
        if (m_State == State_Running) WaitIdle(std::chrono::seconds(1));
        return CTransformFilter::Pause();
    }
    STDMETHODIMP Stop() override {
        if (m_State != State_Stopped) WaitIdle(std::chrono::seconds(1));
        return CTransformFilter::Stop();
    }

private:
    struct Picture {
        IMediaSample* sample = nullptr;  // held until converted
        BYTE* data = nullptr;
        HRESULT timeResult = E_FAIL;
        REFERENCE_TIME start = 0, end = 0;
        LONGLONG mediaStart = 0, mediaEnd = 0;
        bool hasMediaTime = false;
        bool preroll = false;
        bool discontinuity = false;
    };

    void WaitIdle(std::chrono::milliseconds limit = std::chrono::hours(1)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_done.wait_for(lock, limit, [this] { return !m_busy; });
    }

    void EncodeLoop() {
        // Named for whoever looks at the process's threads (top -H, a debugger, a profiler).
        pthread_setname_np(pthread_self(), "video encoder");
        for (;;) {
            Picture picture;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_wake.wait(lock, [this] { return m_busy || m_quit; });
                // A picture taken before the stop is still encoded.
                if (!m_busy) return;
                picture = m_job;
            }
            const HRESULT hr = EncodeAndDeliver(picture);
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (FAILED(hr) && SUCCEEDED(m_result)) m_result = hr;
                m_busy = false;
            }
            m_done.notify_all();
        }
    }

    // libjpeg-turbo converts as it encodes, so the picture is copied first: the upstream filter
    // gets its sample back after a copy instead of after the whole encoding.
    bool OpenJpeg() {
        if (m_info.jpegQuality <= 0) return false;
        const int bytesPerPixel = m_srcFormat == AV_PIX_FMT_BGR24  ? 3
                                  : m_srcFormat == AV_PIX_FMT_BGRA ? 4
                                                                   : 0;
        auto jpeg = std::make_unique<JpegEncoder>();
        if (!bytesPerPixel || !jpeg->Open(m_width, m_height, bytesPerPixel, m_info.jpegQuality))
            return false;
        m_stride = (m_width * bytesPerPixel * 8 + 31) / 32 * 4;
        m_copy.resize(BufferSize(m_srcFormat, m_width, m_height));
        m_jpeg = std::move(jpeg);
        return true;
    }

    HRESULT EncodeJpegAndDeliver(Picture& picture) {
        std::memcpy(m_copy.data(), picture.data, m_copy.size());
        picture.sample->Release();
        picture.sample = nullptr;
        IMediaSample* pOut = nullptr;
        HRESULT hr = m_pOutput->GetDeliveryBuffer(&pOut, nullptr, nullptr, 0);
        if (FAILED(hr)) return hr;
        BYTE* dst = nullptr;
        pOut->GetPointer(&dst);
        const long capacity = pOut->GetSize();
        const size_t written = capacity > 0 ? m_jpeg->Encode(m_copy.data(), m_stride, m_bottomUp,
                                                             dst, static_cast<size_t>(capacity))
                                            : 0;
        if (written == 0) {
            pOut->Release();
            return E_FAIL;
        }
        SetTimes(pOut, picture);
        pOut->SetDiscontinuity(picture.discontinuity);
        pOut->SetActualDataLength(static_cast<long>(written));
        pOut->SetSyncPoint(TRUE);
        hr = m_pOutput->Deliver(pOut);
        pOut->Release();
        return hr;
    }

    // Copies: the sample's setters take pointers they do not write through.
    static void SetTimes(IMediaSample* pOut, const Picture& picture) {
        REFERENCE_TIME start = picture.start, end = picture.end;
        if (SUCCEEDED(picture.timeResult))
            pOut->SetTime(&start, picture.timeResult == VFW_S_NO_STOP_TIME ? nullptr : &end);
        LONGLONG mediaStart = picture.mediaStart, mediaEnd = picture.mediaEnd;
        if (picture.hasMediaTime) pOut->SetMediaTime(&mediaStart, &mediaEnd);
        pOut->SetPreroll(picture.preroll);
    }

    HRESULT EncodeAndDeliver(Picture& picture) {
        if (m_jpeg) return EncodeJpegAndDeliver(picture);
        const int converted =
            m_encoder->Convert(m_srcFormat, m_width, m_height, m_bottomUp, picture.data);
        picture.sample->Release();
        picture.sample = nullptr;
        if (converted < 0) return E_FAIL;
        IMediaSample* pOut = nullptr;
        HRESULT hr = m_pOutput->GetDeliveryBuffer(&pOut, nullptr, nullptr, 0);
        if (FAILED(hr)) return hr;
        BYTE* dst = nullptr;
        pOut->GetPointer(&dst);
        long written = 0;
        bool key = false;
        bool tooBig = false;
        const long capacity = pOut->GetSize();
        const int ret = m_encoder->EncodeConverted(m_frame++, [&](AVPacket* packet) {
            if (written > 0) return true;  // one picture in, one out
            if (!dst || packet->size > capacity) {
                tooBig = true;
                return false;
            }
            std::memcpy(dst, packet->data, static_cast<size_t>(packet->size));
            written = packet->size;
            key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
            return true;
        });
        if (ret < 0 || tooBig) {
            pOut->Release();
            return E_FAIL;
        }
        if (written == 0) {
            // The encoder held the picture back: the next one delivered says so.
            pOut->Release();
            m_skipped = true;
            return S_OK;
        }
        SetTimes(pOut, picture);
        pOut->SetDiscontinuity(m_skipped || picture.discontinuity);
        pOut->SetActualDataLength(written);
        pOut->SetSyncPoint(key);
        hr = m_pOutput->Deliver(pOut);
        pOut->Release();
        m_skipped = false;
        return hr;
    }

private:
    VideoEncoderSettings Settings(int width, int height, REFERENCE_TIME frameTime) const {
        VideoEncoderSettings s;
        s.codec = m_info.codec;
        s.encoderName = m_info.encoderName;
        s.format = m_info.format;
        s.width = width;
        s.height = height;
        s.frameLength = frameTime > 0 ? frameTime : 333333;
        s.quality = m_info.quality;
        const int64_t fps = 10000000 / s.frameLength;
        if (m_info.bitsPerPixel > 0)
            s.bitRate = static_cast<int64_t>(width) * height * m_info.bitsPerPixel;
        // Intra-only codecs key every picture; the others every two seconds.
        s.keyInterval = m_info.temporal ? static_cast<int>(std::max<int64_t>(fps * 2, 1)) : 1;
        s.options = m_info.options;
        return s;
    }

    const CompressorInfo& m_info;
    // The encoder, the frame count and m_skipped belong to the encoding thread while it runs.
    std::unique_ptr<VideoStreamEncoder> m_encoder;
    std::unique_ptr<JpegEncoder> m_jpeg;  // instead of m_encoder, with the copy it encodes from
    std::vector<uint8_t> m_copy;
    int m_stride = 0;
    int m_width = 0;
    int m_height = 0;
    bool m_bottomUp = true;
    AVPixelFormat m_srcFormat = AV_PIX_FMT_NONE;
    int64_t m_frame = 0;
    bool m_skipped = false;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_wake;  // a picture to encode, or the end
    std::condition_variable m_done;  // the picture in flight is delivered
    Picture m_job;                   // the picture handed over, while m_busy
    bool m_busy = false;
    bool m_quit = false;
    HRESULT m_result = S_OK;  // the first failure since the last picture taken
};

template <int Index>
HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) {
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* filter = new VideoCompressor(kCompressors[Index]);
    filter->NonDelegatingAddRef();
    const HRESULT hr = filter->NonDelegatingQueryInterface(riid, ppv);
    filter->NonDelegatingRelease();
    return hr;
}

void ProvideCompressors(std::vector<com::DeviceEntry>& out) {
    for (const CompressorInfo& info : kCompressors) {
        if (!EncoderPresent(info)) continue;
        com::DeviceEntry entry;
        entry.displayName =
            std::wstring(L"@device:cm:{33D9A760-90C8-11D0-BD43-00A0C911CE86}\\") + info.handler;
        entry.properties = {{L"FriendlyName", info.friendlyName}, {L"FccHandler", info.handler}};
        const CLSID clsid = info.clsid;
        entry.bind = [clsid](REFIID riid, void** ppv) {
            return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid, ppv);
        };
        out.push_back(std::move(entry));
    }
}

LUMACAP_REGISTER_CLASS(kCompressors[0].clsid, "MJPEG Compressor", Create<0>);
LUMACAP_REGISTER_CLASS(kCompressors[1].clsid, "MPEG-4 Video Compressor", Create<1>);
LUMACAP_REGISTER_CLASS(kCompressors[2].clsid, "H.264 Video Compressor", Create<2>);
LUMACAP_REGISTER_CLASS(kCompressors[3].clsid, "Ut Video Lossless Compressor", Create<3>);
const com::DeviceProviderRegistration s_provider(CLSID_VideoCompressorCategory, 50,
                                                 ProvideCompressors);

}  // namespace
}  // namespace lumacap::codecs
