// The camera object: construction, copying, destruction, accessors and the error-text convention.
#include <lumacap/DXCamera.h>

#include <objbase.h>
#include <process.h>

#include <cstdio>

#include "app/ScopedLock.h"
#include "preview/PreviewWnd.h"

CDXCamera::CDXCamera()
    : m_pGraph(nullptr),
      m_pCaptureBuilder(nullptr),
      m_pMediaControl(nullptr),
      m_pMediaEvent(nullptr),
      m_pVideoWindow(nullptr),
      m_pSampleGrabber(nullptr),
      m_pSourceFilter(nullptr),
      m_pRenderer(nullptr),
      m_hParentWnd(nullptr),
      m_pPreviewWnd(nullptr),
      m_lBrightness(0),
      m_lContrast(0),
      m_lHue(0),
      m_lSaturation(0),
      m_lSharpness(0),
      m_lGamma(0),
      m_lWhiteBalance(0),
      m_lExposure(0),
      m_dwPropertyFlags(0),
      m_lCameraIndex(-1),
      m_lResolutionIndex(-1),
      m_nStatus(0),
      m_GrabberCB(this),
      m_nRenderMode(0),
      m_bRotatePreview(0),
      m_rcVideoPos{0, 0, 0, 0},
      m_pfnBuffCB(nullptr),
      m_pfnWideBuffCB(nullptr),
      m_pBuffCBUser(nullptr),
      m_pfnConnectCB(nullptr),
      m_pfnWideConnectCB(nullptr),
      m_pConnectCBUser(nullptr),
      m_bStopWorkerActive(false),
      m_hStopWorker(nullptr) {
    InitializeCriticalSection(&m_csRequests);
    InitializeCriticalSection(&m_csControl);
    CoInitialize(nullptr);
}

// A copy is a closed camera with the other's configuration: it never shares the other's graph,
// preview window or parent, which belong to the original alone.
CDXCamera::CDXCamera(const CDXCamera& other) : CDXCamera() {
    CopyConfiguration(other);
}

CDXCamera& CDXCamera::operator=(const CDXCamera& other) {
    if (this == &other) return *this;
    // The target keeps its own parent and preview window, but not a graph built for its old
    // configuration.
    if (m_nStatus != CameraStatus_Closed) Close();
    CopyConfiguration(other);
    return *this;
}

void CDXCamera::CopyConfiguration(const CDXCamera& other) {
    m_lCameraIndex = other.m_lCameraIndex;
    m_lResolutionIndex = other.m_lResolutionIndex;
    // The status of a copy says what the copy holds: no graph.
    m_nStatus = CameraStatus_Closed;
    m_strID = other.m_strID;
    m_strName = other.m_strName;
    m_strLastError = other.m_strLastError;
    m_lBrightness = other.m_lBrightness;
    m_lContrast = other.m_lContrast;
    m_lHue = other.m_lHue;
    m_lSaturation = other.m_lSaturation;
    m_lSharpness = other.m_lSharpness;
    m_lGamma = other.m_lGamma;
    m_lWhiteBalance = other.m_lWhiteBalance;
    m_lExposure = other.m_lExposure;
    m_dwPropertyFlags = other.m_dwPropertyFlags;
    m_vecVideoInfo = other.m_vecVideoInfo;
    m_nRenderMode = other.m_nRenderMode;
    m_bRotatePreview = other.m_bRotatePreview;
    m_rcVideoPos = other.m_rcVideoPos;
    m_pfnBuffCB = other.m_pfnBuffCB.load();
    m_pfnWideBuffCB = other.m_pfnWideBuffCB.load();
    m_pBuffCBUser = other.m_pBuffCBUser.load();
    m_pfnConnectCB = other.m_pfnConnectCB.load();
    m_pfnWideConnectCB = other.m_pfnWideConnectCB.load();
    m_pConnectCBUser = other.m_pConnectCBUser.load();
}

CDXCamera::~CDXCamera() {
    {
        // A call another thread is making finishes first.
        CScopedLock lock(&m_csControl);
        if (m_nStatus != CameraStatus_Closed) Close();
        WaitForStopWorker();
    }
    if (m_pPreviewWnd) {
        if (m_pPreviewWnd->GetSafeHwnd()) m_pPreviewWnd->DestroyWindow();
        delete m_pPreviewWnd;
        m_pPreviewWnd = nullptr;
    }
    Reset();
    DeleteCriticalSection(&m_csControl);
    CoUninitialize();
    DeleteCriticalSection(&m_csRequests);
}

int CDXCamera::GetCameraStatus() {
    return m_nStatus;
}
LONG CDXCamera::GetCameraIndex() {
    return m_lCameraIndex;
}
LONG CDXCamera::GetResolutionIndex() {
    return m_lResolutionIndex;
}
const char* CDXCamera::GetID() const {
    return m_strID;
}
const char* CDXCamera::GetName() const {
    return m_strName;
}
HWND CDXCamera::GetParentWnd() {
    return m_hParentWnd;
}
const char* CDXCamera::GetLastError() {
    return m_strLastError;
}

int CDXCamera::SetResolutionIndex(LONG index) {
    if (m_nStatus != CameraStatus_Closed) {
        m_strLastError = "设备已经在运行，请先关闭设备再设置初始化参数。";
        return 0;
    }
    if (m_lCameraIndex < 0) {
        m_strLastError = "未指定设备。";
        return 0;
    }
    if (index >= 0 && static_cast<size_t>(index) < m_vecVideoInfo.size()) {
        m_lResolutionIndex = index;
        return 1;
    }
    m_strLastError = "错误的分辨率索引参数。";
    return 0;
}

void CDXCamera::Reset() {
    m_strID.Empty();
    m_strName.Empty();
    m_vecVideoInfo.clear();
}

void CDXCamera::FormatErrorMessage(const char* step, DWORD code) {
    m_strLastError.Format("%s. ErrorCode=0x%08X:%s", step ? step : "", static_cast<unsigned>(code),
                          GetErrorCodeText(code).GetString());
}
