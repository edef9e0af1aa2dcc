// Automation-style control interfaces of the filter graph: run/pause/stop, events, video window.
#pragma once

#include "oleauto.h"
#include "unknwn.h"
#include "wtypes.h"

interface ITypeInfo;
struct tagDISPPARAMS;
struct tagEXCEPINFO;

DEFINE_GUID(IID_IDispatch, 0x00020400, 0x0000, 0x0000, 0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x46);
DEFINE_GUID(IID_IMediaControl, 0x56a868b1, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7,
            0x70);
DEFINE_GUID(IID_IVideoWindow, 0x56a868b4, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7,
            0x70);
DEFINE_GUID(IID_IMediaEvent, 0x56a868b6, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7,
            0x70);
DEFINE_GUID(IID_IMediaEventEx, 0x56a868c0, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7,
            0x70);

interface IDispatch : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                    LCID lcid, DISPID* rgDispId) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid,
                                             WORD wFlags, struct tagDISPPARAMS* pDispParams,
                                             VARIANT* pVarResult, struct tagEXCEPINFO* pExcepInfo,
                                             UINT* puArgErr) = 0;
};

interface IMediaControl : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE Run() = 0;
    virtual HRESULT STDMETHODCALLTYPE Pause() = 0;
    virtual HRESULT STDMETHODCALLTYPE Stop() = 0;
    // VFW_S_STATE_INTERMEDIATE while a transition has not completed within the time-out.
    virtual HRESULT STDMETHODCALLTYPE GetState(LONG msTimeout, OAFilterState* pfs) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderFile(BSTR strFilename) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR strFilename, IDispatch** ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch** ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch** ppUnk) = 0;
    virtual HRESULT STDMETHODCALLTYPE StopWhenReady() = 0;
};

interface IMediaEvent : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE GetEventHandle(OAEVENT* hEvent) = 0;
    // E_ABORT when no event arrives within the time-out.
    virtual HRESULT STDMETHODCALLTYPE GetEvent(long* lEventCode, LONG_PTR* lParam1,
                                               LONG_PTR* lParam2, long msTimeout) = 0;
    virtual HRESULT STDMETHODCALLTYPE WaitForCompletion(long msTimeout, long* pEvCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE CancelDefaultHandling(long lEvCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE RestoreDefaultHandling(long lEvCode) = 0;
    virtual HRESULT STDMETHODCALLTYPE FreeEventParams(long lEvCode, LONG_PTR lParam1,
                                                      LONG_PTR lParam2) = 0;
};

// IMediaEventEx::SetNotifyFlags: no events are queued (and those queued are dropped).
#define AM_MEDIAEVENT_NONOTIFY 0x01

interface IMediaEventEx : public IMediaEvent {
    // Posts `lMsg` (wParam 0, lParam lInstanceData) to the window for every event queued.
    virtual HRESULT STDMETHODCALLTYPE SetNotifyWindow(OAHWND hwnd, long lMsg,
                                                      LONG_PTR lInstanceData) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetNotifyFlags(long lNoNotifyFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetNotifyFlags(long* lplNoNotifyFlags) = 0;
};

interface IVideoWindow : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE put_Caption(BSTR strCaption) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Caption(BSTR* strCaption) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WindowStyle(long WindowStyle) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WindowStyle(long* WindowStyle) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WindowStyleEx(long WindowStyleEx) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WindowStyleEx(long* WindowStyleEx) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_AutoShow(long AutoShow) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_AutoShow(long* AutoShow) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_WindowState(long WindowState) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_WindowState(long* WindowState) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_BackgroundPalette(long BackgroundPalette) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BackgroundPalette(long* pBackgroundPalette) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Visible(long Visible) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Visible(long* pVisible) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Left(long Left) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Left(long* pLeft) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Width(long Width) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Width(long* pWidth) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Top(long Top) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Top(long* pTop) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Height(long Height) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Height(long* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Owner(OAHWND Owner) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Owner(OAHWND* Owner) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_MessageDrain(OAHWND Drain) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_MessageDrain(OAHWND* Drain) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BorderColor(long* Color) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_BorderColor(long Color) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_FullScreenMode(long* FullScreenMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_FullScreenMode(long FullScreenMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetWindowForeground(long Focus) = 0;
    virtual HRESULT STDMETHODCALLTYPE NotifyOwnerMessage(OAHWND hwnd, long uMsg, LONG_PTR wParam,
                                                         LONG_PTR lParam) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetWindowPosition(long Left, long Top, long Width,
                                                        long Height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWindowPosition(long* pLeft, long* pTop, long* pWidth,
                                                        long* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMinIdealImageSize(long* pWidth, long* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMaxIdealImageSize(long* pWidth, long* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRestorePosition(long* pLeft, long* pTop, long* pWidth,
                                                         long* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE HideCursor(long HideCursor) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsCursorHidden(long* CursorHidden) = 0;
};

typedef double REFTIME;

DEFINE_GUID(IID_IMediaPosition, 0x56a868b2, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b,
            0xa7, 0x70);
DEFINE_GUID(IID_IBasicAudio, 0x56a868b3, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7,
            0x70);
DEFINE_GUID(IID_IBasicVideo, 0x56a868b5, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7,
            0x70);
DEFINE_GUID(IID_IBasicVideo2, 0x329bb360, 0xf6ea, 0x11d1, 0x90, 0x38, 0x00, 0xa0, 0xc9, 0x69, 0x72,
            0x98);

// Positions in seconds, for automation clients.
interface IMediaPosition : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Duration(REFTIME* plength) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_CurrentPosition(REFTIME llTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_CurrentPosition(REFTIME* pllTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StopTime(REFTIME* pllTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_StopTime(REFTIME llTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_PrerollTime(REFTIME* pllTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_PrerollTime(REFTIME llTime) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Rate(double dRate) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Rate(double* pdRate) = 0;
    virtual HRESULT STDMETHODCALLTYPE CanSeekForward(long* pCanSeekForward) = 0;
    virtual HRESULT STDMETHODCALLTYPE CanSeekBackward(long* pCanSeekBackward) = 0;
};

interface IBasicAudio : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE put_Volume(long lVolume) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Volume(long* plVolume) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Balance(long lBalance) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Balance(long* plBalance) = 0;
};

interface IBasicVideo : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_AvgTimePerFrame(REFTIME* pAvgTimePerFrame) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BitRate(long* pBitRate) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_BitErrorRate(long* pBitErrorRate) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_VideoWidth(long* pVideoWidth) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_VideoHeight(long* pVideoHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SourceLeft(long SourceLeft) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SourceLeft(long* pSourceLeft) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SourceWidth(long SourceWidth) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SourceWidth(long* pSourceWidth) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SourceTop(long SourceTop) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SourceTop(long* pSourceTop) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_SourceHeight(long SourceHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_SourceHeight(long* pSourceHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DestinationLeft(long DestinationLeft) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DestinationLeft(long* pDestinationLeft) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DestinationWidth(long DestinationWidth) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DestinationWidth(long* pDestinationWidth) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DestinationTop(long DestinationTop) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DestinationTop(long* pDestinationTop) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_DestinationHeight(long DestinationHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_DestinationHeight(long* pDestinationHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSourcePosition(long Left, long Top, long Width,
                                                        long Height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSourcePosition(long* pLeft, long* pTop, long* pWidth,
                                                        long* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDefaultSourcePosition() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDestinationPosition(long Left, long Top, long Width,
                                                             long Height) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDestinationPosition(long* pLeft, long* pTop, long* pWidth,
                                                             long* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDefaultDestinationPosition() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVideoSize(long* pWidth, long* pHeight) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVideoPaletteEntries(long StartIndex, long Entries,
                                                             long* pRetrieved, long* pPalette) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentImage(long* pBufferSize, long* pDIBImage) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsUsingDefaultSource() = 0;
    virtual HRESULT STDMETHODCALLTYPE IsUsingDefaultDestination() = 0;
};

interface IBasicVideo2 : public IBasicVideo {
    virtual HRESULT STDMETHODCALLTYPE GetPreferredAspectRatio(long* plAspectX, long* plAspectY) = 0;
};
