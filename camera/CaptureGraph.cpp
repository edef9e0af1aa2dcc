// Taking the capture graph down.
#include <lumacap/DXCamera.h>

#include "preview/PreviewWnd.h"

namespace {

template <typename T>
void ReleaseAndClear(T*& p) {
    if (p) {
        p->Release();
        p = nullptr;
    }
}

}  // namespace

long CDXCamera::Close() {
    // A stop worker still inside the graph must finish before the graph goes away; it also must
    // not write its status after the camera is closed.
    JoinStopWorker();

    // No host callback is reached while the graph comes down.
    LUMACAP_BUFF_CB pfnBuffCB = m_pfnBuffCB.exchange(nullptr);
    void* pBuffCBUser = m_pBuffCBUser.exchange(nullptr);
    LUMACAP_CONNECT_CB pfnConnectCB = m_pfnConnectCB.exchange(nullptr);
    void* pConnectCBUser = m_pConnectCBUser.exchange(nullptr);

    m_nStatus = 0;
    if (m_pMediaControl) m_pMediaControl->StopWhenReady();
    if (m_pMediaEvent) m_pMediaEvent->SetNotifyWindow(0, 0, 0);
    if (m_pVideoWindow) {
        m_pVideoWindow->put_Visible(OAFALSE);
        m_pVideoWindow->put_Owner(0);
    }
    // Detached under the callback's lock: the streaming thread never hands a frame to a preview
    // window after this point.
    m_GrabberCB.SetPreviewWnd(nullptr);
    m_GrabberCB.SetPreviewSize(0, 0);
    if (m_pPreviewWnd) {
        m_pPreviewWnd->ClearFrame();
        m_pPreviewWnd->ShowWindow(SW_HIDE);
    }

    ReleaseAndClear(m_pSourceFilter);
    ReleaseAndClear(m_pVideoWindow);
    ReleaseAndClear(m_pRenderer);
    ReleaseAndClear(m_pMediaControl);
    ReleaseAndClear(m_pMediaEvent);
    ReleaseAndClear(m_pSampleGrabber);
    ReleaseAndClear(m_pCaptureBuilder);
    ReleaseAndClear(m_pGraph);

    m_pfnBuffCB = pfnBuffCB;
    m_pBuffCBUser = pBuffCBUser;
    m_pfnConnectCB = pfnConnectCB;
    m_pConnectCBUser = pConnectCBUser;
    return 0;
}
