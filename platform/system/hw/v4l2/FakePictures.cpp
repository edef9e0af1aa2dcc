// The camera double's pictures in each V4L2 pixel format.
#include "platform/system/hw/v4l2/FakePictures.h"

#include <linux/videodev2.h>

#include <cstring>

namespace lumacap::hw::v4l2 {
namespace {

// The formats drawn as bottom-up BGR first and then converted (top-down, as V4L2 lays them out).
AVPixelFormat ConvertedFormat(uint32_t fourcc) {
    switch (fourcc) {
        case V4L2_PIX_FMT_NV12:
            return AV_PIX_FMT_NV12;
        case V4L2_PIX_FMT_YUV420:
            return AV_PIX_FMT_YUV420P;
        case V4L2_PIX_FMT_RGB24:
            return AV_PIX_FMT_RGB24;
        case V4L2_PIX_FMT_BGR24:
            return AV_PIX_FMT_BGR24;
        default:
            return AV_PIX_FMT_NONE;
    }
}

}  // namespace

bool PictureMaker::Configure(uint32_t fourcc, int width, int height) {
    if (fourcc == m_fourcc && width == m_width && height == m_height) return true;
    m_fourcc = 0;
    m_frames.clear();
    PatternAdjust adjust;
    bool ok;
    if (fourcc == V4L2_PIX_FMT_YUYV)
        ok = m_renderer.Configure(AV_PIX_FMT_YUYV422, false, width, height, adjust);
    else if (fourcc == V4L2_PIX_FMT_MJPEG)
        ok = m_renderer.Configure(AV_PIX_FMT_NONE, true, width, height, adjust);
    else if (ConvertedFormat(fourcc) != AV_PIX_FMT_NONE)
        ok = m_renderer.Configure(AV_PIX_FMT_BGR24, false, width, height, adjust);
    else
        ok = false;
    if (!ok) return false;
    if (ConvertedFormat(fourcc) != AV_PIX_FMT_NONE)
        m_bgr.resize(static_cast<size_t>(m_renderer.MaxSize()));
    m_fourcc = fourcc;
    m_width = width;
    m_height = height;
    return true;
}

void PictureMaker::SetReplay(int frames) {
    if (frames == m_replay) return;
    m_replay = frames;
    m_frames.clear();
}

long PictureMaker::Render(long number, uint8_t* dst, size_t capacity) {
    if (m_replay <= 0) return Draw(number, dst, capacity);
    const size_t slot = static_cast<size_t>(number % m_replay);
    if (m_frames.size() <= slot) m_frames.resize(slot + 1);
    std::vector<uint8_t>& frame = m_frames[slot];
    if (frame.empty()) {
        frame.resize(capacity);
        const long n = Draw(static_cast<long>(slot), frame.data(), capacity);
        if (n < 0) {
            frame.clear();
            return -1;
        }
        frame.resize(static_cast<size_t>(n));
    }
    if (frame.size() > capacity) return -1;
    std::memcpy(dst, frame.data(), frame.size());
    return static_cast<long>(frame.size());
}

long PictureMaker::Draw(long number, uint8_t* dst, size_t capacity) {
    if (!m_fourcc) return -1;
    const AVPixelFormat target = ConvertedFormat(m_fourcc);
    if (target == AV_PIX_FMT_NONE)
        return m_renderer.Render(number, dst, static_cast<long>(capacity));
    if (m_renderer.Render(number, m_bgr.data(), static_cast<long>(m_bgr.size())) < 0) return -1;
    const size_t size = codecs::BufferSize(target, m_width, m_height);
    if (size == 0 || size > capacity) return -1;
    uint8_t* src[4];
    int srcStride[4];
    codecs::DescribeBuffer(AV_PIX_FMT_BGR24, m_width, m_height, true, m_bgr.data(), src, srcStride);
    uint8_t* planes[4];
    int strides[4];
    // RGB in V4L2 is top-down with rows of exactly width * 3 bytes.
    if (target == AV_PIX_FMT_RGB24 || target == AV_PIX_FMT_BGR24) {
        planes[0] = dst;
        strides[0] = m_width * 3;
        for (int i = 1; i < 4; ++i) {
            planes[i] = nullptr;
            strides[i] = 0;
        }
    } else if (!codecs::DescribeBuffer(target, m_width, m_height, false, dst, planes, strides)) {
        return -1;
    }
    const uint8_t* const source[4] = {src[0], src[1], src[2], src[3]};
    if (!m_scaler.Convert(AV_PIX_FMT_BGR24, m_width, m_height, source, srcStride, target, m_width,
                          m_height, planes, strides))
        return -1;
    return target == AV_PIX_FMT_RGB24 || target == AV_PIX_FMT_BGR24
               ? static_cast<long>(m_width) * m_height * 3
               : static_cast<long>(size);
}

}  // namespace lumacap::hw::v4l2
