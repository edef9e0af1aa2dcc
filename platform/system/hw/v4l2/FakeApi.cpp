// The in-process V4L2 double.
#include "platform/system/hw/v4l2/FakeApi.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace lumacap::hw::v4l2 {

struct FakeApi::Watcher {
    NodeChange onChange;
};

class FakeApi::WatchHandle final : public DirectoryWatch {
public:
    WatchHandle(std::shared_ptr<FakeApi> api, std::shared_ptr<Watcher> watcher)
        : m_api(std::move(api)), m_watcher(std::move(watcher)) {}
    ~WatchHandle() override {
        std::lock_guard<std::mutex> lock(m_api->m_watchMutex);
        auto& list = m_api->m_watchers;
        list.erase(std::remove(list.begin(), list.end(), m_watcher), list.end());
    }

private:
    std::shared_ptr<FakeApi> m_api;
    std::shared_ptr<Watcher> m_watcher;
};

std::shared_ptr<FakeApi> FakeApi::Instance() {
    static const std::shared_ptr<FakeApi> instance(new FakeApi());
    return instance;
}

void FakeApi::Plug(Camera& camera) {
    std::weak_ptr<FakeApi> weak = shared_from_this();
    auto wake = [weak] {
        if (auto self = weak.lock()) {
            std::lock_guard<std::mutex> lock(self->m_pollMutex);
            ++self->m_changes;
            self->m_pollCv.notify_all();
        }
    };
    camera.captureDevice = std::make_shared<FakeDevice>(camera.config, false);
    camera.captureDevice->SetTransport(nullptr, wake);
    const std::string node = camera.capture;
    camera.captureDevice->SetUnplugHook([weak, node] {
        if (auto self = weak.lock()) self->Unplug(node);
    });
    camera.metadataDevice.reset();
    if (!camera.metadata.empty()) {
        camera.metadataDevice = std::make_shared<FakeDevice>(camera.config, true);
        camera.metadataDevice->SetTransport(nullptr, wake);
    }
    camera.plugged = true;
}

std::string FakeApi::AddCamera(const sim::V4l2CameraConfig& config) {
    std::vector<std::pair<std::string, bool>> changes;
    std::string node;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Camera camera;
        camera.config = config;
        camera.capture = "video" + std::to_string(m_nextNode++);
        if (config.metadataNode) camera.metadata = "video" + std::to_string(m_nextNode++);
        Plug(camera);
        node = camera.capture;
        changes.emplace_back(camera.capture, true);
        if (!camera.metadata.empty()) changes.emplace_back(camera.metadata, true);
        m_cameras.push_back(std::move(camera));
    }
    Notify(changes);
    return node;
}

FakeApi::Camera* FakeApi::FindCamera(const std::string& node) {
    for (Camera& c : m_cameras)
        if (c.capture == node) return &c;
    return nullptr;
}

bool FakeApi::Unplug(const std::string& node) {
    std::vector<std::pair<std::string, bool>> changes;
    std::shared_ptr<FakeDevice> capture, metadata;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Camera* camera = FindCamera(node);
        if (!camera || !camera->plugged) return false;
        camera->plugged = false;
        capture = camera->captureDevice;
        metadata = camera->metadataDevice;
        changes.emplace_back(camera->capture, false);
        if (!camera->metadata.empty()) changes.emplace_back(camera->metadata, false);
    }
    // The kernel first stops the device (open files answer ENODEV), then its nodes go.
    capture->SetPresent(false);
    if (metadata) metadata->SetPresent(false);
    Notify(changes);
    return true;
}

bool FakeApi::Replug(const std::string& node) {
    std::vector<std::pair<std::string, bool>> changes;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        Camera* camera = FindCamera(node);
        if (!camera || camera->plugged) return false;
        sim::V4l2Faults faults = camera->captureDevice->Faults();
        Plug(*camera);
        camera->captureDevice->SetFaults(faults);
        changes.emplace_back(camera->capture, true);
        if (!camera->metadata.empty()) changes.emplace_back(camera->metadata, true);
    }
    Notify(changes);
    return true;
}

bool FakeApi::SetFaults(const std::string& node, const sim::V4l2Faults& faults) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Camera* camera = FindCamera(node);
    if (!camera) return false;
    camera->config.faults = faults;
    camera->captureDevice->SetFaults(faults);
    return true;
}

void FakeApi::Clear() {
    std::vector<Camera> cameras;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        cameras.swap(m_cameras);
        m_nextNode = 0;
    }
    std::vector<std::pair<std::string, bool>> changes;
    for (Camera& c : cameras) {
        if (!c.plugged) continue;
        c.captureDevice->SetPresent(false);
        if (c.metadataDevice) c.metadataDevice->SetPresent(false);
        changes.emplace_back(c.capture, false);
        if (!c.metadata.empty()) changes.emplace_back(c.metadata, false);
    }
    Notify(changes);
}

std::shared_ptr<FakeDevice> FakeApi::Device(const std::string& node) {
    std::lock_guard<std::mutex> lock(m_mutex);
    Camera* camera = FindCamera(node);
    return camera && camera->plugged ? camera->captureDevice : nullptr;
}

size_t FakeApi::LiveMappings() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mappings.size();
}

size_t FakeApi::OpenFiles() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_files.size();
}

void FakeApi::Notify(const std::vector<std::pair<std::string, bool>>& changes) {
    std::lock_guard<std::mutex> lock(m_watchMutex);
    for (const auto& [name, appeared] : changes)
        for (const auto& watcher : m_watchers) watcher->onChange(name, appeared);
}

std::shared_ptr<FakeDevice> FakeApi::DeviceOf(const std::string& name) {
    for (Camera& c : m_cameras) {
        if (!c.plugged) continue;
        if (c.capture == name) return c.captureDevice;
        if (!c.metadata.empty() && c.metadata == name) return c.metadataDevice;
    }
    return nullptr;
}

bool FakeApi::FileOf(int fd, File* file) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_files.find(fd);
    if (it == m_files.end()) return false;
    *file = it->second;
    return true;
}

int FakeApi::Open(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::shared_ptr<FakeDevice> device = DeviceOf(name);
    if (!device) return -ENOENT;
    const int handle = device->Open();
    if (handle < 0) return handle;
    const int fd = m_nextFd++;
    m_files[fd] = {device, handle};
    return fd;
}

int FakeApi::Close(int fd) {
    File file;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_files.find(fd);
        if (it == m_files.end()) return -EBADF;
        file = it->second;
        m_files.erase(it);
    }
    file.device->Release(file.handle);
    return 0;
}

int FakeApi::Ioctl(int fd, unsigned long request, void* arg) {
    File file;
    if (!FileOf(fd, &file)) return -EBADF;
    return file.device->Ioctl(file.handle, request, arg);
}

void* FakeApi::Mmap(int fd, size_t length, off_t offset, int* error) {
    File file;
    if (!FileOf(fd, &file)) {
        *error = EBADF;
        return nullptr;
    }
    std::shared_ptr<uint8_t> memory = file.device->Map(file.handle, offset, length, error);
    if (!memory) return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mappings[memory.get()] = memory;
    return memory.get();
}

int FakeApi::Munmap(void* address, size_t) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_mappings.erase(address) ? 0 : -EINVAL;
}

int FakeApi::Poll(int fd, short events, short* revents, int timeoutMs) {
    File file;
    if (!FileOf(fd, &file)) {
        if (revents) *revents = POLLNVAL;
        return 1;
    }
    const short mask = static_cast<short>(events | POLLERR | POLLHUP | POLLNVAL);
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(0, timeoutMs));
    std::unique_lock<std::mutex> lock(m_pollMutex);
    for (;;) {
        const uint64_t seen = m_changes;
        lock.unlock();
        const short ready = static_cast<short>(file.device->Poll(file.handle) & mask);
        lock.lock();
        if (ready) {
            if (revents) *revents = ready;
            return 1;
        }
        if (timeoutMs == 0) return 0;
        auto changed = [&] { return m_changes != seen; };
        if (timeoutMs < 0)
            m_pollCv.wait(lock, changed);
        else if (!m_pollCv.wait_until(lock, deadline, changed))
            return 0;
    }
}

bool FakeApi::ReadAttribute(const std::string& name, const std::string& attribute,
                            std::string* value) {
    std::shared_ptr<FakeDevice> device;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        device = DeviceOf(name);
    }
    return device && device->Attribute(attribute, value);
}

std::vector<std::string> FakeApi::ListNodes() {
    std::vector<std::string> names;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Camera& c : m_cameras) {
        if (!c.plugged) continue;
        names.push_back(c.capture);
        if (!c.metadata.empty()) names.push_back(c.metadata);
    }
    std::sort(names.begin(), names.end(), NodeNameLess);
    return names;
}

std::unique_ptr<DirectoryWatch> FakeApi::Watch(NodeChange onChange) {
    auto watcher = std::make_shared<Watcher>(Watcher{std::move(onChange)});
    {
        std::lock_guard<std::mutex> lock(m_watchMutex);
        m_watchers.push_back(watcher);
    }
    return std::make_unique<WatchHandle>(shared_from_this(), watcher);
}

std::string FakeApi::NodePath(const std::string& name) const {
    return "(in-process double)/" + name;
}

}  // namespace lumacap::hw::v4l2
