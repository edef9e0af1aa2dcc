// Frame pacing: each sample the streaming thread takes waits out a pause of the recorder, is
// composed by the recorder, stamped with its frame-number time (or the slot the clock has
// reached, when composing fell behind) and held back until it is due.
#include <cstring>

#include <lumacap/DXRecorder.h>
#include <mmsystem.h>
#include <wincrt.h>

#include "framesource/VideoMergeFilter.h"
#include "log/Log.h"

namespace {

DWORD RowBytes(LONG width, int bitCount) {
    return GDI_WIDTHBYTES(static_cast<DWORD>(width) * bitCount);
}

// 24-bit rows to 32-bit rows (the fourth byte unused), both bottom-up.
void ConvertTo32(const BYTE* pSrc, BYTE* pDst, LONG width, LONG height) {
    const DWORD srcStride = RowBytes(width, 24), dstStride = RowBytes(width, 32);
    for (LONG y = 0; y < height; ++y) {
        const BYTE* s = pSrc + static_cast<size_t>(y) * srcStride;
        BYTE* d = pDst + static_cast<size_t>(y) * dstStride;
        for (LONG x = 0; x < width; ++x, s += 3, d += 4) {
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
            d[3] = 0;
        }
    }
}

// 24-bit rows to 16-bit rows with 5-6-5 or 5-5-5 bit fields, little-endian.
void ConvertTo16(const BYTE* pSrc, BYTE* pDst, LONG width, LONG height, bool rgb565) {
    const DWORD srcStride = RowBytes(width, 24), dstStride = RowBytes(width, 16);
    for (LONG y = 0; y < height; ++y) {
        const BYTE* s = pSrc + static_cast<size_t>(y) * srcStride;
        BYTE* d = pDst + static_cast<size_t>(y) * dstStride;
        for (LONG x = 0; x < width; ++x, s += 3, d += 2) {
            const unsigned b = s[0], g = s[1], r = s[2];
            const unsigned v = rgb565 ? ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3)
                                      : ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
            d[0] = static_cast<BYTE>(v & 0xFF);
            d[1] = static_cast<BYTE>(v >> 8);
        }
    }
}

}  // namespace

void CVideoMergePin::ComposeInto(IMediaSample* pSample, BYTE* pData) {
    LONG width = 0, height = 0;
    GetFrameSize(&width, &height);
    if (!m_pRecorder || !pData || width <= 0 || height <= 0) return;
    const int depth = m_nCurrentBitDepth;
    if (depth != 16 && depth != 24 && depth != 32) return;
    const DWORD needed = RowBytes(width, depth) * static_cast<DWORD>(height);
    // The allocator was sized for the agreed type; a sample that cannot hold the picture is
    // delivered as it is rather than overrun.
    const long available = pSample->GetSize();
    if (available < 0 || static_cast<DWORD>(available) < needed) {
        LogWarn("recorder,sample too small:%ld,needed:%lu", available,
                static_cast<unsigned long>(needed));
        return;
    }
    if (depth == 24) {
        // The common case: composed straight into the sample.
        m_pRecorder->GetImageBuffer(pData);
        return;
    }
    // Other connections get the composed frame converted. The frame is kept between calls, so
    // areas no source paints keep their older content here too.
    const size_t frameSize = static_cast<size_t>(RowBytes(width, 24)) * static_cast<size_t>(height);
    if (m_vecConvert.size() != frameSize) m_vecConvert.assign(frameSize, 0);
    m_pRecorder->GetImageBuffer(m_vecConvert.data());
    if (depth == 32) {
        ConvertTo32(m_vecConvert.data(), pData, width, height);
    } else {
        const bool rgb565 = m_MediaType.subtype == MEDIASUBTYPE_RGB565;
        ConvertTo16(m_vecConvert.data(), pData, width, height, rgb565);
    }
}

HRESULT CVideoMergePin::FillBuffer(IMediaSample* pSample) {
    // Wait out a pause without the lock; the time spent counts as paused. A pause that is in force
    // before frame 0 is not counted: the run's clock starts only when frame 0 is begun, after
    // the wait, so counting it would put frame 0 that long before its own start.
    if (m_pRecorder && m_pRecorder->m_nStatus == RecorderStatus_Paused) {
        DWORD t0 = timeGetTime();
        // Counted from the moment the recorder paused when that lies within the previous frame:
        // this thread may have noticed only after holding that frame back until it was due, and
        // that wait belongs to the pause (the sound stopped at once), not to the picture.
        const DWORD asked = m_pRecorder->m_dwPausedAt;
        if (asked != 0 && t0 - asked <= t0 - m_dwLastBegin) t0 = asked;
        while (m_pRecorder->m_nStatus == RecorderStatus_Paused) Sleep(1);
        if (m_iFrameNumber != 0) m_dwPausedTime += timeGetTime() - t0;
    }

    // The clock is read before composing: a frame leaves at its due time plus its composing time.
    const DWORD now = timeGetTime();
    m_dwLastBegin = now;
    if (m_iFrameNumber == 0) m_dwStartTime = now;
    if (!pSample) return E_POINTER;

    CAutoLock lock(&m_cSharedState);

    BYTE* pData = nullptr;
    pSample->GetPointer(&pData);
    ComposeInto(pSample, pData);

    const DWORD elapsed = now - m_dwPausedTime - m_dwStartTime;
    const int frameMs = static_cast<int>(m_rtFrameLength / 10000);
    const DWORD expected = static_cast<DWORD>(frameMs) * static_cast<DWORD>(m_iFrameNumber);
    REFERENCE_TIME rtStart = static_cast<REFERENCE_TIME>(m_iFrameNumber) * m_rtFrameLength;

    if (elapsed > expected) {
        LogWarn("recorder,frame delay:%d,iFrameNumber:%d", static_cast<int>(elapsed - expected),
                m_iFrameNumber);
        // The start of the frame slot the clock has reached.
        const REFERENCE_TIME rtTmp =
            (static_cast<REFERENCE_TIME>(elapsed) * 10000 / m_rtFrameLength) * m_rtFrameLength;
        char text[256];
        std::memset(text, 0, sizeof(text));
        if (rtTmp > m_rtPreStartTime) {
            rtStart = rtTmp;
            _snprintf(text, sizeof(text) - 1,
                      "recorder,frame delay,preStartTime:%lld, rtStart:%lld, m_rtFrameLength:%lld, "
                      "preStartTime+framelen:%lld,",
                      static_cast<long long>(m_rtPreStartTime), static_cast<long long>(rtStart),
                      static_cast<long long>(m_rtFrameLength),
                      static_cast<long long>(m_rtPreStartTime + m_rtFrameLength));
        } else {
            // The clock is still in the slot the previous frame took: keep the frame-number time.
            _snprintf(text, sizeof(text) - 1,
                      "assert rtTmp>preStartTime,rtTmp:%lld,preStartTime:%lld",
                      static_cast<long long>(rtTmp), static_cast<long long>(m_rtPreStartTime));
        }
        LogWarnText(text);
    }

    m_rtPreStartTime = rtStart;
    REFERENCE_TIME rtStop = rtStart + m_rtFrameLength;
    HRESULT hr = pSample->SetTime(&rtStart, &rtStop);
    if (hr != S_OK) LogWarn("SetTime failed,hr:%x", static_cast<unsigned>(hr));

    ++m_iFrameNumber;
    if (elapsed < expected) Sleep(expected - elapsed);

    hr = pSample->SetSyncPoint(TRUE);
    if (hr != 0) LogWarn("SetSyncPoint failed,hr:%x", static_cast<unsigned>(hr));
    return S_OK;
}
