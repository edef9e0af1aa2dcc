// Reading a video media type's format block: the picture's header and its frame time, for both
// VIDEOINFOHEADER and VIDEOINFOHEADER2 blocks, never reading past a short block.
#pragma once

#include <strmif.h>
#include <amvideo.h>
#include <uuids.h>

namespace lumacap::dshow {

// The picture's header, or null when the type carries no (complete) video format block.
inline const BITMAPINFOHEADER* VideoHeaderOf(const AM_MEDIA_TYPE& mt) {
    if (!mt.pbFormat) return nullptr;
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
        return &reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->bmiHeader;
    if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
        return &reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->bmiHeader;
    return nullptr;
}

// A picture size a filter can work with: positive width, a height of either sign but not zero,
// neither side beyond 32,768 pixels (so sizes, strides and their products stay in range).
inline bool PlausiblePictureSize(const BITMAPINFOHEADER* h) {
    constexpr LONG kMaxSide = 32768;
    return h && h->biWidth > 0 && h->biWidth <= kMaxSide && h->biHeight != 0 &&
           h->biHeight >= -kMaxSide && h->biHeight <= kMaxSide;
}

// The average frame time in 100 ns units, or 0 when the type does not say.
inline REFERENCE_TIME FrameTimeOf(const AM_MEDIA_TYPE& mt) {
    if (!mt.pbFormat) return 0;
    if (mt.formattype == FORMAT_VideoInfo && mt.cbFormat >= sizeof(VIDEOINFOHEADER))
        return reinterpret_cast<const VIDEOINFOHEADER*>(mt.pbFormat)->AvgTimePerFrame;
    if (mt.formattype == FORMAT_VideoInfo2 && mt.cbFormat >= sizeof(VIDEOINFOHEADER2))
        return reinterpret_cast<const VIDEOINFOHEADER2*>(mt.pbFormat)->AvgTimePerFrame;
    return 0;
}

}  // namespace lumacap::dshow
