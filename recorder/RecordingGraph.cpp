// The recording graph: built by StartRecord from the recorder's settings (frame source, optional
// compressor, optional sound through the level-metering grabber, AVI Mux and File Writer or the WM
// ASF Writer), and taken down by CloseRecord, which finishes the file.
#include <lumacap/DXRecorder.h>

#include <cstring>
#include <new>
#include <vector>

#include <dshowasf.h>
#include <gdiplus.h>
#include <mbstring.h>
#include <mmreg.h>
#include <streams.h>  // DeleteMediaType, FreeMediaType

#include "app/Release.h"
#include "devices/Devices.h"
#include "framesource/VideoMergeFilter.h"
#include "log/Log.h"
#include "recorder/WindowCapture.h"

namespace {

// Larger frames would no longer fit the 32-bit sizes of their media types.
constexpr int kMaxFrameSide = 16384;

}  // namespace

BOOL CDXRecorder::StartRecord(const char* path, int format) {
    // A second graph would be built over the fields of the first; the host closes first.
    if (m_nStatus != RecorderStatus_Closed || m_pGraph) {
        m_strLastError = "设备正在运行。";
        return FALSE;
    }
    if (!path || !*path) {
        m_strLastError = "无效的目标影像文件路径。";
        return FALSE;
    }
    if (format == RecorderFormat_ByExtension) {
        format = GetFileFormat(path);
        if (format == RecorderFormat_ByExtension) {
            m_strLastError = "不支持指定的影像文件格式。";
            return FALSE;
        }
    }
    m_nRealFrames = 0;
    if (m_vecSources.empty()) {
        m_strLastError = "Please set a Video Source at first.";
        return FALSE;
    }
    if (m_nVideoWidth <= 0 || m_nVideoHeight <= 0 || m_nVideoWidth > kMaxFrameSide ||
        m_nVideoHeight > kMaxFrameSide) {
        m_strLastError = "无效的影像尺寸。";
        return FALSE;
    }

    // The media samples are sized for this frame size; it holds until the graph is closed.
    m_nFrameWidth = m_nVideoWidth;
    m_nFrameHeight = m_nVideoHeight;
    // Composition draws with GDI+, which a preview window may or may not have started.
    if (!m_gdiplusToken) {
        Gdiplus::GdiplusStartupInput input;
        if (Gdiplus::GdiplusStartup(&m_gdiplusToken, &input, nullptr) != Gdiplus::Ok) {
            m_gdiplusToken = 0;
            LogErrorText("recorder,GdiplusStartup failed");
        }
    }

    HRESULT hr = InitializeGraph();
    if (FAILED(hr)) {
        CloseRecord();
        return FALSE;
    }

    auto fail = [this](const char* text, HRESULT code) {
        FormatErrorMessage(text, static_cast<DWORD>(code));
        CloseRecord();
        return FALSE;
    };

    hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_ISampleGrabber,
                          reinterpret_cast<void**>(&m_pAudioGrabber));
    if (FAILED(hr)) return fail(" Failed to create RecordSampleGrabber.", hr);
    AM_MEDIA_TYPE mt;
    std::memset(&mt, 0, sizeof(mt));
    mt.majortype = MEDIATYPE_Audio;
    mt.subtype = MEDIASUBTYPE_PCM;
    hr = m_pAudioGrabber->SetMediaType(&mt);
    if (FAILED(hr)) return fail(" Failed to SetRecordMediaType.", hr);

    // A device without this format records in its own.
    if (m_bAudioRecord) SetAudioFormat(11025, 16, 1);

    hr = m_pAudioGrabber->QueryInterface(IID_IBaseFilter,
                                         reinterpret_cast<void**>(&m_pAudioGrabberFilter));
    if (FAILED(hr) || !m_pAudioGrabberFilter) {
        CloseRecord();
        return FALSE;
    }
    hr = m_pGraph->AddFilter(m_pAudioGrabberFilter, L"Sample Grabber2");
    if (FAILED(hr)) return fail(" Failed to Add Record Sample Grabber Filter.", hr);

    if (format == RecorderFormat_AVI) {
        hr = Connect2AVIFilter();
    } else if (format == RecorderFormat_ASF) {
        hr = Connect2ASFFilter();
    } else {
        m_strLastError = "Not Support This Format.";
        hr = E_INVALIDARG;
    }
    if (FAILED(hr)) {
        CloseRecord();
        return FALSE;
    }

    if (!SetDestFile(path)) {
        CloseRecord();
        return FALSE;
    }

    hr = m_pAudioGrabber->SetBufferSamples(TRUE);
    if (FAILED(hr)) return fail(" Failed to SetRecordBufferSamples.", hr);
    hr = m_pAudioGrabber->SetOneShot(FALSE);
    if (FAILED(hr)) return fail(" Failed to SetRecordOneShot.", hr);
    hr = m_pAudioGrabber->SetCallback(&m_AudioGrabberCB, 1);
    if (FAILED(hr)) return fail(" Failed to SeRecordtCallback.", hr);

    m_AudioGrabberCB.SetNotifyWnd(m_hNotifyWnd);

    hr = m_pMediaControl->Run();
    if (FAILED(hr)) return fail("Failed to Run", hr);
    m_nStatus = RecorderStatus_Running;
    return TRUE;
}

HRESULT CDXRecorder::InitializeGraph() {
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IGraphBuilder, reinterpret_cast<void**>(&m_pGraph));
    if (FAILED(hr)) {
        FormatErrorMessage(" Failed to create FilterGraph.", static_cast<DWORD>(hr));
        CloseRecord();
        return hr;
    }
    hr = m_pGraph->QueryInterface(IID_IMediaControl, reinterpret_cast<void**>(&m_pMediaControl));
    if (FAILED(hr)) {
        FormatErrorMessage(" Failed to QI IMediaControl.", static_cast<DWORD>(hr));
        CloseRecord();
        return hr;
    }
    if (!m_pVideoMergeFilter) {
        HRESULT hrFilter = S_OK;
        CVideoMergeFilter* pFilter = new (std::nothrow) CVideoMergeFilter(nullptr, &hrFilter);
        if (!pFilter) hrFilter = E_OUTOFMEMORY;
        if (FAILED(hrFilter)) {
            delete pFilter;
            FormatErrorMessage(" Failed to Create VideoMerge Filter.",
                               static_cast<DWORD>(hrFilter));
            CloseRecord();
            return hrFilter;
        }
        m_pVideoMergeFilter = pFilter;
    }

    // The graph keeps the only counted reference. The filter is held for the call, so a refused
    // addition frees it instead of leaking it.
    m_pVideoMergeFilter->NonDelegatingAddRef();
    const HRESULT hrAdd = m_pGraph->AddFilter(m_pVideoMergeFilter, L"VideoMergeFilter");
    if (FAILED(hrAdd)) {
        m_pVideoMergeFilter->NonDelegatingRelease();
        m_pVideoMergeFilter = nullptr;
    } else {
        m_pVideoMergeFilter->SetRecorder(this);
        m_pVideoMergeFilter->SetFrameRate(m_nFPS);
        m_pVideoMergeFilter->NonDelegatingRelease();
    }

    // A failed addition of the frame source is the answer only when nothing else follows, and
    // it has no text of its own; otherwise the video chain cannot be connected and that step
    // reports it.
    const bool more = !m_strVideoCompressor.IsEmpty() || m_bAudioRecord;
    if (!more) return hrAdd;

    hr = S_OK;
    if (!m_strVideoCompressor.IsEmpty()) {
        m_pVideoCompressor = CreateCompressor(1, m_strVideoCompressor);
        if (!m_pVideoCompressor) {
            m_strLastError = "Failed to Create VideoCompressor";
            CloseRecord();
            return E_NOINTERFACE;
        }
        hr = m_pGraph->AddFilter(m_pVideoCompressor, L"VideoCompressor");
        if (FAILED(hr)) {
            FormatErrorMessage("Failed to Add VideoCompressor.", static_cast<DWORD>(hr));
            CloseRecord();
            return hr;
        }
    }
    if (m_bAudioRecord) {
        m_pAudioDevice = CreateAVDevice(CLSID_AudioInputDeviceCategory, 0);
        if (!m_pAudioDevice) {
            m_strLastError = "Failed to Create AVDeviceFilter";
            CloseRecord();
            return E_NOINTERFACE;
        }
        hr = m_pGraph->AddFilter(m_pAudioDevice, L"Audio");
        if (FAILED(hr)) {
            FormatErrorMessage("Failed to Add AVDeviceFilter.", static_cast<DWORD>(hr));
            CloseRecord();
            return hr;
        }
    }
    return hr;
}

HRESULT CDXRecorder::ConnectFilter() {
    if (m_pVideoCompressor) {
        const HRESULT hr = m_pGraph->Connect(GetPin(m_pVideoMergeFilter, 0, nullptr),
                                             GetPin(m_pVideoCompressor, 1, nullptr));
        if (FAILED(hr)) return hr;
    }
    if (m_bAudioRecord)
        return m_pGraph->Connect(GetPin(m_pAudioDevice, 0, nullptr),
                                 GetPin(m_pAudioGrabberFilter, 1, nullptr));
    return S_OK;
}

HRESULT CDXRecorder::Connect2AVIFilter() {
    HRESULT hr = ConnectFilter();
    if (FAILED(hr)) {
        FormatErrorMessage("Failed to ConnectFilter", static_cast<DWORD>(hr));
        return hr;
    }
    IBaseFilter* pMux = nullptr;
    auto fail = [&](const char* text, HRESULT code) {
        FormatErrorMessage(text, static_cast<DWORD>(code));
        if (pMux) pMux->Release();
        return code;
    };

    hr = CoCreateInstance(CLSID_AviDest, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(&pMux));
    if (FAILED(hr)) return fail("Failed to Create AviMuxFilter", hr);
    hr = m_pGraph->AddFilter(pMux, L"AVI Mux");
    if (FAILED(hr)) return fail("Failed to Add AviMuxFilter", hr);
    hr = CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(&m_pFileSink));
    if (FAILED(hr)) return fail("Failed to Create File Writer", hr);
    hr = m_pGraph->AddFilter(m_pFileSink, L"File Writer");
    if (FAILED(hr)) return fail("Failed to Add File Writer", hr);
    hr = m_pGraph->Connect(GetPin(pMux, 0, nullptr), GetPin(m_pFileSink, 1, nullptr));
    if (FAILED(hr)) return fail("Failed to Connect AVIFilter", hr);

    IBaseFilter* pVideoLast =
        m_pVideoCompressor ? m_pVideoCompressor : static_cast<IBaseFilter*>(m_pVideoMergeFilter);
    hr = m_pGraph->Connect(GetPin(pVideoLast, 0, nullptr), GetUnconnectedPin(pMux, 1));
    if (FAILED(hr)) return fail("Failed to Connect FileWriterFilter", hr);
    if (m_bAudioRecord) {
        hr = m_pGraph->Connect(GetPin(m_pAudioGrabberFilter, 0, nullptr),
                               GetUnconnectedPin(pMux, 1));
        if (FAILED(hr)) return fail("Failed to Connect AudidoFilter to FileWriterFilter", hr);
    }
    // From here on the graph alone holds the mux.
    pMux->Release();
    return S_OK;
}

HRESULT CDXRecorder::Connect2ASFFilter() {
    HRESULT hr = ConnectFilter();
    if (FAILED(hr)) {
        FormatErrorMessage("Failed to ConnectFilter", static_cast<DWORD>(hr));
        return hr;
    }
    IConfigAsfWriter* pConfig = nullptr;
    auto fail = [&](const char* text, HRESULT code) {
        FormatErrorMessage(text, static_cast<DWORD>(code));
        if (pConfig) pConfig->Release();
        return code;
    };

    hr = CoCreateInstance(CLSID_WMAsfWriter, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                          reinterpret_cast<void**>(&m_pFileSink));
    if (FAILED(hr)) return fail("Failed to Create ASFWriter", hr);
    hr = m_pGraph->AddFilter(m_pFileSink, L"ASF Writer");
    if (FAILED(hr)) return fail("Failed to Add ASFWriter", hr);

    IBaseFilter* pVideoLast =
        m_pVideoCompressor ? m_pVideoCompressor : static_cast<IBaseFilter*>(m_pVideoMergeFilter);
    hr =
        m_pGraph->Connect(GetPin(pVideoLast, 0, nullptr), GetPin(m_pFileSink, 1, "Video Input 01"));
    if (FAILED(hr)) return fail("Failed to Connect FileWriterFilter", hr);
    if (m_bAudioRecord) {
        hr = m_pGraph->Connect(GetPin(m_pAudioGrabberFilter, 0, nullptr),
                               GetUnconnectedPin(m_pFileSink, 1));
        if (FAILED(hr)) return fail("Failed to Connect AudidoFilter to FileWriterFilter", hr);
    }

    hr = m_pFileSink->QueryInterface(IID_IConfigAsfWriter, reinterpret_cast<void**>(&pConfig));
    if (FAILED(hr)) return fail("Failed to Get IConfigAsfWriter", hr);
    hr = ConfigAsfWriter(pConfig, FrameWidth(), FrameHeight(), m_nAsfBitrate, m_nFPS,
                         m_bAudioRecord);
    if (FAILED(hr)) return fail("Failed to ConfigAsfWriter", hr);
    pConfig->Release();
    return S_OK;
}

BOOL CDXRecorder::SetDestFile(const char* path) {
    IFileSinkFilter* pSink = nullptr;
    const HRESULT hr = m_pFileSink ? m_pFileSink->QueryInterface(IID_IFileSinkFilter,
                                                                 reinterpret_cast<void**>(&pSink))
                                   : E_POINTER;
    if (FAILED(hr) || !pSink) {
        FormatErrorMessage("Failed to Get FileSinkFilter",
                           static_cast<DWORD>(FAILED(hr) ? hr : E_NOINTERFACE));
        return FALSE;
    }

    // The path in the active code page, converted whole (no fixed 260-character limit here).
    const int chars = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
    std::vector<WCHAR> wide(chars > 0 ? static_cast<size_t>(chars) : 1, 0);
    if (chars > 0) MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), chars);

    // The writer's own media type is passed back with the name; a writer that cannot tell its
    // current file still gets the name.
    LPOLESTR pszCurrent = nullptr;
    AM_MEDIA_TYPE mt;
    std::memset(&mt, 0, sizeof(mt));
    if (SUCCEEDED(pSink->GetCurFile(&pszCurrent, &mt))) {
        if (pszCurrent) CoTaskMemFree(pszCurrent);
        pSink->SetFileName(wide.data(), &mt);
        FreeMediaType(mt);
    } else {
        pSink->SetFileName(wide.data(), nullptr);
    }
    pSink->Release();
    return TRUE;
}

int CDXRecorder::GetFileFormat(const char* path) {
    if (!path) return RecorderFormat_ByExtension;
    const unsigned char* dot = _mbsrchr(reinterpret_cast<const unsigned char*>(path), '.');
    if (!dot) return RecorderFormat_ByExtension;
    if (_mbsicoll(dot + 1, reinterpret_cast<const unsigned char*>("AVI")) == 0)
        return RecorderFormat_AVI;
    if (_mbsicoll(dot + 1, reinterpret_cast<const unsigned char*>("ASF")) == 0)
        return RecorderFormat_ASF;
    return RecorderFormat_ByExtension;
}

int CDXRecorder::SetAudioFormat(DWORD samplesPerSec, WORD bitsPerSample, WORD channels) {
    const WORD blockAlign = static_cast<WORD>((bitsPerSample / 8) * channels);
    const DWORD avgBytesPerSec = static_cast<DWORD>(blockAlign) * samplesPerSec;

    IPin* pPin = GetPin(m_pAudioDevice, 0, nullptr);
    if (!pPin) return -2;
    IEnumMediaTypes* pEnum = nullptr;
    if (FAILED(pPin->EnumMediaTypes(&pEnum)) || !pEnum) return -2;
    AM_MEDIA_TYPE* pChosen = nullptr;
    AM_MEDIA_TYPE* pmt = nullptr;
    while (!pChosen && pEnum->Next(1, &pmt, nullptr) == S_OK && pmt) {
        const bool wave = pmt->formattype == FORMAT_WaveFormatEx &&
                          pmt->cbFormat == sizeof(WAVEFORMATEX) && pmt->pbFormat;
        if (wave) {
            const auto* wf = reinterpret_cast<const WAVEFORMATEX*>(pmt->pbFormat);
            if (wf->nSamplesPerSec == samplesPerSec && wf->wBitsPerSample == bitsPerSample &&
                wf->nChannels == channels) {
                pChosen = pmt;
                pmt = nullptr;
                continue;
            }
        }
        DeleteMediaType(pmt);
        pmt = nullptr;
    }
    pEnum->Release();
    if (!pChosen) return -2;

    IAMStreamConfig* pConfig = nullptr;
    if (FAILED(pPin->QueryInterface(IID_IAMStreamConfig, reinterpret_cast<void**>(&pConfig))) ||
        !pConfig) {
        DeleteMediaType(pChosen);
        return -1;
    }
    // About 1,024 samples per buffer, so the level is measured about ten times a second.
    IAMBufferNegotiation* pNegotiation = nullptr;
    if (SUCCEEDED(pPin->QueryInterface(IID_IAMBufferNegotiation,
                                       reinterpret_cast<void**>(&pNegotiation))) &&
        pNegotiation) {
        ALLOCATOR_PROPERTIES props;
        props.cBuffers = 6;
        props.cbBuffer = static_cast<long>(blockAlign) * 1024;
        props.cbAlign = blockAlign;
        props.cbPrefix = 0;
        pNegotiation->SuggestAllocatorProperties(&props);
        pNegotiation->Release();
    }

    auto* wf = reinterpret_cast<WAVEFORMATEX*>(pChosen->pbFormat);
    wf->nAvgBytesPerSec = avgBytesPerSec;
    wf->nBlockAlign = blockAlign;
    wf->nChannels = channels;
    wf->nSamplesPerSec = samplesPerSec;
    wf->wBitsPerSample = bitsPerSample;
    pConfig->SetFormat(pChosen);

    AM_MEDIA_TYPE* pCurrent = nullptr;
    const HRESULT hr = pConfig->GetFormat(&pCurrent);
    if (pCurrent) DeleteMediaType(pCurrent);
    DeleteMediaType(pChosen);
    pConfig->Release();
    return FAILED(hr) ? -1 : 0;
}

void CDXRecorder::CloseRecord() {
    if (m_pMediaControl && m_nStatus == RecorderStatus_Running) m_pMediaControl->StopWhenReady();
    // Closed before anything is released, so a frame source waiting out a pause stops waiting.
    m_nStatus = RecorderStatus_Closed;
    ReleaseAndClear(m_pFileSink);
    ReleaseAndClear(m_pVideoCompressor);
    ReleaseAndClear(m_pAudioDevice);
    ReleaseAndClear(m_pAudioGrabberFilter);
    ReleaseAndClear(m_pAudioGrabber);
    ReleaseAndClear(m_pMediaControl);
    // The graph's last reference stops its streaming threads and finishes the file.
    ReleaseAndClear(m_pGraph);
    // The graph held the only reference to the frame source.
    m_pVideoMergeFilter = nullptr;
    // No frame is composed any more: the size and GDI+ are free again.
    m_nFrameWidth = 0;
    m_nFrameHeight = 0;
    // The streaming thread has ended with the graph: what it kept for composing can go.
    m_vecCaptures.clear();
    std::vector<BYTE>().swap(m_vecCameraFrame);
    std::vector<BYTE>().swap(m_vecReducedFrame);
    if (m_gdiplusToken) {
        Gdiplus::GdiplusShutdown(m_gdiplusToken);
        m_gdiplusToken = 0;
    }
}
