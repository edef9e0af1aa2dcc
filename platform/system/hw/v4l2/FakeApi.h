// The in-process V4L2 double: a directory of camera doubles answering the seam's calls as the
// kernel would, without leaving the process. Cameras are added, unplugged and plugged back in by
// the simulation controls; directory watchers hear of it as they would through inotify.
#pragma once

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/system/hw/v4l2/FakeDevice.h"
#include "platform/system/hw/v4l2/V4l2Api.h"

namespace lumacap::hw::v4l2 {

class FakeApi final : public Api, public std::enable_shared_from_this<FakeApi> {
public:
    static std::shared_ptr<FakeApi> Instance();

    // Adds a camera (its capture node and, as configured, a metadata node); answers the capture
    // node's name.
    std::string AddCamera(const sim::V4l2CameraConfig& config);
    bool Unplug(const std::string& node);
    bool Replug(const std::string& node);
    bool SetFaults(const std::string& node, const sim::V4l2Faults& faults);
    // Removes every camera; open files answer ENODEV.
    void Clear();
    // The device behind a plugged capture node, for tests that look behind the provider.
    std::shared_ptr<FakeDevice> Device(const std::string& node);
    // Mappings not yet unmapped, and files not yet closed (leak checks).
    size_t LiveMappings();
    size_t OpenFiles();

    int Open(const std::string& name) override;
    int Close(int fd) override;
    int Ioctl(int fd, unsigned long request, void* arg) override;
    void* Mmap(int fd, size_t length, off_t offset, int* error) override;
    int Munmap(void* address, size_t length) override;
    int Poll(int fd, short events, short* revents, int timeoutMs) override;
    bool ReadAttribute(const std::string& name, const std::string& attribute,
                       std::string* value) override;
    std::vector<std::string> ListNodes() override;
    std::unique_ptr<DirectoryWatch> Watch(NodeChange onChange) override;
    std::string NodePath(const std::string& name) const override;

private:
    struct Camera {
        sim::V4l2CameraConfig config;
        std::string capture;   // node names
        std::string metadata;  // empty when none
        std::shared_ptr<FakeDevice> captureDevice;
        std::shared_ptr<FakeDevice> metadataDevice;
        bool plugged = true;
    };
    struct File {
        std::shared_ptr<FakeDevice> device;
        int handle;
    };
    struct Watcher;
    class WatchHandle;

    FakeApi() = default;
    void Plug(Camera& camera);  // new devices, as a replugged camera is a new device
    void Notify(const std::vector<std::pair<std::string, bool>>& changes);
    Camera* FindCamera(const std::string& node);
    std::shared_ptr<FakeDevice> DeviceOf(const std::string& name);
    bool FileOf(int fd, File* file);

    std::mutex m_mutex;
    std::vector<Camera> m_cameras;
    int m_nextNode = 0;
    std::map<int, File> m_files;
    int m_nextFd = 1 << 20;
    std::map<void*, std::shared_ptr<uint8_t>> m_mappings;

    // Poll waits for any device to change.
    std::mutex m_pollMutex;
    std::condition_variable m_pollCv;
    uint64_t m_changes = 0;

    std::mutex m_watchMutex;  // held while watchers are called
    std::vector<std::shared_ptr<Watcher>> m_watchers;
};

}  // namespace lumacap::hw::v4l2
