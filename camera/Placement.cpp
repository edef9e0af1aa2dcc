// Preview placement: the parent window and the camera's own preview window in it, the render mode
// and rotation, and fitting the video into the parent with its aspect kept.
#include <lumacap/DXCamera.h>

#include <afxwin.h>

#include <new>
#include <utility>

#include "preview/PreviewWnd.h"

namespace {

struct Placement {
    LONG left;
    LONG top;
    LONG width;
    LONG height;
};

// Fits a w x h video into an area of W x H whose top-left corner is (originLeft, originTop):
// as large as it fits with its aspect kept, centred in the direction it does not fill. A top-down
// format (negative height) has the shape of its rows all the same.
Placement FitVideo(LONG w, LONG h, LONG W, LONG H, LONG originLeft, LONG originTop) {
    if (h < 0) h = -h;
    if (W <= 0 || H <= 0 || w <= 0 || h <= 0) return Placement{originLeft, originTop, 0, 0};
    const double videoAspect = static_cast<double>(w) / static_cast<double>(h);
    const double areaAspect = static_cast<double>(W) / static_cast<double>(H);
    LONG width, height, offsetX, offsetY;
    if (videoAspect > areaAspect) {
        width = W;
        height = static_cast<LONG>(static_cast<double>(W) / videoAspect);
        offsetX = 0;
        offsetY = (H - height) / 2;
    } else {
        height = H;
        width = static_cast<LONG>(static_cast<double>(H) * videoAspect);
        offsetY = 0;
        offsetX = (W - width) / 2;
    }
    return Placement{originLeft + offsetX, originTop + offsetY, width, height};
}

}  // namespace

void CDXCamera::SetRenderMode(unsigned int mode) {
    m_nRenderMode = mode;
}
unsigned int CDXCamera::GetRenderMode() {
    return m_nRenderMode;
}
void CDXCamera::SetRotatePreview(int rotate) {
    m_bRotatePreview = rotate;
}
unsigned int CDXCamera::GetRotatePreview() {
    return static_cast<unsigned int>(m_bRotatePreview);
}

int CDXCamera::SetParentWnd(HWND hWnd) {
    if (m_hParentWnd && m_hParentWnd == hWnd) return 1;
    if (m_pPreviewWnd && m_pPreviewWnd->GetSafeHwnd()) {
        // The graph posts its events to the preview window: it cannot move while a graph exists.
        if (m_nStatus != CameraStatus_Closed) {
            m_strLastError = "设备正在运行。";
            return 0;
        }
        m_pPreviewWnd->DestroyWindow();
    }
    // The object is made once and kept; only its window follows the parent.
    if (!m_pPreviewWnd) {
        m_pPreviewWnd = new (std::nothrow) CPreviewWnd(this);
        if (!m_pPreviewWnd) return 0;
    }
    AFX_MANAGE_STATE(AfxGetStaticModuleState());
    if (!hWnd) {
        // Without a parent the application's main window holds the preview.
        CWinThread* pThread = AfxGetThread();
        CWnd* pMainWnd = pThread ? pThread->GetMainWnd() : nullptr;
        hWnd = pMainWnd ? pMainWnd->GetSafeHwnd() : nullptr;
        if (!hWnd) {
            m_hParentWnd = nullptr;
            m_strLastError = "请设置父窗口参数。";
            return 0;
        }
    }
    RECT rcClient{0, 0, 0, 0};
    ::GetClientRect(hWnd, &rcClient);
    // Created hidden: it is shown at open in render mode 2 only.
    if (!m_pPreviewWnd->Create(nullptr, "VideoRender", WS_CHILD, rcClient, CWnd::FromHandle(hWnd),
                               static_cast<UINT>(m_lCameraIndex)))
        return 0;
    m_hParentWnd = hWnd;
    return 1;
}

LONG CDXCamera::SetVideoPos(LPRECT pRect) {
    if (!pRect) return 0;
    m_rcVideoPos = *pRect;
    if (m_pVideoWindow && m_nRenderMode == RenderMode_VideoRenderer) {
        LONG w = 0, h = 0;
        GetVideoSize(m_lResolutionIndex, &w, &h);
        if (m_bRotatePreview) std::swap(w, h);
        const Placement p = FitVideo(w, h, pRect->right - pRect->left, pRect->bottom - pRect->top,
                                     pRect->left, pRect->top);
        m_pVideoWindow->SetWindowPosition(p.left, p.top, p.width, p.height);
    }
    return 0;
}

LONG CDXCamera::InitVideoWindowPos(IBaseFilter*) {
    RECT rcArea = m_rcVideoPos;
    if (IsRectEmpty(&m_rcVideoPos)) ::GetClientRect(m_hParentWnd, &rcArea);
    LONG w = 0, h = 0;
    GetVideoSize(m_lResolutionIndex, &w, &h);
    // The rotated picture is as wide as the format is high.
    if (m_bRotatePreview) std::swap(w, h);
    // The stored rectangle's corner is the origin even when the client area gives the size.
    const Placement p = FitVideo(w, h, rcArea.right - rcArea.left, rcArea.bottom - rcArea.top,
                                 m_rcVideoPos.left, m_rcVideoPos.top);
    HRESULT hr = m_pVideoWindow->put_Owner(reinterpret_cast<OAHWND>(m_hParentWnd));
    if (hr != S_OK) return hr;
    hr = m_pVideoWindow->put_WindowStyle(WS_CHILD | WS_CLIPCHILDREN);
    if (hr != S_OK) return hr;
    hr = m_pVideoWindow->SetWindowPosition(p.left, p.top, p.width, p.height);
    if (hr != S_OK) return hr;
    hr = m_pVideoWindow->put_Visible(OATRUE);
    if (hr != S_OK) return hr;
    m_GrabberCB.SetPreviewSize(p.width, p.height);
    m_GrabberCB.SetPreviewPos(p.left, p.top);
    return 0;
}

void CDXCamera::InitVideoPos() {
    if (!m_pPreviewWnd) return;
    m_pPreviewWnd->ShowWindow(SW_SHOW);
    LONG w = 0, h = 0;
    GetVideoSize(m_lResolutionIndex, &w, &h);
    m_pPreviewWnd->SetFrameSize(w, h);
}

int CDXCamera::GetPreviewSize(LONG* width, LONG* height) {
    if (m_nStatus == CameraStatus_Closed) return 0;
    if (width) *width = m_GrabberCB.m_lPreviewWidth;
    if (height) *height = m_GrabberCB.m_lPreviewHeight;
    return 1;
}

int CDXCamera::GetPreviewSizeEx(LONG* left, LONG* top, LONG* width, LONG* height) {
    if (m_nStatus == CameraStatus_Closed) return 0;
    GetPreviewSize(width, height);
    if (left) *left = m_GrabberCB.m_lPreviewLeft;
    if (top) *top = m_GrabberCB.m_lPreviewTop;
    return 1;
}
