// RowWorker: the one helper thread that scaling jobs share, for running part of a large job on the
// second core.
//
// A caller hands a job (a function and its argument) to the worker, works on the same job itself,
// then calls Finish. Nothing is allocated per job and no thread is made per job: the thread is
// started when it is first needed, waits on a condition variable between jobs, and ends after a
// while without work (a host that stops drawing large pictures does not keep a thread for
// nothing). One caller at a time: a second thread asking while the worker serves another is
// refused and does its whole job alone.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace lumacap::ui {

class RowWorker {
public:
    using Job = void (*)(void* context);

    // The process's worker.
    static RowWorker& Instance();

    RowWorker() = default;
    ~RowWorker();
    RowWorker(const RowWorker&) = delete;
    RowWorker& operator=(const RowWorker&) = delete;

    // Offers `job(context)` to the worker thread. False when it is serving another caller or no
    // thread can be started; the caller then does the work alone and does not call Finish.
    bool Post(Job job, void* context);

    // After a Post that returned true: returns once the worker has finished the job, or at once
    // when the worker has not picked the job up yet (it never will then). Answers whether the
    // worker ran it. The job's context must stay valid until this returns.
    bool Finish();

    // Whether the thread exists now (tests watch it come and go).
    bool ThreadRunning();

private:
    void Loop();

    enum class State { Idle, Posted, Running, Done };

    std::mutex m_mutex;
    std::condition_variable m_wake;  // the worker waits here for a job
    std::condition_variable m_done;  // the caller waits here for the job's end
    State m_state = State::Idle;
    bool m_claimed = false;  // a caller is between Post and Finish
    bool m_threadAlive = false;
    bool m_quit = false;
    Job m_job = nullptr;
    void* m_context = nullptr;
    std::thread m_thread;
};

}  // namespace lumacap::ui
