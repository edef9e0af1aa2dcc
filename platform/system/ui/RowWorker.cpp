// RowWorker: the shared helper thread that takes part of large scaling jobs.
#include "platform/system/ui/RowWorker.h"

#include <chrono>
#include <system_error>

namespace lumacap::ui {
namespace {

// How long the thread waits for work before it ends. Long enough that a recording (a job every
// few tens of milliseconds) keeps the same thread throughout.
constexpr std::chrono::seconds kIdleLife{2};

}  // namespace

RowWorker& RowWorker::Instance() {
    static RowWorker worker;
    return worker;
}

RowWorker::~RowWorker() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
}

bool RowWorker::Post(Job job, void* context) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_claimed || m_quit) return false;
    if (!m_threadAlive) {
        // A thread that ended for want of work has let go of the lock for good: joining it here
        // cannot wait on us.
        if (m_thread.joinable()) m_thread.join();
        try {
            m_thread = std::thread([this] { Loop(); });
        } catch (const std::system_error&) {
            return false;
        }
        m_threadAlive = true;
    }
    m_claimed = true;
    m_job = job;
    m_context = context;
    m_state = State::Posted;
    m_wake.notify_one();
    return true;
}

bool RowWorker::Finish() {
    std::unique_lock<std::mutex> lock(m_mutex);
    // Not picked up yet (the thread was slow to wake, or busy elsewhere on the machine): the
    // caller has done the whole job meanwhile, so the job is withdrawn rather than waited for.
    const bool ran = m_state != State::Posted;
    if (ran) m_done.wait(lock, [this] { return m_state == State::Done; });
    m_state = State::Idle;
    m_claimed = false;
    m_job = nullptr;
    m_context = nullptr;
    return ran;
}

bool RowWorker::ThreadRunning() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_threadAlive;
}

void RowWorker::Loop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        const bool woken =
            m_wake.wait_for(lock, kIdleLife, [this] { return m_quit || m_state == State::Posted; });
        if (m_quit || (!woken && !m_claimed)) break;
        if (!woken) continue;
        m_state = State::Running;
        const Job job = m_job;
        void* context = m_context;
        lock.unlock();
        job(context);
        lock.lock();
        m_state = State::Done;
        m_done.notify_all();
    }
    m_threadAlive = false;
}

}  // namespace lumacap::ui
