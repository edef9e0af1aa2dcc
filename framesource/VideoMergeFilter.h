// The recorder's frame source: a push-source filter with one output pin through which composed
// frames enter the recording graph. The pin's streaming thread asks its recorder for one frame
// per sample, stamps it by frame number and holds it back until it is due.
#pragma once

#include <vector>

#include <streams.h>

class CDXRecorder;
class CVideoMergeFilter;

// {A4376148-D32D-44CB-BE93-5740C124F428}. Defined inline so no translation unit has to define it
// for the others (with DEFINE_GUID, Windows needs one compiled under initguid.h).
inline constexpr GUID CLSID_VideoMergeFilter = {
    0xa4376148, 0xd32d, 0x44cb, {0xbe, 0x93, 0x57, 0x40, 0xc1, 0x24, 0xf4, 0x28}};

class CVideoMergePin : public CSourceStream {
public:
    CVideoMergePin(HRESULT* phr, CVideoMergeFilter* pFilter);
    ~CVideoMergePin() override;

    // Fills one sample: waits out a pause of the recorder, has it compose a frame into the
    // sample, stamps it and sleeps until it is due. Always S_OK (E_POINTER for no sample), so
    // the stream ends only when the graph stops.
    HRESULT FillBuffer(IMediaSample* pSample) override;

    // The four uncompressed true-colour RGB types of the recorder's frame size, RGB24 first: the
    // types CheckMediaType accepts.
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT CheckMediaType(const CMediaType* pMediaType) override;
    HRESULT SetMediaType(const CMediaType* pMediaType) override;
    HRESULT DecideBufferSize(IMemAllocator* pAlloc, ALLOCATOR_PROPERTIES* pRequest) override;
    // Quality messages change nothing: the pace is the recorder's frame rate.
    STDMETHODIMP Notify(IBaseFilter* pSender, Quality q) override;

    void SetRecorder(CDXRecorder* pRecorder);
    void SetFrameRate(UINT fps);
    // A later run starts again at frame 0 with no paused time.
    void ResetTiming();

private:
    friend struct CVideoMergePinTestAccess;

    // The frame size the recorder composes at (fixed while it has a graph); 0 x 0 without one.
    void GetFrameSize(LONG* pWidth, LONG* pHeight) const;
    // Has the recorder compose one frame into the sample, converting it when the connection is
    // not 24-bit. Never writes past the sample.
    void ComposeInto(IMediaSample* pSample, BYTE* pData);

    int m_iFrameNumber;
    REFERENCE_TIME m_rtFrameLength;
    int m_nCurrentBitDepth;
    CDXRecorder* m_pRecorder;
    CMediaType m_MediaType;
    CCritSec m_cSharedState;
    DWORD m_dwStartTime;
    DWORD m_dwPausedTime;
    // When the last frame was begun: a pause asked for after it is counted from when it was asked.
    DWORD m_dwLastBegin;
    // Start time of this stream's previous frame. Held per pin (not once per process) so that two
    // recordings never compare their late frames with each other's stamps; reset with the timing
    // so each run after a stop compares only with its own frames.
    REFERENCE_TIME m_rtPreStartTime;
    // The composed 24-bit frame when the connection carries 32- or 16-bit pixels.
    std::vector<BYTE> m_vecConvert;
};

class CVideoMergeFilter : public CSource {
public:
    CVideoMergeFilter(LPUNKNOWN pUnk, HRESULT* phr);
    ~CVideoMergeFilter() override;

    void SetRecorder(CDXRecorder* pRecorder) { m_Pin.SetRecorder(pRecorder); }
    void SetFrameRate(UINT fps) { m_Pin.SetFrameRate(fps); }
    void ResetTiming() { m_Pin.ResetTiming(); }
    CVideoMergePin* Pin() { return &m_Pin; }

private:
    CVideoMergePin m_Pin;
};
