// A camera double served as device nodes: its capture node (and metadata node) under FUSE in a
// device directory, and its sysfs attributes as plain files, plugged in and out on request.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FuseNode.h"

namespace lumacap::fakecam {

class ServedCamera {
public:
    ServedCamera(const sim::V4l2CameraConfig& config, std::string devDir, std::string sysDir,
                 int firstNode, int prerendered);
    ~ServedCamera();

    bool Plug(std::string* error);
    // Unplugs for good and waits up to `waitMs` for programs to close the nodes; false when some
    // still hold one open (the process should then end without destroying the camera).
    bool Shutdown(int waitMs);
    void Unplug();
    void SetFaults(const sim::V4l2Faults& faults);
    // Called after the camera unplugged itself (a fault armed to do so).
    void OnSelfUnplug(std::function<void()> callback) { m_onSelfUnplug = std::move(callback); }

private:
    void WriteSysfs(const std::string& node, const hw::v4l2::FakeDevice& device);
    void RemoveSysfs(const std::string& node);
    void Worker();
    // Destroys the unplugged nodes nobody holds open any more.
    void Reap(int waitMs);

    sim::V4l2CameraConfig m_config;
    const std::string m_devDir;
    const std::string m_sysDir;
    const std::string m_captureName;
    const std::string m_metadataName;
    const int m_prerendered;
    std::unique_ptr<FuseNode> m_capture;
    std::unique_ptr<FuseNode> m_metadata;
    std::shared_ptr<hw::v4l2::FakeDevice> m_device;
    std::vector<std::unique_ptr<FuseNode>> m_retired;  // unplugged, still open somewhere
    std::function<void()> m_onSelfUnplug;

    std::mutex m_opsMutex;  // plugging, unplugging and faults, from commands or the worker

    // The camera unplugs itself from inside a request; the worker does the unmounting.
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_unplugRequested = false;
    bool m_stop = false;
    std::thread m_worker;
};

}  // namespace lumacap::fakecam
