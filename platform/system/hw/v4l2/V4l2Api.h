// The one door between the V4L2 camera provider and the kernel: opening device nodes, their
// ioctls, mapping their buffers, polling them, reading their sysfs attributes, listing a device
// directory and watching it for nodes that come and go. Production goes to the system calls; the
// tests' double answers the same calls as the kernel's vivid driver does for a webcam.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <winerror.h>

namespace lumacap::hw::v4l2 {

// A node appearing (true) or going away (false) in the watched directory.
using NodeChange = std::function<void(const std::string& name, bool appeared)>;

// Watching stops when the object is destroyed; no callback runs after that.
class DirectoryWatch {
public:
    virtual ~DirectoryWatch() = default;
};

class Api {
public:
    virtual ~Api() = default;

    // Each call answers as the system call does, with a failure as a negative errno.
    // Nodes are always opened read-write and non-blocking: the provider waits in Poll.
    virtual int Open(const std::string& name) = 0;
    virtual int Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    // A shared read-write mapping; null with *error set on failure.
    virtual void* Mmap(int fd, size_t length, off_t offset, int* error) = 0;
    virtual int Munmap(void* address, size_t length) = 0;
    // 1 when `revents` says something, 0 on timeout.
    virtual int Poll(int fd, short events, short* revents, int timeoutMs) = 0;

    // <sysfs>/class/video4linux/<name>/<attribute>, without its trailing newline.
    virtual bool ReadAttribute(const std::string& name, const std::string& attribute,
                               std::string* value) = 0;
    // The names of the capture-looking nodes ("video0", ...) in the directory, in number order.
    virtual std::vector<std::string> ListNodes() = 0;
    // Null when the directory cannot be watched.
    virtual std::unique_ptr<DirectoryWatch> Watch(NodeChange onChange) = 0;
    // Where the node lives, for people to read.
    virtual std::string NodePath(const std::string& name) const = 0;
};

// The system calls, over `directory` (device nodes) and `sysfsRoot`.
std::shared_ptr<Api> MakeSystemApi(const std::string& directory, const std::string& sysfsRoot);

// Whether `name` looks like a video node: "video" followed by digits. Sorting key for them.
bool IsVideoNodeName(const std::string& name);
bool NodeNameLess(const std::string& a, const std::string& b);

// A failed call's errno as the status the media framework reports for it.
HRESULT HresultFromErrno(int error);

}  // namespace lumacap::hw::v4l2
