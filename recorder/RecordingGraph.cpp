// Taking the recording graph down.
#include <lumacap/DXRecorder.h>

namespace {

template <typename T>
void ReleaseAndClear(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

}  // namespace

void CDXRecorder::CloseRecord() {
    if (m_pMediaControl && m_nStatus == RecorderStatus_Running) m_pMediaControl->StopWhenReady();
    // Closed before anything is released, so a frame source waiting out a pause stops waiting.
    m_nStatus = RecorderStatus_Closed;
    ReleaseAndClear(m_pFileSink);
    ReleaseAndClear(m_pVideoCompressor);
    ReleaseAndClear(m_pAudioDevice);
    ReleaseAndClear(m_pAudioGrabberFilter);
    ReleaseAndClear(m_pAudioGrabber);
    ReleaseAndClear(m_pMediaControl);
    ReleaseAndClear(m_pGraph);
    // The graph held the only reference to the frame source.
    m_pVideoMergeFilter = nullptr;
}
