// CDXRecorder: composes one video from cameras and windows and records it, with sound, to AVI
// or ASF.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include <afxstr.h>
#include <dshow.h>
#include <qedit.h>
#include <windows.h>

#include <lumacap_export.h>

#include "DXCamera.h"

class CVideoMergeFilter;
class CWindowCapture;
interface IConfigAsfWriter;
namespace Gdiplus {
class GpGraphics;
}

// Posted to the notify window for every audio buffer: wParam 0, lParam the level in decibels.
#define WM_RECORDER_AUDIOLEVEL (0x0400 + 16)

// Called with every composed frame (24-bit RGB, bottom-up rows padded to 4 bytes) on the
// recording thread; the bytes belong to the frame being recorded and may be changed.
typedef LONG(__cdecl* DXRECORDER_BUFF_CB)(unsigned char* buffer, LONG length, void* context);

enum RecorderStatus : int {
    RecorderStatus_Closed = 0,
    RecorderStatus_Stopped = 1,
    RecorderStatus_Paused = 2,
    RecorderStatus_Running = 3,
};

enum RecorderSourceType : int {
    RecorderSource_Camera = 1,
    RecorderSource_Window = 2,
};

// Output file formats for StartRecord: 0 decides by the extension.
enum RecorderFileFormat : int {
    RecorderFormat_ByExtension = 0,
    RecorderFormat_AVI = 1,
    RecorderFormat_ASF = 2,
};

struct RecorderSource {
    int type;       // RecorderSource_Camera or RecorderSource_Window
    void* core;     // the CDXCamera, or the HWND (null: the whole screen); not owned
    RECT position;  // where it is drawn, in output pixels
};

// Measures the level of every audio buffer of a recording and posts it to the notify window.
class LUMACAP_API CAudioGrabberCB : public ISampleGrabberCB {
public:
    CAudioGrabberCB();
    virtual ~CAudioGrabberCB();
    CAudioGrabberCB(const CAudioGrabberCB& other);
    CAudioGrabberCB& operator=(const CAudioGrabberCB& other);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE SampleCB(double SampleTime, IMediaSample* pSample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double SampleTime, BYTE* pBuffer, long BufferLen) override;

    void SetNotifyWnd(HWND hWnd);
    HWND GetNotifyWnd() const;

private:
    std::atomic<HWND> m_hNotifyWnd;
    CRITICAL_SECTION m_cs;
};

class LUMACAP_API CDXRecorder {
    // The callback types as hosts that write `long` declare them (the same types on Windows).
    typedef long(__cdecl* WideBuffCB)(unsigned char* buffer, long length, void* context);

public:
    CDXRecorder();
    // Copies are safe only while the recorder is closed; a copy never shares a graph.
    CDXRecorder(const CDXRecorder& other);
    CDXRecorder& operator=(const CDXRecorder& other);
    virtual ~CDXRecorder();

    // ---- sources ----
    int AddVideoSource(CDXCamera* pCamera, RECT position);
    int AddWindowSource(HWND hWnd, RECT position);
    int GetSourceCount();
    void* GetSourceCore(int index);
    int GetSourceType(int index);
    RECT GetSourcePosition(int index);
    BOOL SetSourcePosition(int index, RECT position);
    BOOL RemoveSourceAt(int index);
    BOOL RemoveAll();

    // ---- settings ----
    void SetVideoSize(int width, int height);
    int GetVideoWidth();
    int GetVideoHeight();
    void SetFPS(UINT fps);
    UINT GetFPs();
    void SetAsfBitrate(UINT kbps);
    UINT GetAsfBitrate();
    void SetAudioRecord(BOOL record);
    BOOL GetAudioRecord();
    void SetVideoCompressor(const char* friendlyName);
    void SetNotifyWnd(HWND hWnd);
    void SetDxRecorderBuffCB(DXRECORDER_BUFF_CB pfn, void* context);
    // The same for a callback declared with `long` where the SDK writes LONG.
    template <class F, LUMACAP_IF_WIDE_CALLBACK(F, WideBuffCB, DXRECORDER_BUFF_CB)>
    void SetDxRecorderBuffCB(F pfn, void* context) {
        SetWideBuffCB(static_cast<WideBuffCB>(pfn), context);
    }

    // ---- recording ----
    BOOL StartRecord(const char* path, int format);
    void CloseRecord();
    int Run();
    int Pause();
    int Stop();

    // ---- state ----
    int GetStatus();
    const char* GetErrorMsg();
    int GetRealFramesCount();

protected:
    void FormatErrorMessage(const char* text, DWORD code);
    BOOL GetImageBuffer(BYTE* pBuffer);
    HBITMAP GetImageFromWnd(HWND hWnd);
    static void ReduceImage(const BYTE* pSrc, int srcWidth, int srcHeight, BYTE* pDst, int dstWidth,
                            int dstHeight);
    static BOOL SaveBitmapFile(const char* path, const BYTE* pPixels, DWORD size, int width,
                               int height);
    HRESULT InitializeGraph();
    HRESULT ConnectFilter();
    HRESULT Connect2AVIFilter();
    HRESULT Connect2ASFFilter();
    HRESULT ConfigAsfWriter(IConfigAsfWriter* pConfig, int width, int height, DWORD kbps, DWORD fps,
                            BOOL audio);
    BOOL SetDestFile(const char* path);
    int GetFileFormat(const char* path);
    int SetAudioFormat(DWORD samplesPerSec, WORD bitsPerSample, WORD channels);

private:
    friend class CVideoMergeFilter;
    friend class CVideoMergePin;

    void SetWideBuffCB(WideBuffCB pfn, void* context);
    void CopySettings(const CDXRecorder& other);
    // The size frames are composed at: fixed at StartRecord for the life of the recording graph
    // (its media samples were sized for it), the current setting otherwise.
    int FrameWidth() const;
    int FrameHeight() const;
    // `index` is the source's place in the list, which names its capture target.
    void DrawWindowSource(Gdiplus::GpGraphics* pGraphics, const RecorderSource& source,
                          size_t index);
    void DrawCameraSource(Gdiplus::GpGraphics* pGraphics, const RecorderSource& source, int width,
                          int height);
    void ReleaseGraph();

    // At most one is set: the host's callback in the spelling it was declared with.
    std::atomic<DXRECORDER_BUFF_CB> m_pfnBuffCB;
    std::atomic<WideBuffCB> m_pfnWideBuffCB;
    std::atomic<void*> m_pBuffCBUser;
    std::vector<RecorderSource> m_vecSources;
    int m_nVideoWidth;
    int m_nVideoHeight;
    // Written by the host, read by the recording thread.
    std::atomic<int> m_nStatus;
    // The tick at which the last Pause was asked for; written before the status says Paused.
    std::atomic<DWORD> m_dwPausedAt;
    BOOL m_bAudioRecord;
    CString m_strLastError;
    std::atomic<int> m_nRealFrames;
    IGraphBuilder* m_pGraph;
    IMediaControl* m_pMediaControl;
    CVideoMergeFilter* m_pVideoMergeFilter;
    IBaseFilter* m_pVideoCompressor;
    IBaseFilter* m_pAudioDevice;
    IBaseFilter* m_pFileSink;
    CString m_strVideoCompressor;
    UINT m_nAsfBitrate;
    UINT m_nFPS;
    CAudioGrabberCB m_AudioGrabberCB;
    ISampleGrabber* m_pAudioGrabber;
    IBaseFilter* m_pAudioGrabberFilter;
    HWND m_hNotifyWnd;
    // The frame size of the open recording graph (0 while closed).
    int m_nFrameWidth;
    int m_nFrameHeight;
    // GDI+ is held while a recording graph exists, whether or not a preview window started it.
    ULONG_PTR m_gdiplusToken;
    // What composing reuses from frame to frame, on the recording's streaming thread only: each
    // window source's capture target (by its place in the list), a camera frame copied out of a
    // grabber that does not lend its frames, and the reduced camera frame. Freed by CloseRecord.
    std::vector<std::unique_ptr<CWindowCapture>> m_vecCaptures;
    std::vector<BYTE> m_vecCameraFrame;
    std::vector<BYTE> m_vecReducedFrame;
};
