// The media framework's extended interfaces, as strmif.h gathers them from axextend.idl: seeking,
// the second-generation graph and sample interfaces, the filter mapper and its registration
// records, graph configuration, frame stepping and the graph's version counter.
#pragma once

#include "strmif.h"

interface IEnumRegFilters;
interface IPinConnection;
interface IGraphConfigCallback;

DEFINE_GUID(IID_IMediaSeeking, 0x36b73880, 0xc2c8, 0x11cf, 0x8b, 0x46, 0x00, 0x80, 0x5f, 0x6c, 0xef,
            0x60);
DEFINE_GUID(IID_IAMStreamControl, 0x36b73881, 0xc2c8, 0x11cf, 0x8b, 0x46, 0x00, 0x80, 0x5f, 0x6c,
            0xef, 0x60);
DEFINE_GUID(IID_IFilterGraph2, 0x36b73882, 0xc2c8, 0x11cf, 0x8b, 0x46, 0x00, 0x80, 0x5f, 0x6c, 0xef,
            0x60);
DEFINE_GUID(IID_IMediaSample2, 0x36b73884, 0xc2c8, 0x11cf, 0x8b, 0x46, 0x00, 0x80, 0x5f, 0x6c, 0xef,
            0x60);
DEFINE_GUID(IID_IFilterMapper, 0x56a868a3, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7,
            0x70);
DEFINE_GUID(IID_IEnumRegFilters, 0x56a868a4, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b,
            0xa7, 0x70);
DEFINE_GUID(IID_IGraphVersion, 0x56a868ab, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7,
            0x70);
DEFINE_GUID(IID_IFilterMapper2, 0xb79bb0b0, 0x33c1, 0x11d1, 0xab, 0xe1, 0x00, 0xa0, 0xc9, 0x05,
            0xf3, 0x75);
DEFINE_GUID(IID_IFilterMapper3, 0xb79bb0b1, 0x33c1, 0x11d1, 0xab, 0xe1, 0x00, 0xa0, 0xc9, 0x05,
            0xf3, 0x75);
DEFINE_GUID(IID_IGraphConfig, 0x03a1eb8e, 0x32bf, 0x4245, 0x85, 0x02, 0x11, 0x4d, 0x08, 0xa9, 0xcb,
            0x88);
DEFINE_GUID(IID_IGraphConfigCallback, 0xade0fd60, 0xd19d, 0x11d2, 0xab, 0xf6, 0x00, 0xa0, 0xc9,
            0x05, 0xf3, 0x75);
DEFINE_GUID(IID_IPinConnection, 0x4a9a62d3, 0x27d4, 0x403d, 0x91, 0xe9, 0x89, 0xf5, 0x40, 0xe5,
            0x55, 0x34);
DEFINE_GUID(IID_IVideoFrameStep, 0xe46a9787, 0x2b71, 0x444d, 0xa4, 0xb5, 0x1f, 0xab, 0x7b, 0x70,
            0x8d, 0x6a);
DEFINE_GUID(IID_IAMGraphBuilderCallback, 0x4995f511, 0x9ddb, 0x4f12, 0xbd, 0x3b, 0xf0, 0x46, 0x11,
            0x80, 0x7b, 0x79);
DEFINE_GUID(IID_ISeekingPassThru, 0x36b73883, 0xc2c8, 0x11cf, 0x8b, 0x46, 0x00, 0x80, 0x5f, 0x6c,
            0xef, 0x60);

// ---- seeking ------------------------------------------------------------------------------------

typedef enum AM_SEEKING_SeekingFlags {
    AM_SEEKING_NoPositioning = 0x0,
    AM_SEEKING_AbsolutePositioning = 0x1,
    AM_SEEKING_RelativePositioning = 0x2,
    AM_SEEKING_IncrementalPositioning = 0x3,
    AM_SEEKING_PositioningBitsMask = 0x3,
    AM_SEEKING_SeekToKeyFrame = 0x4,
    AM_SEEKING_ReturnTime = 0x8,
    AM_SEEKING_Segment = 0x10,
    AM_SEEKING_NoFlush = 0x20,
} AM_SEEKING_SEEKING_FLAGS;

typedef enum AM_SEEKING_SeekingCapabilities {
    AM_SEEKING_CanSeekAbsolute = 0x1,
    AM_SEEKING_CanSeekForwards = 0x2,
    AM_SEEKING_CanSeekBackwards = 0x4,
    AM_SEEKING_CanGetCurrentPos = 0x8,
    AM_SEEKING_CanGetStopPos = 0x10,
    AM_SEEKING_CanGetDuration = 0x20,
    AM_SEEKING_CanPlayBackwards = 0x40,
    AM_SEEKING_CanDoSegments = 0x80,
    AM_SEEKING_Source = 0x100,
} AM_SEEKING_SEEKING_CAPABILITIES;

interface IMediaSeeking : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetCapabilities(DWORD* pCapabilities) = 0;
    virtual HRESULT STDMETHODCALLTYPE CheckCapabilities(DWORD* pCapabilities) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsFormatSupported(const GUID* pFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE QueryPreferredFormat(GUID* pFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTimeFormat(GUID* pFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsUsingTimeFormat(const GUID* pFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTimeFormat(const GUID* pFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDuration(LONGLONG* pDuration) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStopPosition(LONGLONG* pStop) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetCurrentPosition(LONGLONG* pCurrent) = 0;
    virtual HRESULT STDMETHODCALLTYPE ConvertTimeFormat(LONGLONG* pTarget,
                                                        const GUID* pTargetFormat, LONGLONG Source,
                                                        const GUID* pSourceFormat) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags,
                                                   LONGLONG* pStop, DWORD dwStopFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRate(double dRate) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetRate(double* pdRate) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetPreroll(LONGLONG* pllPreroll) = 0;
};

interface ISeekingPassThru : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Init(BOOL bSupportRendering, IPin* pPin) = 0;
};

// ---- samples ------------------------------------------------------------------------------------

enum tagAM_SAMPLE_PROPERTY_FLAGS {
    AM_SAMPLE_SPLICEPOINT = 0x1,
    AM_SAMPLE_PREROLL = 0x2,
    AM_SAMPLE_DATADISCONTINUITY = 0x4,
    AM_SAMPLE_TYPECHANGED = 0x8,
    AM_SAMPLE_TIMEVALID = 0x10,
    AM_SAMPLE_TIMEDISCONTINUITY = 0x40,
    AM_SAMPLE_FLUSH_ON_PAUSE = 0x80,
    AM_SAMPLE_STOPVALID = 0x100,
    AM_SAMPLE_ENDOFSTREAM = 0x200,
    AM_STREAM_MEDIA = 0,
    AM_STREAM_CONTROL = 1,
};

typedef struct tagAM_SAMPLE2_PROPERTIES {
    DWORD cbData;
    DWORD dwTypeSpecificFlags;
    DWORD dwSampleFlags;
    LONG lActual;
    REFERENCE_TIME tStart;
    REFERENCE_TIME tStop;
    DWORD dwStreamId;
    AM_MEDIA_TYPE* pMediaType;
    BYTE* pbBuffer;
    LONG cbBuffer;
} AM_SAMPLE2_PROPERTIES;

interface IMediaSample2 : public IMediaSample {
    virtual HRESULT STDMETHODCALLTYPE GetProperties(DWORD cbProperties, BYTE* pbProperties) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperties(DWORD cbProperties,
                                                    const BYTE* pbProperties) = 0;
};

// ---- the graph ----------------------------------------------------------------------------------

#define AM_RENDEREX_RENDERTOEXISTINGRENDERERS 0x01

interface IFilterGraph2 : public IGraphBuilder {
    virtual HRESULT STDMETHODCALLTYPE AddSourceFilterForMoniker(IMoniker* pMoniker, IBindCtx* pCtx,
                                                                LPCWSTR lpcwstrFilterName,
                                                                IBaseFilter** ppFilter) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReconnectEx(IPin* ppin, const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE RenderEx(IPin* pPinOut, DWORD dwFlags, DWORD* pvContext) = 0;
};

interface IGraphVersion : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryVersion(LONG* pVersion) = 0;
};

typedef enum {
    AM_GRAPH_CONFIG_RECONNECT_DIRECTCONNECT = 0x1,
    AM_GRAPH_CONFIG_RECONNECT_CACHE_REMOVED_FILTERS = 0x2,
    AM_GRAPH_CONFIG_RECONNECT_USE_ONLY_CACHED_FILTERS = 0x4,
} AM_GRAPH_CONFIG_RECONNECT_FLAGS;
#define REMFILTERF_LEAVECONNECTED 0x1
#define AM_FILTER_FLAGS_REMOVABLE 0x1

interface IPinConnection : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE DynamicQueryAccept(const AM_MEDIA_TYPE* pmt) = 0;
    virtual HRESULT STDMETHODCALLTYPE NotifyEndOfStream(HANDLE hNotifyEvent) = 0;
    virtual HRESULT STDMETHODCALLTYPE IsEndPin() = 0;
    virtual HRESULT STDMETHODCALLTYPE DynamicDisconnect() = 0;
};

interface IGraphConfigCallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reconfigure(PVOID pvContext, DWORD dwFlags) = 0;
};

interface IGraphConfig : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Reconnect(IPin* pOutputPin, IPin* pInputPin,
                                                const AM_MEDIA_TYPE* pmtFirstConnection,
                                                IBaseFilter* pUsingFilter, HANDLE hAbortEvent,
                                                DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reconfigure(IGraphConfigCallback* pCallback, PVOID pvContext,
                                                  DWORD dwFlags, HANDLE hAbortEvent) = 0;
    virtual HRESULT STDMETHODCALLTYPE AddFilterToCache(IBaseFilter* pFilter) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumCacheFilter(IEnumFilters** pEnum) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFilterFromCache(IBaseFilter* pFilter) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetStartTime(REFERENCE_TIME* prtStart) = 0;
    virtual HRESULT STDMETHODCALLTYPE PushThroughData(IPin* pOutputPin, IPinConnection* pConnection,
                                                      HANDLE hEventAbort) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetFilterFlags(IBaseFilter* pFilter, DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFilterFlags(IBaseFilter* pFilter, DWORD* pdwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE RemoveFilterEx(IBaseFilter* pFilter, DWORD Flags) = 0;
};

interface IVideoFrameStep : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Step(DWORD dwFrames, IUnknown* pStepObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE CanStep(long bMultiple, IUnknown* pStepObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE CancelStep() = 0;
};

interface IAMGraphBuilderCallback : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SelectedFilter(IMoniker* pMon) = 0;
    virtual HRESULT STDMETHODCALLTYPE CreatedFilter(IBaseFilter* pFil) = 0;
};

// ---- the filter mapper --------------------------------------------------------------------------

enum {
    MERIT_PREFERRED = 0x800000,
    MERIT_NORMAL = 0x600000,
    MERIT_UNLIKELY = 0x400000,
    MERIT_DO_NOT_USE = 0x200000,
    MERIT_SW_COMPRESSOR = 0x100000,
    MERIT_HW_COMPRESSOR = 0x100050,
};

typedef struct {
    const CLSID* clsMajorType;
    const CLSID* clsMinorType;
} REGPINTYPES;

typedef struct {
    LPWSTR strName;
    BOOL bRendered;
    BOOL bOutput;
    BOOL bZero;
    BOOL bMany;
    const CLSID* clsConnectsToFilter;
    const WCHAR* strConnectsToPin;
    UINT nMediaTypes;
    const REGPINTYPES* lpMediaType;
} REGFILTERPINS;

typedef struct {
    CLSID clsMedium;
    DWORD dw1;
    DWORD dw2;
} REGPINMEDIUM;

enum {
    REG_PINFLAG_B_ZERO = 0x1,
    REG_PINFLAG_B_RENDERER = 0x2,
    REG_PINFLAG_B_MANY = 0x4,
    REG_PINFLAG_B_OUTPUT = 0x8,
};

typedef struct {
    DWORD dwFlags;
    UINT cInstances;
    UINT nMediaTypes;
    const REGPINTYPES* lpMediaType;
    UINT nMediums;
    const REGPINMEDIUM* lpMedium;
    const CLSID* clsPinCategory;
} REGFILTERPINS2;

typedef struct {
    DWORD dwVersion;
    DWORD dwMerit;
    union {
        struct {
            ULONG cPins;
            const REGFILTERPINS* rgPins;
        };
        struct {
            ULONG cPins2;
            const REGFILTERPINS2* rgPins2;
        };
    };
} REGFILTER2;

typedef struct {
    CLSID Clsid;
    LPWSTR Name;
} REGFILTER;

interface IEnumRegFilters : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE Next(ULONG cFilters, REGFILTER** apRegFilter,
                                           ULONG* pcFetched) = 0;
    virtual HRESULT STDMETHODCALLTYPE Skip(ULONG cFilters) = 0;
    virtual HRESULT STDMETHODCALLTYPE Reset() = 0;
    virtual HRESULT STDMETHODCALLTYPE Clone(IEnumRegFilters** ppEnum) = 0;
};

interface IFilterMapper : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE RegisterFilter(CLSID clsid, LPCWSTR Name, DWORD dwMerit) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterFilterInstance(CLSID clsid, LPCWSTR Name,
                                                             CLSID* MRId) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterPin(CLSID Filter, LPCWSTR Name, BOOL bRendered,
                                                  BOOL bOutput, BOOL bZero, BOOL bMany,
                                                  CLSID ConnectsToFilter,
                                                  LPCWSTR ConnectsToPin) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterPinType(CLSID clsFilter, LPCWSTR strName,
                                                      CLSID clsMajorType, CLSID clsSubType) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterFilter(CLSID Filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterFilterInstance(CLSID MRId) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterPin(CLSID Filter, LPCWSTR Name) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumMatchingFilters(IEnumRegFilters** ppEnum, DWORD dwMerit,
                                                          BOOL bInputNeeded, CLSID clsInMaj,
                                                          CLSID clsInSub, BOOL bRender,
                                                          BOOL bOututNeeded, CLSID clsOutMaj,
                                                          CLSID clsOutSub) = 0;
};

interface IFilterMapper2 : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateCategory(REFCLSID clsidCategory, DWORD dwCategoryMerit,
                                                     LPCWSTR Description) = 0;
    virtual HRESULT STDMETHODCALLTYPE UnregisterFilter(const CLSID* pclsidCategory,
                                                       LPCOLESTR szInstance, REFCLSID Filter) = 0;
    virtual HRESULT STDMETHODCALLTYPE RegisterFilter(REFCLSID clsidFilter, LPCWSTR Name,
                                                     IMoniker** ppMoniker,
                                                     const CLSID* pclsidCategory,
                                                     LPCOLESTR szInstance,
                                                     const REGFILTER2* prf2) = 0;
    virtual HRESULT STDMETHODCALLTYPE EnumMatchingFilters(
        IEnumMoniker** ppEnum, DWORD dwFlags, BOOL bExactMatch, DWORD dwMerit, BOOL bInputNeeded,
        DWORD cInputTypes, const GUID* pInputTypes, const REGPINMEDIUM* pMedIn,
        const CLSID* pPinCategoryIn, BOOL bRender, BOOL bOutputNeeded, DWORD cOutputTypes,
        const GUID* pOutputTypes, const REGPINMEDIUM* pMedOut, const CLSID* pPinCategoryOut) = 0;
};

interface IFilterMapper3 : public IFilterMapper2 {
    virtual HRESULT STDMETHODCALLTYPE GetICreateDevEnum(ICreateDevEnum** ppEnum) = 0;
};

// ---- the video renderer's overlay, file writers, the AVI mux ------------------------------------

DEFINE_GUID(IID_IOverlay, 0x56a868a1, 0x0ad4, 0x11ce, 0xb0, 0x3a, 0x00, 0x20, 0xaf, 0x0b, 0xa7,
            0x70);
DEFINE_GUID(IID_IFileSinkFilter2, 0x00855b90, 0xce1b, 0x11d0, 0xbd, 0x4f, 0x00, 0xa0, 0xc9, 0x11,
            0xce, 0x86);
DEFINE_GUID(IID_IConfigAviMux, 0x5acd6aa0, 0xf482, 0x11ce, 0x8b, 0x67, 0x00, 0xaa, 0x00, 0xa3, 0xf1,
            0xa6);
DEFINE_GUID(IID_IConfigInterleaving, 0xbee3d220, 0x157b, 0x11d0, 0xbd, 0x23, 0x00, 0xa0, 0xc9, 0x11,
            0xce, 0x86);

typedef struct tagPALETTEENTRY PALETTEENTRY;
typedef struct _RGNDATA RGNDATA;
interface IOverlayNotify;

enum { CK_NOCOLORKEY = 0x0, CK_INDEX = 0x1, CK_RGB = 0x2 };
typedef struct tagCOLORKEY {
    DWORD KeyType;
    DWORD PaletteIndex;
    COLORREF LowColorValue;
    COLORREF HighColorValue;
} COLORKEY;

interface IOverlay : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetPalette(DWORD* pdwColors, PALETTEENTRY** ppPalette) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPalette(DWORD dwColors, PALETTEENTRY* pPalette) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDefaultColorKey(COLORKEY* pColorKey) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetColorKey(COLORKEY* pColorKey) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetColorKey(COLORKEY* pColorKey) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWindowHandle(HWND* pHwnd) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetClipList(RECT* pSourceRect, RECT* pDestinationRect,
                                                  RGNDATA** ppRgnData) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetVideoPosition(RECT* pSourceRect,
                                                       RECT* pDestinationRect) = 0;
    virtual HRESULT STDMETHODCALLTYPE Advise(IOverlayNotify* pOverlayNotify, DWORD dwInterests) = 0;
    virtual HRESULT STDMETHODCALLTYPE Unadvise() = 0;
};

enum { AM_FILE_OVERWRITE = 0x1 };

interface IFileSinkFilter2 : public IFileSinkFilter {
    virtual HRESULT STDMETHODCALLTYPE SetMode(DWORD dwFlags) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMode(DWORD* pdwFlags) = 0;
};

interface IConfigAviMux : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetMasterStream(LONG iStream) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMasterStream(LONG* pStream) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetOutputCompatibilityIndex(BOOL fOldIndex) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetOutputCompatibilityIndex(BOOL* pfOldIndex) = 0;
};

typedef enum InterleavingMode {
    INTERLEAVE_NONE = 0,
    INTERLEAVE_CAPTURE = 1,
    INTERLEAVE_FULL = 2,
    INTERLEAVE_NONE_BUFFERED = 3,
} InterleavingMode;

interface IConfigInterleaving : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE put_Mode(InterleavingMode mode) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Mode(InterleavingMode* pMode) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Interleaving(const REFERENCE_TIME* prtInterleave,
                                                       const REFERENCE_TIME* prtPreroll) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Interleaving(REFERENCE_TIME* prtInterleave,
                                                       REFERENCE_TIME* prtPreroll) = 0;
};
