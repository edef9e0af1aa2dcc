// The filter graph manager's seeking and position. Requests go to every filter that seeks in media
// time (renderers pass theirs upstream); the current position is the graph's own: the stream time
// the clock has counted while running, added to where the stream stood before. A live graph has
// no filter that seeks: its duration is unknown, its position still advances.
#include <algorithm>

#include "platform/system/dshow/FilterGraph.h"

namespace lumacap::dshow {
namespace {

constexpr double kUnitsPerSecond = 10000000.0;

bool IsMediaTime(const GUID* format) {
    return !format || *format == TIME_FORMAT_MEDIA_TIME;
}

}  // namespace

// E_NOTIMPL when no filter seeks (or none implements the call); otherwise the last failure, if any.
template <class F>
HRESULT FilterGraph::ForEachSeeking(F&& f) {
    std::vector<IMediaSeeking*> seekers;
    {
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        for (const Entry& e : m_filters) {
            IMediaSeeking* s = nullptr;
            if (FAILED(e.filter->QueryInterface(IID_IMediaSeeking, reinterpret_cast<void**>(&s))))
                continue;
            if (s->IsFormatSupported(&TIME_FORMAT_MEDIA_TIME) == S_OK)
                seekers.push_back(s);
            else
                s->Release();
        }
    }
    bool allNotImpl = true;
    HRESULT result = S_OK;
    for (IMediaSeeking* s : seekers) {
        const HRESULT hr = f(s);
        if (hr != E_NOTIMPL) allNotImpl = false;
        if (FAILED(hr)) result = hr;
        s->Release();
    }
    return allNotImpl ? E_NOTIMPL : result;
}

// Where the stream stands now. Once every renderer has finished, it stands at the stop position.
LONGLONG FilterGraph::PositionLocked() {
    LONGLONG position = m_position;
    if (m_state == State_Running && !m_needsAsyncRun && m_pClock) {
        const REFERENCE_TIME now = ClockTime();
        if (now > m_streamStart) position += now - m_streamStart;
    }
    bool atEnd;
    {
        std::lock_guard<std::mutex> lock(m_eventLock);
        atEnd = m_atEnd;
    }
    LONGLONG stop = 0;
    if (atEnd && SUCCEEDED(GetStopPosition(&stop))) position = stop;
    return position;
}

STDMETHODIMP FilterGraph::GetCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities) return E_POINTER;
    DWORD caps = ~0u;
    const HRESULT hr = ForEachSeeking([&](IMediaSeeking* s) {
        DWORD filterCaps = 0;
        const HRESULT call = s->GetCapabilities(&filterCaps);
        if (SUCCEEDED(call)) caps &= filterCaps;
        return call;
    });
    *pCapabilities = SUCCEEDED(hr) ? caps : 0;
    return hr;
}

STDMETHODIMP FilterGraph::CheckCapabilities(DWORD* pCapabilities) {
    if (!pCapabilities) return E_POINTER;
    DWORD caps = 0;
    const HRESULT hr = GetCapabilities(&caps);
    if (FAILED(hr)) return hr;
    const DWORD asked = *pCapabilities;
    *pCapabilities &= caps;
    if (*pCapabilities == asked) return S_OK;
    return *pCapabilities ? S_FALSE : E_FAIL;
}

STDMETHODIMP FilterGraph::IsFormatSupported(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

STDMETHODIMP FilterGraph::QueryPreferredFormat(GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

STDMETHODIMP FilterGraph::GetTimeFormat(GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    *pFormat = TIME_FORMAT_MEDIA_TIME;
    return S_OK;
}

STDMETHODIMP FilterGraph::IsUsingTimeFormat(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : S_FALSE;
}

STDMETHODIMP FilterGraph::SetTimeFormat(const GUID* pFormat) {
    if (!pFormat) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    if (m_state != State_Stopped) return VFW_E_WRONG_STATE;
    return *pFormat == TIME_FORMAT_MEDIA_TIME ? S_OK : E_INVALIDARG;
}

STDMETHODIMP FilterGraph::GetDuration(LONGLONG* pDuration) {
    if (!pDuration) return E_POINTER;
    LONGLONG longest = 0;
    const HRESULT hr = ForEachSeeking([&](IMediaSeeking* s) {
        LONGLONG d = 0;
        const HRESULT call = s->GetDuration(&d);
        if (SUCCEEDED(call)) longest = std::max(longest, d);
        return call;
    });
    if (SUCCEEDED(hr)) *pDuration = longest;
    return hr;
}

STDMETHODIMP FilterGraph::GetStopPosition(LONGLONG* pStop) {
    if (!pStop) return E_POINTER;
    LONGLONG latest = 0;
    const HRESULT hr = ForEachSeeking([&](IMediaSeeking* s) {
        LONGLONG stop = 0;
        const HRESULT call = s->GetStopPosition(&stop);
        if (SUCCEEDED(call)) latest = std::max(latest, stop);
        return call;
    });
    if (SUCCEEDED(hr)) *pStop = latest;
    return hr;
}

STDMETHODIMP FilterGraph::GetCurrentPosition(LONGLONG* pCurrent) {
    if (!pCurrent) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    *pCurrent = PositionLocked();
    return S_OK;
}

STDMETHODIMP FilterGraph::ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat,
                                            LONGLONG Source, const GUID* pSourceFormat) {
    if (!pTarget) return E_POINTER;
    if (!IsMediaTime(pTargetFormat) || !IsMediaTime(pSourceFormat)) return E_NOTIMPL;
    *pTarget = Source;
    return S_OK;
}

// A running graph pauses its filters for the seek and starts them again from the new position.
STDMETHODIMP FilterGraph::SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                                       DWORD dwStopFlags) {
    const DWORD currentMode = dwCurrentFlags & AM_SEEKING_PositioningBitsMask;
    const DWORD stopMode = dwStopFlags & AM_SEEKING_PositioningBitsMask;
    if ((currentMode && !pCurrent) || (stopMode && !pStop)) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    const bool running = m_state == State_Running && !m_needsAsyncRun;
    const auto order = DownstreamFirst();
    if (running) {
        m_position = PositionLocked();
        PauseFilters(order);
    }
    LONGLONG current = m_position;
    if (currentMode == AM_SEEKING_AbsolutePositioning)
        current = *pCurrent;
    else if (currentMode == AM_SEEKING_RelativePositioning)
        current = m_position + *pCurrent;
    const HRESULT hr = ForEachSeeking([&](IMediaSeeking* s) {
        LONGLONG c = pCurrent ? *pCurrent : 0;
        LONGLONG st = pStop ? *pStop : 0;
        return s->SetPositions(currentMode ? &c : nullptr, dwCurrentFlags, stopMode ? &st : nullptr,
                               dwStopFlags);
    });
    if (currentMode) {
        m_position = current;
        ResetCompletion();
    }
    if ((dwCurrentFlags & AM_SEEKING_ReturnTime) && pCurrent) *pCurrent = m_position;
    if ((dwStopFlags & AM_SEEKING_ReturnTime) && pStop) GetStopPosition(pStop);
    if (running) StartStreaming();
    return hr;
}

STDMETHODIMP FilterGraph::GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) {
    HRESULT hr = S_OK;
    if (pCurrent) hr = GetCurrentPosition(pCurrent);
    if (SUCCEEDED(hr) && pStop) hr = GetStopPosition(pStop);
    return hr;
}

STDMETHODIMP FilterGraph::GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) {
    if (pEarliest) *pEarliest = 0;
    return pLatest ? GetDuration(pLatest) : S_OK;
}

STDMETHODIMP FilterGraph::SetRate(double dRate) {
    if (dRate == 0.0) return E_INVALIDARG;
    const HRESULT hr = ForEachSeeking([&](IMediaSeeking* s) { return s->SetRate(dRate); });
    if (SUCCEEDED(hr)) {
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        m_rate = dRate;
    }
    return hr;
}

STDMETHODIMP FilterGraph::GetRate(double* pdRate) {
    if (!pdRate) return E_POINTER;
    std::lock_guard<std::recursive_mutex> lock(m_graphLock);
    *pdRate = m_rate;
    return S_OK;
}

STDMETHODIMP FilterGraph::GetPreroll(LONGLONG* pllPreroll) {
    if (!pllPreroll) return E_POINTER;
    return E_NOTIMPL;
}

// ---- IMediaPosition: the same in seconds --------------------------------------------------------

STDMETHODIMP FilterGraph::get_Duration(REFTIME* plength) {
    if (!plength) return E_POINTER;
    LONGLONG d = 0;
    const HRESULT hr = GetDuration(&d);
    if (SUCCEEDED(hr)) *plength = static_cast<double>(d) / kUnitsPerSecond;
    return hr;
}

STDMETHODIMP FilterGraph::put_CurrentPosition(REFTIME llTime) {
    LONGLONG current = static_cast<LONGLONG>(llTime * kUnitsPerSecond);
    return SetPositions(&current, AM_SEEKING_AbsolutePositioning, nullptr,
                        AM_SEEKING_NoPositioning);
}

STDMETHODIMP FilterGraph::get_CurrentPosition(REFTIME* pllTime) {
    if (!pllTime) return E_POINTER;
    LONGLONG current = 0;
    const HRESULT hr = GetCurrentPosition(&current);
    if (SUCCEEDED(hr)) *pllTime = static_cast<double>(current) / kUnitsPerSecond;
    return hr;
}

STDMETHODIMP FilterGraph::get_StopTime(REFTIME* pllTime) {
    if (!pllTime) return E_POINTER;
    LONGLONG stop = 0;
    const HRESULT hr = GetStopPosition(&stop);
    if (SUCCEEDED(hr)) *pllTime = static_cast<double>(stop) / kUnitsPerSecond;
    return hr;
}

STDMETHODIMP FilterGraph::put_StopTime(REFTIME llTime) {
    LONGLONG stop = static_cast<LONGLONG>(llTime * kUnitsPerSecond);
    return SetPositions(nullptr, AM_SEEKING_NoPositioning, &stop, AM_SEEKING_AbsolutePositioning);
}

STDMETHODIMP FilterGraph::get_PrerollTime(REFTIME* pllTime) {
    if (!pllTime) return E_POINTER;
    return E_NOTIMPL;
}

STDMETHODIMP FilterGraph::put_PrerollTime(REFTIME) {
    return E_NOTIMPL;
}

STDMETHODIMP FilterGraph::put_Rate(double dRate) {
    return SetRate(dRate);
}

STDMETHODIMP FilterGraph::get_Rate(double* pdRate) {
    return GetRate(pdRate);
}

STDMETHODIMP FilterGraph::CanSeekForward(long* pCanSeekForward) {
    if (!pCanSeekForward) return E_POINTER;
    DWORD caps = 0;
    GetCapabilities(&caps);
    *pCanSeekForward = (caps & AM_SEEKING_CanSeekForwards) ? OATRUE : OAFALSE;
    return S_OK;
}

STDMETHODIMP FilterGraph::CanSeekBackward(long* pCanSeekBackward) {
    if (!pCanSeekBackward) return E_POINTER;
    DWORD caps = 0;
    GetCapabilities(&caps);
    *pCanSeekBackward = (caps & AM_SEEKING_CanSeekBackwards) ? OATRUE : OAFALSE;
    return S_OK;
}

}  // namespace lumacap::dshow
