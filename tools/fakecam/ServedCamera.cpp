// A camera double's nodes and sysfs attributes, plugged in and out.
#include "ServedCamera.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace lumacap::fakecam {

ServedCamera::ServedCamera(const sim::V4l2CameraConfig& config, std::string devDir,
                           std::string sysDir, int firstNode, int prerendered)
    : m_config(config),
      m_devDir(std::move(devDir)),
      m_sysDir(std::move(sysDir)),
      m_captureName("video" + std::to_string(firstNode)),
      m_metadataName(config.metadataNode ? "video" + std::to_string(firstNode + 1) : ""),
      m_prerendered(prerendered) {
    m_worker = std::thread([this] {
        sigset_t signals;
        sigfillset(&signals);
        pthread_sigmask(SIG_BLOCK, &signals, nullptr);
        Worker();
    });
}

ServedCamera::~ServedCamera() {
    if (!Shutdown(1000)) {
        // Nodes some program still holds open are left to the process's exit, which ends their
        // connections; destroying them now would pull the server from under their requests.
        for (auto& node : m_retired) node.release();
    }
}

bool ServedCamera::Shutdown(int waitMs) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
        m_cv.notify_all();
    }
    if (m_worker.joinable()) m_worker.join();
    Unplug();
    Reap(waitMs);
    return m_retired.empty();
}

void ServedCamera::Reap(int waitMs) {
    for (auto it = m_retired.begin(); it != m_retired.end();) {
        if ((*it)->WaitClosed(waitMs))
            it = m_retired.erase(it);
        else
            ++it;
    }
}

void ServedCamera::Worker() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_stop || m_unplugRequested; });
        if (m_stop) return;
        m_unplugRequested = false;
        lock.unlock();
        Unplug();
        if (m_onSelfUnplug) m_onSelfUnplug();
        lock.lock();
    }
}

bool ServedCamera::Plug(std::string* error) {
    std::lock_guard<std::mutex> lock(m_opsMutex);
    if (m_capture) return true;
    Reap(0);
    // A camera plugged back in is a new device: fresh state, the same identity.
    auto capture = std::make_shared<hw::v4l2::FakeDevice>(m_config, false);
    capture->SetPrerendered(m_prerendered);
    capture->SetUnplugHook([this] {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_unplugRequested = true;
        m_cv.notify_all();
    });
    capture->SetFaults(m_config.faults);
    m_device = capture;
    WriteSysfs(m_captureName, *capture);
    m_capture = std::make_unique<FuseNode>(capture, m_devDir + "/" + m_captureName);
    if (!m_capture->Mount(error)) {
        m_capture.reset();
        RemoveSysfs(m_captureName);
        return false;
    }
    if (!m_metadataName.empty()) {
        auto metadata = std::make_shared<hw::v4l2::FakeDevice>(m_config, true);
        WriteSysfs(m_metadataName, *metadata);
        m_metadata = std::make_unique<FuseNode>(metadata, m_devDir + "/" + m_metadataName);
        if (!m_metadata->Mount(error)) {
            m_metadata.reset();
            RemoveSysfs(m_metadataName);
        }
    }
    return true;
}

void ServedCamera::Unplug() {
    std::lock_guard<std::mutex> lock(m_opsMutex);
    for (auto* node : {&m_capture, &m_metadata}) {
        if (!*node) continue;
        (*node)->Detach();
        m_retired.push_back(std::move(*node));
    }
    m_device.reset();
    RemoveSysfs(m_captureName);
    if (!m_metadataName.empty()) RemoveSysfs(m_metadataName);
}

void ServedCamera::SetFaults(const sim::V4l2Faults& faults) {
    std::lock_guard<std::mutex> lock(m_opsMutex);
    m_config.faults = faults;
    if (m_device) m_device->SetFaults(faults);
}

void ServedCamera::WriteSysfs(const std::string& node, const hw::v4l2::FakeDevice& device) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::path(m_sysDir) / "class" / "video4linux" / node;
    std::error_code ec;
    fs::create_directories(dir / "device", ec);
    for (const char* attribute : {"name", "index", "device/modalias"}) {
        std::string value;
        if (!device.Attribute(attribute, &value)) continue;
        std::ofstream(dir / attribute) << value << "\n";
    }
}

void ServedCamera::RemoveSysfs(const std::string& node) {
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(m_sysDir) / "class" / "video4linux" / node,
                                ec);
}

}  // namespace lumacap::fakecam
