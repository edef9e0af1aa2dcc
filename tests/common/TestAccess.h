// Reaches the private parts of the exported classes that tests must set or read directly: the
// graph interfaces a test double stands in for, and the steps behind the public operations.
#pragma once

#include <lumacap/DXCamera.h>
#include <lumacap/DXRecorder.h>

struct CDXCameraTestAccess {
    static IMediaEventEx*& MediaEvent(CDXCamera& c) { return c.m_pMediaEvent; }
    static IGraphBuilder* Graph(CDXCamera& c) { return c.m_pGraph; }
    static ISampleGrabber*& SampleGrabber(CDXCamera& c) { return c.m_pSampleGrabber; }
    static IBaseFilter* SourceFilter(CDXCamera& c) { return c.m_pSourceFilter; }
    static IVideoWindow* VideoWindow(CDXCamera& c) { return c.m_pVideoWindow; }
    // Every graph interface the camera holds, for checking that none is left after a failure.
    static bool HoldsAnyInterface(CDXCamera& c) {
        return c.m_pGraph || c.m_pCaptureBuilder || c.m_pMediaControl || c.m_pMediaEvent ||
               c.m_pVideoWindow || c.m_pSampleGrabber || c.m_pSourceFilter || c.m_pRenderer;
    }
    static std::atomic<int>& Status(CDXCamera& c) { return c.m_nStatus; }
    static CPreviewWnd*& PreviewWnd(CDXCamera& c) { return c.m_pPreviewWnd; }
    static std::vector<CAMERAVIDEOINFO>& VideoInfo(CDXCamera& c) { return c.m_vecVideoInfo; }
    static LONG& CameraIndex(CDXCamera& c) { return c.m_lCameraIndex; }
    static CString& ID(CDXCamera& c) { return c.m_strID; }
    static CString& Name(CDXCamera& c) { return c.m_strName; }
    static DWORD& PropertyFlags(CDXCamera& c) { return c.m_dwPropertyFlags; }
    static CSampleGrabberCB& GrabberCB(CDXCamera& c) { return c.m_GrabberCB; }
    static LONG& ResolutionIndex(CDXCamera& c) { return c.m_lResolutionIndex; }
    static void FormatErrorMessage(CDXCamera& c, const char* step, DWORD code) {
        c.FormatErrorMessage(step, code);
    }
    static void HandleEvent(CDXCamera& c) { c.HandleEvent(); }
    static LONG PreviewWidth(CDXCamera& c) { return c.m_GrabberCB.m_lPreviewWidth; }
    static LONG PreviewHeight(CDXCamera& c) { return c.m_GrabberCB.m_lPreviewHeight; }
    static LONG PreviewLeft(CDXCamera& c) { return c.m_GrabberCB.m_lPreviewLeft; }
    static LONG PreviewTop(CDXCamera& c) { return c.m_GrabberCB.m_lPreviewTop; }
};

struct CDXRecorderTestAccess {
    static std::atomic<int>& Status(CDXRecorder& r) { return r.m_nStatus; }
    static void FormatErrorMessage(CDXRecorder& r, const char* text, DWORD code) {
        r.FormatErrorMessage(text, code);
    }
    static CAudioGrabberCB& AudioGrabberCB(CDXRecorder& r) { return r.m_AudioGrabberCB; }
    static HWND NotifyWnd(CDXRecorder& r) { return r.m_hNotifyWnd; }
    static BOOL GetImageBuffer(CDXRecorder& r, BYTE* buffer) { return r.GetImageBuffer(buffer); }
    static HBITMAP GetImageFromWnd(CDXRecorder& r, HWND hwnd) { return r.GetImageFromWnd(hwnd); }
    static void ReduceImage(const BYTE* src, int sw, int sh, BYTE* dst, int dw, int dh) {
        CDXRecorder::ReduceImage(src, sw, sh, dst, dw, dh);
    }
    static int GetFileFormat(CDXRecorder& r, const char* path) { return r.GetFileFormat(path); }
    static HRESULT ConfigAsfWriter(CDXRecorder& r, IConfigAsfWriter* config, int w, int h,
                                   DWORD kbps, DWORD fps, BOOL audio) {
        return r.ConfigAsfWriter(config, w, h, kbps, fps, audio);
    }
    static IGraphBuilder* Graph(CDXRecorder& r) { return r.m_pGraph; }
    static CVideoMergeFilter* VideoMergeFilter(CDXRecorder& r) { return r.m_pVideoMergeFilter; }
    // Every interface the recorder holds, in the order it releases them, for checking that a
    // closed recorder holds none.
    static std::vector<const void*> Interfaces(CDXRecorder& r) {
        return {r.m_pFileSink,     r.m_pVideoCompressor, r.m_pAudioDevice, r.m_pAudioGrabberFilter,
                r.m_pAudioGrabber, r.m_pMediaControl,    r.m_pGraph,       r.m_pVideoMergeFilter};
    }
};
