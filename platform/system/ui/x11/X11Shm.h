// Shared-memory images: memory both this process and the X server see, so pictures travel
// without passing through the connection.
#pragma once

#include <xcb/shm.h>
#include <xcb/xcb.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/system/ui/Surface.h"
#include "platform/system/ui/x11/X11Connection.h"

namespace lumacap::ui {

class ShmSegment final : public DisplayMemory {
public:
    // A segment of `bytes` attached to the server on `conn`; null if either side cannot have it.
    // The segment keeps the connection open while it lives.
    static std::unique_ptr<ShmSegment> Create(std::shared_ptr<X11Connection> conn, size_t bytes);
    ~ShmSegment() override;
    ShmSegment(const ShmSegment&) = delete;
    ShmSegment& operator=(const ShmSegment&) = delete;

    uint8_t* Data() const override { return m_data; }
    size_t Size() const override { return m_size; }
    xcb_shm_seg_t Id() const { return m_seg; }
    const X11Connection* Connection() const { return m_conn.get(); }

private:
    ShmSegment() = default;
    std::shared_ptr<X11Connection> m_conn;
    xcb_shm_seg_t m_seg = 0;
    uint8_t* m_data = nullptr;
    size_t m_size = 0;
};

// Segments for screen reads and for bitmaps the screen is read into, kept for reuse: a recording
// reads the same size every frame.
class ShmPool : public std::enable_shared_from_this<ShmPool> {
public:
    explicit ShmPool(std::shared_ptr<X11Connection> conn) : m_conn(std::move(conn)) {}
    // A segment of at least `bytes`, back in the pool when the last holder lets go.
    std::shared_ptr<ShmSegment> Take(size_t bytes);

private:
    void Give(ShmSegment* segment);

    std::shared_ptr<X11Connection> m_conn;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<ShmSegment>> m_free;
};

}  // namespace lumacap::ui
