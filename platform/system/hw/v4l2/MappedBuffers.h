// A V4L2 stream's mapped buffers, and media samples over them: a frame is passed on in the
// driver's own buffer instead of being copied into a pooled sample, and the buffer goes back to
// the driver when the last reader releases the sample. The mappings last as long as a sample is
// out, even past the end of the stream.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <streams.h>

#include "platform/system/hw/v4l2/V4l2Api.h"

namespace lumacap::hw::v4l2 {

class MappedBuffers : public std::enable_shared_from_this<MappedBuffers> {
public:
    explicit MappedBuffers(std::shared_ptr<Api> api) : m_api(std::move(api)) {}
    ~MappedBuffers();
    MappedBuffers(const MappedBuffers&) = delete;
    MappedBuffers& operator=(const MappedBuffers&) = delete;

    // Adds the mapping of the next buffer index; false when memory is short.
    bool Add(void* address, size_t length);
    size_t Count() const { return m_buffers.size(); }
    const uint8_t* Address(uint32_t index) const;
    size_t Length(uint32_t index) const;

    // Buffer `index`'s first `used` bytes as a sample with one reference, or null when its
    // sample is still out (or the index is not a buffer of this stream).
    IMediaSample* Lend(uint32_t index, long used);
    // Moves the buffers whose samples came back since the last call into `out`.
    void TakeReturned(std::vector<uint32_t>* out);
    // Whether any sample is still out.
    bool Outstanding();

private:
    class MappedSample;
    void Returned(uint32_t index);

    std::shared_ptr<Api> m_api;
    struct Buffer {
        void* address;
        size_t length;
        MappedSample* sample;  // owned
        bool out;
    };
    std::vector<Buffer> m_buffers;  // fixed once streaming starts
    std::mutex m_mutex;             // `out` and m_returned
    std::vector<uint32_t> m_returned;
};

}  // namespace lumacap::hw::v4l2
