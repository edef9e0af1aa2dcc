// Steering an open recording: run, pause and stop, with the recorder's status following the
// graph. A paused recording cannot be stopped: its frame source is waiting out the pause and
// would hold the stop until the pause ended.
#include <lumacap/DXRecorder.h>

#include <mmsystem.h>

#include "app/ScopedLock.h"
#include "framesource/VideoMergeFilter.h"

namespace {

// The graph's state, or -1 when it cannot be read.
OAFilterState GraphState(IMediaControl* pControl) {
    OAFilterState state = -1;
    if (FAILED(pControl->GetState(0, &state))) return -1;
    return state;
}

}  // namespace

int CDXRecorder::Run() {
    CScopedLock lock(&m_csControl);
    if (m_nStatus == RecorderStatus_Closed || !m_pMediaControl) {
        m_strLastError = "尚未开始录像.";
        return 1;
    }
    if (GraphState(m_pMediaControl) == State_Running) return 0;
    if (SUCCEEDED(m_pMediaControl->Run())) m_nStatus = RecorderStatus_Running;
    return 0;
}

int CDXRecorder::Pause() {
    CScopedLock lock(&m_csControl);
    if (m_nStatus == RecorderStatus_Closed || !m_pMediaControl) {
        m_strLastError = "尚未开始录像.";
        return 1;
    }
    if (m_nStatus == RecorderStatus_Paused) {
        m_strLastError = "录像已经停止.";
        return 1;
    }
    if (GraphState(m_pMediaControl) == State_Paused) return 0;
    // The moment of the pause, for the frame source: the sound stops here, so the picture's
    // paused time counts from here too.
    const DWORD asked = timeGetTime();
    if (SUCCEEDED(m_pMediaControl->Pause())) {
        m_dwPausedAt = asked;
        m_nStatus = RecorderStatus_Paused;
    }
    return 0;
}

int CDXRecorder::Stop() {
    CScopedLock lock(&m_csControl);
    if (m_nStatus == RecorderStatus_Closed || !m_pMediaControl) {
        m_strLastError = "尚未开始录像.";
        return 1;
    }
    if (m_nStatus == RecorderStatus_Paused) {
        m_strLastError = "录像已经暂停.";
        return 1;
    }
    if (GraphState(m_pMediaControl) == State_Stopped) return 0;
    if (SUCCEEDED(m_pMediaControl->Stop())) {
        m_nStatus = RecorderStatus_Stopped;
        // The next run numbers its frames from 0 again.
        if (m_pVideoMergeFilter) m_pVideoMergeFilter->ResetTiming();
    }
    return 0;
}
