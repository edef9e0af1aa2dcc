// The video compressors installed with the platform, listed in the video compressor category:
// MJPEG and MPEG-4 Part 2 encoders behind the transform filter interface, taking the RGB frames
// a recording produces.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include <streams.h>

#include "platform/codecs/Codecs.h"
#include "platform/com/ClassRegistry.h"
#include "platform/com/DeviceRegistry.h"

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
    bool temporal;
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
     false},
    {{0xB8A3E0B2, 0x54D7, 0x4E0F, {0x9C, 0x1B, 0x6F, 0x3A, 0x2D, 0x7C, 0x8E, 0x01}},
     L"MPEG-4 Video Compressor",
     L"fmp4",
     FourCC('F', 'M', 'P', '4'),
     AV_CODEC_ID_MPEG4,
     true},
};

const BITMAPINFOHEADER* HeaderOf(const CMediaType& mt) {
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER) && mt.pbFormat)
        return &reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
    return nullptr;
}

class VideoCompressor final : public CTransformFilter {
public:
    explicit VideoCompressor(const CompressorInfo& info)
        : CTransformFilter(NAME("Video compressor"), nullptr, info.clsid), m_info(info) {}

    HRESULT CheckInputType(const CMediaType* mt) override {
        if (mt->majortype != MEDIATYPE_Video || mt->formattype != FORMAT_VideoInfo)
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (mt->subtype != MEDIASUBTYPE_RGB24 && mt->subtype != MEDIASUBTYPE_RGB32)
            return VFW_E_TYPE_NOT_ACCEPTED;
        const BITMAPINFOHEADER* h = HeaderOf(*mt);
        // Both encoders work on pictures of even size.
        if (!h || h->biWidth <= 0 || h->biHeight == 0 || (h->biWidth & 1) || (h->biHeight & 1))
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
        if (CheckInputType(in) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
        const BITMAPINFOHEADER* ho = HeaderOf(*out);
        const BITMAPINFOHEADER* hi = HeaderOf(*in);
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
        mt->InitMediaType();
        mt->SetType(&MEDIATYPE_Video);
        GUID subtype = MEDIASUBTYPE_YUY2;
        subtype.Data1 = m_info.fourcc;
        mt->SetSubtype(&subtype);
        mt->SetFormatType(&FORMAT_VideoInfo);
        VIDEOINFOHEADER vih{};
        vih.AvgTimePerFrame = vin->AvgTimePerFrame;
        vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih.bmiHeader.biWidth = vin->bmiHeader.biWidth;
        vih.bmiHeader.biHeight = std::abs(vin->bmiHeader.biHeight);
        vih.bmiHeader.biPlanes = 1;
        vih.bmiHeader.biBitCount = 24;
        vih.bmiHeader.biCompression = m_info.fourcc;
        vih.bmiHeader.biSizeImage =
            static_cast<DWORD>(vih.bmiHeader.biWidth * vih.bmiHeader.biHeight * 3);
        mt->SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof(vih));
        mt->SetVariableSize();
        mt->SetTemporalCompression(m_info.temporal);
        return S_OK;
    }

    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) override {
        const BITMAPINFOHEADER* h = HeaderOf(m_pOutput->CurrentMediaType());
        if (!h) return E_UNEXPECTED;
        ALLOCATOR_PROPERTIES request = *prop;
        request.cBuffers = std::max<long>(request.cBuffers, 2);
        request.cbBuffer = std::max<long>(request.cbBuffer, static_cast<long>(h->biSizeImage));
        if (request.cbAlign <= 0) request.cbAlign = 1;
        ALLOCATOR_PROPERTIES actual{};
        const HRESULT hr = alloc->SetProperties(&request, &actual);
        if (FAILED(hr)) return hr;
        return actual.cbBuffer < static_cast<long>(h->biSizeImage) ? E_FAIL : S_OK;
    }

    HRESULT StartStreaming() override {
        const CMediaType& in = m_pInput->CurrentMediaType();
        const auto* vin = reinterpret_cast<const VIDEOINFOHEADER*>(in.pbFormat);
        m_width = vin->bmiHeader.biWidth;
        m_height = std::abs(vin->bmiHeader.biHeight);
        const int fps =
            vin->AvgTimePerFrame > 0 ? static_cast<int>(10000000 / vin->AvgTimePerFrame) : 30;
        const AVPixelFormat format =
            m_info.codec == AV_CODEC_ID_MJPEG ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
        m_encoder = std::make_unique<VideoEncoder>();
        if (!m_encoder->Open(
                m_info.codec, format, m_width, m_height, m_info.codec == AV_CODEC_ID_MJPEG ? 3 : 0,
                m_info.codec == AV_CODEC_ID_MJPEG ? 0 : static_cast<long>(m_width) * m_height * 4,
                fps, m_info.temporal ? fps * 2 : 1)) {
            m_encoder.reset();
            return E_FAIL;
        }
        m_yuv.assign(BufferSize(format, m_width, m_height), 0);
        m_frame = 0;
        return S_OK;
    }

    HRESULT StopStreaming() override {
        m_encoder.reset();
        return S_OK;
    }

    HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) override {
        if (!m_encoder) return E_UNEXPECTED;
        const CMediaType& in = m_pInput->CurrentMediaType();
        const BITMAPINFOHEADER* hi = HeaderOf(in);
        const AVPixelFormat srcFormat = PixelFormatOfSubtype(in.subtype);
        BYTE* src = nullptr;
        BYTE* dst = nullptr;
        pIn->GetPointer(&src);
        pOut->GetPointer(&dst);
        uint8_t* srcPlanes[4];
        int srcStrides[4];
        uint8_t* yuvPlanes[4];
        int yuvStrides[4];
        DescribeBuffer(srcFormat, m_width, m_height, hi->biHeight > 0, src, srcPlanes, srcStrides);
        DescribeBuffer(m_encoder->Format(), m_width, m_height, false, m_yuv.data(), yuvPlanes,
                       yuvStrides);
        if (!m_scaler.Convert(srcFormat, m_width, m_height, srcPlanes, srcStrides,
                              m_encoder->Format(), m_width, m_height, yuvPlanes, yuvStrides))
            return E_FAIL;
        bool key = false;
        const uint8_t* const planes[4] = {yuvPlanes[0], yuvPlanes[1], yuvPlanes[2], yuvPlanes[3]};
        if (!m_encoder->Encode(planes, yuvStrides, m_frame++, m_packet, &key)) return E_FAIL;
        if (m_packet.empty()) return S_FALSE;
        if (static_cast<long>(m_packet.size()) > pOut->GetSize()) return E_FAIL;
        std::memcpy(dst, m_packet.data(), m_packet.size());
        pOut->SetActualDataLength(static_cast<long>(m_packet.size()));
        pOut->SetSyncPoint(key);
        return S_OK;
    }

private:
    const CompressorInfo& m_info;
    std::unique_ptr<VideoEncoder> m_encoder;
    Scaler m_scaler;
    std::vector<uint8_t> m_yuv;
    std::vector<uint8_t> m_packet;
    int m_width = 0;
    int m_height = 0;
    int64_t m_frame = 0;
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
const com::DeviceProviderRegistration s_provider(CLSID_VideoCompressorCategory, 50,
                                                 ProvideCompressors);

}  // namespace
}  // namespace lumacap::codecs
