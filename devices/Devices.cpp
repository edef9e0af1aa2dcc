// Device and codec lookup through the system device enumerator.
#include "devices/Devices.h"

#include <cstring>
#include <string>

#include "log/Log.h"

namespace {

// Converts wide text into a fixed buffer of the active code page, cutting what does not fit.
void ToNarrow(LPCWSTR text, char* buffer, int size) {
    buffer[0] = 0;
    if (!text) return;
    const int needed = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return;
    std::string full(static_cast<size_t>(needed), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, full.data(), needed, nullptr, nullptr);
    std::strncpy(buffer, full.c_str(), static_cast<size_t>(size - 1));
    buffer[size - 1] = 0;
}

bool IsInputCategory(const GUID& category) {
    return IsEqualGUID(category, CLSID_VideoInputDeviceCategory) ||
           IsEqualGUID(category, CLSID_AudioInputDeviceCategory);
}

}  // namespace

IBaseFilter* CreateAVDevice(GUID category, int position) {
    ICreateDevEnum* pDevEnum = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_ALL, IID_ICreateDevEnum,
                                  reinterpret_cast<void**>(&pDevEnum));
    if (FAILED(hr)) {
        LogError("CreateAVDevice,CoCreateInstance,%x", static_cast<unsigned>(hr));
        return nullptr;
    }
    IEnumMoniker* pEnum = nullptr;
    hr = pDevEnum->CreateClassEnumerator(category, &pEnum, 0);
    if (FAILED(hr)) {
        LogError("CreateAVDevice,CreateClassEnumerator,%x", static_cast<unsigned>(hr));
        pDevEnum->Release();
        return nullptr;
    }
    if (!pEnum) {
        LogErrorText("CreateAVDevice,enumMoniker==null");
        pDevEnum->Release();
        return nullptr;
    }

    IBaseFilter* pFilter = nullptr;
    pEnum->Reset();
    int counter = 0;
    IMoniker* pMoniker = nullptr;
    ULONG fetched = 0;
    while (!pFilter && SUCCEEDED(pEnum->Next(1, &pMoniker, &fetched)) && fetched == 1) {
        if (!pMoniker) {
            LogErrorText("CreateAVDevice,moniker==null");
        } else {
            LPOLESTR pDisplayName = nullptr;
            hr = pMoniker->GetDisplayName(nullptr, nullptr, &pDisplayName);
            if (FAILED(hr)) {
                LogError("CreateAVDevice,GetDisplayName,%x", static_cast<unsigned>(hr));
            } else {
                char displayName[1024];
                ToNarrow(pDisplayName, displayName, sizeof(displayName));
                CoTaskMemFree(pDisplayName);
                IPropertyBag* pBag = nullptr;
                hr = pMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                             reinterpret_cast<void**>(&pBag));
                if (FAILED(hr) || !pBag) {
                    LogError("CreateAVDevice,BindToStorage,%x", static_cast<unsigned>(hr));
                } else {
                    VARIANT var;
                    VariantInit(&var);
                    var.vt = VT_BSTR;
                    hr = pBag->Read(L"FriendlyName", &var, nullptr);
                    if (FAILED(hr)) {
                        LogError("CreateAVDevice,propertyBag->Read,%x", static_cast<unsigned>(hr));
                    } else {
                        char friendlyName[80];
                        ToNarrow(var.bstrVal, friendlyName, sizeof(friendlyName));
                        LogInfo("CreateAVDevice,friendlyName,%s", friendlyName);
                        if (IsInputCategory(category) && counter == position) {
                            hr = pMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                        reinterpret_cast<void**>(&pFilter));
                            if (FAILED(hr)) {
                                LogError("CreateAVDevice,BindToObject,%x",
                                         static_cast<unsigned>(hr));
                                pFilter = nullptr;
                            }
                        }
                    }
                    VariantClear(&var);
                    pBag->Release();
                }
                LogInfo("CreateAVDevice,GetDisplayName,%s", displayName);
            }
            pMoniker->Release();
        }
        pMoniker = nullptr;
        ++counter;
    }
    pEnum->Release();
    pDevEnum->Release();
    return pFilter;
}

IBaseFilter* CreateHardwareFilter(GUID category, const char* friendlyName) {
    LogInfo("CreateHardwareFilter,inFriendlyName=%s", friendlyName ? friendlyName : "");
    ICreateDevEnum* pDevEnum = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_ALL, IID_ICreateDevEnum,
                                  reinterpret_cast<void**>(&pDevEnum));
    if (FAILED(hr)) {
        LogError("CreateHardwareFilter,CoCreateInstance,%x", static_cast<unsigned>(hr));
        return nullptr;
    }
    IEnumMoniker* pEnum = nullptr;
    hr = pDevEnum->CreateClassEnumerator(category, &pEnum, 0);
    if (FAILED(hr)) {
        LogError("CreateHardwareFilter,CreateClassEnumerator,%x", static_cast<unsigned>(hr));
        pDevEnum->Release();
        return nullptr;
    }
    if (!pEnum) {
        pDevEnum->Release();
        return nullptr;
    }

    IBaseFilter* pFilter = nullptr;
    pEnum->Reset();
    IMoniker* pMoniker = nullptr;
    ULONG fetched = 0;
    while (!pFilter && SUCCEEDED(pEnum->Next(1, &pMoniker, &fetched)) && fetched == 1 && pMoniker) {
        LPOLESTR pDisplayName = nullptr;
        hr = pMoniker->GetDisplayName(nullptr, nullptr, &pDisplayName);
        if (SUCCEEDED(hr)) {
            char displayName[1024];
            ToNarrow(pDisplayName, displayName, sizeof(displayName));
            CoTaskMemFree(pDisplayName);
            LogInfo("CreateHardwareFilter,DisplayName=%s", displayName);
        } else {
            LogError("CreateHardwareFilter,GetDisplayName,%x", static_cast<unsigned>(hr));
        }
        IPropertyBag* pBag = nullptr;
        hr = pMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                     reinterpret_cast<void**>(&pBag));
        if (FAILED(hr) || !pBag) {
            LogError("CreateHardwareFilter,BindToStorage,%x", static_cast<unsigned>(hr));
            pBag = nullptr;
        } else {
            VARIANT var;
            VariantInit(&var);
            var.vt = VT_BSTR;
            hr = pBag->Read(L"FriendlyName", &var, nullptr);
            if (FAILED(hr)) {
                LogError("CreateHardwareFilter,propertyBag->Read,%x", static_cast<unsigned>(hr));
            } else {
                char name[256];
                ToNarrow(var.bstrVal, name, sizeof(name));
                LogInfo("CreateHardwareFilter,friendName=%s", name);
                if (friendlyName && std::strcmp(name, friendlyName) == 0) {
                    hr = pMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                reinterpret_cast<void**>(&pFilter));
                    if (FAILED(hr)) {
                        LogError("CreateHardwareFilter,BindToObject,%x", static_cast<unsigned>(hr));
                        pFilter = nullptr;
                    }
                }
            }
            VariantClear(&var);
        }
        if (pBag) pBag->Release();
        pMoniker->Release();
        pMoniker = nullptr;
    }
    if (pMoniker) pMoniker->Release();
    pEnum->Release();
    pDevEnum->Release();
    return pFilter;
}

IBaseFilter* CreateCompressor(int video, const char* name) {
    LogInfo("CreateCompressor,%s", video ? "video" : "audio");
    return CreateHardwareFilter(
        video ? CLSID_VideoCompressorCategory : CLSID_AudioCompressorCategory, name);
}

namespace {

// Walks the filter's pins of one direction and returns the first that `choose` accepts, without
// a reference of its own.
template <class Choose>
IPin* FindPin(IBaseFilter* pFilter, int input, Choose choose) {
    if (!pFilter) return nullptr;
    IEnumPins* pEnum = nullptr;
    if (FAILED(pFilter->EnumPins(&pEnum)) || !pEnum) return nullptr;
    pEnum->Reset();
    const PIN_DIRECTION wanted = input ? PINDIR_INPUT : PINDIR_OUTPUT;
    IPin* pChosen = nullptr;
    IPin* pPin = nullptr;
    ULONG fetched = 0;
    while (!pChosen && SUCCEEDED(pEnum->Next(1, &pPin, &fetched)) && fetched == 1 && pPin) {
        PIN_INFO info;
        if (SUCCEEDED(pPin->QueryPinInfo(&info))) {
            if (info.dir == wanted && choose(pPin, info)) {
                pChosen = pPin;
                pChosen->AddRef();
            }
            if (info.pFilter) info.pFilter->Release();
        }
        pPin->Release();
        pPin = nullptr;
    }
    pEnum->Release();
    // The filter keeps the pin alive; the caller gets it without a reference of its own.
    if (pChosen) pChosen->Release();
    return pChosen;
}

}  // namespace

IPin* GetPin(IBaseFilter* pFilter, int input, const char* namePart) {
    return FindPin(pFilter, input, [namePart](IPin*, const PIN_INFO& info) {
        if (!namePart) return true;
        char name[128];
        ToNarrow(info.achName, name, sizeof(name));
        return std::strstr(name, namePart) != nullptr;
    });
}

IPin* GetUnconnectedPin(IBaseFilter* pFilter, int input) {
    return FindPin(pFilter, input, [](IPin* pPin, const PIN_INFO&) {
        IPin* pPeer = nullptr;
        if (SUCCEEDED(pPin->ConnectedTo(&pPeer)) && pPeer) {
            pPeer->Release();
            return false;
        }
        return true;
    });
}
