// Trace lines about filter graphs: media types, pins and allocators in words.
#include "platform/system/dshow/GraphTrace.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <mmreg.h>
#include <objbase.h>
#include <uuids.h>

#include "platform/system/dshow/VideoFormat.h"
#include "platform/system/win/Trace.h"

namespace lumacap::dshow {
namespace {

std::string GuidText(const GUID& guid) {
    wchar_t text[40];
    StringFromGUID2(guid, text, 40);
    return trace::Utf8(text);
}

// Subtypes built from a FourCC or a wave format tag share one GUID pattern.
bool IsFourCcGuid(const GUID& g) {
    static const uint8_t tail[8] = {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    return g.Data2 == 0x0000 && g.Data3 == 0x0010 && std::equal(tail, tail + 8, g.Data4);
}

std::string SubtypeName(const GUID& subtype) {
    static const struct {
        const GUID* guid;
        const char* name;
    } kNames[] = {{&MEDIASUBTYPE_RGB8, "RGB8"},     {&MEDIASUBTYPE_RGB555, "RGB555"},
                  {&MEDIASUBTYPE_RGB565, "RGB565"}, {&MEDIASUBTYPE_RGB24, "RGB24"},
                  {&MEDIASUBTYPE_RGB32, "RGB32"},   {&MEDIASUBTYPE_ARGB32, "ARGB32"},
                  {&MEDIASUBTYPE_PCM, "PCM"},       {&MEDIASUBTYPE_Avi, "Avi"},
                  {&MEDIASUBTYPE_Asf, "Asf"}};
    for (const auto& n : kNames)
        if (subtype == *n.guid) return n.name;
    if (IsFourCcGuid(subtype)) {
        const uint32_t code = subtype.Data1;
        if (code < 0x10000) {
            char tag[16];
            std::snprintf(tag, sizeof(tag), "tag 0x%04X", static_cast<unsigned>(code));
            return tag;
        }
        std::string fourcc;
        for (int i = 0; i < 4; ++i) {
            const char c = static_cast<char>((code >> (8 * i)) & 0xFF);
            fourcc += (c >= 0x20 && c < 0x7F) ? c : '?';
        }
        return fourcc;
    }
    return GuidText(subtype);
}

std::string MajorName(const GUID& major) {
    if (major == MEDIATYPE_Video) return "Video";
    if (major == MEDIATYPE_Audio) return "Audio";
    if (major == MEDIATYPE_Stream) return "Stream";
    if (major == MEDIATYPE_Interleaved) return "Interleaved";
    return GuidText(major);
}

}  // namespace

std::string DescribeMediaType(const AM_MEDIA_TYPE* mt) {
    if (!mt) return "(no type)";
    std::string text = MajorName(mt->majortype) + " " + SubtypeName(mt->subtype);
    char detail[96] = "";
    if (const BITMAPINFOHEADER* bih = VideoHeaderOf(*mt)) {
        const REFERENCE_TIME frame = FrameTimeOf(*mt);
        std::snprintf(detail, sizeof(detail), " %ldx%ld %u-bit", static_cast<long>(bih->biWidth),
                      static_cast<long>(bih->biHeight), static_cast<unsigned>(bih->biBitCount));
        if (frame > 0)
            std::snprintf(detail + std::strlen(detail), sizeof(detail) - std::strlen(detail),
                          " %.2f fps", 1e7 / static_cast<double>(frame));
    } else if (mt->formattype == FORMAT_WaveFormatEx && mt->pbFormat &&
               mt->cbFormat >= sizeof(WAVEFORMATEX) - sizeof(WORD)) {
        const auto* wf = reinterpret_cast<const WAVEFORMATEX*>(mt->pbFormat);
        std::snprintf(detail, sizeof(detail), " %lu Hz %u-bit %u ch",
                      static_cast<unsigned long>(wf->nSamplesPerSec),
                      static_cast<unsigned>(wf->wBitsPerSample),
                      static_cast<unsigned>(wf->nChannels));
    }
    return text + detail;
}

std::string DescribeFilter(IBaseFilter* filter) {
    if (!filter) return "?";
    FILTER_INFO info{};
    if (FAILED(filter->QueryFilterInfo(&info))) return "?";
    if (info.pGraph) info.pGraph->Release();
    return info.achName[0] ? trace::Utf8(info.achName) : "(unnamed)";
}

std::string DescribePin(IPin* pin) {
    if (!pin) return "?";
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info))) return "?";
    std::string text = DescribeFilter(info.pFilter) + "." + trace::Utf8(info.achName);
    if (info.pFilter) info.pFilter->Release();
    return text;
}

void TraceConnection(IPin* out, IPin* in, const AM_MEDIA_TYPE* mt) {
    LUMACAP_TRACE(kDshow, "connected %s -> %s: %s", DescribePin(out).c_str(),
                  DescribePin(in).c_str(), DescribeMediaType(mt).c_str());
}

void TraceAllocator(IPin* out, IMemAllocator* allocator, const char* whose) {
    ALLOCATOR_PROPERTIES props{};
    if (!allocator || FAILED(allocator->GetProperties(&props))) return;
    LUMACAP_TRACE(kDshow, "allocator of %s: %ld x %ld bytes (align %ld, prefix %ld), %s",
                  DescribePin(out).c_str(), static_cast<long>(props.cBuffers),
                  static_cast<long>(props.cbBuffer), static_cast<long>(props.cbAlign),
                  static_cast<long>(props.cbPrefix), whose);
}

}  // namespace lumacap::dshow
