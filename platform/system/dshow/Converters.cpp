// Converting transforms: the colour space converter (YUV and RGB formats to RGB), the MJPEG
// decompressor (to RGB) and the rotate filter (RGB turned a quarter clockwise). Conversions run
// through libswscale, JPEG pictures through libjpeg-turbo (libavcodec for the rest), with
// contexts kept across frames.
#include <algorithm>
#include <cstring>
#include <memory>

#include <streams.h>
#include <rotatefilter.h>

#include "platform/system/codecs/Codecs.h"
#include "platform/system/codecs/JpegDecoder.h"
#include "platform/system/com/ClassRegistry.h"
#include "platform/system/dshow/FilterRegistry.h"
#include "platform/system/dshow/VideoFormat.h"

extern "C" {
#include <libavutil/frame.h>
}

namespace lumacap::dshow {
namespace {

// An uncompressed RGB video type: bottom-up rows padded to 4 bytes.
void MakeRgbType(CMediaType* mt, const GUID& subtype, LONG width, LONG height,
                 REFERENCE_TIME frameTime) {
    mt->InitMediaType();
    mt->SetType(&MEDIATYPE_Video);
    mt->SetSubtype(&subtype);
    mt->SetFormatType(&FORMAT_VideoInfo);
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = frameTime;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = subtype == MEDIASUBTYPE_RGB32 ? 32 : 24;
    vih.bmiHeader.biCompression = BI_RGB;
    vih.bmiHeader.biSizeImage = GetBitmapSize(&vih.bmiHeader);
    mt->SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof(vih));
    mt->SetSampleSize(vih.bmiHeader.biSizeImage);
    mt->SetTemporalCompression(FALSE);
}

bool IsRgbOutput(const CMediaType& mt) {
    if (mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo) return false;
    if (mt.subtype != MEDIASUBTYPE_RGB24 && mt.subtype != MEDIASUBTYPE_RGB32) return false;
    const BITMAPINFOHEADER* h = VideoHeaderOf(mt);
    return h && h->biCompression == BI_RGB &&
           h->biBitCount == (mt.subtype == MEDIASUBTYPE_RGB32 ? 32 : 24);
}

HRESULT SizeOutputBuffers(CTransformOutputPin* output, IMemAllocator* alloc,
                          ALLOCATOR_PROPERTIES* prop) {
    const BITMAPINFOHEADER* h = VideoHeaderOf(output->CurrentMediaType());
    if (!h) return E_UNEXPECTED;
    ALLOCATOR_PROPERTIES request = *prop;
    request.cBuffers = std::max<long>(request.cBuffers, 2);
    request.cbBuffer = std::max<long>(request.cbBuffer, static_cast<long>(GetBitmapSize(h)));
    if (request.cbAlign <= 0) request.cbAlign = 1;
    ALLOCATOR_PROPERTIES actual{};
    const HRESULT hr = alloc->SetProperties(&request, &actual);
    if (FAILED(hr)) return hr;
    return actual.cbBuffer < static_cast<long>(GetBitmapSize(h)) ? E_FAIL : S_OK;
}

// ---- colour space converter ---------------------------------------------------------------------

// A decoder or converter to RGB of the input's size: RGB24 or RGB32 out, sized like the input.
class RgbOutputTransform : public CTransformFilter {
public:
    RgbOutputTransform(LPCTSTR name, REFCLSID clsid) : CTransformFilter(name, nullptr, clsid) {}

    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
        if (CheckInputType(in) != S_OK || !IsRgbOutput(*out)) return VFW_E_TYPE_NOT_ACCEPTED;
        const BITMAPINFOHEADER* hi = VideoHeaderOf(*in);
        const BITMAPINFOHEADER* ho = VideoHeaderOf(*out);
        if (ho->biWidth != hi->biWidth || std::abs(ho->biHeight) != std::abs(hi->biHeight))
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT GetMediaType(int iPosition, CMediaType* mt) override {
        if (iPosition < 0) return E_INVALIDARG;
        if (iPosition > 1) return VFW_S_NO_MORE_ITEMS;
        const CMediaType& in = m_pInput->CurrentMediaType();
        const BITMAPINFOHEADER* h = VideoHeaderOf(in);
        if (!h) return E_UNEXPECTED;
        MakeRgbType(mt, iPosition == 0 ? MEDIASUBTYPE_RGB24 : MEDIASUBTYPE_RGB32, h->biWidth,
                    std::abs(h->biHeight), FrameTimeOf(in));
        return S_OK;
    }

    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) override {
        return SizeOutputBuffers(m_pOutput, alloc, prop);
    }
};

class ColourConverter final : public RgbOutputTransform {
public:
    explicit ColourConverter(HRESULT*)
        : RgbOutputTransform(NAME("Color Space Converter"), CLSID_Colour) {
        codecs::InitFfmpeg();
    }

    HRESULT CheckInputType(const CMediaType* mt) override {
        if (mt->majortype != MEDIATYPE_Video) return VFW_E_TYPE_NOT_ACCEPTED;
        if (codecs::PixelFormatOfSubtype(mt->subtype) == AV_PIX_FMT_NONE)
            return VFW_E_TYPE_NOT_ACCEPTED;
        const BITMAPINFOHEADER* h = VideoHeaderOf(*mt);
        if (!PlausiblePictureSize(h)) return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) override {
        const CMediaType& inType = m_pInput->CurrentMediaType();
        const CMediaType& outType = m_pOutput->CurrentMediaType();
        const BITMAPINFOHEADER* hi = VideoHeaderOf(inType);
        const BITMAPINFOHEADER* ho = VideoHeaderOf(outType);
        const AVPixelFormat srcFormat = codecs::PixelFormatOfSubtype(inType.subtype);
        const AVPixelFormat dstFormat = codecs::PixelFormatOfSubtype(outType.subtype);
        BYTE* src = nullptr;
        BYTE* dst = nullptr;
        pIn->GetPointer(&src);
        pOut->GetPointer(&dst);
        const int width = hi->biWidth;
        const int height = std::abs(hi->biHeight);
        if (pIn->GetActualDataLength() <
            static_cast<long>(codecs::BufferSize(srcFormat, width, height)))
            return E_FAIL;
        uint8_t* srcPlanes[4];
        int srcStrides[4];
        uint8_t* dstPlanes[4];
        int dstStrides[4];
        // RGB is bottom-up when its height is positive; YUV layouts are always top-down.
        codecs::DescribeBuffer(srcFormat, width, height, hi->biHeight > 0, src, srcPlanes,
                               srcStrides);
        codecs::DescribeBuffer(dstFormat, width, height, ho->biHeight > 0, dst, dstPlanes,
                               dstStrides);
        if (!m_scaler.Convert(srcFormat, width, height, srcPlanes, srcStrides, dstFormat, width,
                              height, dstPlanes, dstStrides))
            return E_FAIL;
        pOut->SetActualDataLength(static_cast<long>(GetBitmapSize(ho)));
        return S_OK;
    }

private:
    codecs::Scaler m_scaler;
};

// ---- MJPEG decompressor -------------------------------------------------------------------------

class MjpegDecompressor final : public RgbOutputTransform {
public:
    explicit MjpegDecompressor(HRESULT*)
        : RgbOutputTransform(NAME("MJPEG Decompressor"), CLSID_MjpegDec) {}

    HRESULT CheckInputType(const CMediaType* mt) override {
        if (mt->majortype != MEDIATYPE_Video || mt->subtype != MEDIASUBTYPE_MJPG)
            return VFW_E_TYPE_NOT_ACCEPTED;
        const BITMAPINFOHEADER* h = VideoHeaderOf(*mt);
        if (!PlausiblePictureSize(h)) return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT StartStreaming() override {
        // Fresh decoders per run; they are then reused for every picture of the run.
        m_jpeg = std::make_unique<codecs::JpegDecoder>();
        m_decoder.reset();
        return S_OK;
    }
    HRESULT StopStreaming() override {
        m_jpeg.reset();
        m_decoder.reset();
        return S_OK;
    }

    HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) override {
        if (!m_jpeg) return E_UNEXPECTED;
        BYTE* src = nullptr;
        BYTE* dst = nullptr;
        pIn->GetPointer(&src);
        pOut->GetPointer(&dst);
        const long length = pIn->GetActualDataLength();
        if (!src || !dst || length <= 0) return S_FALSE;
        const CMediaType& outType = m_pOutput->CurrentMediaType();
        const BITMAPINFOHEADER* ho = VideoHeaderOf(outType);
        const int width = ho->biWidth;
        const int height = std::abs(ho->biHeight);
        const int bytesPerPixel = ho->biBitCount / 8;
        // libjpeg-turbo writes the DIB's rows itself, colour converted; FFmpeg's decoder and a
        // conversion take what it cannot read (CMYK pictures, damaged headers).
        switch (m_jpeg->Decode(src, static_cast<size_t>(length), width, height, bytesPerPixel,
                               ho->biHeight > 0, dst,
                               static_cast<int>(GetBitmapSize(ho) / static_cast<DWORD>(height)))) {
            case codecs::JpegDecoder::Result::Ok:
                pOut->SetActualDataLength(static_cast<long>(GetBitmapSize(ho)));
                return S_OK;
            case codecs::JpegDecoder::Result::WrongSize:
                return S_FALSE;
            case codecs::JpegDecoder::Result::Failed:
                break;
        }
        if (!m_decoder) m_decoder = std::make_unique<codecs::MjpegDecoder>();
        const AVFrame* frame = m_decoder->Decode(src, static_cast<size_t>(length));
        // A damaged picture is dropped; the stream goes on.
        if (!frame) return S_FALSE;
        const AVPixelFormat dstFormat = codecs::PixelFormatOfSubtype(outType.subtype);
        if (frame->width != width || frame->height != height) return S_FALSE;
        uint8_t* dstPlanes[4];
        int dstStrides[4];
        codecs::DescribeBuffer(dstFormat, width, height, ho->biHeight > 0, dst, dstPlanes,
                               dstStrides);
        if (!m_scaler.Convert(static_cast<AVPixelFormat>(frame->format), frame->width,
                              frame->height, frame->data, frame->linesize, dstFormat, width, height,
                              dstPlanes, dstStrides))
            return E_FAIL;
        pOut->SetActualDataLength(static_cast<long>(GetBitmapSize(ho)));
        return S_OK;
    }

private:
    std::unique_ptr<codecs::JpegDecoder> m_jpeg;
    std::unique_ptr<codecs::MjpegDecoder> m_decoder;
    codecs::Scaler m_scaler;
};

// ---- rotate filter ------------------------------------------------------------------------------

// Turns RGB pictures a quarter turn clockwise: the output is as wide as the input is high.
class RotateFilter final : public CTransformFilter {
public:
    explicit RotateFilter(HRESULT*)
        : CTransformFilter(NAME("Rotate Filter"), nullptr, CLSID_RotateFilter) {}

    HRESULT CheckInputType(const CMediaType* mt) override {
        if (!IsRgbOutput(*mt)) return VFW_E_TYPE_NOT_ACCEPTED;
        const BITMAPINFOHEADER* h = VideoHeaderOf(*mt);
        return PlausiblePictureSize(h) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT CheckTransform(const CMediaType* in, const CMediaType* out) override {
        if (CheckInputType(in) != S_OK || !IsRgbOutput(*out) || in->subtype != out->subtype)
            return VFW_E_TYPE_NOT_ACCEPTED;
        const BITMAPINFOHEADER* hi = VideoHeaderOf(*in);
        const BITMAPINFOHEADER* ho = VideoHeaderOf(*out);
        if (ho->biWidth != std::abs(hi->biHeight) || std::abs(ho->biHeight) != hi->biWidth)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }

    HRESULT GetMediaType(int iPosition, CMediaType* mt) override {
        if (iPosition < 0) return E_INVALIDARG;
        if (iPosition > 0) return VFW_S_NO_MORE_ITEMS;
        const CMediaType& in = m_pInput->CurrentMediaType();
        const BITMAPINFOHEADER* h = VideoHeaderOf(in);
        if (!h) return E_UNEXPECTED;
        MakeRgbType(mt, in.subtype, std::abs(h->biHeight), h->biWidth, FrameTimeOf(in));
        return S_OK;
    }

    HRESULT DecideBufferSize(IMemAllocator* alloc, ALLOCATOR_PROPERTIES* prop) override {
        return SizeOutputBuffers(m_pOutput, alloc, prop);
    }

    HRESULT Transform(IMediaSample* pIn, IMediaSample* pOut) override {
        const BITMAPINFOHEADER* hi = VideoHeaderOf(m_pInput->CurrentMediaType());
        const BITMAPINFOHEADER* ho = VideoHeaderOf(m_pOutput->CurrentMediaType());
        const int bpp = hi->biBitCount / 8;
        const int inW = hi->biWidth, inH = std::abs(hi->biHeight);
        const int outW = ho->biWidth, outH = std::abs(ho->biHeight);
        const int inStride = GDI_WIDTHBYTES(inW * hi->biBitCount);
        const int outStride = GDI_WIDTHBYTES(outW * ho->biBitCount);
        BYTE* src = nullptr;
        BYTE* dst = nullptr;
        pIn->GetPointer(&src);
        pOut->GetPointer(&dst);
        if (pIn->GetActualDataLength() < inStride * inH) return E_FAIL;
        // Work in top-down coordinates: input pixel (x, y) lands at output (inH - 1 - y, x).
        auto inRow = [&](int y) {
            return src + static_cast<ptrdiff_t>(hi->biHeight > 0 ? inH - 1 - y : y) * inStride;
        };
        auto outRow = [&](int y) {
            return dst + static_cast<ptrdiff_t>(ho->biHeight > 0 ? outH - 1 - y : y) * outStride;
        };
        for (int oy = 0; oy < outH; ++oy) {
            BYTE* o = outRow(oy);
            const int x = oy;
            for (int ox = 0; ox < outW; ++ox) {
                const int y = inH - 1 - ox;
                std::memcpy(o + ox * bpp, inRow(y) + x * bpp, static_cast<size_t>(bpp));
            }
        }
        pOut->SetActualDataLength(outStride * outH);
        return S_OK;
    }
};

}  // namespace

LUMACAP_REGISTER_CLASS(CLSID_Colour, "Color Space Converter", CreateComInstance<ColourConverter>);
LUMACAP_REGISTER_CLASS(CLSID_MjpegDec, "MJPEG Decompressor", CreateComInstance<MjpegDecompressor>);
LUMACAP_REGISTER_CLASS(CLSID_RotateFilter, "Rotate Filter", CreateComInstance<RotateFilter>);

// Intelligent connect may insert the converters (the decompressor first, as its merit is higher).
// The rotate filter is the application's to place: it is not registered with the mapper.
static const BuiltinFilter s_mjpeg(CLSID_MjpegDec, L"MJPEG Decompressor", MERIT_NORMAL,
                                   {{0, {{MEDIATYPE_Video, MEDIASUBTYPE_MJPG}}},
                                    {REG_PINFLAG_B_OUTPUT, {{MEDIATYPE_Video, GUID_NULL}}}});
static const BuiltinFilter s_colour(CLSID_Colour, L"Color Space Converter", MERIT_UNLIKELY + 1,
                                    {{0, {{MEDIATYPE_Video, GUID_NULL}}},
                                     {REG_PINFLAG_B_OUTPUT, {{MEDIATYPE_Video, GUID_NULL}}}});

}  // namespace lumacap::dshow
