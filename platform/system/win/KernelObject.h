// Kernel objects behind HANDLE values: threads, events and files. A HANDLE is a pointer to one of
// these; CloseHandle drops the caller's reference and the object lives while others hold it (a
// running thread holds its own).
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include <windows.h>

namespace lumacap::win {

class KernelObject {
public:
    enum class Kind { Thread, Event, File };

    explicit KernelObject(Kind kind) : m_kind(kind) { Register(); }
    virtual ~KernelObject() = default;
    KernelObject(const KernelObject&) = delete;
    KernelObject& operator=(const KernelObject&) = delete;

    Kind GetKind() const { return m_kind; }
    void AddRef() { m_refs.fetch_add(1, std::memory_order_relaxed); }
    // Drops `count` references at once.
    void Release(int count = 1) {
        if (m_refs.fetch_sub(count, std::memory_order_acq_rel) == count) {
            Unregister();
            delete this;
        }
    }

    // Waitable objects override these. Signalled() is called with Mutex() held.
    virtual bool Waitable() const { return false; }
    virtual bool Signalled() const { return false; }
    // Called with Mutex() held when a wait is satisfied (auto-reset events reset here).
    virtual void Consume() {}

    // One mutex and condition variable for all waitable objects keeps multi-object waits simple;
    // waits are rare (thread joins, worker hand-offs), never per frame.
    static std::mutex& Mutex();
    static std::condition_variable& Changed();

    // Returns the object behind a handle with a new reference, or null if the handle is not a
    // live kernel object.
    static KernelObject* FromHandle(HANDLE h);
    HANDLE ToHandle() { return reinterpret_cast<HANDLE>(this); }
    // Closes the caller's handle: true the first time only, so a second close is refused even
    // while the object lives on (a running thread keeps its own reference).
    bool CloseOwnHandle() { return m_handleOpen.exchange(false); }

private:
    // The registry lets FromHandle validate handles; an object leaves it before it is deleted.
    void Register();
    void Unregister();

    Kind m_kind;
    std::atomic<int> m_refs{1};
    std::atomic<bool> m_handleOpen{true};
};

}  // namespace lumacap::win
