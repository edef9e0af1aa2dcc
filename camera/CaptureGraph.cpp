// The capture graph: building it at Open (device filter, sample grabber forced to 24-bit RGB, the
// optional rotate filter and the renderer of the render mode), and taking it down at Close.
#include <lumacap/DXCamera.h>

#include <mbstring.h>
#include <rotatefilter.h>
#include <streams.h>  // DeleteMediaType

#include "app/Release.h"
#include "app/ScopedLock.h"
#include "camera/Enumeration.h"
#include "log/Log.h"
#include "preview/PreviewWnd.h"

namespace {

// The media graph posts its events to the preview window as this message.
constexpr LONG kGraphEventMessage = WM_USER + 100;

}  // namespace

LONG CDXCamera::Open() {
    CScopedLock lock(&m_csControl);
    LogInfo("DX Open,RenderMode:%d", static_cast<int>(m_nRenderMode));
    // A parent window is needed in every render mode: the preview window, child of the parent,
    // receives the graph's events even when it shows nothing.
    if (m_lCameraIndex == -1 || m_lResolutionIndex == -1 || !m_hParentWnd) {
        m_strLastError = "设备参数未初始化。";
        return 1;
    }
    if (m_nStatus == CameraStatus_Running) {
        m_strLastError = "设备已经在运行。";
        return 0;
    }
    // Paused, stopped or disconnected: the graph is built again from scratch.
    if (m_nStatus != CameraStatus_Closed) Close();

    HRESULT hr = InitializeGraph();
    if (FAILED(hr)) {
        Close();
        return hr;
    }

    // References this call holds besides the camera's own fields.
    IBaseFilter* pGrabberFilter = nullptr;
    IBaseFilter* pRotateFilter = nullptr;
    auto fail = [&](const char* step, HRESULT code) -> LONG {
        FormatErrorMessage(step, static_cast<DWORD>(code));
        Close();
        ReleaseAndClear(pGrabberFilter);
        ReleaseAndClear(pRotateFilter);
        return code;
    };

    hr = BindFilter(m_lCameraIndex, &m_pSourceFilter);
    if (FAILED(hr)) return fail(" Failed to BindFilter.", hr);
    if (!m_pSourceFilter) {
        // The position is empty now, or another device stands there.
        Close();
        m_strLastError = "指定的设备未找到。";
        return 1;
    }
    hr = m_pGraph->AddFilter(m_pSourceFilter, L"Video Capture");
    if (FAILED(hr)) return fail(" Failed to Add Source Filter.", hr);
    hr = InitVideoSize(m_pSourceFilter, m_lResolutionIndex);
    if (FAILED(hr)) return fail(" Failed to InitVideoSize.", hr);

    hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleGrabber,
                          reinterpret_cast<void**>(&m_pSampleGrabber));
    if (FAILED(hr)) return fail(" Failed to create SampleGrabber.", hr);
    // Only the major type and subtype: the platform converts whatever the device delivers into
    // bottom-up 24-bit RGB of the capture size.
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_RGB24;
    hr = m_pSampleGrabber->SetMediaType(&mt);
    if (FAILED(hr)) return fail(" Failed to SetMediaType.", hr);
    m_pSampleGrabber->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&pGrabberFilter));
    hr = m_pGraph->AddFilter(pGrabberFilter, L"Sample Grabber");
    if (FAILED(hr)) return fail(" Failed to Add Sample Grabber Filter.", hr);

    if (m_nRenderMode == RenderMode_VideoRenderer) {
        hr = CoCreateInstance(CLSID_VideoRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                              reinterpret_cast<void**>(&m_pRenderer));
        if (FAILED(hr)) return fail(" Failed to create NullRenderer.", hr);
        hr = m_pGraph->AddFilter(m_pRenderer, L"VideoRender");
        if (FAILED(hr)) return fail(" Failed to Add  VideoRenderer Filter.", hr);
    } else if (m_nRenderMode == RenderMode_NullRenderer || m_nRenderMode == RenderMode_SelfDrawn) {
        hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC, IID_IBaseFilter,
                              reinterpret_cast<void**>(&m_pRenderer));
        if (FAILED(hr)) return fail(" Failed to create NullRenderer.", hr);
        hr = m_pGraph->AddFilter(m_pRenderer, L"VideoRender");
        if (FAILED(hr)) return fail(" Failed to Add Null Renderer Filter.", hr);
    }

    if (m_bRotatePreview) {
        // The grabber stands before the rotate filter: the host, the self-drawn preview and
        // snapshots see unrotated frames; only the renderer's picture is turned.
        hr = CoCreateInstance(CLSID_RotateFilter, nullptr, CLSCTX_INPROC, IID_IBaseFilter,
                              reinterpret_cast<void**>(&pRotateFilter));
        if (FAILED(hr)) return fail(" Failed to create Rotate90Filter.", hr);
        hr = m_pGraph->AddFilter(pRotateFilter, L"RotateFilter");
        if (FAILED(hr)) return fail(" Failed to Add Rotate90Filter.", hr);
        hr = ConnectFilters(m_pSourceFilter, pGrabberFilter);
        if (FAILED(hr)) return fail(" Failed to ConnectFilters,code=001.", hr);
        hr = ConnectFilters(pGrabberFilter, pRotateFilter);
        if (FAILED(hr)) return fail(" Failed to ConnectFilters,code=002.", hr);
        hr = ConnectFilters(pRotateFilter, m_pRenderer);
        if (FAILED(hr)) return fail(" Failed to ConnectFilters,code=003.", hr);
        ReleaseAndClear(pRotateFilter);  // the graph keeps its own reference
    } else {
        // A device without a preview pin gets a smart tee: VFW_S_NOPREVIEWPIN is a success.
        hr = m_pCaptureBuilder->RenderStream(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video,
                                             m_pSourceFilter, pGrabberFilter, m_pRenderer);
        if (FAILED(hr)) return fail(" Failed to RenderStream.", hr);
    }

    // The grabber keeps the latest frame for snapshots and the recorder.
    hr = m_pSampleGrabber->SetBufferSamples(TRUE);
    if (FAILED(hr)) return fail(" Failed to SetBufferSamples.", hr);
    hr = m_pSampleGrabber->SetOneShot(FALSE);
    if (FAILED(hr)) return fail(" Failed to SetOneShot.", hr);
    hr = m_pSampleGrabber->SetCallback(&m_GrabberCB, 1);  // 1: BufferCB
    if (FAILED(hr)) return fail(" Failed to SetCallback.", hr);

    if (m_nRenderMode == RenderMode_VideoRenderer) {
        hr = InitVideoWindowPos(m_pSourceFilter);
        if (FAILED(hr)) return fail(" Failed to InitVideoWindowPos.", hr);
    } else if (m_nRenderMode == RenderMode_SelfDrawn) {
        InitVideoPos();
    }

    hr = m_pMediaControl->Run();
    if (FAILED(hr)) return fail(" Failed to Run.", hr);

    SetDeviceProperty();
    GetDeviceProperty();
    m_nStatus = CameraStatus_Running;
    ReleaseAndClear(pGrabberFilter);
    return 0;
}

LONG CDXCamera::InitializeGraph() {
    auto fail = [&](const char* step, HRESULT code) -> LONG {
        FormatErrorMessage(step, static_cast<DWORD>(code));
        Close();
        return code;
    };
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGraphBuilder, reinterpret_cast<void**>(&m_pGraph));
    if (FAILED(hr)) return fail(" Failed to create FilterGraph.", hr);
    hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC,
                          IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&m_pCaptureBuilder));
    if (FAILED(hr)) return fail(" Failed to create CaptureGraphBuilder2.", hr);
    hr = m_pCaptureBuilder->SetFiltergraph(m_pGraph);
    if (FAILED(hr)) return fail(" Failed to SetFiltergraph.", hr);
    hr = m_pGraph->QueryInterface(IID_IMediaEventEx, reinterpret_cast<void**>(&m_pMediaEvent));
    if (FAILED(hr)) return fail(" Failed to QI IMediaEventEx.", hr);
    hr = m_pGraph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&m_pMediaControl));
    if (FAILED(hr)) return fail(" Failed to QI IMediaControl.", hr);
    hr = m_pGraph->QueryInterface(IID_IVideoWindow, reinterpret_cast<void**>(&m_pVideoWindow));
    if (FAILED(hr)) return fail(" Failed to  QI IVideoWindow.", hr);

    // Graph events go to the preview window, whose window procedure hands them to HandleEvent on
    // the window's thread.
    HWND hNotify = m_pPreviewWnd ? m_pPreviewWnd->GetSafeHwnd() : nullptr;
    m_pMediaEvent->SetNotifyWindow(reinterpret_cast<OAHWND>(hNotify), kGraphEventMessage, 0);
    m_GrabberCB.SetPreviewWnd(m_pPreviewWnd);
    return 0;
}

LONG CDXCamera::BindFilter(LONG position, IBaseFilter** ppFilter) {
    if (!ppFilter) return E_POINTER;
    IMoniker* pMoniker = nullptr;
    HRESULT hr = GetVideoDeviceMoniker(position, &pMoniker);
    if (hr != S_OK) return hr;
    IBaseFilter* pFilter = nullptr;
    CString strID;
    hr = GetDeviceID(pMoniker, strID);
    // Only the device chosen by SetCameraIndex: another one at the same position is not bound.
    if (SUCCEEDED(hr) && _mbsicmp(reinterpret_cast<const unsigned char*>(strID.GetString()),
                                  reinterpret_cast<const unsigned char*>(m_strID.GetString())) == 0)
        hr = pMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                    reinterpret_cast<void**>(&pFilter));
    pMoniker->Release();
    if (hr == S_OK && pFilter) {
        *ppFilter = pFilter;
        return 0;
    }
    if (pFilter) pFilter->Release();
    return hr == S_OK ? 1 : hr;
}

LONG CDXCamera::InitVideoSize(IBaseFilter* pFilter, LONG index) {
    IPin* pPin = nullptr;
    HRESULT hr = FindPIN(pFilter, PINDIR_OUTPUT, &pPin);
    if (hr != 0 || !pPin) {
        if (pPin) pPin->Release();
        return hr != 0 ? hr : E_UNEXPECTED;
    }
    IEnumMediaTypes* pEnum = nullptr;
    hr = pPin->EnumMediaTypes(&pEnum);
    if (FAILED(hr) || !pEnum) {
        pPin->Release();
        return FAILED(hr) ? hr : E_UNEXPECTED;
    }
    // Positions count FORMAT_VideoInfo types only, as the camera's format list does.
    AM_MEDIA_TYPE* pRetained = nullptr;
    LONG counter = 0;
    for (;;) {
        AM_MEDIA_TYPE* pmt = nullptr;
        hr = pEnum->Next(1, &pmt, nullptr);
        if (hr != S_OK || !pmt) break;
        if (pmt->formattype == FORMAT_VideoInfo) {
            if (counter == index) {
                pRetained = pmt;
                break;
            }
            ++counter;
        }
        DeleteMediaType(pmt);
    }
    pEnum->Release();
    if (FAILED(hr)) {
        pPin->Release();
        return hr;
    }
    // An index the media types do not reach sets nothing: the device keeps its current format.
    hr = 0;
    IAMStreamConfig* pConfig = nullptr;
    if (SUCCEEDED(pPin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&pConfig))) &&
        pConfig && pRetained)
        hr = pConfig->SetFormat(pRetained);
    if (pRetained) DeleteMediaType(pRetained);
    if (pConfig) pConfig->Release();
    pPin->Release();
    return hr;
}

LONG CDXCamera::FindPIN(IBaseFilter* pFilter, PIN_DIRECTION dir, IPin** ppPin) {
    if (!pFilter || !ppPin) return E_POINTER;
    IEnumPins* pEnum = nullptr;
    HRESULT hr = pFilter->EnumPins(&pEnum);
    if (FAILED(hr)) return hr;
    if (!pEnum) return E_UNEXPECTED;
    pEnum->Reset();
    bool found = false;
    IPin* pPin = nullptr;
    while ((hr = pEnum->Next(1, &pPin, nullptr)) == S_OK) {
        // An enumerator that claims a pin and hands out none is broken: nothing to search on.
        if (!pPin) {
            hr = E_UNEXPECTED;
            break;
        }
        PIN_DIRECTION pinDir;
        // A pin that will not say its direction is skipped.
        if (pPin->QueryDirection(&pinDir) == S_OK && pinDir == dir) {
            *ppPin = pPin;
            found = true;
            break;
        }
        pPin->Release();
        pPin = nullptr;
    }
    pEnum->Release();
    return found ? 0 : hr;
}

LONG CDXCamera::ConnectFilters(IBaseFilter* pUpstream, IBaseFilter* pDownstream) {
    IPin* pOut = nullptr;
    IPin* pIn = nullptr;
    FindPIN(pUpstream, PINDIR_OUTPUT, &pOut);
    FindPIN(pDownstream, PINDIR_INPUT, &pIn);
    // A missing pin makes the graph refuse the connection.
    const HRESULT hr = m_pGraph ? m_pGraph->Connect(pOut, pIn) : E_POINTER;
    if (pOut) pOut->Release();
    if (pIn) pIn->Release();
    return hr;
}

LONG CDXCamera::Close() {
    CScopedLock lock(&m_csControl);
    // Requests still queued behind a stop worker are overtaken by the close; the one in progress
    // must finish before the graph goes away, and must not write its status afterwards.
    EnterCriticalSection(&m_csRequests);
    m_vecRequests.clear();
    LeaveCriticalSection(&m_csRequests);
    WaitForStopWorker();

    // No host callback is reached while the graph comes down.
    LUMACAP_BUFF_CB pfnBuffCB = m_pfnBuffCB.exchange(nullptr);
    WideBuffCB pfnWideBuffCB = m_pfnWideBuffCB.exchange(nullptr);
    void* pBuffCBUser = m_pBuffCBUser.exchange(nullptr);
    LUMACAP_CONNECT_CB pfnConnectCB = m_pfnConnectCB.exchange(nullptr);
    WideConnectCB pfnWideConnectCB = m_pfnWideConnectCB.exchange(nullptr);
    void* pConnectCBUser = m_pConnectCBUser.exchange(nullptr);

    // Marked closed under the callback lock: a recorder composing from this camera either holds
    // its own reference to the grabber already or sees the camera closed.
    EnterCriticalSection(&m_GrabberCB.m_csLock);
    m_nStatus = CameraStatus_Closed;
    LeaveCriticalSection(&m_GrabberCB.m_csLock);
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
    m_pfnWideBuffCB = pfnWideBuffCB;
    m_pBuffCBUser = pBuffCBUser;
    m_pfnConnectCB = pfnConnectCB;
    m_pfnWideConnectCB = pfnWideConnectCB;
    m_pConnectCBUser = pConnectCBUser;
    return 0;
}
