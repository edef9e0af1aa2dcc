// Frames, callbacks and graph events.
#include <lumacap/DXCamera.h>

#include <evcode.h>

#include "preview/PreviewWnd.h"

void CDXCamera::SetLumacapBuffCB(LUMACAP_BUFF_CB pfn, void* context) {
    m_pBuffCBUser = context;
    m_pfnBuffCB = pfn;
}

void CDXCamera::SetLumacapConnectCB(LUMACAP_CONNECT_CB pfn, void* context) {
    m_pConnectCBUser = context;
    m_pfnConnectCB = pfn;
}

void CDXCamera::HandleEvent() {
    while (m_pMediaEvent) {
        long code = 0;
        LONG_PTR param1 = 0, param2 = 0;
        if (FAILED(m_pMediaEvent->GetEvent(&code, &param1, &param2, 0))) return;
        m_pMediaEvent->FreeEventParams(code, param1, param2);
        if (code != EC_DEVICE_LOST) continue;
        const int connected = param2 != 0 ? 1 : 0;
        m_nStatus = connected ? 5 : 4;
        // The host may close the camera from its callback; the loop then ends on the null
        // event interface.
        if (LUMACAP_CONNECT_CB pfn = m_pfnConnectCB.load()) pfn(connected, m_pConnectCBUser.load());
    }
}

HRESULT CSampleGrabberCB::BufferCB(double, BYTE* pBuffer, long BufferLen) {
    // The host sees the frame first, without any lock held; the buffer is the grabber's.
    if (LUMACAP_BUFF_CB pfn = m_pCamera->m_pfnBuffCB.load()) pfn(pBuffer, BufferLen, m_pCamera->m_pBuffCBUser.load());
    EnterCriticalSection(&m_csLock);
    if (m_pPreviewWnd && m_pCamera->m_nRenderMode == 2) {
        long width = 0, height = 0;
        m_pCamera->GetVideoSize(m_pCamera->m_lResolutionIndex, &width, &height);
        m_pPreviewWnd->PutFrame(pBuffer, BufferLen, width, height);
    }
    LeaveCriticalSection(&m_csLock);
    return S_OK;
}
