// CDXCamera: the host's handle on one video-capture device.
#pragma once

#include <atomic>
#include <vector>

#include <afxstr.h>
#include <dshow.h>
#include <qedit.h>
#include <windows.h>

#include <lumacap_export.h>

#include "DXCameraProperty.h"
#include "LongSpelling.h"

class CDXCamera;
class CPreviewWnd;

// Messages to the host window that holds a camera's self-drawn preview, sent while the user edits
// overlay rectangles; a non-zero answer refuses. Rectangles are in picture pixels and valid only
// during the call.
// wParam 0, lParam the pointer (x low word, y high word): may a new rectangle be drawn?
#define PWM_NEWRECT_BEGIN (WM_USER + 11)
// wParam -1, lParam RECT*: may this new rectangle be added?
#define PWM_NEWRECT_END (WM_USER + 12)
// wParam the rectangle's index, lParam 0: may it be moved or resized?
#define PWM_EDITRECT_BEGIN (WM_USER + 13)
// wParam the rectangle's index, lParam RECT*: may it take this place and size?
#define PWM_EDITRECT_END (WM_USER + 14)

// Host callbacks. A frame callback receives every frame (24-bit RGB, rows padded to 4 bytes,
// bottom-up unless the format's height is negative) on the capture thread; the buffer is valid
// only during the call. A connect callback receives 0 when the device is lost and 1 when it is
// back, on the preview window's thread. Results are ignored.
typedef LONG(__cdecl* LUMACAP_BUFF_CB)(unsigned char* buffer, LONG length, void* context);
typedef LONG(__cdecl* LUMACAP_CONNECT_CB)(int connected, void* context);

// What GetCameraStatus answers. Every value but Closed means a graph exists.
enum CameraStatus : int {
    CameraStatus_Closed = 0,
    CameraStatus_Stopped = 1,
    CameraStatus_Paused = 2,
    CameraStatus_Running = 3,
    CameraStatus_DeviceLost = 4,
    CameraStatus_DeviceBack = 5,  // available again after a loss; the graph is not rebuilt
};

// How an open camera shows its picture (SetRenderMode).
enum CameraRenderMode : unsigned int {
    RenderMode_VideoRenderer = 0,  // the platform's renderer window, placed in the parent
    RenderMode_NullRenderer = 1,   // nothing drawn: frames reach the callback and the recorder only
    RenderMode_SelfDrawn = 2,      // the library's preview window, with overlay rectangles
};

// The camera's frame-callback object, handed to the sample grabber. It lives inside its camera
// and is never freed through Release.
class LUMACAP_API CSampleGrabberCB : public ISampleGrabberCB {
public:
    explicit CSampleGrabberCB(CDXCamera* pCamera);
    virtual ~CSampleGrabberCB();
    CSampleGrabberCB(const CSampleGrabberCB&) = delete;
    CSampleGrabberCB& operator=(const CSampleGrabberCB&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE SampleCB(double SampleTime, IMediaSample* pSample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double SampleTime, BYTE* pBuffer, long BufferLen) override;

    void SetPreviewWnd(CPreviewWnd* pWnd);
    void SetPreviewSize(LONG width, LONG height);
    void SetPreviewPos(LONG left, LONG top);

private:
    friend class CDXCamera;

    CDXCamera* m_pCamera;
    CPreviewWnd* m_pPreviewWnd;  // guarded by m_csLock
    LONG m_lPreviewWidth;
    LONG m_lPreviewHeight;
    LONG m_lPreviewLeft;
    LONG m_lPreviewTop;
    CRITICAL_SECTION m_csLock;
};

class LUMACAP_API CDXCamera {
    // The callback types as hosts that write `long` declare them (the same types on Windows).
    typedef long(__cdecl* WideBuffCB)(unsigned char* buffer, long length, void* context);
    typedef long(__cdecl* WideConnectCB)(int connected, void* context);

public:
    CDXCamera();
    // Copies carry the configuration of a closed camera. A copy of an open camera, or of one with
    // a preview window, is closed and has no preview window: graphs and windows are never shared.
    CDXCamera(const CDXCamera& other);
    CDXCamera& operator=(const CDXCamera& other);
    virtual ~CDXCamera();

    // ---- devices and formats ----
    static LONG GetCameraCount();
    static LONG GetCameraProperty(int index, CDXCAMERAPROPERTY* property);
    int SetCameraIndex(LONG index);
    int SetResolutionIndex(LONG index);
    unsigned int GetVideoInfoCount() const;
    int GetVideoSize(int index, LONG* width, LONG* height);
    unsigned int GetVideoFormat(int index);

    // ---- preview placement ----
    int SetParentWnd(HWND hWnd);
    LONG SetVideoPos(LPRECT pRect);
    int GetPreviewSize(LONG* width, LONG* height);
    int GetPreviewSizeEx(LONG* left, LONG* top, LONG* width, LONG* height);
    void SetRenderMode(unsigned int mode);
    unsigned int GetRenderMode();
    void SetRotatePreview(int rotate);
    unsigned int GetRotatePreview();

    // ---- graph ----
    LONG Open();
    LONG Close();
    LONG Run();
    LONG Pause();
    // Returns at once; the graph stops on a worker, and the status reads Stopped afterwards.
    LONG Stop();

    // ---- frames and snapshots ----
    void SetLumacapBuffCB(LUMACAP_BUFF_CB pfn, void* context);
    void SetLumacapConnectCB(LUMACAP_CONNECT_CB pfn, void* context);
    LONG TakeSnapshot(unsigned char*& pBuffer, DWORD& size);
    void FreeImageMemery(unsigned char* pBuffer);

    // ---- image controls ----
    void SetBrgihtness(LONG value);
    void SetContrast(LONG value);
    void SetHue(LONG value);
    void SetSaturation(LONG value);
    void SetSharpness(LONG value);
    void SetGamma(LONG value);
    void SetWhiteBalance(LONG value, int automatic);
    void SetExposure(LONG value, int automatic);
    LONG GetBrgihtness();
    LONG GetContrast();
    LONG GetHue();
    LONG GetSaturation();
    LONG GetSharpness();
    LONG GetGamma();
    LONG GetWhiteBalance(int& automatic);
    LONG GetExposure(int& automatic);
    // Outputs in the order minimum, maximum, default, step, flags.
    int GetVideoPropertyRange(LONG property, LONG* pMin, LONG* pMax, LONG* pDefault, LONG* pStep,
                              LONG* pFlags);
    int GetVideoPropertyValue(LONG property, LONG* pValue, LONG* pFlags);
    int SetVideoPropertyValue(LONG property, LONG value, LONG flags);
    LONG ShowDeviceProperty();

    // ---- state ----
    int GetCameraStatus();
    LONG GetCameraIndex();
    LONG GetResolutionIndex();
    const char* GetID() const;
    const char* GetName() const;
    HWND GetParentWnd();
    const char* GetLastError();

    // ---- the same operations for hosts that write `long` where the SDK writes LONG ----
    template <class L, LUMACAP_IF_WIDE_LONG(L)>
    int GetVideoSize(int index, L* width, L* height) {
        return GetVideoSizeWide(index, width, height);
    }
    template <class L, LUMACAP_IF_WIDE_LONG(L)>
    int GetPreviewSize(L* width, L* height) {
        return GetPreviewSizeWide(width, height);
    }
    template <class L, LUMACAP_IF_WIDE_LONG(L)>
    int GetPreviewSizeEx(L* left, L* top, L* width, L* height) {
        return GetPreviewSizeExWide(left, top, width, height);
    }
    template <class L, LUMACAP_IF_WIDE_LONG(L)>
    int GetVideoPropertyRange(LONG property, L* pMin, L* pMax, L* pDefault, L* pStep, L* pFlags) {
        return GetVideoPropertyRangeWide(property, pMin, pMax, pDefault, pStep, pFlags);
    }
    template <class L, LUMACAP_IF_WIDE_LONG(L)>
    int GetVideoPropertyValue(LONG property, L* pValue, L* pFlags) {
        return GetVideoPropertyValueWide(property, pValue, pFlags);
    }
    template <class UL, LUMACAP_IF_WIDE_ULONG(UL)>
    LONG TakeSnapshot(unsigned char*& pBuffer, UL& size) {
        DWORD size32 = static_cast<DWORD>(size);
        const LONG hr = TakeSnapshot(pBuffer, size32);
        size = size32;
        return hr;
    }
    template <class F, LUMACAP_IF_WIDE_CALLBACK(F, WideBuffCB, LUMACAP_BUFF_CB)>
    void SetLumacapBuffCB(F pfn, void* context) {
        SetWideBuffCB(static_cast<WideBuffCB>(pfn), context);
    }
    template <class F, LUMACAP_IF_WIDE_CALLBACK(F, WideConnectCB, LUMACAP_CONNECT_CB)>
    void SetLumacapConnectCB(F pfn, void* context) {
        SetWideConnectCB(static_cast<WideConnectCB>(pfn), context);
    }

protected:
    void HandleEvent();
    void InitVideoPos();

private:
    friend class CSampleGrabberCB;
    friend class CPreviewWnd;
    friend class CDXRecorder;

    void SetWideBuffCB(WideBuffCB pfn, void* context);
    void SetWideConnectCB(WideConnectCB pfn, void* context);
    // The outputs in `long`, written only when the operation answers 1 (out of line, so a host's
    // compiler does not take the outputs it skips for ones the host may read unset).
    int GetVideoSizeWide(int index, long* width, long* height);
    int GetPreviewSizeWide(long* width, long* height);
    int GetPreviewSizeExWide(long* left, long* top, long* width, long* height);
    int GetVideoPropertyRangeWide(LONG property, long* pMin, long* pMax, long* pDefault,
                                  long* pStep, long* pFlags);
    int GetVideoPropertyValueWide(LONG property, long* pValue, long* pFlags);
    LONG InitializeGraph();
    LONG BindFilter(LONG position, IBaseFilter** ppFilter);
    static LONG InitVideoSize(IBaseFilter* pFilter, LONG index);
    static LONG FindPIN(IBaseFilter* pFilter, PIN_DIRECTION dir, IPin** ppPin);
    LONG ConnectFilters(IBaseFilter* pUpstream, IBaseFilter* pDownstream);
    LONG InitVideoWindowPos(IBaseFilter* pFilter);
    static unsigned __stdcall MediaCtrlThread(void* pParam);
    void Reset();
    void FormatErrorMessage(const char* step, DWORD code);
    void SetDefaultProperty();
    void SetDeviceProperty();
    void GetDeviceProperty();
    void CopyConfiguration(const CDXCamera& other);
    bool RefuseGraphRequest();
    // The grabber with a reference of the caller's own and the frame size, read together under
    // the callback lock; null while the camera is closed.
    ISampleGrabber* AcquireLatestFrame(LONG* width, LONG* height);
    // Queues the request behind a running stop worker and answers true, or answers false when
    // there is no worker and the caller acts itself.
    bool QueueBehindStopWorker(OAFilterState target);
    // Moves the graph to `target` unless it is there already; the status follows on success.
    HRESULT ApplyGraphState(OAFilterState target);
    // Waits for the stop worker to finish, answering messages other threads send to this one's
    // windows meanwhile (the worker may be waiting for a streaming thread that waits for them).
    void WaitForStopWorker();

    IGraphBuilder* m_pGraph;
    ICaptureGraphBuilder2* m_pCaptureBuilder;
    IMediaControl* m_pMediaControl;
    IMediaEventEx* m_pMediaEvent;
    IVideoWindow* m_pVideoWindow;
    ISampleGrabber* m_pSampleGrabber;
    IBaseFilter* m_pSourceFilter;
    IBaseFilter* m_pRenderer;
    HWND m_hParentWnd;
    CPreviewWnd* m_pPreviewWnd;
    LONG m_lBrightness;
    LONG m_lContrast;
    LONG m_lHue;
    LONG m_lSaturation;
    LONG m_lSharpness;
    LONG m_lGamma;
    LONG m_lWhiteBalance;
    LONG m_lExposure;
    DWORD m_dwPropertyFlags;
    LONG m_lCameraIndex;
    LONG m_lResolutionIndex;
    // Written by the host, the stop worker and the event handler; read by the recorder's thread.
    std::atomic<int> m_nStatus;
    CString m_strID;
    CString m_strName;
    CString m_strLastError;
    CSampleGrabberCB m_GrabberCB;
    std::vector<CAMERAVIDEOINFO> m_vecVideoInfo;
    UINT m_nRenderMode;
    BOOL m_bRotatePreview;
    RECT m_rcVideoPos;
    // Read on the capture thread while the host may change them. At most one of each pair is set:
    // the host's callback in the spelling it was declared with.
    std::atomic<LUMACAP_BUFF_CB> m_pfnBuffCB;
    std::atomic<WideBuffCB> m_pfnWideBuffCB;
    std::atomic<void*> m_pBuffCBUser;
    std::atomic<LUMACAP_CONNECT_CB> m_pfnConnectCB;
    std::atomic<WideConnectCB> m_pfnWideConnectCB;
    std::atomic<void*> m_pConnectCBUser;
    // The stop worker, while one runs, and the Run, Pause and Stop requests made meanwhile, which
    // it carries out in order before it ends. Guarded by m_csRequests.
    CRITICAL_SECTION m_csRequests;
    std::vector<OAFilterState> m_vecRequests;
    bool m_bStopWorkerActive;
    HANDLE m_hStopWorker;
    // Held by the calls that build, steer and dismantle the graph, so that a Stop and a Close
    // from two threads at once take turns instead of releasing the graph under each other.
    CRITICAL_SECTION m_csControl;
};

// The text of a status code: the system's message text, or "未知的错误" when there is none.
LUMACAP_API CString GetErrorCodeText(DWORD code);
