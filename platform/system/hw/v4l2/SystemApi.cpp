// The V4L2 seam over the real system calls, and the directory watch over inotify.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/system/hw/v4l2/V4l2Api.h"

namespace lumacap::hw::v4l2 {

bool IsVideoNodeName(const std::string& name) {
    if (name.size() <= 5 || name.compare(0, 5, "video") != 0) return false;
    return std::all_of(name.begin() + 5, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool NodeNameLess(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

HRESULT HresultFromErrno(int error) {
    switch (error) {
        case 0:
            return S_OK;
        case ENODEV:
        case ENXIO:
        case ENOENT:
        case ESHUTDOWN:
        case ENOTCONN:
        case ECONNABORTED:
            return HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED);
        case EBUSY:
            return HRESULT_FROM_WIN32(ERROR_BUSY);
        case EACCES:
        case EPERM:
            return E_ACCESSDENIED;
        case ENOMEM:
            return E_OUTOFMEMORY;
        case EINVAL:
        case ERANGE:
            return E_INVALIDARG;
        case ENOTTY:
        case ENOSYS:
            return E_NOTIMPL;
        case ETIMEDOUT:
            return HRESULT_FROM_WIN32(ERROR_TIMEOUT);
        case EIO:
        default:
            return HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
    }
}

namespace {

// inotify on the device directory. Device managers create a node and then fix its owner and mode,
// so a change of attributes counts as an appearance too (the provider probes the node again).
class InotifyWatch final : public DirectoryWatch {
public:
    InotifyWatch(int inotifyFd, int wakeFd, NodeChange onChange)
        : m_inotify(inotifyFd), m_wake(wakeFd), m_onChange(std::move(onChange)) {
        m_thread = std::thread([this] { Run(); });
    }
    ~InotifyWatch() override {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(m_wake, &one, sizeof(one));
        m_thread.join();
        close(m_inotify);
        close(m_wake);
    }

private:
    void Run() {
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            pollfd fds[2] = {{m_inotify, POLLIN, 0}, {m_wake, POLLIN, 0}};
            if (poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return;
            }
            if (fds[1].revents) return;
            const ssize_t n = read(m_inotify, buffer, sizeof(buffer));
            if (n <= 0) continue;
            for (ssize_t at = 0; at < n;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
                if (event->len == 0) continue;
                const std::string name(event->name);
                if (!IsVideoNodeName(name)) continue;
                if (event->mask & (IN_DELETE | IN_MOVED_FROM)) m_onChange(name, false);
                if (event->mask & (IN_CREATE | IN_MOVED_TO | IN_ATTRIB)) m_onChange(name, true);
            }
        }
    }

    int m_inotify;
    int m_wake;
    NodeChange m_onChange;
    std::thread m_thread;
};

class SystemApi final : public Api {
public:
    SystemApi(std::string directory, std::string sysfsRoot)
        : m_directory(std::move(directory)), m_sysfs(std::move(sysfsRoot)) {}

    int Open(const std::string& name) override {
        const int fd = open(NodePath(name).c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        return fd < 0 ? -errno : fd;
    }
    int Close(int fd) override { return close(fd) < 0 ? -errno : 0; }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        int r;
        do r = ioctl(fd, request, arg);
        while (r < 0 && errno == EINTR);
        return r < 0 ? -errno : r;
    }
    void* Mmap(int fd, size_t length, off_t offset, int* error) override {
        void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
        if (p == MAP_FAILED) {
            if (error) *error = errno;
            return nullptr;
        }
        return p;
    }
    int Munmap(void* address, size_t length) override {
        return munmap(address, length) < 0 ? -errno : 0;
    }
    int Poll(int fd, short events, short* revents, int timeoutMs) override {
        pollfd p{fd, events, 0};
        const int r = poll(&p, 1, timeoutMs);
        if (r < 0) return errno == EINTR ? 0 : -errno;
        if (revents) *revents = p.revents;
        return r;
    }

    bool ReadAttribute(const std::string& name, const std::string& attribute,
                       std::string* value) override {
        std::ifstream in(m_sysfs + "/class/video4linux/" + name + "/" + attribute);
        if (!in) return false;
        std::ostringstream text;
        text << in.rdbuf();
        *value = text.str();
        while (!value->empty() && (value->back() == '\n' || value->back() == '\r'))
            value->pop_back();
        return true;
    }

    std::vector<std::string> ListNodes() override {
        std::vector<std::string> names;
        DIR* dir = opendir(m_directory.c_str());
        if (!dir) return names;
        while (const dirent* entry = readdir(dir))
            if (IsVideoNodeName(entry->d_name)) names.emplace_back(entry->d_name);
        closedir(dir);
        std::sort(names.begin(), names.end(), NodeNameLess);
        return names;
    }

    std::unique_ptr<DirectoryWatch> Watch(NodeChange onChange) override {
        const int inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotifyFd < 0) return nullptr;
        if (inotify_add_watch(inotifyFd, m_directory.c_str(),
                              IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO) <
            0) {
            close(inotifyFd);
            return nullptr;
        }
        const int wakeFd = eventfd(0, EFD_CLOEXEC);
        if (wakeFd < 0) {
            close(inotifyFd);
            return nullptr;
        }
        return std::make_unique<InotifyWatch>(inotifyFd, wakeFd, std::move(onChange));
    }

    std::string NodePath(const std::string& name) const override {
        return m_directory + "/" + name;
    }

private:
    std::string m_directory;
    std::string m_sysfs;
};

}  // namespace

std::shared_ptr<Api> MakeSystemApi(const std::string& directory, const std::string& sysfsRoot) {
    return std::make_shared<SystemApi>(directory, sysfsRoot);
}

}  // namespace lumacap::hw::v4l2
