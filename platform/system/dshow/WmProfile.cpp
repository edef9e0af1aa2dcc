// Windows Media profiles and their streams, and the ASF writer's default profile.
#include "platform/system/dshow/WmProfile.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <mutex>

#include <mmreg.h>

#include "platform/system/com/ComObject.h"
#include "platform/system/com/LiveObjects.h"
#include "platform/sim/Faults.h"

namespace lumacap::dshow::wm {
namespace {

constexpr DWORD FourCC(char a, char b, char c, char d) {
    return static_cast<DWORD>(static_cast<uint8_t>(a)) |
           (static_cast<DWORD>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<DWORD>(static_cast<uint8_t>(c)) << 16) |
           (static_cast<DWORD>(static_cast<uint8_t>(d)) << 24);
}

void VideoType(LONG width, LONG height, REFERENCE_TIME frameTime, DWORD bitrate, CMediaType* mt) {
    mt->InitMediaType();
    mt->SetType(&WMMEDIATYPE_Video);
    mt->SetSubtype(&WMMEDIASUBTYPE_WMV2);
    mt->SetFormatType(&WMFORMAT_VideoInfo);
    mt->SetTemporalCompression(TRUE);
    mt->SetVariableSize();
    VIDEOINFOHEADER vih{};
    vih.rcSource = {0, 0, width, height};
    vih.rcTarget = vih.rcSource;
    vih.dwBitRate = bitrate;
    vih.AvgTimePerFrame = frameTime;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 24;
    vih.bmiHeader.biCompression = FourCC('W', 'M', 'V', '2');
    vih.bmiHeader.biSizeImage = GetBitmapSize(&vih.bmiHeader);
    mt->SetFormat(reinterpret_cast<BYTE*>(&vih), sizeof(vih));
}

void AudioType(DWORD rate, WORD channels, DWORD bitrate, CMediaType* mt) {
    mt->InitMediaType();
    mt->SetType(&WMMEDIATYPE_Audio);
    mt->SetSubtype(&WMMEDIASUBTYPE_WMAudioV8);
    mt->SetFormatType(&WMFORMAT_WaveFormatEx);
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_WMAUDIO2;
    wfx.nChannels = channels;
    wfx.nSamplesPerSec = rate;
    wfx.nAvgBytesPerSec = bitrate / 8;
    // One coded block: 2048 samples at this rate, the frame length Windows Media Audio 2 uses.
    wfx.nBlockAlign = static_cast<WORD>(static_cast<uint64_t>(bitrate) * 2048 / (8ULL * rate));
    wfx.wBitsPerSample = 16;
    mt->SetFormat(reinterpret_cast<BYTE*>(&wfx), sizeof(wfx));
    mt->SetSampleSize(wfx.nBlockAlign);
}

// Copies a wide text out with the size-query protocol of the format SDK.
template <class Count>
HRESULT CopyText(const std::wstring& text, WCHAR* out, Count* count) {
    if (!count) return E_POINTER;
    const size_t needed = text.size() + 1;
    if (!out) {
        *count = static_cast<Count>(needed);
        return S_OK;
    }
    if (static_cast<size_t>(*count) < needed) {
        *count = static_cast<Count>(needed);
        return ASF_E_BUFFERTOOSMALL;
    }
    std::memcpy(out, text.c_str(), needed * sizeof(WCHAR));
    *count = static_cast<Count>(needed);
    return S_OK;
}

class StreamConfig final : public IWMStreamConfig, public IWMMediaProps, public com::LiveObject {
public:
    explicit StreamConfig(StreamData data) : m_data(std::move(data)) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IWMStreamConfig) {
            *ppv = static_cast<IWMStreamConfig*>(this);
        } else if (riid == IID_IWMMediaProps) {
            LUMACAP_FAULT_POINT("IWMStreamConfig::QueryInterface");
            *ppv = static_cast<IWMMediaProps*>(this);
        } else {
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_ref; }
    STDMETHODIMP_(ULONG) Release() override {
        const ULONG left = --m_ref;
        if (left == 0) delete this;
        return left;
    }

    // IWMStreamConfig
    STDMETHODIMP GetStreamType(GUID* pguidStreamType) override {
        if (!pguidStreamType) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        *pguidStreamType = m_data.type;
        return S_OK;
    }
    STDMETHODIMP GetStreamNumber(WORD* pwStreamNum) override {
        if (!pwStreamNum) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        *pwStreamNum = m_data.number;
        return S_OK;
    }
    STDMETHODIMP SetStreamNumber(WORD wStreamNum) override {
        // ASF numbers streams 1 to 63.
        if (wStreamNum < 1 || wStreamNum > 63) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_data.number = wStreamNum;
        return S_OK;
    }
    STDMETHODIMP GetStreamName(WCHAR* pwszStreamName, WORD* pcchStreamName) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return CopyText(m_data.name, pwszStreamName, pcchStreamName);
    }
    STDMETHODIMP SetStreamName(WCHAR* pwszStreamName) override {
        if (!pwszStreamName) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_data.name = pwszStreamName;
        return S_OK;
    }
    STDMETHODIMP GetConnectionName(WCHAR* pwszInputName, WORD* pcchInputName) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return CopyText(m_data.connection, pwszInputName, pcchInputName);
    }
    STDMETHODIMP SetConnectionName(WCHAR* pwszInputName) override {
        if (!pwszInputName) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_data.connection = pwszInputName;
        return S_OK;
    }
    STDMETHODIMP GetBitrate(DWORD* pdwBitrate) override {
        if (!pdwBitrate) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        *pdwBitrate = m_data.bitrate;
        return S_OK;
    }
    STDMETHODIMP SetBitrate(DWORD pdwBitrate) override {
        LUMACAP_FAULT_POINT("IWMStreamConfig::SetBitrate");
        std::lock_guard<std::mutex> lock(m_mutex);
        m_data.bitrate = pdwBitrate;
        return S_OK;
    }
    STDMETHODIMP GetBufferWindow(DWORD* pmsBufferWindow) override {
        if (!pmsBufferWindow) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        *pmsBufferWindow = m_data.bufferWindow;
        return S_OK;
    }
    STDMETHODIMP SetBufferWindow(DWORD msBufferWindow) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_data.bufferWindow = msBufferWindow;
        return S_OK;
    }

    // IWMMediaProps
    STDMETHODIMP GetType(GUID* pguidType) override { return GetStreamType(pguidType); }
    STDMETHODIMP GetMediaType(WM_MEDIA_TYPE* pType, DWORD* pcbType) override {
        LUMACAP_FAULT_POINT("IWMMediaProps::GetMediaType");
        if (!pcbType) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        const CMediaType& mt = m_data.mediaType;
        const DWORD needed = static_cast<DWORD>(sizeof(WM_MEDIA_TYPE) + mt.cbFormat);
        if (!pType) {
            *pcbType = needed;
            return S_OK;
        }
        if (*pcbType < needed) {
            *pcbType = needed;
            return ASF_E_BUFFERTOOSMALL;
        }
        // The format block follows the structure in the caller's buffer.
        std::memcpy(pType, static_cast<const AM_MEDIA_TYPE*>(&mt), sizeof(WM_MEDIA_TYPE));
        pType->pUnk = nullptr;
        pType->pbFormat = mt.cbFormat ? reinterpret_cast<BYTE*>(pType + 1) : nullptr;
        if (mt.cbFormat) std::memcpy(pType->pbFormat, mt.pbFormat, mt.cbFormat);
        *pcbType = needed;
        return S_OK;
    }
    STDMETHODIMP SetMediaType(WM_MEDIA_TYPE* pType) override {
        LUMACAP_FAULT_POINT("IWMMediaProps::SetMediaType");
        if (!pType) return E_POINTER;
        if (pType->cbFormat && !pType->pbFormat) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(m_mutex);
        // A stream keeps its kind; a new kind means a new stream.
        if (pType->majortype != m_data.type) return E_INVALIDARG;
        AM_MEDIA_TYPE copy;
        std::memcpy(&copy, pType, sizeof(copy));
        copy.pUnk = nullptr;
        m_data.mediaType = copy;
        return S_OK;
    }

    StreamData Snapshot() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_data;
    }

private:
    std::atomic<ULONG> m_ref{1};
    std::mutex m_mutex;
    StreamData m_data;
};

class Profile final : public com::ComObject<IWMProfile, IID_IWMProfile> {
public:
    explicit Profile(ProfileData data) : m_data(std::move(data)) {}

    STDMETHODIMP GetVersion(WMT_VERSION* pdwVersion) override {
        if (!pdwVersion) return E_POINTER;
        *pdwVersion = m_data.version;
        return S_OK;
    }
    STDMETHODIMP GetName(WCHAR* pwszName, DWORD* pcchName) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return CopyText(m_data.name, pwszName, pcchName);
    }
    STDMETHODIMP SetName(const WCHAR* pwszName) override {
        if (!pwszName) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_data.name = pwszName;
        return S_OK;
    }
    STDMETHODIMP GetDescription(WCHAR* pwszDescription, DWORD* pcchDescription) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        return CopyText(m_data.description, pwszDescription, pcchDescription);
    }
    STDMETHODIMP SetDescription(const WCHAR* pwszDescription) override {
        if (!pwszDescription) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_data.description = pwszDescription;
        return S_OK;
    }
    STDMETHODIMP GetStreamCount(DWORD* pcStreams) override {
        LUMACAP_FAULT_POINT("IWMProfile::GetStreamCount");
        if (!pcStreams) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        *pcStreams = static_cast<DWORD>(m_data.streams.size());
        return S_OK;
    }
    STDMETHODIMP GetStream(DWORD dwStreamIndex, IWMStreamConfig** ppConfig) override {
        LUMACAP_FAULT_POINT("IWMProfile::GetStream");
        if (!ppConfig) return E_POINTER;
        *ppConfig = nullptr;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (dwStreamIndex >= m_data.streams.size()) return E_INVALIDARG;
        *ppConfig = new StreamConfig(m_data.streams[dwStreamIndex]);
        return S_OK;
    }
    STDMETHODIMP GetStreamByNumber(WORD wStreamNum, IWMStreamConfig** ppConfig) override {
        if (!ppConfig) return E_POINTER;
        *ppConfig = nullptr;
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = Find(wStreamNum);
        if (it == m_data.streams.end()) return NS_E_INVALID_STREAM;
        *ppConfig = new StreamConfig(*it);
        return S_OK;
    }
    STDMETHODIMP RemoveStream(IWMStreamConfig* pConfig) override {
        if (!pConfig) return E_POINTER;
        WORD number = 0;
        const HRESULT hr = pConfig->GetStreamNumber(&number);
        if (FAILED(hr)) return hr;
        return RemoveStreamByNumber(number);
    }
    STDMETHODIMP RemoveStreamByNumber(WORD wStreamNum) override {
        LUMACAP_FAULT_POINT("IWMProfile::RemoveStreamByNumber");
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = Find(wStreamNum);
        if (it == m_data.streams.end()) return NS_E_INVALID_STREAM;
        m_data.streams.erase(it);
        return S_OK;
    }
    STDMETHODIMP AddStream(IWMStreamConfig* pConfig) override {
        if (!pConfig) return E_POINTER;
        StreamData data;
        const HRESULT hr = ReadStream(pConfig, &data);
        if (FAILED(hr)) return hr;
        if (data.number < 1 || data.number > 63) return E_INVALIDARG;
        std::lock_guard<std::mutex> lock(m_mutex);
        if (Find(data.number) != m_data.streams.end()) return E_INVALIDARG;
        m_data.streams.push_back(std::move(data));
        return S_OK;
    }
    STDMETHODIMP ReconfigStream(IWMStreamConfig* pConfig) override {
        LUMACAP_FAULT_POINT("IWMProfile::ReconfigStream");
        if (!pConfig) return E_POINTER;
        StreamData data;
        const HRESULT hr = ReadStream(pConfig, &data);
        if (FAILED(hr)) return hr;
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = Find(data.number);
        if (it == m_data.streams.end()) return NS_E_INVALID_STREAM;
        if (it->type != data.type) return E_INVALIDARG;
        *it = std::move(data);
        return S_OK;
    }
    STDMETHODIMP CreateNewStream(REFGUID guidStreamType, IWMStreamConfig** ppConfig) override {
        if (!ppConfig) return E_POINTER;
        *ppConfig = nullptr;
        if (guidStreamType != WMMEDIATYPE_Video && guidStreamType != WMMEDIATYPE_Audio)
            return E_INVALIDARG;
        *ppConfig = new StreamConfig(DefaultStream(guidStreamType));
        return S_OK;
    }
    // Mutual exclusion (alternative streams of one kind) is not used by these profiles.
    STDMETHODIMP GetMutualExclusionCount(DWORD* pcME) override {
        if (!pcME) return E_POINTER;
        *pcME = 0;
        return S_OK;
    }
    STDMETHODIMP GetMutualExclusion(DWORD, IWMMutualExclusion** ppME) override {
        if (ppME) *ppME = nullptr;
        return E_INVALIDARG;
    }
    STDMETHODIMP RemoveMutualExclusion(IWMMutualExclusion*) override { return E_INVALIDARG; }
    STDMETHODIMP AddMutualExclusion(IWMMutualExclusion*) override { return E_NOTIMPL; }
    STDMETHODIMP CreateNewMutualExclusion(IWMMutualExclusion** ppME) override {
        if (ppME) *ppME = nullptr;
        return E_NOTIMPL;
    }

    ProfileData Snapshot() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_data;
    }

private:
    std::vector<StreamData>::iterator Find(WORD number) {
        return std::find_if(m_data.streams.begin(), m_data.streams.end(),
                            [number](const StreamData& s) { return s.number == number; });
    }

    std::mutex m_mutex;
    ProfileData m_data;
};

}  // namespace

StreamData DefaultStream(REFGUID type) {
    StreamData s;
    s.type = type;
    s.bufferWindow = 3000;
    if (type == WMMEDIATYPE_Audio) {
        s.name = L"Audio Stream";
        s.connection = L"Audio";
        s.bitrate = 64000;
        AudioType(44100, 2, s.bitrate, &s.mediaType);
    } else {
        s.name = L"Video Stream";
        s.connection = L"Video";
        s.bitrate = 320000;
        VideoType(320, 240, 333333, s.bitrate, &s.mediaType);
    }
    return s;
}

ProfileData DefaultProfile() {
    ProfileData p;
    p.version = WMT_VER_8_0;
    p.name = L"Windows Media Video 8 for Local Area Network (384 Kbps)";
    p.description = L"Windows Media Audio 2 and Windows Media Video 8 for local playback";
    StreamData audio = DefaultStream(WMMEDIATYPE_Audio);
    audio.number = 1;
    StreamData video = DefaultStream(WMMEDIATYPE_Video);
    video.number = 2;
    p.streams.push_back(std::move(audio));
    p.streams.push_back(std::move(video));
    return p;
}

IWMProfile* CreateProfile(const ProfileData& data) {
    return new Profile(data);
}

HRESULT ReadStream(IWMStreamConfig* config, StreamData* data) {
    if (!config || !data) return E_POINTER;
    // Our own objects are copied directly; others are read through their interfaces.
    if (auto* ours = dynamic_cast<StreamConfig*>(config)) {
        *data = ours->Snapshot();
        return S_OK;
    }
    StreamData s;
    HRESULT hr = config->GetStreamType(&s.type);
    if (SUCCEEDED(hr)) hr = config->GetStreamNumber(&s.number);
    if (SUCCEEDED(hr)) hr = config->GetBitrate(&s.bitrate);
    if (SUCCEEDED(hr)) hr = config->GetBufferWindow(&s.bufferWindow);
    WORD length = 0;
    if (SUCCEEDED(hr) && SUCCEEDED(config->GetStreamName(nullptr, &length)) && length > 0) {
        std::vector<WCHAR> text(length);
        if (SUCCEEDED(config->GetStreamName(text.data(), &length))) s.name = text.data();
    }
    length = 0;
    if (SUCCEEDED(hr) && SUCCEEDED(config->GetConnectionName(nullptr, &length)) && length > 0) {
        std::vector<WCHAR> text(length);
        if (SUCCEEDED(config->GetConnectionName(text.data(), &length))) s.connection = text.data();
    }
    if (FAILED(hr)) return hr;
    IWMMediaProps* props = nullptr;
    hr = config->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&props));
    if (FAILED(hr)) return hr;
    DWORD size = 0;
    hr = props->GetMediaType(nullptr, &size);
    if (SUCCEEDED(hr)) {
        std::vector<BYTE> buffer(std::max<DWORD>(size, sizeof(WM_MEDIA_TYPE)));
        auto* type = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
        hr = props->GetMediaType(type, &size);
        if (SUCCEEDED(hr)) {
            AM_MEDIA_TYPE am;
            std::memcpy(&am, type, sizeof(am));
            am.pUnk = nullptr;
            s.mediaType = am;
        }
    }
    props->Release();
    if (FAILED(hr)) return hr;
    *data = std::move(s);
    return S_OK;
}

HRESULT ReadProfile(IWMProfile* profile, ProfileData* data) {
    if (!profile || !data) return E_POINTER;
    if (auto* ours = dynamic_cast<Profile*>(profile)) {
        *data = ours->Snapshot();
        return S_OK;
    }
    ProfileData p;
    HRESULT hr = profile->GetVersion(&p.version);
    if (FAILED(hr)) return hr;
    DWORD length = 0;
    if (SUCCEEDED(profile->GetName(nullptr, &length)) && length > 0) {
        std::vector<WCHAR> text(length);
        if (SUCCEEDED(profile->GetName(text.data(), &length))) p.name = text.data();
    }
    DWORD count = 0;
    hr = profile->GetStreamCount(&count);
    if (FAILED(hr)) return hr;
    for (DWORD i = 0; i < count; ++i) {
        IWMStreamConfig* config = nullptr;
        hr = profile->GetStream(i, &config);
        if (FAILED(hr)) return hr;
        StreamData s;
        hr = ReadStream(config, &s);
        config->Release();
        if (FAILED(hr)) return hr;
        p.streams.push_back(std::move(s));
    }
    *data = std::move(p);
    return S_OK;
}

}  // namespace lumacap::dshow::wm
