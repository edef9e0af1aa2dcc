// The camera's frame-callback object: the COM face it shows the sample grabber.
#include <lumacap/DXCamera.h>

CSampleGrabberCB::CSampleGrabberCB(CDXCamera* pCamera)
    : m_pCamera(pCamera),
      m_pPreviewWnd(nullptr),
      m_lPreviewWidth(0),
      m_lPreviewHeight(0),
      m_lPreviewLeft(-1),
      m_lPreviewTop(-1) {
    InitializeCriticalSection(&m_csLock);
}

CSampleGrabberCB::~CSampleGrabberCB() {
    DeleteCriticalSection(&m_csLock);
}

HRESULT CSampleGrabberCB::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_ISampleGrabberCB || riid == IID_IUnknown) {
        // The object lives inside its camera: no reference is counted.
        *ppv = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG CSampleGrabberCB::AddRef() {
    return 2;
}
ULONG CSampleGrabberCB::Release() {
    return 1;
}

HRESULT CSampleGrabberCB::SampleCB(double, IMediaSample*) {
    return S_OK;
}

void CSampleGrabberCB::SetPreviewWnd(CPreviewWnd* pWnd) {
    EnterCriticalSection(&m_csLock);
    m_pPreviewWnd = pWnd;
    LeaveCriticalSection(&m_csLock);
}

void CSampleGrabberCB::SetPreviewSize(LONG width, LONG height) {
    m_lPreviewWidth = width;
    m_lPreviewHeight = height;
}

void CSampleGrabberCB::SetPreviewPos(LONG left, LONG top) {
    m_lPreviewLeft = left;
    m_lPreviewTop = top;
}
