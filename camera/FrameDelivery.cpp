// Frames, callbacks and graph events; snapshots; run, pause and stop.
#include <lumacap/DXCamera.h>

#include <evcode.h>
#include <process.h>

#include <cstdlib>
#include <cstring>
#include <new>

#include "app/ScopedLock.h"
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
    if (LUMACAP_BUFF_CB pfn = m_pCamera->m_pfnBuffCB.load())
        pfn(pBuffer, BufferLen, m_pCamera->m_pBuffCBUser.load());
    EnterCriticalSection(&m_csLock);
    if (m_pPreviewWnd && m_pCamera->m_nRenderMode == 2) {
        long width = 0, height = 0;
        m_pCamera->GetVideoSize(m_pCamera->m_lResolutionIndex, &width, &height);
        // A device that kept a format of its own (an index its media types do not reach) sends
        // frames of another size than the format entry: those are not drawn.
        const long stride = GDI_WIDTHBYTES(width * 24);
        if (width > 0 && height != 0 && BufferLen >= stride * std::labs(height))
            m_pPreviewWnd->PutFrame(pBuffer, BufferLen, width, height);
    }
    LeaveCriticalSection(&m_csLock);
    return S_OK;
}

// The recorder composes from another thread while the host may close the camera. Status, frame
// size and grabber are read together under the callback lock, which Close takes to mark the camera
// closed, and the caller gets a reference of its own: a grabber released by Close meanwhile stays
// alive until the caller is done with it. Null while the camera has no running graph.
ISampleGrabber* CDXCamera::AcquireLatestFrame(long* width, long* height) {
    ISampleGrabber* pGrabber = nullptr;
    EnterCriticalSection(&m_GrabberCB.m_csLock);
    if (m_nStatus != 0 && m_pSampleGrabber &&
        GetVideoSize(static_cast<int>(m_lResolutionIndex), width, height)) {
        pGrabber = m_pSampleGrabber;
        pGrabber->AddRef();
    }
    LeaveCriticalSection(&m_GrabberCB.m_csLock);
    return pGrabber;
}

long CDXCamera::TakeSnapshot(unsigned char*& pBuffer, unsigned long& size) {
    CScopedLock lock(&m_csControl);
    if (m_nStatus == 0 || !m_pSampleGrabber) {
        m_strLastError = "设备未运行.";
        return 1;
    }
    // The grabber's copy of the last frame: no frame is waited for.
    long frameSize = 0;
    HRESULT hr = m_pSampleGrabber->GetCurrentBuffer(&frameSize, nullptr);
    if (FAILED(hr)) {
        m_strLastError.Format("抓图失败, code=0x%X", static_cast<unsigned>(hr));
        return hr;
    }
    if (frameSize <= 0) {
        m_strLastError = "抓图失败, 缓冲区无数据";
        return 1;
    }
    const unsigned long total = static_cast<unsigned long>(frameSize) + sizeof(BITMAPINFOHEADER);
    size = total;
    auto* pImage = new (std::nothrow) unsigned char[total]();
    hr = pImage ? m_pSampleGrabber->GetCurrentBuffer(
                      &frameSize, reinterpret_cast<long*>(pImage + sizeof(BITMAPINFOHEADER)))
                : E_OUTOFMEMORY;
    if (FAILED(hr)) {
        delete[] pImage;
        size = 0;
        m_strLastError.Format("抓图失败, code2=0x%X", static_cast<unsigned>(hr));
        return hr;
    }
    long width = 0, height = 0;
    if (m_lResolutionIndex >= 0 &&
        static_cast<size_t>(m_lResolutionIndex) < m_vecVideoInfo.size()) {
        width = m_vecVideoInfo[static_cast<size_t>(m_lResolutionIndex)].lWidth;
        height = m_vecVideoInfo[static_cast<size_t>(m_lResolutionIndex)].lHeight;
    }
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    std::memcpy(pImage, &header, sizeof(header));
    pBuffer = pImage;
    return 0;
}

// Allocated and freed here alike: the host may run on another allocator.
void CDXCamera::FreeImageMemery(unsigned char* pBuffer) {
    delete[] pBuffer;
}

// The refusals Run, Pause and Stop share: a camera without a graph, and a lost device.
bool CDXCamera::RefuseGraphRequest() {
    if (m_nStatus == 0 || !m_pMediaControl) {
        m_strLastError = "设备未运行.";
        return true;
    }
    if (m_nStatus == 4) {
        m_strLastError = "设备断开连接.";
        return true;
    }
    return false;
}

long CDXCamera::ChangeGraphState(OAFilterState target,
                                 HRESULT (STDMETHODCALLTYPE IMediaControl::*change)(), int status) {
    CScopedLock lock(&m_csControl);
    if (RefuseGraphRequest()) return 1;
    // A stop the host asked for earlier is carried out before this request.
    JoinStopWorker();
    OAFilterState state = State_Stopped;
    if (SUCCEEDED(m_pMediaControl->GetState(0, &state)) && state == target) return 0;
    // A graph that refuses leaves the status as it was; the host is not told.
    if (SUCCEEDED((m_pMediaControl->*change)())) m_nStatus = status;
    return 0;
}

long CDXCamera::Run() {
    return ChangeGraphState(State_Running, &IMediaControl::Run, 3);
}

long CDXCamera::Pause() {
    return ChangeGraphState(State_Paused, &IMediaControl::Pause, 2);
}

long CDXCamera::Stop() {
    CScopedLock lock(&m_csControl);
    if (RefuseGraphRequest()) return 1;
    // Stopping a graph waits for its streaming threads, so it happens on a worker and Stop returns
    // at once. The camera keeps the worker's handle and joins it before the graph goes away (Close,
    // the destructor) or before the next request, instead of letting it run on unguarded.
    JoinStopWorker();
    const uintptr_t worker =
        _beginthreadex(nullptr, 0, &CDXCamera::MediaCtrlThread, this, 0, nullptr);
    // A worker that cannot start leaves the graph as it is; Stop still answers 0.
    m_hStopWorker = reinterpret_cast<HANDLE>(worker);
    return 0;
}

unsigned __stdcall CDXCamera::MediaCtrlThread(void* pParam) {
    auto* pCamera = static_cast<CDXCamera*>(pParam);
    IMediaControl* pControl = pCamera->m_pMediaControl;
    if (!pControl) return 0;
    OAFilterState state = State_Running;
    if (SUCCEEDED(pControl->GetState(0, &state)) && state == State_Stopped) return 0;
    const HRESULT hr = pControl->Stop();
    if (FAILED(hr)) return static_cast<unsigned>(hr);
    pCamera->m_nStatus = 1;
    return 0;
}
