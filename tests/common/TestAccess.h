// Reaches the private parts of the exported classes that tests must set or read directly: the
// graph interfaces a test double stands in for, and the steps behind the public operations.
//
// The shipped headers name no test hook. Instead a pointer to each member is taken in an explicit
// template instantiation, where the language does not check access, and handed out through a
// friend function of a tag type declared here.
#pragma once

#include <lumacap/DXCamera.h>
#include <lumacap/DXRecorder.h>

namespace lumacap::test::detail {

template <class Tag, typename Tag::Type Member>
struct Expose {
    friend typename Tag::Type MemberOf(Tag) { return Member; }
};

}  // namespace lumacap::test::detail

// Declares a tag `Name` for the member `Class::Member` of type `Type`.
#define LUMACAP_EXPOSE(Name, Class, T, Member)    \
    namespace lumacap::test::detail {             \
    struct Name {                                 \
        using Type = T;                           \
        friend Type MemberOf(Name);               \
    };                                            \
    template struct Expose<Name, &Class::Member>; \
    }

#define LUMACAP_FIELD(Name) (MemberOf(lumacap::test::detail::Name{}))

using CameraCallback = CSampleGrabberCB CDXCamera::*;
using CameraFormats = std::vector<CAMERAVIDEOINFO> CDXCamera::*;
using CameraFormatError = void (CDXCamera::*)(const char*, DWORD);
using CameraFindPin = LONG (*)(IBaseFilter*, PIN_DIRECTION, IPin**);
using CameraInitVideoSize = LONG (*)(IBaseFilter*, LONG);
using RecorderFormatError = void (CDXRecorder::*)(const char*, DWORD);
using RecorderCapture = HBITMAP (CDXRecorder::*)(HWND);
using RecorderReduce = void (*)(const BYTE*, int, int, BYTE*, int, int);
using RecorderConfigAsf = HRESULT (CDXRecorder::*)(IConfigAsfWriter*, int, int, DWORD, DWORD, BOOL);
LUMACAP_EXPOSE(CamMediaEvent, CDXCamera, IMediaEventEx* CDXCamera::*, m_pMediaEvent)
LUMACAP_EXPOSE(CamGraph, CDXCamera, IGraphBuilder* CDXCamera::*, m_pGraph)
LUMACAP_EXPOSE(CamBuilder, CDXCamera, ICaptureGraphBuilder2* CDXCamera::*, m_pCaptureBuilder)
LUMACAP_EXPOSE(CamControl, CDXCamera, IMediaControl* CDXCamera::*, m_pMediaControl)
LUMACAP_EXPOSE(CamVideoWindow, CDXCamera, IVideoWindow* CDXCamera::*, m_pVideoWindow)
LUMACAP_EXPOSE(CamGrabber, CDXCamera, ISampleGrabber* CDXCamera::*, m_pSampleGrabber)
LUMACAP_EXPOSE(CamSource, CDXCamera, IBaseFilter* CDXCamera::*, m_pSourceFilter)
LUMACAP_EXPOSE(CamRenderer, CDXCamera, IBaseFilter* CDXCamera::*, m_pRenderer)
LUMACAP_EXPOSE(CamStatus, CDXCamera, std::atomic<int> CDXCamera::*, m_nStatus)
LUMACAP_EXPOSE(CamPreviewWnd, CDXCamera, CPreviewWnd* CDXCamera::*, m_pPreviewWnd)
LUMACAP_EXPOSE(CamVideoInfo, CDXCamera, CameraFormats, m_vecVideoInfo)
LUMACAP_EXPOSE(CamIndex, CDXCamera, LONG CDXCamera::*, m_lCameraIndex)
LUMACAP_EXPOSE(CamResolution, CDXCamera, LONG CDXCamera::*, m_lResolutionIndex)
LUMACAP_EXPOSE(CamID, CDXCamera, CString CDXCamera::*, m_strID)
LUMACAP_EXPOSE(CamName, CDXCamera, CString CDXCamera::*, m_strName)
LUMACAP_EXPOSE(CamFlags, CDXCamera, DWORD CDXCamera::*, m_dwPropertyFlags)
LUMACAP_EXPOSE(CamGrabberCB, CDXCamera, CameraCallback, m_GrabberCB)
LUMACAP_EXPOSE(CamFormatError, CDXCamera, CameraFormatError, FormatErrorMessage)
LUMACAP_EXPOSE(CamHandleEvent, CDXCamera, void (CDXCamera::*)(), HandleEvent)
LUMACAP_EXPOSE(CamFindPin, CDXCamera, CameraFindPin, FindPIN)
LUMACAP_EXPOSE(CamInitVideoSize, CDXCamera, CameraInitVideoSize, InitVideoSize)
LUMACAP_EXPOSE(CbPreviewWidth, CSampleGrabberCB, LONG CSampleGrabberCB::*, m_lPreviewWidth)
LUMACAP_EXPOSE(CbPreviewHeight, CSampleGrabberCB, LONG CSampleGrabberCB::*, m_lPreviewHeight)
LUMACAP_EXPOSE(CbPreviewLeft, CSampleGrabberCB, LONG CSampleGrabberCB::*, m_lPreviewLeft)
LUMACAP_EXPOSE(CbPreviewTop, CSampleGrabberCB, LONG CSampleGrabberCB::*, m_lPreviewTop)

struct CDXCameraTestAccess {
    static IMediaEventEx*& MediaEvent(CDXCamera& c) { return c.*LUMACAP_FIELD(CamMediaEvent); }
    static IGraphBuilder* Graph(CDXCamera& c) { return c.*LUMACAP_FIELD(CamGraph); }
    static ISampleGrabber*& SampleGrabber(CDXCamera& c) { return c.*LUMACAP_FIELD(CamGrabber); }
    static IBaseFilter* SourceFilter(CDXCamera& c) { return c.*LUMACAP_FIELD(CamSource); }
    static IVideoWindow* VideoWindow(CDXCamera& c) { return c.*LUMACAP_FIELD(CamVideoWindow); }
    // Every graph interface the camera holds, for checking that none is left after a failure.
    static bool HoldsAnyInterface(CDXCamera& c) {
        return c.*LUMACAP_FIELD(CamGraph) || c.*LUMACAP_FIELD(CamBuilder) ||
               c.*LUMACAP_FIELD(CamControl) || c.*LUMACAP_FIELD(CamMediaEvent) ||
               c.*LUMACAP_FIELD(CamVideoWindow) || c.*LUMACAP_FIELD(CamGrabber) ||
               c.*LUMACAP_FIELD(CamSource) || c.*LUMACAP_FIELD(CamRenderer);
    }
    static std::atomic<int>& Status(CDXCamera& c) { return c.*LUMACAP_FIELD(CamStatus); }
    static CPreviewWnd*& PreviewWnd(CDXCamera& c) { return c.*LUMACAP_FIELD(CamPreviewWnd); }
    static std::vector<CAMERAVIDEOINFO>& VideoInfo(CDXCamera& c) {
        return c.*LUMACAP_FIELD(CamVideoInfo);
    }
    static LONG& CameraIndex(CDXCamera& c) { return c.*LUMACAP_FIELD(CamIndex); }
    static LONG& ResolutionIndex(CDXCamera& c) { return c.*LUMACAP_FIELD(CamResolution); }
    static CString& ID(CDXCamera& c) { return c.*LUMACAP_FIELD(CamID); }
    static CString& Name(CDXCamera& c) { return c.*LUMACAP_FIELD(CamName); }
    static DWORD& PropertyFlags(CDXCamera& c) { return c.*LUMACAP_FIELD(CamFlags); }
    static CSampleGrabberCB& GrabberCB(CDXCamera& c) { return c.*LUMACAP_FIELD(CamGrabberCB); }
    static void FormatErrorMessage(CDXCamera& c, const char* step, DWORD code) {
        (c.*LUMACAP_FIELD(CamFormatError))(step, code);
    }
    static void HandleEvent(CDXCamera& c) { (c.*LUMACAP_FIELD(CamHandleEvent))(); }
    static LONG FindPIN(IBaseFilter* filter, PIN_DIRECTION dir, IPin** pin) {
        return LUMACAP_FIELD(CamFindPin)(filter, dir, pin);
    }
    static LONG InitVideoSize(IBaseFilter* filter, LONG index) {
        return LUMACAP_FIELD(CamInitVideoSize)(filter, index);
    }
    static LONG PreviewWidth(CDXCamera& c) { return GrabberCB(c).*LUMACAP_FIELD(CbPreviewWidth); }
    static LONG PreviewHeight(CDXCamera& c) { return GrabberCB(c).*LUMACAP_FIELD(CbPreviewHeight); }
    static LONG PreviewLeft(CDXCamera& c) { return GrabberCB(c).*LUMACAP_FIELD(CbPreviewLeft); }
    static LONG PreviewTop(CDXCamera& c) { return GrabberCB(c).*LUMACAP_FIELD(CbPreviewTop); }
};

LUMACAP_EXPOSE(RecStatus, CDXRecorder, std::atomic<int> CDXRecorder::*, m_nStatus)
LUMACAP_EXPOSE(RecPausedAt, CDXRecorder, std::atomic<DWORD> CDXRecorder::*, m_dwPausedAt)
LUMACAP_EXPOSE(RecAudioCB, CDXRecorder, CAudioGrabberCB CDXRecorder::*, m_AudioGrabberCB)
LUMACAP_EXPOSE(RecNotifyWnd, CDXRecorder, HWND CDXRecorder::*, m_hNotifyWnd)
LUMACAP_EXPOSE(RecGraph, CDXRecorder, IGraphBuilder* CDXRecorder::*, m_pGraph)
LUMACAP_EXPOSE(RecFormatError, CDXRecorder, RecorderFormatError, FormatErrorMessage)
LUMACAP_EXPOSE(RecCompose, CDXRecorder, BOOL (CDXRecorder::*)(BYTE*), GetImageBuffer)
LUMACAP_EXPOSE(RecCapture, CDXRecorder, RecorderCapture, GetImageFromWnd)
LUMACAP_EXPOSE(RecReduce, CDXRecorder, RecorderReduce, ReduceImage)
LUMACAP_EXPOSE(RecFileFormat, CDXRecorder, int (CDXRecorder::*)(const char*), GetFileFormat)
LUMACAP_EXPOSE(RecConfigAsf, CDXRecorder, RecorderConfigAsf, ConfigAsfWriter)
LUMACAP_EXPOSE(RecMergeFilter, CDXRecorder, CVideoMergeFilter* CDXRecorder::*, m_pVideoMergeFilter)
LUMACAP_EXPOSE(RecControl, CDXRecorder, IMediaControl* CDXRecorder::*, m_pMediaControl)
LUMACAP_EXPOSE(RecCompressor, CDXRecorder, IBaseFilter* CDXRecorder::*, m_pVideoCompressor)
LUMACAP_EXPOSE(RecAudioDevice, CDXRecorder, IBaseFilter* CDXRecorder::*, m_pAudioDevice)
LUMACAP_EXPOSE(RecFileSink, CDXRecorder, IBaseFilter* CDXRecorder::*, m_pFileSink)
LUMACAP_EXPOSE(RecAudioFilter, CDXRecorder, IBaseFilter* CDXRecorder::*, m_pAudioGrabberFilter)
LUMACAP_EXPOSE(RecAudioGrabber, CDXRecorder, ISampleGrabber* CDXRecorder::*, m_pAudioGrabber)

struct CDXRecorderTestAccess {
    static std::atomic<int>& Status(CDXRecorder& r) { return r.*LUMACAP_FIELD(RecStatus); }
    static std::atomic<DWORD>& PausedAt(CDXRecorder& r) { return r.*LUMACAP_FIELD(RecPausedAt); }
    static void FormatErrorMessage(CDXRecorder& r, const char* text, DWORD code) {
        (r.*LUMACAP_FIELD(RecFormatError))(text, code);
    }
    static CAudioGrabberCB& AudioGrabberCB(CDXRecorder& r) { return r.*LUMACAP_FIELD(RecAudioCB); }
    static HWND NotifyWnd(CDXRecorder& r) { return r.*LUMACAP_FIELD(RecNotifyWnd); }
    static BOOL GetImageBuffer(CDXRecorder& r, BYTE* buffer) {
        return (r.*LUMACAP_FIELD(RecCompose))(buffer);
    }
    static HBITMAP GetImageFromWnd(CDXRecorder& r, HWND hwnd) {
        return (r.*LUMACAP_FIELD(RecCapture))(hwnd);
    }
    static void ReduceImage(const BYTE* src, int sw, int sh, BYTE* dst, int dw, int dh) {
        LUMACAP_FIELD(RecReduce)(src, sw, sh, dst, dw, dh);
    }
    static int GetFileFormat(CDXRecorder& r, const char* path) {
        return (r.*LUMACAP_FIELD(RecFileFormat))(path);
    }
    static HRESULT ConfigAsfWriter(CDXRecorder& r, IConfigAsfWriter* config, int w, int h,
                                   DWORD kbps, DWORD fps, BOOL audio) {
        return (r.*LUMACAP_FIELD(RecConfigAsf))(config, w, h, kbps, fps, audio);
    }
    static IGraphBuilder* Graph(CDXRecorder& r) { return r.*LUMACAP_FIELD(RecGraph); }
    static CVideoMergeFilter* VideoMergeFilter(CDXRecorder& r) {
        return r.*LUMACAP_FIELD(RecMergeFilter);
    }
    // Every interface the recorder holds, in the order it releases them, for checking that a
    // closed recorder holds none.
    static std::vector<const void*> Interfaces(CDXRecorder& r) {
        return {r.*LUMACAP_FIELD(RecFileSink),     r.*LUMACAP_FIELD(RecCompressor),
                r.*LUMACAP_FIELD(RecAudioDevice),  r.*LUMACAP_FIELD(RecAudioFilter),
                r.*LUMACAP_FIELD(RecAudioGrabber), r.*LUMACAP_FIELD(RecControl),
                r.*LUMACAP_FIELD(RecGraph),        r.*LUMACAP_FIELD(RecMergeFilter)};
    }
};
