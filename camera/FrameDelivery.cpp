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
    m_pfnWideBuffCB = nullptr;
    m_pfnBuffCB = pfn;
}

void CDXCamera::SetWideBuffCB(WideBuffCB pfn, void* context) {
    m_pBuffCBUser = context;
    m_pfnBuffCB = nullptr;
    m_pfnWideBuffCB = pfn;
}

void CDXCamera::SetLumacapConnectCB(LUMACAP_CONNECT_CB pfn, void* context) {
    m_pConnectCBUser = context;
    m_pfnWideConnectCB = nullptr;
    m_pfnConnectCB = pfn;
}

void CDXCamera::SetWideConnectCB(WideConnectCB pfn, void* context) {
    m_pConnectCBUser = context;
    m_pfnConnectCB = nullptr;
    m_pfnWideConnectCB = pfn;
}

void CDXCamera::HandleEvent() {
    while (m_pMediaEvent) {
        long code = 0;
        LONG_PTR param1 = 0, param2 = 0;
        if (FAILED(m_pMediaEvent->GetEvent(&code, &param1, &param2, 0))) return;
        m_pMediaEvent->FreeEventParams(code, param1, param2);
        if (code != EC_DEVICE_LOST) continue;
        const int connected = param2 != 0 ? 1 : 0;
        m_nStatus = connected ? CameraStatus_DeviceBack : CameraStatus_DeviceLost;
        // The host may close the camera from its callback; the loop then ends on the null
        // event interface.
        if (LUMACAP_CONNECT_CB pfn = m_pfnConnectCB.load())
            pfn(connected, m_pConnectCBUser.load());
        else if (WideConnectCB pfnWide = m_pfnWideConnectCB.load())
            pfnWide(connected, m_pConnectCBUser.load());
    }
}

HRESULT CSampleGrabberCB::BufferCB(double, BYTE* pBuffer, long BufferLen) {
    // The host sees the frame first, without any lock held; the buffer is the grabber's.
    if (LUMACAP_BUFF_CB pfn = m_pCamera->m_pfnBuffCB.load())
        pfn(pBuffer, static_cast<LONG>(BufferLen), m_pCamera->m_pBuffCBUser.load());
    else if (CDXCamera::WideBuffCB pfnWide = m_pCamera->m_pfnWideBuffCB.load())
        pfnWide(pBuffer, BufferLen, m_pCamera->m_pBuffCBUser.load());
    EnterCriticalSection(&m_csLock);
    if (m_pPreviewWnd && m_pCamera->m_nRenderMode == RenderMode_SelfDrawn) {
        LONG width = 0, height = 0;
        m_pCamera->GetVideoSize(m_pCamera->m_lResolutionIndex, &width, &height);
        // A device that kept a format of its own (an index its media types do not reach) sends
        // frames of another size than the format entry: those are not drawn.
        const long stride = GDI_WIDTHBYTES(width * 24);
        if (width > 0 && height != 0 &&
            BufferLen >= stride * std::labs(static_cast<long>(height))) {
            // The grabber keeps this very frame and lends it: the window shows it by reference
            // rather than copying it. The grabber is not released before the window is detached
            // (Close does that under this lock first).
            IMediaSample* pLent = nullptr;
            if (ISampleGrabber* pGrabber = m_pCamera->m_pSampleGrabber;
                pGrabber && SUCCEEDED(pGrabber->GetCurrentSample(&pLent)) && pLent) {
                BYTE* pLentBytes = nullptr;
                if (FAILED(pLent->GetPointer(&pLentBytes)) || pLentBytes != pBuffer) {
                    pLent->Release();
                    pLent = nullptr;
                }
            }
            if (pLent)
                m_pPreviewWnd->PutSample(pLent, width, height);
            else
                m_pPreviewWnd->PutFrame(pBuffer, BufferLen, width, height);
        }
    }
    LeaveCriticalSection(&m_csLock);
    return S_OK;
}

// The recorder composes from another thread while the host may close the camera. Status, frame
// size and grabber are read together under the callback lock, which Close takes to mark the camera
// closed, and the caller gets a reference of its own: a grabber released by Close meanwhile stays
// alive until the caller is done with it. Null while the camera has no running graph.
ISampleGrabber* CDXCamera::AcquireLatestFrame(LONG* width, LONG* height) {
    ISampleGrabber* pGrabber = nullptr;
    EnterCriticalSection(&m_GrabberCB.m_csLock);
    if (m_nStatus != CameraStatus_Closed && m_pSampleGrabber &&
        GetVideoSize(static_cast<int>(m_lResolutionIndex), width, height)) {
        pGrabber = m_pSampleGrabber;
        pGrabber->AddRef();
    }
    LeaveCriticalSection(&m_GrabberCB.m_csLock);
    return pGrabber;
}

LONG CDXCamera::TakeSnapshot(unsigned char*& pBuffer, DWORD& size) {
    CScopedLock lock(&m_csControl);
    if (m_nStatus == CameraStatus_Closed || !m_pSampleGrabber) {
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
    const DWORD total = static_cast<DWORD>(frameSize) + sizeof(BITMAPINFOHEADER);
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
    // A top-down format keeps its negative height: the header then describes the rows as they are.
    LONG width = 0, height = 0;
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
    if (m_nStatus == CameraStatus_Closed || !m_pMediaControl) {
        m_strLastError = "设备未运行.";
        return true;
    }
    if (m_nStatus == CameraStatus_DeviceLost) {
        m_strLastError = "设备断开连接.";
        return true;
    }
    return false;
}

// The status a graph state stands for once the graph has reached it.
static int StatusOfState(OAFilterState state) {
    return state == State_Running  ? CameraStatus_Running
           : state == State_Paused ? CameraStatus_Paused
                                   : CameraStatus_Stopped;
}

HRESULT CDXCamera::ApplyGraphState(OAFilterState target) {
    IMediaControl* pControl = m_pMediaControl;
    if (!pControl) return S_OK;
    OAFilterState state = State_Stopped;
    if (SUCCEEDED(pControl->GetState(0, &state)) && state == target) return S_OK;
    // A graph that refuses leaves the status as it was; the host is not told.
    const HRESULT hr = target == State_Running  ? pControl->Run()
                       : target == State_Paused ? pControl->Pause()
                                                : pControl->Stop();
    if (SUCCEEDED(hr)) m_nStatus = StatusOfState(target);
    return hr;
}

// Stopping a graph waits for its streaming threads, and a streaming thread may be waiting for the
// host's thread (a frame callback that sends a message to the host's window). So Stop leaves the
// stop to a worker and returns at once, and requests made while the worker runs are queued behind
// it rather than waiting: the worker carries them out in the order they were made.
bool CDXCamera::QueueBehindStopWorker(OAFilterState target) {
    EnterCriticalSection(&m_csRequests);
    const bool queued = m_bStopWorkerActive;
    if (queued && (m_vecRequests.empty() || m_vecRequests.back() != target))
        m_vecRequests.push_back(target);
    LeaveCriticalSection(&m_csRequests);
    return queued;
}

LONG CDXCamera::Run() {
    CScopedLock lock(&m_csControl);
    if (RefuseGraphRequest()) return 1;
    if (!QueueBehindStopWorker(State_Running)) ApplyGraphState(State_Running);
    return 0;
}

LONG CDXCamera::Pause() {
    CScopedLock lock(&m_csControl);
    if (RefuseGraphRequest()) return 1;
    if (!QueueBehindStopWorker(State_Paused)) ApplyGraphState(State_Paused);
    return 0;
}

LONG CDXCamera::Stop() {
    CScopedLock lock(&m_csControl);
    if (RefuseGraphRequest()) return 1;
    if (QueueBehindStopWorker(State_Stopped)) return 0;
    // The previous worker has ended; only its handle is left.
    if (m_hStopWorker) {
        WaitForSingleObject(m_hStopWorker, INFINITE);
        CloseHandle(m_hStopWorker);
        m_hStopWorker = nullptr;
    }
    // With no worker nothing else is inside the graph, so a graph that is stopped already can be
    // told at once: there is nothing to hand over, and a Run right after acts at once too.
    OAFilterState state = State_Running;
    if (SUCCEEDED(m_pMediaControl->GetState(0, &state)) && state == State_Stopped) return 0;
    EnterCriticalSection(&m_csRequests);
    m_vecRequests.assign(1, State_Stopped);
    m_bStopWorkerActive = true;
    const uintptr_t worker =
        _beginthreadex(nullptr, 0, &CDXCamera::MediaCtrlThread, this, 0, nullptr);
    // A worker that cannot start leaves the graph as it is; Stop still answers 0.
    if (!worker) {
        m_vecRequests.clear();
        m_bStopWorkerActive = false;
    }
    m_hStopWorker = reinterpret_cast<HANDLE>(worker);
    LeaveCriticalSection(&m_csRequests);
    return 0;
}

unsigned __stdcall CDXCamera::MediaCtrlThread(void* pParam) {
    auto* pCamera = static_cast<CDXCamera*>(pParam);
    HRESULT hr = S_OK;
    for (;;) {
        EnterCriticalSection(&pCamera->m_csRequests);
        if (pCamera->m_vecRequests.empty()) {
            pCamera->m_bStopWorkerActive = false;
            LeaveCriticalSection(&pCamera->m_csRequests);
            // The exit code is the last request's answer: a refused stop leaves its code.
            return static_cast<unsigned>(hr);
        }
        const OAFilterState target = pCamera->m_vecRequests.front();
        pCamera->m_vecRequests.erase(pCamera->m_vecRequests.begin());
        LeaveCriticalSection(&pCamera->m_csRequests);
        hr = pCamera->ApplyGraphState(target);
    }
}

void CDXCamera::WaitForStopWorker() {
    // Re-read each time: a message answered here may itself close the camera.
    while (HANDLE hWorker = m_hStopWorker) {
        const DWORD woken = MsgWaitForMultipleObjects(1, &hWorker, FALSE, INFINITE, QS_SENDMESSAGE);
        if (woken == WAIT_OBJECT_0) {
            if (m_hStopWorker == hWorker) {
                CloseHandle(hWorker);
                m_hStopWorker = nullptr;
            }
            return;
        }
        // Peeking answers the messages other threads are sending to this thread's windows;
        // posted ones stay queued for the host.
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE);
        if (woken == WAIT_FAILED) WaitForSingleObject(hWorker, 5);
    }
}
