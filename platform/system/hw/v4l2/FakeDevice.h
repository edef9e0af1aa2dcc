// A camera as the kernel's vivid driver presents a webcam through V4L2: capabilities, formats with
// their sizes and frame intervals, controls with menus and auto modes, a queue of mmap buffers
// filled at the frame rate with the test pattern and its frame number, poll, and unplugging. The
// in-process double and the FUSE-served one (tools/fakecam) both answer with this model, so they
// behave alike; only the transport of requests and buffer bytes differs.
#pragma once

#include <linux/videodev2.h>
#include <sys/types.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <lumacap/sim_devices.h>

#include "platform/system/hw/v4l2/FakeControls.h"

namespace lumacap::hw::v4l2 {

uint32_t FourccOf(const std::string& text);

class FakeDevice {
public:
    FakeDevice(const sim::V4l2CameraConfig& config, bool metadata);
    ~FakeDevice();
    FakeDevice(const FakeDevice&) = delete;
    FakeDevice& operator=(const FakeDevice&) = delete;

    // The transport's hooks: `publish` gets a filled buffer's bytes at its mmap offset before the
    // buffer can be dequeued (a transport whose client maps other memory copies them there);
    // `wake` is called, without the device's lock, after anything that changes what poll answers.
    using Publish = std::function<void(off_t offset, const uint8_t* data, size_t size)>;
    void SetTransport(Publish publish, std::function<void()> wake);
    // Called, without the device's lock, when the device unplugs itself (V4l2Faults::unplugAt).
    void SetUnplugHook(std::function<void()> hook);

    // An open file: a handle, or -errno.
    int Open();
    void Release(int handle);
    // 0 or -errno; never blocks (DQBUF with nothing done answers -EAGAIN).
    int Ioctl(int handle, unsigned long request, void* arg);
    short Poll(int handle);
    // The memory behind an mmap of the handle's queue; it lives while a reference does.
    std::shared_ptr<uint8_t> Map(int handle, off_t offset, size_t length, int* error);
    // The bytes at an mmap offset, for a transport that reads mapped pages on demand.
    size_t ReadAt(off_t offset, uint8_t* out, size_t size);
    // The span of mmap offsets in use (0 before REQBUFS).
    off_t MappedSpan();

    void SetPresent(bool present);
    bool Present() const { return m_present; }
    void SetFaults(const sim::V4l2Faults& faults);
    sim::V4l2Faults Faults();
    // Render a few frames once per format and replay them (numbers then repeat), so producing a
    // frame costs a copy, as with hardware; 0 renders every frame.
    void SetPrerendered(int frames);
    const sim::V4l2CameraConfig& Config() const { return m_config; }
    bool Metadata() const { return m_metadata; }
    // A sysfs attribute of the node ("name", "index", "device/modalias").
    bool Attribute(const std::string& attribute, std::string* value) const;
    // The control's current value (for tests that look behind the provider).
    bool ControlValue(uint32_t id, long* value);

private:
    struct Buffer {
        std::shared_ptr<uint8_t> memory;
        size_t length = 0;
        uint32_t offset = 0;
        enum State { kDequeued, kQueued, kFilling, kDone } state = kDequeued;
        v4l2_buffer info{};
    };
    struct Size {
        uint32_t width, height;
    };

    int IoctlLocked(std::unique_lock<std::mutex>& lock, int handle, unsigned long request,
                    void* arg);
    int QueryCap(v4l2_capability* cap) const;
    int EnumFormat(v4l2_fmtdesc* desc) const;
    int EnumSizes(v4l2_frmsizeenum* sizes) const;
    int EnumIntervals(v4l2_frmivalenum* intervals) const;
    void Adjust(v4l2_pix_format* pix) const;
    int SetFormat(int handle, v4l2_format* format);
    int SetParm(int handle, v4l2_streamparm* parm);
    int RequestBuffers(int handle, v4l2_requestbuffers* request);
    int QueueBuffer(int handle, v4l2_buffer* buffer);
    int DequeueBuffer(int handle, v4l2_buffer* buffer);
    int StreamOn(int handle);
    // Stops the producer; may release and retake the lock while it joins the thread.
    void StreamOff(std::unique_lock<std::mutex>& lock);
    bool Owns(int handle) const { return m_owner < 0 || m_owner == handle; }
    // Unplugs when `request` is the armed one; true when the device went away.
    bool UnplugAt(const char* request, std::unique_lock<std::mutex>& lock);
    void Produce();
    void Wake();

    const sim::V4l2CameraConfig m_config;
    const bool m_metadata;
    FakeControls m_controls;  // guarded by m_mutex
    Publish m_publish;
    std::function<void()> m_wake;
    std::function<void()> m_unplugHook;

    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_present = true;
    sim::V4l2Faults m_faults;
    int m_nextHandle = 1;
    std::map<int, bool> m_handles;  // open handles
    int m_owner = -1;               // the handle that owns the buffer queue
    v4l2_pix_format m_format{};
    v4l2_fract m_interval{1, 30};
    std::vector<Buffer> m_buffers;
    std::deque<size_t> m_queued;
    std::deque<size_t> m_done;
    bool m_streaming = false;
    uint32_t m_sequence = 0;
    std::thread m_producer;
    int m_prerendered = 0;
};

}  // namespace lumacap::hw::v4l2
