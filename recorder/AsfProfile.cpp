// Fitting the WM ASF Writer's profile to the recording: the audio stream goes when there is no
// sound, and the video stream takes the frame size, rate and bit rate.
#include <lumacap/DXRecorder.h>

#include <vector>

#include <dshowasf.h>

HRESULT CDXRecorder::ConfigAsfWriter(IConfigAsfWriter* pConfig, int width, int height, DWORD kbps,
                                     DWORD fps, BOOL audio) {
    if (!pConfig) return E_POINTER;
    IWMProfile* pProfile = nullptr;
    HRESULT hr = pConfig->GetCurrentProfile(&pProfile);
    if (FAILED(hr)) return hr;
    if (!pProfile) return E_UNEXPECTED;
    DWORD count = 0;
    hr = pProfile->GetStreamCount(&count);
    if (FAILED(hr)) {
        pProfile->Release();
        return hr;
    }
    // Stream 1 is the profile's audio stream.
    if (count >= 2 && !audio) {
        hr = pProfile->RemoveStreamByNumber(1);
        if (FAILED(hr)) {
            pProfile->Release();
            return hr;
        }
        --count;
    }

    const DWORD bitrate = kbps * 1000;
    for (DWORD i = 0; i < count; ++i) {
        IWMStreamConfig* pStream = nullptr;
        if (FAILED(pProfile->GetStream(i, &pStream)) || !pStream) continue;
        IWMMediaProps* pProps = nullptr;
        if (SUCCEEDED(
                pStream->QueryInterface(IID_IWMMediaProps, reinterpret_cast<void**>(&pProps))) &&
            pProps) {
            DWORD cbType = 0;
            if (SUCCEEDED(pProps->GetMediaType(nullptr, &cbType)) &&
                cbType >= sizeof(WM_MEDIA_TYPE)) {
                std::vector<BYTE> buffer(cbType);
                auto* pType = reinterpret_cast<WM_MEDIA_TYPE*>(buffer.data());
                if (SUCCEEDED(pProps->GetMediaType(pType, &cbType)) &&
                    pType->majortype == WMMEDIATYPE_Video && pType->pbFormat &&
                    pType->cbFormat >= sizeof(VIDEOINFOHEADER)) {
                    auto* pvih = reinterpret_cast<VIDEOINFOHEADER*>(pType->pbFormat);
                    pvih->rcSource = RECT{0, 0, width, height};
                    pvih->rcTarget = RECT{0, 0, width, height};
                    pvih->dwBitRate = bitrate;
                    pvih->AvgTimePerFrame = 10000000LL / static_cast<LONGLONG>(fps ? fps : 10);
                    pvih->bmiHeader.biWidth = width;
                    pvih->bmiHeader.biHeight = height;
                    pvih->bmiHeader.biSizeImage = GetBitmapSize(&pvih->bmiHeader);
                    pType->lSampleSize = pvih->bmiHeader.biSizeImage;
                    pStream->SetBitrate(bitrate);
                    pProps->SetMediaType(pType);
                    pProfile->ReconfigStream(pStream);
                }
            }
            pProps->Release();
        }
        pStream->Release();
    }

    hr = pConfig->ConfigureFilterUsingProfile(pProfile);
    pProfile->Release();
    return hr;
}
