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

// The monikers of a category through the system device enumerator, both lookups' first steps.
// Failures are logged with the caller's name ("<caller>,CoCreateInstance,%x"); an empty category
// gives S_OK and no list, which each caller treats its own way.
HRESULT OpenCategory(const char* caller, const GUID& category, IEnumMoniker** ppEnum) {
    *ppEnum = nullptr;
    ICreateDevEnum* pDevEnum = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_ALL, IID_ICreateDevEnum,
                                  reinterpret_cast<void**>(&pDevEnum));
    if (FAILED(hr)) {
        LogError("%s,CoCreateInstance,%x", caller, static_cast<unsigned>(hr));
        return hr;
    }
    hr = pDevEnum->CreateClassEnumerator(category, ppEnum, 0);
    if (FAILED(hr)) {
        LogError("%s,CreateClassEnumerator,%x", caller, static_cast<unsigned>(hr));
        *ppEnum = nullptr;
    }
    pDevEnum->Release();
    if (*ppEnum) (*ppEnum)->Reset();
    return FAILED(hr) ? hr : S_OK;
}

// The moniker's display name, converted; false (with the system's code in `hr`) when unreadable.
bool ReadDisplayName(IMoniker* pMoniker, char* buffer, int size, HRESULT* hr) {
    LPOLESTR pDisplayName = nullptr;
    *hr = pMoniker->GetDisplayName(nullptr, nullptr, &pDisplayName);
    if (FAILED(*hr)) return false;
    ToNarrow(pDisplayName, buffer, size);
    CoTaskMemFree(pDisplayName);
    return true;
}

// The "FriendlyName" of a property bag, converted; false (with the code in `hr`) when unreadable.
bool ReadFriendlyName(IPropertyBag* pBag, char* buffer, int size, HRESULT* hr) {
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_BSTR;
    *hr = pBag->Read(L"FriendlyName", &var, nullptr);
    if (SUCCEEDED(*hr)) ToNarrow(var.bstrVal, buffer, size);
    VariantClear(&var);
    return SUCCEEDED(*hr);
}

IPropertyBag* OpenPropertyBag(IMoniker* pMoniker, HRESULT* hr) {
    IPropertyBag* pBag = nullptr;
    *hr = pMoniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                  reinterpret_cast<void**>(&pBag));
    if (FAILED(*hr) || !pBag) return nullptr;
    return pBag;
}

}  // namespace

IBaseFilter* CreateAVDevice(GUID category, int position) {
    IEnumMoniker* pEnum = nullptr;
    if (FAILED(OpenCategory("CreateAVDevice", category, &pEnum))) return nullptr;
    if (!pEnum) {
        LogErrorText("CreateAVDevice,enumMoniker==null");
        return nullptr;
    }
    IBaseFilter* pFilter = nullptr;
    int counter = 0;
    IMoniker* pMoniker = nullptr;
    ULONG fetched = 0;
    // The counter counts every moniker, null ones and unreadable ones included.
    while (!pFilter && SUCCEEDED(pEnum->Next(1, &pMoniker, &fetched)) && fetched == 1) {
        HRESULT hr = S_OK;
        char displayName[1024];
        if (!pMoniker) {
            LogErrorText("CreateAVDevice,moniker==null");
        } else if (!ReadDisplayName(pMoniker, displayName, sizeof(displayName), &hr)) {
            LogError("CreateAVDevice,GetDisplayName,%x", static_cast<unsigned>(hr));
        } else {
            char friendlyName[80];
            if (IPropertyBag* pBag = OpenPropertyBag(pMoniker, &hr); !pBag) {
                LogError("CreateAVDevice,BindToStorage,%x", static_cast<unsigned>(hr));
            } else {
                if (!ReadFriendlyName(pBag, friendlyName, sizeof(friendlyName), &hr)) {
                    LogError("CreateAVDevice,propertyBag->Read,%x", static_cast<unsigned>(hr));
                } else {
                    LogInfo("CreateAVDevice,friendlyName,%s", friendlyName);
                    if (IsInputCategory(category) && counter == position) {
                        hr = pMoniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                                    reinterpret_cast<void**>(&pFilter));
                        if (FAILED(hr)) {
                            LogError("CreateAVDevice,BindToObject,%x", static_cast<unsigned>(hr));
                            pFilter = nullptr;
                        }
                    }
                }
                pBag->Release();
            }
            LogInfo("CreateAVDevice,GetDisplayName,%s", displayName);
        }
        if (pMoniker) pMoniker->Release();
        pMoniker = nullptr;
        ++counter;
    }
    pEnum->Release();
    return pFilter;
}

IBaseFilter* CreateHardwareFilter(GUID category, const char* friendlyName) {
    LogInfo("CreateHardwareFilter,inFriendlyName=%s", friendlyName ? friendlyName : "");
    IEnumMoniker* pEnum = nullptr;
    if (FAILED(OpenCategory("CreateHardwareFilter", category, &pEnum)) || !pEnum) return nullptr;
    IBaseFilter* pFilter = FindFilterByFriendlyName(pEnum, friendlyName);
    pEnum->Release();
    return pFilter;
}

IBaseFilter* FindFilterByFriendlyName(IEnumMoniker* pEnum, const char* friendlyName) {
    IBaseFilter* pFilter = nullptr;
    IMoniker* pMoniker = nullptr;
    ULONG fetched = 0;
    while (!pFilter && SUCCEEDED(pEnum->Next(1, &pMoniker, &fetched)) && fetched == 1) {
        // A null moniker is passed over: the devices after it are still searched.
        if (!pMoniker) continue;
        HRESULT hr = S_OK;
        char displayName[1024];
        if (ReadDisplayName(pMoniker, displayName, sizeof(displayName), &hr))
            LogInfo("CreateHardwareFilter,DisplayName=%s", displayName);
        else
            LogError("CreateHardwareFilter,GetDisplayName,%x", static_cast<unsigned>(hr));
        if (IPropertyBag* pBag = OpenPropertyBag(pMoniker, &hr); !pBag) {
            LogError("CreateHardwareFilter,BindToStorage,%x", static_cast<unsigned>(hr));
        } else {
            char name[256];
            if (!ReadFriendlyName(pBag, name, sizeof(name), &hr)) {
                LogError("CreateHardwareFilter,propertyBag->Read,%x", static_cast<unsigned>(hr));
            } else {
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
            pBag->Release();
        }
        pMoniker->Release();
        pMoniker = nullptr;
    }
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
