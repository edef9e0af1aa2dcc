// The V4L2 camera double's device model: what the kernel answers to each request, and the
// producer that fills queued buffers at the frame rate.
#include "platform/system/hw/v4l2/FakeDevice.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numeric>

#include <poll.h>

#include "platform/system/hw/v4l2/FakePictures.h"

namespace lumacap::hw::v4l2 {
namespace {

void CopyText(uint8_t* dst, size_t size, const std::string& text) {
    std::memset(dst, 0, size);
    std::memcpy(dst, text.data(), std::min(size - 1, text.size()));
}

v4l2_fract IntervalOf(double fps) {
    if (fps <= 0) fps = 30;
    if (std::fabs(fps - std::round(fps)) < 1e-6) return {1, static_cast<uint32_t>(std::round(fps))};
    uint32_t numerator = 1000;
    uint32_t denominator = static_cast<uint32_t>(std::round(fps * 1000));
    const uint32_t g = std::gcd(numerator, denominator);
    return {numerator / g, denominator / g};
}

uint32_t BytesPerLine(uint32_t fourcc, uint32_t width) {
    switch (fourcc) {
        case V4L2_PIX_FMT_YUYV:
            return width * 2;
        case V4L2_PIX_FMT_RGB24:
        case V4L2_PIX_FMT_BGR24:
            return width * 3;
        case V4L2_PIX_FMT_NV12:
        case V4L2_PIX_FMT_YUV420:
            return width;
        default:
            return 0;  // compressed
    }
}

uint32_t SizeImage(uint32_t fourcc, uint32_t width, uint32_t height) {
    switch (fourcc) {
        case V4L2_PIX_FMT_NV12:
        case V4L2_PIX_FMT_YUV420:
            return width * height * 3 / 2;
        case V4L2_PIX_FMT_MJPEG:
            return width * height * 2;
        default:
            return BytesPerLine(fourcc, width) * height;
    }
}

size_t PageAlign(size_t n) {
    return (n + 4095) & ~static_cast<size_t>(4095);
}

}  // namespace

uint32_t FourccOf(const std::string& text) {
    uint32_t code = 0;
    for (size_t i = 0; i < 4; ++i)
        code |= static_cast<uint32_t>(i < text.size() ? static_cast<uint8_t>(text[i]) : ' ')
                << (8 * i);
    return code;
}

FakeDevice::FakeDevice(const sim::V4l2CameraConfig& config, bool metadata)
    : m_config(config), m_metadata(metadata), m_controls(config.controls), m_faults(config.faults) {
    if (!config.formats.empty()) {
        const sim::V4l2FormatSpec& first = config.formats.front();
        v4l2_pix_format pix{};
        pix.pixelformat = FourccOf(first.fourcc);
        pix.width = first.sizes.empty() ? static_cast<uint32_t>(first.maxWidth)
                                        : static_cast<uint32_t>(first.sizes.front().first);
        pix.height = first.sizes.empty() ? static_cast<uint32_t>(first.maxHeight)
                                         : static_cast<uint32_t>(first.sizes.front().second);
        Adjust(&pix);
        m_format = pix;
        if (!first.framesPerSecond.empty()) m_interval = IntervalOf(first.framesPerSecond.front());
    }
}

FakeDevice::~FakeDevice() {
    std::unique_lock<std::mutex> lock(m_mutex);
    StreamOff(lock);
}

void FakeDevice::SetTransport(Publish publish, std::function<void()> wake) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_publish = std::move(publish);
    m_wake = std::move(wake);
}

void FakeDevice::SetUnplugHook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_unplugHook = std::move(hook);
}

void FakeDevice::Wake() {
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        wake = m_wake;
    }
    if (wake) wake();
}

int FakeDevice::Open() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_present) return -ENODEV;
    if (m_faults.denyOpen) return -EACCES;
    const int handle = m_nextHandle++;
    m_handles[handle] = true;
    return handle;
}

void FakeDevice::Release(int handle) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_handles.erase(handle);
    if (m_owner != handle) return;
    StreamOff(lock);
    m_buffers.clear();
    m_owner = -1;
}

void FakeDevice::SetPresent(bool present) {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_present == present) return;
        m_present = present;
        if (!present) {
            // Handles of the unplugged device stay dead, also after it comes back.
            for (auto& entry : m_handles) entry.second = false;
            StreamOff(lock);
            m_owner = -1;
            m_buffers.clear();
        }
    }
    Wake();
}

void FakeDevice::SetFaults(const sim::V4l2Faults& faults) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults = faults;
}

sim::V4l2Faults FakeDevice::Faults() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_faults;
}

void FakeDevice::SetPrerendered(int frames) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_prerendered = std::max(0, frames);
}

bool FakeDevice::Attribute(const std::string& attribute, std::string* value) const {
    if (attribute == "name") {
        *value = m_config.card;
    } else if (attribute == "index") {
        *value = m_metadata ? "1" : "0";
    } else if (attribute == "device/modalias") {
        char text[96];
        if (m_config.vendorId)
            std::snprintf(text, sizeof(text), "usb:v%04Xp%04Xd0010dcEFdsc02dp01ic0Eisc01ip00in00",
                          m_config.vendorId & 0xFFFF, m_config.productId & 0xFFFF);
        else
            std::snprintf(text, sizeof(text), "platform:%s", m_config.driver.c_str());
        *value = text;
    } else {
        return false;
    }
    return true;
}

int FakeDevice::Ioctl(int handle, unsigned long request, void* arg) {
    std::unique_lock<std::mutex> lock(m_mutex);
    auto it = m_handles.find(handle);
    if (it == m_handles.end()) return -EBADF;
    if (!it->second || !m_present) return -ENODEV;
    if (!arg) return -EFAULT;
    const int result = IoctlLocked(lock, handle, request, arg);
    const bool unplugged = !m_present;
    const bool wake = request == VIDIOC_STREAMOFF || request == VIDIOC_QBUF || unplugged;
    const std::function<void()> hook = unplugged ? m_unplugHook : nullptr;
    lock.unlock();
    if (wake) Wake();
    if (hook) hook();
    return result;
}

bool FakeDevice::UnplugAt(const char* request, std::unique_lock<std::mutex>& lock) {
    if (m_faults.unplugAt != request) return false;
    m_faults.unplugAt.clear();
    m_present = false;
    for (auto& entry : m_handles) entry.second = false;
    StreamOff(lock);
    m_owner = -1;
    m_buffers.clear();
    return true;
}

int FakeDevice::IoctlLocked(std::unique_lock<std::mutex>& lock, int handle, unsigned long request,
                            void* arg) {
    const bool capture = !m_metadata;
    switch (request) {
        case VIDIOC_QUERYCAP:
            return QueryCap(static_cast<v4l2_capability*>(arg));
        case VIDIOC_ENUMINPUT: {
            auto* input = static_cast<v4l2_input*>(arg);
            if (!capture || input->index != 0) return -EINVAL;
            const uint32_t index = input->index;
            std::memset(input, 0, sizeof(*input));
            input->index = index;
            CopyText(input->name, sizeof(input->name), "Camera 1");
            input->type = V4L2_INPUT_TYPE_CAMERA;
            return 0;
        }
        case VIDIOC_G_INPUT:
            if (!capture) return -ENOTTY;
            *static_cast<int*>(arg) = 0;
            return 0;
        case VIDIOC_S_INPUT:
            if (!capture) return -ENOTTY;
            return *static_cast<int*>(arg) == 0 ? 0 : -EINVAL;
        case VIDIOC_ENUM_FMT:
            return EnumFormat(static_cast<v4l2_fmtdesc*>(arg));
        case VIDIOC_ENUM_FRAMESIZES:
            return EnumSizes(static_cast<v4l2_frmsizeenum*>(arg));
        case VIDIOC_ENUM_FRAMEINTERVALS:
            return EnumIntervals(static_cast<v4l2_frmivalenum*>(arg));
        case VIDIOC_G_FMT: {
            auto* format = static_cast<v4l2_format*>(arg);
            if (!capture || format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            format->fmt.pix = m_format;
            return 0;
        }
        case VIDIOC_TRY_FMT: {
            auto* format = static_cast<v4l2_format*>(arg);
            if (!capture || format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            Adjust(&format->fmt.pix);
            return 0;
        }
        case VIDIOC_S_FMT:
            if (UnplugAt("S_FMT", lock)) return -ENODEV;
            return SetFormat(handle, static_cast<v4l2_format*>(arg));
        case VIDIOC_G_PARM: {
            auto* parm = static_cast<v4l2_streamparm*>(arg);
            if (!capture || parm->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
            std::memset(&parm->parm, 0, sizeof(parm->parm));
            parm->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
            parm->parm.capture.timeperframe = m_interval;
            parm->parm.capture.readbuffers = 1;
            return 0;
        }
        case VIDIOC_S_PARM:
            return SetParm(handle, static_cast<v4l2_streamparm*>(arg));
        case VIDIOC_REQBUFS:
            if (UnplugAt("REQBUFS", lock)) return -ENODEV;
            return RequestBuffers(handle, static_cast<v4l2_requestbuffers*>(arg));
        case VIDIOC_QUERYBUF: {
            auto* buffer = static_cast<v4l2_buffer*>(arg);
            if (buffer->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buffer->index >= m_buffers.size())
                return -EINVAL;
            const Buffer& b = m_buffers[buffer->index];
            *buffer = b.info;
            buffer->flags &= ~(V4L2_BUF_FLAG_QUEUED | V4L2_BUF_FLAG_DONE);
            if (b.state == Buffer::kQueued || b.state == Buffer::kFilling)
                buffer->flags |= V4L2_BUF_FLAG_QUEUED;
            if (b.state == Buffer::kDone) buffer->flags |= V4L2_BUF_FLAG_DONE;
            return 0;
        }
        case VIDIOC_QBUF:
            return QueueBuffer(handle, static_cast<v4l2_buffer*>(arg));
        case VIDIOC_DQBUF:
            return DequeueBuffer(handle, static_cast<v4l2_buffer*>(arg));
        case VIDIOC_STREAMON:
            if (UnplugAt("STREAMON", lock)) return -ENODEV;
            if (*static_cast<int*>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE || !capture) return -EINVAL;
            return StreamOn(handle);
        case VIDIOC_STREAMOFF:
            if (*static_cast<int*>(arg) != V4L2_BUF_TYPE_VIDEO_CAPTURE || !capture) return -EINVAL;
            if (!Owns(handle)) return -EBUSY;
            StreamOff(lock);
            return 0;
        case VIDIOC_QUERYCTRL:
            return capture ? m_controls.Query(static_cast<v4l2_queryctrl*>(arg)) : -EINVAL;
        case VIDIOC_QUERYMENU:
            return capture ? m_controls.QueryMenu(static_cast<v4l2_querymenu*>(arg)) : -EINVAL;
        case VIDIOC_G_CTRL:
            return capture ? m_controls.Get(static_cast<v4l2_control*>(arg)) : -EINVAL;
        case VIDIOC_S_CTRL:
            return capture ? m_controls.Set(static_cast<v4l2_control*>(arg)) : -EINVAL;
        default:
            return -ENOTTY;
    }
}

int FakeDevice::QueryCap(v4l2_capability* cap) const {
    std::memset(cap, 0, sizeof(*cap));
    CopyText(cap->driver, sizeof(cap->driver), m_config.driver);
    CopyText(cap->card, sizeof(cap->card), m_config.card);
    CopyText(cap->bus_info, sizeof(cap->bus_info), m_config.busInfo);
    cap->version = (6u << 16) | (1u << 8);
    cap->device_caps = m_metadata ? V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING
                                  : V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
    cap->capabilities =
        V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING | V4L2_CAP_DEVICE_CAPS;
    return 0;
}

int FakeDevice::EnumFormat(v4l2_fmtdesc* desc) const {
    if (m_metadata || desc->type != V4L2_BUF_TYPE_VIDEO_CAPTURE ||
        desc->index >= m_config.formats.size())
        return -EINVAL;
    const uint32_t index = desc->index;
    std::memset(desc, 0, sizeof(*desc));
    desc->index = index;
    desc->type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    desc->pixelformat = FourccOf(m_config.formats[index].fourcc);
    if (desc->pixelformat == V4L2_PIX_FMT_MJPEG) {
        desc->flags = V4L2_FMT_FLAG_COMPRESSED;
        CopyText(desc->description, sizeof(desc->description), "Motion-JPEG");
    } else {
        CopyText(desc->description, sizeof(desc->description), m_config.formats[index].fourcc);
    }
    return 0;
}

int FakeDevice::EnumSizes(v4l2_frmsizeenum* sizes) const {
    if (m_metadata) return -ENOTTY;
    for (const sim::V4l2FormatSpec& f : m_config.formats) {
        if (FourccOf(f.fourcc) != sizes->pixel_format) continue;
        if (f.maxWidth > 0) {
            if (sizes->index != 0) return -EINVAL;
            const bool continuous = f.stepWidth <= 1 && f.stepHeight <= 1;
            sizes->type = continuous ? V4L2_FRMSIZE_TYPE_CONTINUOUS : V4L2_FRMSIZE_TYPE_STEPWISE;
            sizes->stepwise = {static_cast<uint32_t>(f.minWidth),
                               static_cast<uint32_t>(f.maxWidth),
                               static_cast<uint32_t>(std::max(1L, f.stepWidth)),
                               static_cast<uint32_t>(f.minHeight),
                               static_cast<uint32_t>(f.maxHeight),
                               static_cast<uint32_t>(std::max(1L, f.stepHeight))};
            return 0;
        }
        if (sizes->index >= f.sizes.size()) return -EINVAL;
        sizes->type = V4L2_FRMSIZE_TYPE_DISCRETE;
        sizes->discrete = {static_cast<uint32_t>(f.sizes[sizes->index].first),
                           static_cast<uint32_t>(f.sizes[sizes->index].second)};
        return 0;
    }
    return -EINVAL;
}

int FakeDevice::EnumIntervals(v4l2_frmivalenum* intervals) const {
    if (m_metadata) return -ENOTTY;
    for (const sim::V4l2FormatSpec& f : m_config.formats) {
        if (FourccOf(f.fourcc) != intervals->pixel_format) continue;
        v4l2_pix_format pix{};
        pix.pixelformat = intervals->pixel_format;
        pix.width = intervals->width;
        pix.height = intervals->height;
        Adjust(&pix);
        if (pix.width != intervals->width || pix.height != intervals->height) return -EINVAL;
        if (intervals->index >= f.framesPerSecond.size()) return -EINVAL;
        intervals->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        intervals->discrete = IntervalOf(f.framesPerSecond[intervals->index]);
        return 0;
    }
    return -EINVAL;
}

// As drivers do: an unknown pixel format becomes the first one, and the size the nearest offered.
void FakeDevice::Adjust(v4l2_pix_format* pix) const {
    if (m_config.formats.empty()) return;
    const sim::V4l2FormatSpec* format = &m_config.formats.front();
    for (const sim::V4l2FormatSpec& f : m_config.formats)
        if (FourccOf(f.fourcc) == pix->pixelformat) format = &f;
    if (FourccOf(format->fourcc) == FourccOf(m_faults.refuseFourcc)) {
        for (const sim::V4l2FormatSpec& f : m_config.formats)
            if (&f != format) {
                format = &f;
                break;
            }
    }
    uint32_t width = pix->width, height = pix->height;
    if (format->maxWidth > 0) {
        auto fit = [](long v, long lo, long hi, long step) {
            v = std::clamp(v, lo, hi);
            step = std::max(1L, step);
            return static_cast<uint32_t>(lo + (v - lo) / step * step);
        };
        width = fit(width, format->minWidth, format->maxWidth, format->stepWidth);
        height = fit(height, format->minHeight, format->maxHeight, format->stepHeight);
    } else if (!format->sizes.empty()) {
        long best = -1;
        for (const auto& [w, h] : format->sizes) {
            const long distance = std::labs(w - static_cast<long>(pix->width)) +
                                  std::labs(h - static_cast<long>(pix->height));
            if (best < 0 || distance < best) {
                best = distance;
                width = static_cast<uint32_t>(w);
                height = static_cast<uint32_t>(h);
            }
        }
    }
    std::memset(pix, 0, sizeof(*pix));
    pix->pixelformat = FourccOf(format->fourcc);
    pix->width = width;
    pix->height = height;
    pix->field = V4L2_FIELD_NONE;
    pix->bytesperline = BytesPerLine(pix->pixelformat, width);
    pix->sizeimage = SizeImage(pix->pixelformat, width, height);
    pix->colorspace = V4L2_COLORSPACE_SRGB;
}

int FakeDevice::SetFormat(int handle, v4l2_format* format) {
    if (m_metadata || format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
    // Formats cannot change while any buffers exist.
    if (!m_buffers.empty() || m_streaming || !Owns(handle)) return -EBUSY;
    Adjust(&format->fmt.pix);
    m_format = format->fmt.pix;
    // The nearest offered rate of the new size stays chosen.
    v4l2_streamparm parm{};
    parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    parm.parm.capture.timeperframe = m_interval;
    SetParm(handle, &parm);
    return 0;
}

int FakeDevice::SetParm(int handle, v4l2_streamparm* parm) {
    if (m_metadata || parm->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
    if (m_streaming) return -EBUSY;
    const v4l2_fract wanted = parm->parm.capture.timeperframe;
    const double wantedFps =
        wanted.numerator ? static_cast<double>(wanted.denominator) / wanted.numerator : 0.0;
    for (const sim::V4l2FormatSpec& f : m_config.formats) {
        if (FourccOf(f.fourcc) != m_format.pixelformat || f.framesPerSecond.empty()) continue;
        double best = f.framesPerSecond.front();
        if (wantedFps > 0)
            for (double fps : f.framesPerSecond)
                if (std::fabs(fps - wantedFps) < std::fabs(best - wantedFps)) best = fps;
        m_interval = IntervalOf(best);
    }
    std::memset(&parm->parm, 0, sizeof(parm->parm));
    parm->parm.capture.capability = V4L2_CAP_TIMEPERFRAME;
    parm->parm.capture.timeperframe = m_interval;
    parm->parm.capture.readbuffers = 1;
    return 0;
}

int FakeDevice::RequestBuffers(int handle, v4l2_requestbuffers* request) {
    if (m_metadata || request->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
    if (request->memory != V4L2_MEMORY_MMAP) return -EINVAL;
    if (!Owns(handle) || m_streaming) return -EBUSY;
    // Memory a client still maps cannot be freed.
    for (const Buffer& b : m_buffers)
        if (b.memory.use_count() > 1) return -EBUSY;
    m_buffers.clear();
    m_queued.clear();
    m_done.clear();
    request->capabilities = V4L2_BUF_CAP_SUPPORTS_MMAP;
    if (request->count == 0) {
        m_owner = -1;
        return 0;
    }
    const uint32_t count = std::clamp<uint32_t>(request->count, 2, 32);
    const size_t length = PageAlign(m_format.sizeimage);
    for (uint32_t i = 0; i < count; ++i) {
        Buffer b;
        b.memory = std::shared_ptr<uint8_t>(static_cast<uint8_t*>(std::aligned_alloc(4096, length)),
                                            [](uint8_t* p) { std::free(p); });
        if (!b.memory) {
            m_buffers.clear();
            return -ENOMEM;
        }
        std::memset(b.memory.get(), 0, length);
        b.length = length;
        b.offset = static_cast<uint32_t>(i * length);
        b.info.index = i;
        b.info.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.info.memory = V4L2_MEMORY_MMAP;
        b.info.m.offset = b.offset;
        b.info.length = static_cast<uint32_t>(length);
        b.info.field = V4L2_FIELD_NONE;
        b.info.flags = V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_EOF;
        m_buffers.push_back(std::move(b));
    }
    request->count = count;
    m_owner = handle;
    return 0;
}

int FakeDevice::QueueBuffer(int handle, v4l2_buffer* buffer) {
    if (!Owns(handle)) return -EBUSY;
    if (buffer->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buffer->memory != V4L2_MEMORY_MMAP ||
        buffer->index >= m_buffers.size())
        return -EINVAL;
    Buffer& b = m_buffers[buffer->index];
    if (b.state != Buffer::kDequeued) return -EINVAL;
    b.state = Buffer::kQueued;
    m_queued.push_back(buffer->index);
    *buffer = b.info;
    buffer->flags |= V4L2_BUF_FLAG_QUEUED;
    buffer->flags &= ~V4L2_BUF_FLAG_DONE;
    m_cv.notify_all();
    return 0;
}

int FakeDevice::DequeueBuffer(int handle, v4l2_buffer* buffer) {
    if (!Owns(handle)) return -EBUSY;
    if (buffer->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || buffer->memory != V4L2_MEMORY_MMAP)
        return -EINVAL;
    if (!m_streaming) return -EINVAL;
    if (m_done.empty()) return -EAGAIN;
    const size_t index = m_done.front();
    m_done.pop_front();
    Buffer& b = m_buffers[index];
    b.state = Buffer::kDequeued;
    *buffer = b.info;
    return 0;
}

int FakeDevice::StreamOn(int handle) {
    if (!Owns(handle) || m_buffers.empty()) return m_buffers.empty() ? -EINVAL : -EBUSY;
    if (m_streaming) return 0;
    m_streaming = true;
    m_sequence = 0;
    m_producer = std::thread([this] { Produce(); });
    return 0;
}

void FakeDevice::StreamOff(std::unique_lock<std::mutex>& lock) {
    m_streaming = false;
    m_cv.notify_all();
    if (m_producer.joinable()) {
        std::thread producer = std::move(m_producer);
        lock.unlock();
        producer.join();
        lock.lock();
    }
    for (Buffer& b : m_buffers) b.state = Buffer::kDequeued;
    m_queued.clear();
    m_done.clear();
}

short FakeDevice::Poll(int handle) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_handles.find(handle);
    if (it == m_handles.end() || !it->second || !m_present) return POLLERR | POLLHUP | POLLPRI;
    if (!m_streaming || m_owner != handle) return POLLERR;
    return m_done.empty() ? 0 : POLLIN | POLLRDNORM;
}

std::shared_ptr<uint8_t> FakeDevice::Map(int handle, off_t offset, size_t length, int* error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_handles.find(handle);
    if (it == m_handles.end() || !it->second || !m_present) {
        *error = ENODEV;
        return nullptr;
    }
    for (const Buffer& b : m_buffers)
        if (b.offset == static_cast<uint32_t>(offset) && length <= b.length) return b.memory;
    *error = EINVAL;
    return nullptr;
}

size_t FakeDevice::ReadAt(off_t offset, uint8_t* out, size_t size) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::memset(out, 0, size);
    for (const Buffer& b : m_buffers) {
        if (offset < static_cast<off_t>(b.offset) ||
            offset >= static_cast<off_t>(b.offset + b.length))
            continue;
        const size_t at = static_cast<size_t>(offset) - b.offset;
        std::memcpy(out, b.memory.get() + at, std::min(size, b.length - at));
    }
    return size;
}

off_t FakeDevice::MappedSpan() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_buffers.empty()
               ? 0
               : static_cast<off_t>(m_buffers.back().offset + m_buffers.back().length);
}

// ---- the producer -------------------------------------------------------------------------------

void FakeDevice::Produce() {
    using Clock = std::chrono::steady_clock;
    std::unique_lock<std::mutex> lock(m_mutex);
    const v4l2_pix_format format = m_format;
    const auto period = std::chrono::nanoseconds(static_cast<int64_t>(
        1e9 * m_interval.numerator / std::max<uint32_t>(1, m_interval.denominator)));
    PictureMaker maker;
    maker.SetReplay(m_prerendered);
    const bool drawable = maker.Configure(format.pixelformat, static_cast<int>(format.width),
                                          static_cast<int>(format.height));
    auto due = Clock::now() + period;
    while (m_streaming && m_present) {
        if (m_cv.wait_until(lock, due, [this] { return !m_streaming || !m_present; })) break;
        due += period;
        // Far behind (the machine was busy): skip ahead rather than burst.
        if (due + period < Clock::now()) due = Clock::now() + period;
        const uint32_t sequence = m_sequence++;
        if (m_queued.empty()) continue;  // no buffer to fill: the frame is lost
        const size_t index = m_queued.front();
        m_queued.pop_front();
        Buffer& b = m_buffers[index];
        b.state = Buffer::kFilling;
        const sim::V4l2Faults faults = m_faults;
        const Publish publish = m_publish;
        uint8_t* data = b.memory.get();
        const size_t length = b.length;
        const off_t offset = b.offset;
        lock.unlock();

        long bytes = drawable ? maker.Render(static_cast<long>(sequence), data, length) : -1;
        if (bytes < 0) bytes = 0;
        const uint32_t k = sequence + 1;
        uint32_t flags = 0;
        if (faults.errorEvery > 0 && k % static_cast<uint32_t>(faults.errorEvery) == 0)
            flags |= V4L2_BUF_FLAG_ERROR;
        if (faults.emptyEvery > 0 && k % static_cast<uint32_t>(faults.emptyEvery) == 0) bytes = 0;
        if (faults.truncatedEvery > 0 && k % static_cast<uint32_t>(faults.truncatedEvery) == 0)
            bytes /= 2;
        if (faults.corruptEvery > 0 && k % static_cast<uint32_t>(faults.corruptEvery) == 0)
            std::memset(data, 0x5A, std::min<size_t>(static_cast<size_t>(bytes), 256));
        if (publish) publish(offset, data, std::min(length, PageAlign(static_cast<size_t>(bytes))));

        lock.lock();
        if (!m_streaming || !m_present) break;
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        b.info.bytesused = static_cast<uint32_t>(bytes);
        b.info.flags = V4L2_BUF_FLAG_MAPPED | V4L2_BUF_FLAG_DONE |
                       V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC | V4L2_BUF_FLAG_TSTAMP_SRC_EOF | flags;
        b.info.sequence = sequence;
        b.info.timestamp.tv_sec = now.tv_sec;
        b.info.timestamp.tv_usec = now.tv_nsec / 1000;
        b.state = Buffer::kDone;
        m_done.push_back(index);
        const std::function<void()> wake = m_wake;
        lock.unlock();
        if (wake) wake();
        lock.lock();
    }
}

bool FakeDevice::ControlValue(uint32_t id, long* value) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_controls.Value(id, value);
}

}  // namespace lumacap::hw::v4l2
