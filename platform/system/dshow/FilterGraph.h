// The filter graph manager (CLSID_FilterGraph, CLSID_FilterGraphNoThread): the filters of a graph
// and their connections, state changes that reach every filter downstream first, the event queue
// filters notify and the application reads, seeking and position of the whole graph, and the
// video and audio controls of its renderers. It aggregates a filter mapper, whose interfaces it
// answers as its own, and can itself be aggregated.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <control.h>
#include <ocidl.h>
#include <streams.h>

namespace lumacap::dshow {

class FilterGraph final : public CUnknown,
                          public IFilterGraph2,
                          public IMediaControl,
                          public IMediaEventEx,
                          public IMediaEventSink,
                          public IMediaFilter,
                          public IMediaSeeking,
                          public IMediaPosition,
                          public IBasicAudio,
                          public IBasicVideo2,
                          public IVideoWindow,
                          public IObjectWithSite,
                          public IGraphVersion,
                          public IVideoFrameStep {
public:
    explicit FilterGraph(HRESULT* phr);
    ~FilterGraph() override;

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

    // IDispatch, shared by the automation interfaces: no type library stands behind them.
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        struct tagDISPPARAMS* pDispParams, VARIANT* pVarResult,
                        struct tagEXCEPINFO* pExcepInfo, UINT* puArgErr) override;

    // IFilterGraph (FilterGraph.cpp)
    STDMETHODIMP AddFilter(IBaseFilter* pFilter, LPCWSTR pName) override;
    STDMETHODIMP RemoveFilter(IBaseFilter* pFilter) override;
    STDMETHODIMP EnumFilters(IEnumFilters** ppEnum) override;
    STDMETHODIMP FindFilterByName(LPCWSTR pName, IBaseFilter** ppFilter) override;
    STDMETHODIMP ConnectDirect(IPin* ppinOut, IPin* ppinIn, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP Reconnect(IPin* ppin) override;
    STDMETHODIMP Disconnect(IPin* ppin) override;
    STDMETHODIMP SetDefaultSyncSource() override;
    // IGraphBuilder, IFilterGraph2 (GraphConnect.cpp)
    STDMETHODIMP Connect(IPin* ppinOut, IPin* ppinIn) override;
    STDMETHODIMP Render(IPin* ppinOut) override;
    STDMETHODIMP RenderFile(LPCWSTR lpcwstrFile, LPCWSTR lpcwstrPlayList) override;
    STDMETHODIMP AddSourceFilter(LPCWSTR lpcwstrFileName, LPCWSTR lpcwstrFilterName,
                                 IBaseFilter** ppFilter) override;
    STDMETHODIMP SetLogFile(DWORD_PTR hFile) override;
    STDMETHODIMP Abort() override;
    STDMETHODIMP ShouldOperationContinue() override;
    STDMETHODIMP AddSourceFilterForMoniker(IMoniker* pMoniker, IBindCtx* pCtx,
                                           LPCWSTR lpcwstrFilterName,
                                           IBaseFilter** ppFilter) override;
    STDMETHODIMP ReconnectEx(IPin* ppin, const AM_MEDIA_TYPE* pmt) override;
    STDMETHODIMP RenderEx(IPin* pPinOut, DWORD dwFlags, DWORD* pvContext) override;

    // IMediaControl and IMediaFilter (GraphControl.cpp); Stop and Pause serve both.
    STDMETHODIMP Run() override;
    STDMETHODIMP Pause() override;
    STDMETHODIMP Stop() override;
    STDMETHODIMP GetState(LONG msTimeout, OAFilterState* pfs) override;
    STDMETHODIMP RenderFile(BSTR strFilename) override;
    STDMETHODIMP AddSourceFilter(BSTR strFilename, IDispatch** ppUnk) override;
    STDMETHODIMP get_FilterCollection(IDispatch** ppUnk) override;
    STDMETHODIMP get_RegFilterCollection(IDispatch** ppUnk) override;
    STDMETHODIMP StopWhenReady() override;
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP Run(REFERENCE_TIME tStart) override;
    STDMETHODIMP GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;
    STDMETHODIMP SetSyncSource(IReferenceClock* pClock) override;
    STDMETHODIMP GetSyncSource(IReferenceClock** pClock) override;

    // IMediaEvent(Ex), IMediaEventSink (GraphEvents.cpp)
    STDMETHODIMP GetEventHandle(OAEVENT* hEvent) override;
    STDMETHODIMP GetEvent(long* lEventCode, LONG_PTR* lParam1, LONG_PTR* lParam2,
                          long msTimeout) override;
    STDMETHODIMP WaitForCompletion(long msTimeout, long* pEvCode) override;
    STDMETHODIMP CancelDefaultHandling(long lEvCode) override;
    STDMETHODIMP RestoreDefaultHandling(long lEvCode) override;
    STDMETHODIMP FreeEventParams(long lEvCode, LONG_PTR lParam1, LONG_PTR lParam2) override;
    STDMETHODIMP SetNotifyWindow(OAHWND hwnd, long lMsg, LONG_PTR lInstanceData) override;
    STDMETHODIMP SetNotifyFlags(long lNoNotifyFlags) override;
    STDMETHODIMP GetNotifyFlags(long* lplNoNotifyFlags) override;
    STDMETHODIMP Notify(long EventCode, LONG_PTR EventParam1, LONG_PTR EventParam2) override;

    // IMediaSeeking, IMediaPosition (GraphSeeking.cpp)
    STDMETHODIMP GetCapabilities(DWORD* pCapabilities) override;
    STDMETHODIMP CheckCapabilities(DWORD* pCapabilities) override;
    STDMETHODIMP IsFormatSupported(const GUID* pFormat) override;
    STDMETHODIMP QueryPreferredFormat(GUID* pFormat) override;
    STDMETHODIMP GetTimeFormat(GUID* pFormat) override;
    STDMETHODIMP IsUsingTimeFormat(const GUID* pFormat) override;
    STDMETHODIMP SetTimeFormat(const GUID* pFormat) override;
    STDMETHODIMP GetDuration(LONGLONG* pDuration) override;
    STDMETHODIMP GetStopPosition(LONGLONG* pStop) override;
    STDMETHODIMP GetCurrentPosition(LONGLONG* pCurrent) override;
    STDMETHODIMP ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                                   const GUID* pSourceFormat) override;
    STDMETHODIMP SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop,
                              DWORD dwStopFlags) override;
    STDMETHODIMP GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    STDMETHODIMP GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;
    STDMETHODIMP SetRate(double dRate) override;
    STDMETHODIMP GetRate(double* pdRate) override;
    STDMETHODIMP GetPreroll(LONGLONG* pllPreroll) override;
    STDMETHODIMP get_Duration(REFTIME* plength) override;
    STDMETHODIMP put_CurrentPosition(REFTIME llTime) override;
    STDMETHODIMP get_CurrentPosition(REFTIME* pllTime) override;
    STDMETHODIMP get_StopTime(REFTIME* pllTime) override;
    STDMETHODIMP put_StopTime(REFTIME llTime) override;
    STDMETHODIMP get_PrerollTime(REFTIME* pllTime) override;
    STDMETHODIMP put_PrerollTime(REFTIME llTime) override;
    STDMETHODIMP put_Rate(double dRate) override;
    STDMETHODIMP get_Rate(double* pdRate) override;
    STDMETHODIMP CanSeekForward(long* pCanSeekForward) override;
    STDMETHODIMP CanSeekBackward(long* pCanSeekBackward) override;

    // IBasicAudio, IBasicVideo2, IVideoWindow: the first filter that answers (GraphRenderers.cpp)
    STDMETHODIMP put_Volume(long lVolume) override;
    STDMETHODIMP get_Volume(long* plVolume) override;
    STDMETHODIMP put_Balance(long lBalance) override;
    STDMETHODIMP get_Balance(long* plBalance) override;
    STDMETHODIMP get_AvgTimePerFrame(REFTIME* pAvgTimePerFrame) override;
    STDMETHODIMP get_BitRate(long* pBitRate) override;
    STDMETHODIMP get_BitErrorRate(long* pBitErrorRate) override;
    STDMETHODIMP get_VideoWidth(long* pVideoWidth) override;
    STDMETHODIMP get_VideoHeight(long* pVideoHeight) override;
    STDMETHODIMP put_SourceLeft(long SourceLeft) override;
    STDMETHODIMP get_SourceLeft(long* pSourceLeft) override;
    STDMETHODIMP put_SourceWidth(long SourceWidth) override;
    STDMETHODIMP get_SourceWidth(long* pSourceWidth) override;
    STDMETHODIMP put_SourceTop(long SourceTop) override;
    STDMETHODIMP get_SourceTop(long* pSourceTop) override;
    STDMETHODIMP put_SourceHeight(long SourceHeight) override;
    STDMETHODIMP get_SourceHeight(long* pSourceHeight) override;
    STDMETHODIMP put_DestinationLeft(long DestinationLeft) override;
    STDMETHODIMP get_DestinationLeft(long* pDestinationLeft) override;
    STDMETHODIMP put_DestinationWidth(long DestinationWidth) override;
    STDMETHODIMP get_DestinationWidth(long* pDestinationWidth) override;
    STDMETHODIMP put_DestinationTop(long DestinationTop) override;
    STDMETHODIMP get_DestinationTop(long* pDestinationTop) override;
    STDMETHODIMP put_DestinationHeight(long DestinationHeight) override;
    STDMETHODIMP get_DestinationHeight(long* pDestinationHeight) override;
    STDMETHODIMP SetSourcePosition(long Left, long Top, long Width, long Height) override;
    STDMETHODIMP GetSourcePosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) override;
    STDMETHODIMP SetDefaultSourcePosition() override;
    STDMETHODIMP SetDestinationPosition(long Left, long Top, long Width, long Height) override;
    STDMETHODIMP GetDestinationPosition(long* pLeft, long* pTop, long* pWidth,
                                        long* pHeight) override;
    STDMETHODIMP SetDefaultDestinationPosition() override;
    STDMETHODIMP GetVideoSize(long* pWidth, long* pHeight) override;
    STDMETHODIMP GetVideoPaletteEntries(long StartIndex, long Entries, long* pRetrieved,
                                        long* pPalette) override;
    STDMETHODIMP GetCurrentImage(long* pBufferSize, long* pDIBImage) override;
    STDMETHODIMP IsUsingDefaultSource() override;
    STDMETHODIMP IsUsingDefaultDestination() override;
    STDMETHODIMP GetPreferredAspectRatio(long* plAspectX, long* plAspectY) override;
    STDMETHODIMP put_Caption(BSTR strCaption) override;
    STDMETHODIMP get_Caption(BSTR* strCaption) override;
    STDMETHODIMP put_WindowStyle(long WindowStyle) override;
    STDMETHODIMP get_WindowStyle(long* WindowStyle) override;
    STDMETHODIMP put_WindowStyleEx(long WindowStyleEx) override;
    STDMETHODIMP get_WindowStyleEx(long* WindowStyleEx) override;
    STDMETHODIMP put_AutoShow(long AutoShow) override;
    STDMETHODIMP get_AutoShow(long* AutoShow) override;
    STDMETHODIMP put_WindowState(long WindowState) override;
    STDMETHODIMP get_WindowState(long* WindowState) override;
    STDMETHODIMP put_BackgroundPalette(long pBackgroundPalette) override;
    STDMETHODIMP get_BackgroundPalette(long* pBackgroundPalette) override;
    STDMETHODIMP put_Visible(long Visible) override;
    STDMETHODIMP get_Visible(long* pVisible) override;
    STDMETHODIMP put_Left(long Left) override;
    STDMETHODIMP get_Left(long* pLeft) override;
    STDMETHODIMP put_Width(long Width) override;
    STDMETHODIMP get_Width(long* pWidth) override;
    STDMETHODIMP put_Top(long Top) override;
    STDMETHODIMP get_Top(long* pTop) override;
    STDMETHODIMP put_Height(long Height) override;
    STDMETHODIMP get_Height(long* pHeight) override;
    STDMETHODIMP put_Owner(OAHWND Owner) override;
    STDMETHODIMP get_Owner(OAHWND* Owner) override;
    STDMETHODIMP put_MessageDrain(OAHWND Drain) override;
    STDMETHODIMP get_MessageDrain(OAHWND* Drain) override;
    STDMETHODIMP get_BorderColor(long* Color) override;
    STDMETHODIMP put_BorderColor(long Color) override;
    STDMETHODIMP get_FullScreenMode(long* FullScreenMode) override;
    STDMETHODIMP put_FullScreenMode(long FullScreenMode) override;
    STDMETHODIMP SetWindowForeground(long Focus) override;
    STDMETHODIMP NotifyOwnerMessage(OAHWND hwnd, long uMsg, LONG_PTR wParam,
                                    LONG_PTR lParam) override;
    STDMETHODIMP SetWindowPosition(long Left, long Top, long Width, long Height) override;
    STDMETHODIMP GetWindowPosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) override;
    STDMETHODIMP GetMinIdealImageSize(long* pWidth, long* pHeight) override;
    STDMETHODIMP GetMaxIdealImageSize(long* pWidth, long* pHeight) override;
    STDMETHODIMP GetRestorePosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) override;
    STDMETHODIMP HideCursor(long HideCursor) override;
    STDMETHODIMP IsCursorHidden(long* CursorHidden) override;

    // IObjectWithSite, IGraphVersion, IVideoFrameStep (GraphRenderers.cpp)
    STDMETHODIMP SetSite(IUnknown* pUnkSite) override;
    STDMETHODIMP GetSite(REFIID riid, void** ppvSite) override;
    STDMETHODIMP QueryVersion(LONG* pVersion) override;
    STDMETHODIMP Step(DWORD dwFrames, IUnknown* pStepObject) override;
    STDMETHODIMP CanStep(long bMultiple, IUnknown* pStepObject) override;
    STDMETHODIMP CancelStep() override;

    // For the filter enumerator: runs `use` on the filter list under the graph lock, unless the
    // list changed since `version` (VFW_E_ENUM_OUT_OF_SYNC).
    template <class F>
    HRESULT WithFilters(LONG version, F&& use) {
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        if (version != m_version) return VFW_E_ENUM_OUT_OF_SYNC;
        std::vector<IBaseFilter*> filters;
        filters.reserve(m_filters.size());
        for (const Entry& e : m_filters) filters.push_back(e.filter);
        return use(filters);
    }
    LONG Version() {
        std::lock_guard<std::recursive_mutex> lock(m_graphLock);
        return m_version;
    }

private:
    // IGraphConfig lives on an object of its own: its RemoveFilter is not the graph's.
    class Config final : public IGraphConfig {
    public:
        explicit Config(FilterGraph* graph) : m_graph(graph) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
        STDMETHODIMP Reconnect(IPin* pOutputPin, IPin* pInputPin,
                               const AM_MEDIA_TYPE* pmtFirstConnection, IBaseFilter* pUsingFilter,
                               HANDLE hAbortEvent, DWORD dwFlags) override;
        STDMETHODIMP Reconfigure(IGraphConfigCallback* pCallback, PVOID pvContext, DWORD dwFlags,
                                 HANDLE hAbortEvent) override;
        STDMETHODIMP AddFilterToCache(IBaseFilter* pFilter) override;
        STDMETHODIMP EnumCacheFilter(IEnumFilters** pEnum) override;
        STDMETHODIMP RemoveFilterFromCache(IBaseFilter* pFilter) override;
        STDMETHODIMP GetStartTime(REFERENCE_TIME* prtStart) override;
        STDMETHODIMP PushThroughData(IPin* pOutputPin, IPinConnection* pConnection,
                                     HANDLE hEventAbort) override;
        STDMETHODIMP SetFilterFlags(IBaseFilter* pFilter, DWORD dwFlags) override;
        STDMETHODIMP GetFilterFlags(IBaseFilter* pFilter, DWORD* pdwFlags) override;
        STDMETHODIMP RemoveFilterEx(IBaseFilter* pFilter, DWORD Flags) override;

    private:
        FilterGraph* m_graph;
    };

    struct Entry {
        IBaseFilter* filter;
        std::wstring name;
    };
    struct Event {
        long code;
        LONG_PTR param1;
        LONG_PTR param2;
    };

    IFilterGraph* Self() { return static_cast<IFilterGraph2*>(this); }
    IBaseFilter* FindByName(const std::wstring& name) const;
    bool InGraph(IPin* pin);
    HRESULT DisconnectPins(IBaseFilter* filter);
    void Teardown();

    // Connections (GraphConnect.cpp).
    HRESULT ConnectPins(IPin* first, IPin* second, const AM_MEDIA_TYPE* pmt);
    bool IsCircular(IPin* out, IPin* in);
    HRESULT TryRegisteredFilter(IMoniker* moniker, IPin* source, IPin* sink, bool renderToExisting,
                                int depth, std::set<std::wstring>* tried);
    HRESULT Autoplug(IPin* source, IPin* sink, bool renderToExisting, int depth);
    HRESULT AutoplugThrough(IPin* source, IBaseFilter* filter, IPin* sink, bool renderToExisting,
                            int depth);

    // State (GraphControl.cpp). Called with the graph lock held.
    std::vector<IBaseFilter*> DownstreamFirst();
    void UpdateRendererCount();
    HRESULT PauseFilters(const std::vector<IBaseFilter*>& order);
    HRESULT StopFilters(const std::vector<IBaseFilter*>& order);
    HRESULT StartStreaming();
    // These take the graph lock: the interface methods add their fault points around them.
    HRESULT RunGraph(const REFERENCE_TIME* start);
    HRESULT PauseGraph();
    HRESULT StopGraph();
    REFERENCE_TIME ClockTime();
    void RequestAsyncRun();
    void CancelAsyncRun();
    void AsyncRunWorker();
    bool AllFiltersPaused();

    // Events (GraphEvents.cpp).
    void ResetCompletion();
    static void FreeParams(const Event& e);

    // Seeking (GraphSeeking.cpp): calls `f` on each filter seeking by media time.
    template <class F>
    HRESULT ForEachSeeking(F&& f);
    LONGLONG PositionLocked();

    // Renderer controls (GraphRenderers.cpp).
    template <class I, class F>
    HRESULT WithFirst(REFIID riid, HRESULT absent, F&& call);

    Config m_config{this};
    IUnknown* m_pMapper = nullptr;  // the aggregated filter mapper's own IUnknown

    std::recursive_mutex m_graphLock;
    std::vector<Entry> m_filters;  // the most recently added first
    LONG m_version = 0;
    unsigned m_nameIndex = 1;
    FILTER_STATE m_state = State_Stopped;
    IReferenceClock* m_pClock = nullptr;
    bool m_defaultClock = true;  // choose a clock at the first pause or run
    IUnknown* m_pSite = nullptr;

    // Stream time: filters run with m_streamStart; the position counts from there.
    REFERENCE_TIME m_streamStart = 0;
    bool m_explicitStart = false;  // IMediaFilter::Run named the start time
    LONGLONG m_position = 0;       // where the stream stood when it last stopped running
    double m_rate = 1.0;

    // A run that waits until every filter has paused (the worker starts it).
    bool m_needsAsyncRun = false;
    std::thread m_worker;
    std::mutex m_workerMutex;
    std::condition_variable m_workerCv;
    uint64_t m_asyncGeneration = 0;
    uint64_t m_asyncPending = 0;
    bool m_workerQuit = false;

    std::mutex m_eventLock;
    std::condition_variable m_eventCv;
    std::deque<Event> m_events;
    HANDLE m_eventHandle = nullptr;
    HWND m_notifyWindow = nullptr;
    UINT m_notifyMessage = 0;
    LONG_PTR m_notifyInstance = 0;
    long m_notifyFlags = 0;
    bool m_handleComplete = true;
    bool m_handleRepaint = true;
    bool m_handleClockChanged = true;
    int m_renderers = 0;   // counted at each pause and run
    int m_completed = 0;   // renderers that reported EC_COMPLETE since the run began
    bool m_atEnd = false;  // every renderer has
};

}  // namespace lumacap::dshow
