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

// Host callbacks. A frame callback receives every frame (24-bit RGB, bottom-up rows padded to
// 4 bytes) on the capture thread; the buffer is valid only during the call. A connect callback
// receives 0 when the device is lost and 1 when it is back, on the preview window's thread.
typedef long(__cdecl* LUMACAP_BUFF_CB)(unsigned char* buffer, long length, void* context);
typedef long(__cdecl* LUMACAP_CONNECT_CB)(int connected, void* context);

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
    void SetPreviewSize(long width, long height);
    void SetPreviewPos(long left, long top);

private:
    friend class CDXCamera;
    friend struct CDXCameraTestAccess;

    CDXCamera* m_pCamera;
    CPreviewWnd* m_pPreviewWnd;  // guarded by m_csLock
    LONG m_lPreviewWidth;
    LONG m_lPreviewHeight;
    LONG m_lPreviewLeft;
    LONG m_lPreviewTop;
    CRITICAL_SECTION m_csLock;
};

class LUMACAP_API CDXCamera {
public:
    CDXCamera();
    // Copies carry the configuration of a closed camera. A copy of an open camera, or of one with
    // a preview window, is closed and has no preview window: graphs and windows are never shared.
    CDXCamera(const CDXCamera& other);
    CDXCamera& operator=(const CDXCamera& other);
    virtual ~CDXCamera();

    // ---- devices and formats ----
    static long GetCameraCount();
    static long GetCameraProperty(int index, CDXCAMERAPROPERTY* property);
    int SetCameraIndex(long index);
    int SetResolutionIndex(long index);
    unsigned int GetVideoInfoCount() const;
    int GetVideoSize(int index, long* width, long* height);
    unsigned int GetVideoFormat(int index);

    // ---- preview placement ----
    int SetParentWnd(HWND hWnd);
    long SetVideoPos(LPRECT pRect);
    int GetPreviewSize(long* width, long* height);
    int GetPreviewSizeEx(long* left, long* top, long* width, long* height);
    void SetRenderMode(unsigned int mode);
    unsigned int GetRenderMode();
    void SetRotatePreview(int rotate);
    unsigned int GetRotatePreview();

    // ---- graph ----
    long Open();
    long Close();
    long Run();
    long Pause();
    long Stop();

    // ---- frames and snapshots ----
    void SetLumacapBuffCB(LUMACAP_BUFF_CB pfn, void* context);
    void SetLumacapConnectCB(LUMACAP_CONNECT_CB pfn, void* context);
    long TakeSnapshot(unsigned char*& pBuffer, unsigned long& size);
    void FreeImageMemery(unsigned char* pBuffer);

    // ---- image controls ----
    void SetBrgihtness(long value);
    void SetContrast(long value);
    void SetHue(long value);
    void SetSaturation(long value);
    void SetSharpness(long value);
    void SetGamma(long value);
    void SetWhiteBalance(long value, int automatic);
    void SetExposure(long value, int automatic);
    long GetBrgihtness();
    long GetContrast();
    long GetHue();
    long GetSaturation();
    long GetSharpness();
    long GetGamma();
    long GetWhiteBalance(int& automatic);
    long GetExposure(int& automatic);
    int GetVideoPropertyRange(long property, long* pMin, long* pMax, long* pDefault, long* pStep,
                              long* pFlags);
    int GetVideoPropertyValue(long property, long* pValue, long* pFlags);
    int SetVideoPropertyValue(long property, long value, long flags);
    long ShowDeviceProperty();

    // ---- state ----
    int GetCameraStatus();
    long GetCameraIndex();
    long GetResolutionIndex();
    const char* GetID() const;
    const char* GetName() const;
    HWND GetParentWnd();
    const char* GetLastError();

protected:
    void HandleEvent();
    void InitVideoPos();

private:
    friend class CSampleGrabberCB;
    friend class CPreviewWnd;
    friend class CDXRecorder;
    friend struct CDXCameraTestAccess;

    long InitializeGraph();
    long BindFilter(long position, IBaseFilter** ppFilter);
    static long InitVideoSize(IBaseFilter* pFilter, long index);
    static long FindPIN(IBaseFilter* pFilter, PIN_DIRECTION dir, IPin** ppPin);
    long ConnectFilters(IBaseFilter* pUpstream, IBaseFilter* pDownstream);
    long InitVideoWindowPos(IBaseFilter* pFilter);
    static unsigned __stdcall MediaCtrlThread(void* pParam);
    void Reset();
    void FormatErrorMessage(const char* step, DWORD code);
    void SetDefaultProperty();
    void SetDeviceProperty();
    void GetDeviceProperty();
    void CopyConfiguration(const CDXCamera& other);
    void JoinStopWorker();
    bool RefuseGraphRequest();
    long ChangeGraphState(OAFilterState target,
                          HRESULT (STDMETHODCALLTYPE IMediaControl::*change)(), int status);

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
    // Read on the capture thread while the host may change them.
    std::atomic<LUMACAP_BUFF_CB> m_pfnBuffCB;
    std::atomic<void*> m_pBuffCBUser;
    std::atomic<LUMACAP_CONNECT_CB> m_pfnConnectCB;
    std::atomic<void*> m_pConnectCBUser;
    // The stop worker of the last Stop, joined before the graph goes away.
    HANDLE m_hStopWorker;
};

// The text of a status code: the system's message text, or "未知的错误" when there is none.
LUMACAP_API CString GetErrorCodeText(DWORD code);
