// One V4L2 device node served through FUSE: a file whose open, ioctl, mmap and poll reach the
// camera double through the kernel, as a character device's would reach its driver. The file
// system is mounted over a plain file in the device directory, so the directory itself stays an
// ordinary one whose changes inotify reports.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#define FUSE_USE_VERSION 312
#include <fuse_lowlevel.h>

#include "platform/system/hw/v4l2/FakeDevice.h"

namespace lumacap::fakecam {

class FuseNode {
public:
    FuseNode(std::shared_ptr<hw::v4l2::FakeDevice> device, std::string path);
    ~FuseNode();
    FuseNode(const FuseNode&) = delete;
    FuseNode& operator=(const FuseNode&) = delete;

    // Creates the node's file and mounts over it.
    bool Mount(std::string* error);
    // The node goes away: the device stops answering, the file system is lazily unmounted (open
    // files keep getting ENODEV until they close) and the node's file removed.
    void Detach();
    // Waits up to `ms` for the files still open to close, which ends the session; the node may be
    // destroyed only then.
    bool WaitClosed(int ms);

    // ---- requests (called by the session's threads) ----
    void Open(fuse_req_t req, fuse_file_info* fi);
    void Release(fuse_req_t req, fuse_file_info* fi);
    void Read(fuse_req_t req, size_t size, off_t offset);
    void Ioctl(fuse_req_t req, unsigned int cmd, fuse_file_info* fi, const void* in, size_t inSize,
               size_t outSize);
    void Poll(fuse_req_t req, fuse_file_info* fi, fuse_pollhandle* ph);
    void Interrupted(fuse_req_t req);

private:
    // A blocking DQBUF waiting for a frame.
    struct Parked {
        fuse_req_t req;
        int handle;
        std::vector<uint8_t> arg;
        size_t outSize;
    };

    void Publish(off_t offset, const uint8_t* data, size_t size);
    void Wake();
    void Reply(fuse_req_t req, int result, std::vector<uint8_t>& arg, size_t outSize);

    std::shared_ptr<hw::v4l2::FakeDevice> m_device;
    const std::string m_path;
    fuse_session* m_session = nullptr;
    std::thread m_loop;
    bool m_mounted = false;
    std::atomic<bool> m_ended{false};

    std::mutex m_mutex;
    std::map<int, fuse_pollhandle*> m_pollHandles;  // by handle
    std::map<int, bool> m_blocking;                 // opened without O_NONBLOCK
    std::vector<Parked> m_parked;
};

}  // namespace lumacap::fakecam
