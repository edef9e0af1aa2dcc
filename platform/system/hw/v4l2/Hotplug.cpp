// The hot-plug monitor: one worker per watched directory, alive while filters listen to it.
#include "platform/system/hw/v4l2/Hotplug.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/system/hw/v4l2/V4l2Node.h"
#include "platform/system/win/Trace.h"

namespace lumacap::hw::v4l2 {
namespace {

using Clock = std::chrono::steady_clock;

struct Listener {
    HotplugListener* listener;
    std::string node;
    std::string key;
    bool present;
};

// A node that appeared but could not be probed yet: device managers fix a new node's owner and
// mode after creating it, and a served node is mounted after its file appears.
struct Retry {
    std::string name;
    Clock::time_point due;
    int attempts;
};

class DirectoryMonitor {
public:
    explicit DirectoryMonitor(std::shared_ptr<Api> api) : m_api(std::move(api)) {}

    // Called with the registry's lock held.
    void Start() {
        m_watch = m_api->Watch([this](const std::string& name, bool appeared) {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            m_events.emplace_back(name, appeared);
            m_cv.notify_all();
        });
        m_worker = std::thread([this] { Run(); });
    }
    // Called without the registry's lock: the worker may be waiting for it.
    void Stop() {
        m_watch.reset();
        {
            std::lock_guard<std::mutex> lock(m_queueMutex);
            m_stop = true;
            m_cv.notify_all();
        }
        if (m_worker.joinable()) m_worker.join();
    }

    Api* ApiPtr() const { return m_api.get(); }
    std::vector<Listener> listeners;  // guarded by the registry's lock

private:
    void Run();
    void Appeared(const std::string& name, int attempts);
    void Vanished(const std::string& name);

    std::shared_ptr<Api> m_api;
    std::unique_ptr<DirectoryWatch> m_watch;
    std::thread m_worker;
    std::mutex m_queueMutex;
    std::condition_variable m_cv;
    std::deque<std::pair<std::string, bool>> m_events;
    std::vector<Retry> m_retries;  // the worker's own
    bool m_stop = false;
};

// The registry. Listeners are called without it (their events go into the media graph); a listener
// being removed waits until no call is under way.
std::mutex g_mutex;
std::condition_variable g_idle;
int g_calling = 0;

void Call(std::unique_lock<std::mutex>& lock, std::vector<HotplugListener*>& listeners,
          bool present) {
    if (listeners.empty()) return;
    ++g_calling;
    lock.unlock();
    for (HotplugListener* l : listeners) l->OnCameraPresence(present);
    lock.lock();
    if (--g_calling == 0) g_idle.notify_all();
}
std::vector<std::unique_ptr<DirectoryMonitor>> g_monitors;

void DirectoryMonitor::Run() {
    std::unique_lock<std::mutex> lock(m_queueMutex);
    for (;;) {
        auto due = Clock::time_point::max();
        for (const Retry& r : m_retries) due = std::min(due, r.due);
        m_cv.wait_until(lock, due, [this] { return m_stop || !m_events.empty(); });
        if (m_stop) return;
        std::deque<std::pair<std::string, bool>> events;
        events.swap(m_events);
        lock.unlock();
        for (const auto& event : events) {
            const std::string& name = event.first;
            m_retries.erase(std::remove_if(m_retries.begin(), m_retries.end(),
                                           [&](const Retry& r) { return r.name == name; }),
                            m_retries.end());
            if (event.second)
                Appeared(name, 0);
            else
                Vanished(name);
        }
        const auto now = Clock::now();
        std::vector<Retry> dueNow;
        for (auto it = m_retries.begin(); it != m_retries.end();) {
            if (it->due <= now) {
                dueNow.push_back(*it);
                it = m_retries.erase(it);
            } else {
                ++it;
            }
        }
        for (const Retry& r : dueNow) Appeared(r.name, r.attempts);
        lock.lock();
    }
}

void DirectoryMonitor::Appeared(const std::string& name, int attempts) {
    NodeInfo info;
    const int r = ProbeNode(*m_api, name, &info);
    LUMACAP_TRACE(kHw, "V4L2: %s appeared (%s)", m_api->NodePath(name).c_str(),
                  r == 0 ? info.card.c_str() : std::strerror(-r));
    if (r != 0) {
        // Not (yet) a camera: look again a few times, up to about two seconds. A V4L2 node that
        // is no capture node (a camera's metadata node) will not become one.
        if (r != -ENODEV && attempts < 6)
            m_retries.push_back(
                {name, Clock::now() + std::chrono::milliseconds(40 << attempts), attempts + 1});
        return;
    }
    std::unique_lock<std::mutex> lock(g_mutex);
    std::vector<HotplugListener*> back;
    for (Listener& l : listeners) {
        if (l.present || l.key != info.Key()) continue;
        l.present = true;
        l.node = name;
        back.push_back(l.listener);
    }
    Call(lock, back, true);
}

void DirectoryMonitor::Vanished(const std::string& name) {
    LUMACAP_TRACE(kHw, "V4L2: %s vanished", m_api->NodePath(name).c_str());
    std::unique_lock<std::mutex> lock(g_mutex);
    std::vector<HotplugListener*> gone;
    for (Listener& l : listeners) {
        if (!l.present || l.node != name) continue;
        l.present = false;
        gone.push_back(l.listener);
    }
    Call(lock, gone, false);
}

}  // namespace

void WatchCamera(const std::shared_ptr<Api>& api, HotplugListener* listener,
                 const std::string& node, const std::string& key) {
    std::lock_guard<std::mutex> lock(g_mutex);
    DirectoryMonitor* monitor = nullptr;
    for (auto& m : g_monitors)
        if (m->ApiPtr() == api.get()) monitor = m.get();
    if (!monitor) {
        g_monitors.push_back(std::make_unique<DirectoryMonitor>(api));
        monitor = g_monitors.back().get();
        monitor->Start();
    }
    monitor->listeners.push_back({listener, node, key, true});
}

void UnwatchCamera(HotplugListener* listener) {
    std::unique_ptr<DirectoryMonitor> idle;
    {
        std::unique_lock<std::mutex> lock(g_mutex);
        // A call to this listener may be under way on a monitor's thread.
        g_idle.wait(lock, [] { return g_calling == 0; });
        for (auto it = g_monitors.begin(); it != g_monitors.end(); ++it) {
            auto& list = (*it)->listeners;
            list.erase(std::remove_if(list.begin(), list.end(),
                                      [&](const Listener& l) { return l.listener == listener; }),
                       list.end());
            if (list.empty()) {
                idle = std::move(*it);
                g_monitors.erase(it);
                break;
            }
        }
    }
    if (idle) idle->Stop();
}

}  // namespace lumacap::hw::v4l2
