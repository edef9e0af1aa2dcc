// Push sources: a filter whose output pins deliver from their own streaming threads.
#pragma once

#include "amfilter.h"

// ---- push sources -------------------------------------------------------------------------------

class CSourceStream;

// A filter made of output pins that push samples on their own threads.
class LUMACAP_API CSource : public CBaseFilter {
public:
    CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid, HRESULT* phr);
    CSource(LPCTSTR pName, LPUNKNOWN lpunk, CLSID clsid);
    ~CSource() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    CCritSec* pStateLock() { return &m_cStateLock; }

    HRESULT AddPin(CSourceStream* pStream);
    HRESULT RemovePin(CSourceStream* pStream);
    int FindPinNumber(IPin* iPin);

protected:
    int m_iPins = 0;
    CSourceStream** m_paStreams = nullptr;
    CCritSec m_cStateLock;
};

// An output pin with a streaming thread: while the filter is active the thread asks FillBuffer to
// fill each sample taken from the allocator and delivers it downstream.
class LUMACAP_API CSourceStream : public CAMThread, public CBaseOutputPin {
public:
    CSourceStream(LPCTSTR pObjectName, HRESULT* phr, CSource* pms, LPCWSTR pName);
    ~CSourceStream() override;

protected:
    CSource* m_pFilter;

    // S_OK delivers the sample; S_FALSE ends the stream (end-of-stream is sent downstream).
    virtual HRESULT FillBuffer(IMediaSample* pSample) = 0;
    virtual HRESULT OnThreadCreate() { return NOERROR; }
    virtual HRESULT OnThreadDestroy() { return NOERROR; }
    virtual HRESULT OnThreadStartPlay() { return NOERROR; }

    HRESULT Active() override;
    HRESULT Inactive() override;

public:
    enum Command { CMD_INIT, CMD_PAUSE, CMD_RUN, CMD_STOP, CMD_EXIT };
    HRESULT Init() { return static_cast<HRESULT>(CallWorker(CMD_INIT)); }
    HRESULT Exit() { return static_cast<HRESULT>(CallWorker(CMD_EXIT)); }
    HRESULT Run() { return static_cast<HRESULT>(CallWorker(CMD_RUN)); }
    HRESULT Pause() { return static_cast<HRESULT>(CallWorker(CMD_PAUSE)); }
    HRESULT Stop() { return static_cast<HRESULT>(CallWorker(CMD_STOP)); }
    using CBasePin::Run;

protected:
    Command GetRequest() { return static_cast<Command>(CAMThread::GetRequest()); }
    BOOL CheckRequest(Command* pCom);
    DWORD ThreadProc() override;
    virtual HRESULT DoBufferProcessingLoop();

    HRESULT CheckMediaType(const CMediaType* pMediaType) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    virtual HRESULT GetMediaType(CMediaType* pMediaType) { return E_UNEXPECTED; }
};
