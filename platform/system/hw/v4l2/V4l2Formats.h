// What a V4L2 camera's formats look like to the media graph: the capabilities (one per pixel format
// and frame size, with the range of frame times), their media types and capability records, and
// how a captured frame is copied into a media sample in that layout.
#pragma once

#include <linux/videodev2.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include <strmif.h>

#include "platform/system/hw/v4l2/V4l2Api.h"

namespace lumacap::hw::v4l2 {

struct Capability {
    uint32_t fourcc = 0;
    GUID subtype{};
    long width = 0;
    long height = 0;
    REFERENCE_TIME minFrameTime = 333333;  // the fastest rate
    REFERENCE_TIME maxFrameTime = 333333;  // the slowest
};

// The media subtype the graph knows a V4L2 pixel format by; GUID_NULL for formats it cannot take.
GUID SubtypeOfFourcc(uint32_t fourcc);

// The device's capture formats in the order it lists them. Stepwise and continuous size ranges
// are reduced to the common sizes they include and their largest size.
std::vector<Capability> DiscoverCapabilities(Api& api, int fd);

// The bytes of a sample in the capability's layout (compressed: an upper bound).
long SampleBytes(const Capability& cap, long driverSizeImage);
// A FORMAT_VideoInfo media type; the format block comes from CoTaskMemAlloc.
bool MakeMediaType(const Capability& cap, REFERENCE_TIME frameTime, long sampleBytes,
                   AM_MEDIA_TYPE* mt);
void FillStreamCaps(const Capability& cap, long sampleBytes, VIDEO_STREAM_CONFIG_CAPS* caps);

REFERENCE_TIME FrameTimeOfInterval(const v4l2_fract& interval);
v4l2_fract IntervalOfFrameTime(REFERENCE_TIME frameTime);

// How the driver lays out the negotiated format.
struct Layout {
    uint32_t fourcc = 0;
    uint32_t width = 0;
    uint32_t height = 0;
    uint32_t bytesPerLine = 0;
};

// Copies a captured frame into a sample in the graph's layout: packed YUV and planar YUV with tight
// rows, RGB as bottom-up DIB rows in blue-green-red order. Answers the sample's byte count, or -1
// when the frame is shorter than its format needs or does not fit.
long CopyFrame(const Layout& layout, const uint8_t* src, size_t bytesUsed, uint8_t* dst,
               long capacity);

// Whether a compressed frame is a whole JPEG picture of the expected size: start and end markers,
// a frame header of that size and a scan, as a decoder needs them.
bool IsWholeJpeg(const uint8_t* data, size_t size, long width, long height);

}  // namespace lumacap::hw::v4l2
