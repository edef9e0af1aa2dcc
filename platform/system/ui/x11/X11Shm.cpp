// Shared-memory segments attached to the X server, and a pool of them for screen reads.
#include "platform/system/ui/x11/X11Shm.h"

#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>

namespace lumacap::ui {
namespace {
constexpr size_t kPoolSize = 3;
}

std::unique_ptr<ShmSegment> ShmSegment::Create(std::shared_ptr<X11Connection> connection,
                                               size_t bytes) {
    xcb_connection_t* conn = connection->Get();
    const int id = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (id < 0) return nullptr;
    void* data = shmat(id, nullptr, 0);
    if (data == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return nullptr;
    }
    std::unique_ptr<ShmSegment> s(new ShmSegment());
    s->m_conn = std::move(connection);
    s->m_data = static_cast<uint8_t*>(data);
    s->m_size = bytes;
    s->m_seg = xcb_generate_id(conn);
    xcb_generic_error_t* error = xcb_request_check(
        conn, xcb_shm_attach_checked(conn, s->m_seg, static_cast<uint32_t>(id), 0));
    // Once both sides hold it, the segment can be marked for removal: it goes with the last
    // of them, however this process ends.
    shmctl(id, IPC_RMID, nullptr);
    if (error || xcb_connection_has_error(conn)) {
        std::free(error);
        s->m_seg = 0;
        return nullptr;
    }
    return s;
}

ShmSegment::~ShmSegment() {
    if (m_seg && !m_conn->Broken()) xcb_shm_detach(m_conn->Get(), m_seg);
    if (m_data) shmdt(m_data);
}

std::shared_ptr<ShmSegment> ShmPool::Take(size_t bytes) {
    std::unique_ptr<ShmSegment> segment;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (auto it = m_free.begin(); it != m_free.end(); ++it) {
            if ((*it)->Size() >= bytes && (*it)->Size() <= bytes * 2) {
                segment = std::move(*it);
                m_free.erase(it);
                break;
            }
        }
    }
    if (!segment) segment = ShmSegment::Create(m_conn, bytes);
    if (!segment) return nullptr;
    std::weak_ptr<ShmPool> pool = weak_from_this();
    return std::shared_ptr<ShmSegment>(segment.release(), [pool](ShmSegment* s) {
        if (auto p = pool.lock()) {
            p->Give(s);
        } else {
            delete s;
        }
    });
}

void ShmPool::Give(ShmSegment* segment) {
    std::unique_ptr<ShmSegment> s(segment);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_free.size() < kPoolSize) m_free.push_back(std::move(s));
}

}  // namespace lumacap::ui
