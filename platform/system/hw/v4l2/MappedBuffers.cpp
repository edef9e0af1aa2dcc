// The mapped buffers of a V4L2 stream, lent to the graph as media samples.
#include "platform/system/hw/v4l2/MappedBuffers.h"

#include <new>

namespace lumacap::hw::v4l2 {

// A sample over one mapped buffer. It has no allocator: its last release hands the buffer back to
// the stream, which keeps the mappings alive while the sample is out.
class MappedBuffers::MappedSample final : public CMediaSample {
public:
    MappedSample(uint32_t index, BYTE* address, LONG length)
        : CMediaSample(NAME("V4L2 mapped sample"), nullptr, nullptr, address, length),
          m_index(index) {}

    void Hand(std::shared_ptr<MappedBuffers> owner, long used) {
        m_owner = std::move(owner);
        m_dwFlags = 0;
        m_lActual = used;
        m_cRef = 1;
    }

    STDMETHODIMP_(ULONG) Release() override {
        const LONG ref = --m_cRef;
        if (ref == 0) {
            if (m_pMediaType) {
                DeleteMediaType(m_pMediaType);
                m_pMediaType = nullptr;
            }
            // The stream may go with this reference, and this sample with it: nothing of the
            // sample is touched after the hand-back.
            const std::shared_ptr<MappedBuffers> owner = std::move(m_owner);
            owner->Returned(m_index);
        }
        return static_cast<ULONG>(ref);
    }

private:
    const uint32_t m_index;
    std::shared_ptr<MappedBuffers> m_owner;  // while the sample is out
};

MappedBuffers::~MappedBuffers() {
    for (const Buffer& b : m_buffers) {
        m_api->Munmap(b.address, b.length);
        delete b.sample;
    }
}

bool MappedBuffers::Add(void* address, size_t length) {
    const auto index = static_cast<uint32_t>(m_buffers.size());
    auto* sample = new (std::nothrow)
        MappedSample(index, static_cast<BYTE*>(address), static_cast<LONG>(length));
    if (!sample) {
        m_api->Munmap(address, length);
        return false;
    }
    m_buffers.push_back({address, length, sample, false});
    m_returned.reserve(m_buffers.size());
    return true;
}

const uint8_t* MappedBuffers::Address(uint32_t index) const {
    return static_cast<const uint8_t*>(m_buffers[index].address);
}

size_t MappedBuffers::Length(uint32_t index) const {
    return m_buffers[index].length;
}

IMediaSample* MappedBuffers::Lend(uint32_t index, long used) {
    if (index >= m_buffers.size() || used < 0 ||
        static_cast<size_t>(used) > m_buffers[index].length)
        return nullptr;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_buffers[index].out) return nullptr;
        m_buffers[index].out = true;
    }
    MappedSample* sample = m_buffers[index].sample;
    sample->Hand(shared_from_this(), used);
    return sample;
}

void MappedBuffers::Returned(uint32_t index) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_buffers[index].out = false;
    m_returned.push_back(index);
}

void MappedBuffers::TakeReturned(std::vector<uint32_t>* out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    out->insert(out->end(), m_returned.begin(), m_returned.end());
    m_returned.clear();
}

bool MappedBuffers::Outstanding() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Buffer& b : m_buffers)
        if (b.out) return true;
    return false;
}

}  // namespace lumacap::hw::v4l2
