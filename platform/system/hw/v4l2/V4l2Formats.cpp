// Capabilities of a V4L2 camera, their media types, and frames copied into the graph's layout.
#include "platform/system/hw/v4l2/V4l2Formats.h"

#include <algorithm>
#include <cstring>
#include <numeric>

#include <amvideo.h>
#include <objbase.h>
#include <uuids.h>
#include <wingdi.h>

namespace lumacap::hw::v4l2 {
namespace {

// Sizes offered out of a stepwise or continuous range: those of them the range includes.
constexpr struct {
    uint32_t width, height;
} kCommonSizes[] = {{160, 120},   {176, 144},   {320, 180},  {320, 240},   {352, 288},
                    {424, 240},   {640, 360},   {640, 480},  {800, 600},   {960, 540},
                    {1024, 768},  {1280, 720},  {1280, 960}, {1280, 1024}, {1600, 1200},
                    {1920, 1080}, {2560, 1440}, {3840, 2160}};

bool InRange(uint32_t v, uint32_t lo, uint32_t hi, uint32_t step) {
    return v >= lo && v <= hi && (step <= 1 || (v - lo) % step == 0);
}

std::vector<std::pair<uint32_t, uint32_t>> FrameSizes(Api& api, int fd, uint32_t fourcc) {
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
    for (uint32_t index = 0;; ++index) {
        v4l2_frmsizeenum e{};
        e.index = index;
        e.pixel_format = fourcc;
        if (api.Ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &e) < 0) break;
        if (e.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            sizes.emplace_back(e.discrete.width, e.discrete.height);
            continue;
        }
        const v4l2_frmsize_stepwise& s = e.stepwise;
        for (const auto& c : kCommonSizes)
            if (InRange(c.width, s.min_width, s.max_width, s.step_width) &&
                InRange(c.height, s.min_height, s.max_height, s.step_height))
                sizes.emplace_back(c.width, c.height);
        if (std::find(sizes.begin(), sizes.end(), std::make_pair(s.max_width, s.max_height)) ==
            sizes.end())
            sizes.emplace_back(s.max_width, s.max_height);
        break;  // a range is the only entry
    }
    if (sizes.empty()) {
        // No size enumeration: the size the driver gives when asked for this format.
        v4l2_format f{};
        f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        f.fmt.pix.pixelformat = fourcc;
        f.fmt.pix.width = 640;
        f.fmt.pix.height = 480;
        if (api.Ioctl(fd, VIDIOC_TRY_FMT, &f) == 0 && f.fmt.pix.pixelformat == fourcc)
            sizes.emplace_back(f.fmt.pix.width, f.fmt.pix.height);
    }
    return sizes;
}

void FrameTimes(Api& api, int fd, uint32_t fourcc, uint32_t width, uint32_t height,
                REFERENCE_TIME* minTime, REFERENCE_TIME* maxTime) {
    REFERENCE_TIME lo = 0, hi = 0;
    for (uint32_t index = 0;; ++index) {
        v4l2_frmivalenum e{};
        e.index = index;
        e.pixel_format = fourcc;
        e.width = width;
        e.height = height;
        if (api.Ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &e) < 0) break;
        if (e.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            const REFERENCE_TIME t = FrameTimeOfInterval(e.discrete);
            if (t <= 0) continue;
            lo = lo ? std::min(lo, t) : t;
            hi = std::max(hi, t);
            continue;
        }
        lo = FrameTimeOfInterval(e.stepwise.min);
        hi = FrameTimeOfInterval(e.stepwise.max);
        break;
    }
    if (lo <= 0) {
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (api.Ioctl(fd, VIDIOC_G_PARM, &parm) == 0)
            lo = hi = FrameTimeOfInterval(parm.parm.capture.timeperframe);
        if (lo <= 0) lo = hi = 333333;
    }
    *minTime = lo;
    *maxTime = std::max(lo, hi);
}

uint16_t BitCount(const GUID& subtype) {
    if (subtype == MEDIASUBTYPE_YUY2) return 16;
    if (subtype == MEDIASUBTYPE_NV12 || subtype == MEDIASUBTYPE_I420) return 12;
    return 24;
}

void CopyRows(const uint8_t* src, size_t srcStride, uint8_t* dst, size_t dstStride, size_t bytes,
              uint32_t rows) {
    if (srcStride == dstStride && srcStride == bytes) {
        std::memcpy(dst, src, bytes * rows);
        return;
    }
    for (uint32_t y = 0; y < rows; ++y)
        std::memcpy(dst + y * dstStride, src + y * srcStride, bytes);
}

}  // namespace

GUID SubtypeOfFourcc(uint32_t fourcc) {
    switch (fourcc) {
        case V4L2_PIX_FMT_YUYV:
            return MEDIASUBTYPE_YUY2;
        case V4L2_PIX_FMT_MJPEG:
            return MEDIASUBTYPE_MJPG;
        case V4L2_PIX_FMT_NV12:
            return MEDIASUBTYPE_NV12;
        case V4L2_PIX_FMT_YUV420:
            return MEDIASUBTYPE_I420;
        case V4L2_PIX_FMT_BGR24:
        case V4L2_PIX_FMT_RGB24:
            return MEDIASUBTYPE_RGB24;
        default:
            return GUID_NULL;
    }
}

REFERENCE_TIME FrameTimeOfInterval(const v4l2_fract& interval) {
    if (!interval.denominator || !interval.numerator) return 0;
    return static_cast<REFERENCE_TIME>(10000000LL * interval.numerator / interval.denominator);
}

v4l2_fract IntervalOfFrameTime(REFERENCE_TIME frameTime) {
    if (frameTime <= 0) return {1, 30};
    // 100-nanosecond units over ten million, reduced to what a driver compares easily.
    uint64_t n = static_cast<uint64_t>(frameTime), d = 10000000;
    for (uint64_t g; (g = std::gcd(n, d)) > 1;) {
        n /= g;
        d /= g;
    }
    while (n > UINT32_MAX || d > UINT32_MAX) {
        n /= 2;
        d /= 2;
    }
    return {static_cast<uint32_t>(n), static_cast<uint32_t>(std::max<uint64_t>(1, d))};
}

std::vector<Capability> DiscoverCapabilities(Api& api, int fd) {
    std::vector<uint32_t> fourccs;
    for (uint32_t index = 0;; ++index) {
        v4l2_fmtdesc desc{};
        desc.index = index;
        desc.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (api.Ioctl(fd, VIDIOC_ENUM_FMT, &desc) < 0) break;
        if (SubtypeOfFourcc(desc.pixelformat) != GUID_NULL) fourccs.push_back(desc.pixelformat);
    }
    // Both RGB byte orders become the same subtype; keep the one that needs no swapping.
    if (std::find(fourccs.begin(), fourccs.end(), V4L2_PIX_FMT_BGR24) != fourccs.end())
        fourccs.erase(std::remove(fourccs.begin(), fourccs.end(), V4L2_PIX_FMT_RGB24),
                      fourccs.end());
    std::vector<Capability> caps;
    for (uint32_t fourcc : fourccs) {
        for (const auto& [width, height] : FrameSizes(api, fd, fourcc)) {
            // A size no picture has (a driver's mistake) is left out rather than trusted.
            constexpr uint32_t kMaxSide = 32768;
            if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide) continue;
            Capability cap;
            cap.fourcc = fourcc;
            cap.subtype = SubtypeOfFourcc(fourcc);
            cap.width = static_cast<long>(width);
            cap.height = static_cast<long>(height);
            FrameTimes(api, fd, fourcc, width, height, &cap.minFrameTime, &cap.maxFrameTime);
            caps.push_back(cap);
        }
    }
    return caps;
}

long SampleBytes(const Capability& cap, long driverSizeImage) {
    BITMAPINFOHEADER h{};
    h.biWidth = cap.width;
    h.biHeight = cap.height;
    h.biBitCount = BitCount(cap.subtype);
    if (cap.subtype == MEDIASUBTYPE_MJPG) {
        // The driver's own bound, unless it claims more than any picture of the size could take.
        const long own = cap.width * cap.height * 2;
        return driverSizeImage > own * 4 ? own : std::max(driverSizeImage, own);
    }
    if (cap.subtype == MEDIASUBTYPE_RGB24) return GDI_WIDTHBYTES(cap.width * 24) * cap.height;
    return cap.width * cap.height * h.biBitCount / 8;
}

bool MakeMediaType(const Capability& cap, REFERENCE_TIME frameTime, long sampleBytes,
                   AM_MEDIA_TYPE* mt) {
    std::memset(mt, 0, sizeof(*mt));
    auto* vih = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (!vih) return false;
    std::memset(vih, 0, sizeof(*vih));
    vih->AvgTimePerFrame = frameTime > 0 ? frameTime : cap.minFrameTime;
    BITMAPINFOHEADER& h = vih->bmiHeader;
    h.biSize = sizeof(BITMAPINFOHEADER);
    h.biWidth = cap.width;
    h.biHeight = cap.height;
    h.biPlanes = 1;
    h.biBitCount = BitCount(cap.subtype);
    h.biCompression = cap.subtype == MEDIASUBTYPE_RGB24 ? BI_RGB : cap.subtype.Data1;
    h.biSizeImage = static_cast<DWORD>(sampleBytes);
    const double fps = 10000000.0 / static_cast<double>(vih->AvgTimePerFrame);
    vih->dwBitRate = static_cast<DWORD>(std::min(sampleBytes * 8.0 * fps, 4294967295.0));
    mt->majortype = MEDIATYPE_Video;
    mt->subtype = cap.subtype;
    mt->bFixedSizeSamples = cap.subtype == MEDIASUBTYPE_MJPG ? FALSE : TRUE;
    mt->bTemporalCompression = FALSE;
    mt->lSampleSize = cap.subtype == MEDIASUBTYPE_MJPG ? 0 : static_cast<ULONG>(sampleBytes);
    mt->formattype = FORMAT_VideoInfo;
    mt->cbFormat = sizeof(VIDEOINFOHEADER);
    mt->pbFormat = reinterpret_cast<BYTE*>(vih);
    return true;
}

void FillStreamCaps(const Capability& cap, long sampleBytes, VIDEO_STREAM_CONFIG_CAPS* caps) {
    std::memset(caps, 0, sizeof(*caps));
    caps->guid = FORMAT_VideoInfo;
    caps->InputSize = {static_cast<LONG>(cap.width), static_cast<LONG>(cap.height)};
    caps->MinCroppingSize = caps->MaxCroppingSize = caps->InputSize;
    caps->CropGranularityX = caps->CropGranularityY = 1;
    caps->CropAlignX = caps->CropAlignY = 1;
    caps->MinOutputSize = caps->MaxOutputSize = caps->InputSize;
    caps->OutputGranularityX = caps->OutputGranularityY = 1;
    caps->MinFrameInterval = cap.minFrameTime;
    caps->MaxFrameInterval = cap.maxFrameTime;
    const double bits = sampleBytes * 8.0;
    caps->MinBitsPerSecond =
        static_cast<LONG>(std::min(bits * 1e7 / static_cast<double>(cap.maxFrameTime), 2.1e9));
    caps->MaxBitsPerSecond =
        static_cast<LONG>(std::min(bits * 1e7 / static_cast<double>(cap.minFrameTime), 2.1e9));
}

long CopyFrame(const Layout& layout, const uint8_t* src, size_t bytesUsed, uint8_t* dst,
               long capacity) {
    const uint32_t w = layout.width, h = layout.height;
    const size_t bpl = layout.bytesPerLine;
    switch (layout.fourcc) {
        case V4L2_PIX_FMT_MJPEG:
            if (bytesUsed == 0 || bytesUsed > static_cast<size_t>(capacity)) return -1;
            std::memcpy(dst, src, bytesUsed);
            return static_cast<long>(bytesUsed);
        case V4L2_PIX_FMT_YUYV: {
            const size_t row = w * 2;
            if (bpl < row || bytesUsed < bpl * (h - 1) + row) return -1;
            if (static_cast<size_t>(capacity) < row * h) return -1;
            CopyRows(src, bpl, dst, row, row, h);
            return static_cast<long>(row * h);
        }
        case V4L2_PIX_FMT_NV12:
        case V4L2_PIX_FMT_YUV420: {
            const bool nv12 = layout.fourcc == V4L2_PIX_FMT_NV12;
            const size_t chromaBpl = nv12 ? bpl : bpl / 2;
            const size_t chromaRow = nv12 ? w : w / 2;
            const uint32_t chromaRows = nv12 ? h / 2 : h;  // I420: two planes of h/2 rows
            const size_t need = bpl * h + chromaBpl * chromaRows;
            const size_t out = static_cast<size_t>(w) * h * 3 / 2;
            if (bpl < w || bytesUsed < need || static_cast<size_t>(capacity) < out) return -1;
            CopyRows(src, bpl, dst, w, w, h);
            CopyRows(src + bpl * h, chromaBpl, dst + static_cast<size_t>(w) * h, chromaRow,
                     chromaRow, chromaRows);
            return static_cast<long>(out);
        }
        case V4L2_PIX_FMT_BGR24:
        case V4L2_PIX_FMT_RGB24: {
            const size_t row = w * 3;
            const size_t stride = GDI_WIDTHBYTES(w * 24);
            if (bpl < row || bytesUsed < bpl * (h - 1) + row) return -1;
            if (static_cast<size_t>(capacity) < stride * h) return -1;
            const bool swap = layout.fourcc == V4L2_PIX_FMT_RGB24;
            for (uint32_t y = 0; y < h; ++y) {
                const uint8_t* s = src + y * bpl;
                uint8_t* d = dst + (h - 1 - y) * stride;  // bottom-up
                if (!swap) {
                    std::memcpy(d, s, row);
                } else {
                    for (uint32_t x = 0; x < w; ++x) {
                        d[3 * x] = s[3 * x + 2];
                        d[3 * x + 1] = s[3 * x + 1];
                        d[3 * x + 2] = s[3 * x];
                    }
                }
                std::memset(d + row, 0, stride - row);
            }
            return static_cast<long>(stride * h);
        }
        default:
            return -1;
    }
}

bool IsWholeJpeg(const uint8_t* data, size_t size, long width, long height) {
    if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    // The picture ends with its end marker; drivers may pad the buffer with zeros after it.
    size_t end = size;
    while (end > 2 && data[end - 1] == 0) --end;
    if (end < 4 || data[end - 2] != 0xFF || data[end - 1] != 0xD9) return false;
    bool frameHeader = false;
    for (size_t at = 2; at + 4 <= end;) {
        if (data[at] != 0xFF) return false;
        uint8_t marker = data[at + 1];
        if (marker == 0xFF) {  // fill byte
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0xD9 || (marker >= 0xD0 && marker <= 0xD7)) return false;
        const size_t length = (static_cast<size_t>(data[at + 2]) << 8) | data[at + 3];
        if (length < 2 || at + 2 + length > end) return false;
        const bool sof =
            marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (sof) {
            if (length < 8) return false;
            const long h = (data[at + 5] << 8) | data[at + 6];
            const long w = (data[at + 7] << 8) | data[at + 8];
            if (w != width || h != height) return false;
            frameHeader = true;
        }
        if (marker == 0xDA) return frameHeader;  // the scan follows; its data runs to the end
        at += 2 + length;
    }
    return false;
}

}  // namespace lumacap::hw::v4l2
