// Device and format enumeration: the static operations of CDXCamera, the choice of a camera's
// device and its format accessors.
#include "camera/Enumeration.h"

#include <cstring>
#include <string>

#include <lumacap/DXCamera.h>
#include <mbstring.h>
#include <streams.h>  // DeleteMediaType

namespace {

// Wide text of the platform as narrow text of the active code page.
CString Narrow(LPCWSTR text) {
    if (!text) return CString();
    const int size = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 0) return CString();
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), size, nullptr, nullptr);
    out.resize(std::strlen(out.c_str()));
    return CString(out);
}

}  // namespace

HRESULT GetVideoDeviceMoniker(long position, IMoniker** ppMoniker) {
    *ppMoniker = nullptr;
    ICreateDevEnum* pDevEnum = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICreateDevEnum, reinterpret_cast<void**>(&pDevEnum));
    if (FAILED(hr)) return hr;
    IEnumMoniker* pEnum = nullptr;
    hr = pDevEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &pEnum, 0);
    if (hr != S_OK || !pEnum) {
        if (pEnum) pEnum->Release();
        pDevEnum->Release();
        return hr != S_OK ? hr : S_FALSE;
    }
    pEnum->Reset();
    IMoniker* pMoniker = nullptr;
    for (long i = 0;; ++i) {
        hr = pEnum->Next(1, &pMoniker, nullptr);
        if (hr != S_OK) break;
        if (i == position) break;
        pMoniker->Release();
        pMoniker = nullptr;
    }
    pEnum->Release();
    pDevEnum->Release();
    if (hr != S_OK) {
        if (pMoniker) pMoniker->Release();
        return hr;
    }
    *ppMoniker = pMoniker;
    return S_OK;
}

HRESULT GetDeviceID(IMoniker* pMoniker, CString& strID) {
    if (!pMoniker) return E_POINTER;
    LPOLESTR pDisplayName = nullptr;
    const HRESULT hr = pMoniker->GetDisplayName(nullptr, nullptr, &pDisplayName);
    if (FAILED(hr)) return hr;
    std::string name = Narrow(pDisplayName).str();
    CoTaskMemFree(pDisplayName);
    _mbsupr(reinterpret_cast<unsigned char*>(name.data()));
    // For a USB device the vendor and product: "VID_" and 13 characters more.
    const size_t pos = name.find("VID_");
    strID = pos == std::string::npos ? CString(name) : CString(name.substr(pos, 17));
    return S_OK;
}

HRESULT GetDeviceName(IMoniker* pMoniker, CString& strName) {
    if (!pMoniker) return E_POINTER;
    IPropertyBag* pBag = nullptr;
    HRESULT hr = pMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                         reinterpret_cast<void**>(&pBag));
    if (FAILED(hr)) return hr;
    if (!pBag) return E_NOINTERFACE;
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_BSTR;
    hr = pBag->Read(L"FriendlyName", &var, nullptr);
    if (hr == S_OK) strName = Narrow(var.bstrVal);
    VariantClear(&var);
    pBag->Release();
    return hr;
}

HRESULT GetDeviceVideoInfo(IMoniker* pMoniker, std::vector<CAMERAVIDEOINFO>& vecVideoInfo) {
    if (!pMoniker) return E_POINTER;
    ICaptureGraphBuilder2* pBuilder = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&pBuilder));
    if (hr != S_OK) {
        if (pBuilder) pBuilder->Release();
        return hr;
    }
    IBaseFilter* pFilter = nullptr;
    hr = pMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                reinterpret_cast<void**>(&pFilter));
    if (hr != S_OK) {
        if (pFilter) pFilter->Release();
        pBuilder->Release();
        return hr;
    }
    IAMStreamConfig* pConfig = nullptr;
    hr = pBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, pFilter,
                                 IID_IAMStreamConfig, reinterpret_cast<void**>(&pConfig));
    if (hr != S_OK) {
        if (pConfig) pConfig->Release();
        pFilter->Release();
        pBuilder->Release();
        return hr;
    }
    int count = 0;
    int size = 0;
    hr = pConfig->GetNumberOfCapabilities(&count, &size);
    // Only records of the real size can be read: another size yields an empty list.
    if (size == static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)) && count > 0) {
        for (int i = 0; i < count; ++i) {
            VIDEO_STREAM_CONFIG_CAPS scc;
            AM_MEDIA_TYPE* pmt = nullptr;
            const HRESULT hrCaps = pConfig->GetStreamCaps(i, &pmt, reinterpret_cast<BYTE*>(&scc));
            if (hrCaps != S_OK) {
                if (pmt) DeleteMediaType(pmt);
                pConfig->Release();
                pFilter->Release();
                pBuilder->Release();
                return hrCaps;
            }
            if (pmt->formattype == FORMAT_VideoInfo && pmt->pbFormat &&
                pmt->cbFormat >= sizeof(VIDEOINFOHEADER)) {
                const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->pbFormat);
                CAMERAVIDEOINFO info;
                info.lWidth = vih->bmiHeader.biWidth;
                info.lHeight = vih->bmiHeader.biHeight;
                info.nFormat = GetVideoFormatCode(pmt->subtype);
                vecVideoInfo.push_back(info);
            }
            DeleteMediaType(pmt);
        }
    }
    pConfig->Release();
    pFilter->Release();
    pBuilder->Release();
    return hr;
}

UINT GetVideoFormatCode(const GUID& subtype) {
    if (std::memcmp(&subtype, &MEDIASUBTYPE_RGB24, sizeof(GUID)) == 0) return 2;
    if (std::memcmp(&subtype, &MEDIASUBTYPE_YUY2, sizeof(GUID)) == 0) return 1;
    if (std::memcmp(&subtype, &MEDIASUBTYPE_MJPG, sizeof(GUID)) == 0) return 3;
    return 0;
}

HRESULT GetDeviceInfo(long position, CString& strID, CString& strName,
                      std::vector<CAMERAVIDEOINFO>& vecVideoInfo) {
    IMoniker* pMoniker = nullptr;
    HRESULT hr = GetVideoDeviceMoniker(position, &pMoniker);
    if (hr != S_OK) return hr;
    hr = GetDeviceID(pMoniker, strID);
    if (hr == S_OK) hr = GetDeviceName(pMoniker, strName);
    if (hr == S_OK) hr = GetDeviceVideoInfo(pMoniker, vecVideoInfo);
    pMoniker->Release();
    return hr;
}

// ---- CDXCamera ----------------------------------------------------------------------------------

LONG CDXCamera::GetCameraCount() {
    ICreateDevEnum* pDevEnum = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICreateDevEnum, reinterpret_cast<void**>(&pDevEnum));
    if (FAILED(hr) || !pDevEnum) return 0;
    IEnumMoniker* pEnum = nullptr;
    hr = pDevEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &pEnum, 0);
    if (hr != S_OK || !pEnum) {
        if (pEnum) pEnum->Release();
        pDevEnum->Release();
        return 0;
    }
    LONG count = 0;
    pEnum->Reset();
    IMoniker* pMoniker = nullptr;
    while (pEnum->Next(1, &pMoniker, nullptr) == S_OK) {
        ++count;
        if (pMoniker) pMoniker->Release();
        pMoniker = nullptr;
    }
    pEnum->Release();
    pDevEnum->Release();
    return count;
}

LONG CDXCamera::GetCameraProperty(int index, CDXCAMERAPROPERTY* property) {
    if (!property) return E_POINTER;
    property->Reset();
    IMoniker* pMoniker = nullptr;
    HRESULT hr = GetVideoDeviceMoniker(index, &pMoniker);
    if (hr != S_OK) return hr;
    const DWORD mask = property->m_dwMask;
    if (mask & 1) hr = GetDeviceID(pMoniker, property->m_strID);
    if (hr == S_OK && (mask & 2)) hr = GetDeviceName(pMoniker, property->m_strName);
    if (hr == S_OK && (mask & 4)) hr = GetDeviceVideoInfo(pMoniker, property->m_vecVideoInfo);
    pMoniker->Release();
    return hr;
}

int CDXCamera::SetCameraIndex(LONG index) {
    if (m_nStatus != CameraStatus_Closed) {
        m_strLastError = "设备已经在运行，请先关闭设备再设置初始化参数。";
        return 0;
    }
    if (index >= 0 && index < GetCameraCount()) {
        Reset();
        // Whatever part fails stays empty; the camera takes the index all the same.
        GetDeviceInfo(index, m_strID, m_strName, m_vecVideoInfo);
        m_lCameraIndex = index;
        SetDefaultProperty();
        return 1;
    }
    m_strLastError = "错误的设备索引参数。";
    return 0;
}

unsigned int CDXCamera::GetVideoInfoCount() const {
    return static_cast<unsigned int>(m_vecVideoInfo.size());
}

int CDXCamera::GetVideoSize(int index, LONG* width, LONG* height) {
    if (index < 0 || index >= static_cast<int>(m_vecVideoInfo.size())) {
        m_strLastError = "错误的分辨率索引参数。";
        return 0;
    }
    if (width) *width = m_vecVideoInfo[static_cast<size_t>(index)].lWidth;
    if (height) *height = m_vecVideoInfo[static_cast<size_t>(index)].lHeight;
    return 1;
}

unsigned int CDXCamera::GetVideoFormat(int index) {
    if (index < 0 || index >= static_cast<int>(m_vecVideoInfo.size())) {
        m_strLastError = "错误的分辨率索引参数。";
        return 0;
    }
    return m_vecVideoInfo[static_cast<size_t>(index)].nFormat;
}
