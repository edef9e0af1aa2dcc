// How the file writers turn sample time stamps into positions in a file: video frames into frame
// slots of a fixed length, audio buffers into a running sample count. Shared by the AVI Mux and the
// WM ASF Writer.
#pragma once

#include <cstdint>

#include <strmif.h>

namespace lumacap::dshow {

// Frame slots of one video stream. A frame goes into the slot its start time falls in, so a gap in
// the stamps leaves empty slots (the file keeps the recording's duration); a frame stamped at or
// before its predecessor's slot goes into the slot right after it, so no frame is lost or
// reordered.
class FrameSlots {
public:
    // Gaps longer than this are taken as broken stamps rather than as time that passed.
    static constexpr REFERENCE_TIME kMaxGap = 10LL * 60 * 10000000;  // ten minutes

    void Reset(REFERENCE_TIME frameLength) {
        m_frameLength = frameLength > 0 ? frameLength : 1;
        m_last = -1;
        m_lastStart = 0;
        m_haveLastStart = false;
    }
    REFERENCE_TIME FrameLength() const { return m_frameLength; }
    int64_t Last() const { return m_last; }

    // The slot of the next frame (the AVI rule: every frame is kept).
    int64_t Place(bool hasTime, REFERENCE_TIME start) {
        int64_t slot = m_last + 1;
        if (hasTime) {
            const int64_t byTime = SlotOf(start);
            if (byTime > slot && (byTime - slot) * m_frameLength <= kMaxGap) slot = byTime;
            m_lastStart = start;
            m_haveLastStart = true;
        }
        m_last = slot;
        return slot;
    }

    // The slot of the next frame for an encoder with a fixed frame rate, or -1 to drop the frame:
    // a later frame that falls into a slot already taken comes faster than the rate and is dropped,
    // while a frame stamped before its predecessor is kept and written after it.
    int64_t PlaceOrDrop(bool hasTime, REFERENCE_TIME start) {
        if (hasTime && m_haveLastStart && start > m_lastStart && SlotOf(start) <= m_last) return -1;
        return Place(hasTime, start);
    }

private:
    int64_t SlotOf(REFERENCE_TIME start) const {
        if (start <= 0) return 0;
        return (start + m_frameLength / 2) / m_frameLength;
    }

    REFERENCE_TIME m_frameLength = 1;
    int64_t m_last = -1;
    REFERENCE_TIME m_lastStart = 0;
    bool m_haveLastStart = false;
};

// The sample position of one audio stream. Buffers are written back to back; when a buffer's stamp
// lies clearly after the samples written so far (the stream started late, or the device dropped
// data), silence fills the hole so the sound stays in step with the pictures.
class AudioClock {
public:
    static constexpr int64_t kMaxFillSeconds = 10;

    void Reset(int samplesPerSecond) {
        m_rate = samplesPerSecond > 0 ? samplesPerSecond : 1;
        m_position = 0;
    }
    int64_t Position() const { return m_position; }

    // Samples of silence to write before a buffer stamped `start`.
    int64_t SilenceBefore(bool hasTime, REFERENCE_TIME start) const {
        if (!hasTime || start <= 0) return 0;
        const int64_t due = start * m_rate / 10000000;
        const int64_t tolerance = m_rate / 20;  // 50 ms of jitter is not a hole
        if (due <= m_position + tolerance) return 0;
        const int64_t fill = due - m_position;
        return fill > kMaxFillSeconds * m_rate ? 0 : fill;
    }
    void Advance(int64_t samples) { m_position += samples; }

private:
    int64_t m_rate = 1;
    int64_t m_position = 0;
};

}  // namespace lumacap::dshow
