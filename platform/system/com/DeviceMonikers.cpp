// The system device enumerator (CLSID_SystemDeviceEnum): device monikers, their property bags and
// the moniker enumerator of a category.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <cwchar>
#include <map>
#include <mutex>

#include <objbase.h>
#include <strmif.h>

#include "platform/system/com/ClassRegistry.h"
#include "platform/system/com/DeviceRegistry.h"
#include "platform/system/com/ComObject.h"
#include "platform/system/com/LiveObjects.h"
#include "platform/sim/Faults.h"
#include "platform/system/win/Trace.h"

namespace lumacap::com {
namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const {
        return std::memcmp(&a, &b, sizeof(GUID)) < 0;
    }
};

struct ProviderSlot {
    int order;
    DeviceProvider provider;
};

std::mutex& ProvidersMutex() {
    static std::mutex m;
    return m;
}
std::map<GUID, std::vector<ProviderSlot>, GuidLess>& Providers() {
    static std::map<GUID, std::vector<ProviderSlot>, GuidLess> providers;
    return providers;
}

LPOLESTR CoTaskStrDup(const std::wstring& s) {
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(OLECHAR)));
    if (!out) return nullptr;
    std::memcpy(out, s.c_str(), (s.size() + 1) * sizeof(OLECHAR));
    return out;
}

// ---- property bag -------------------------------------------------------------------------------

class PropertyBag final : public com::ComObject<IPropertyBag, IID_IPropertyBag> {
public:
    explicit PropertyBag(std::vector<std::pair<std::wstring, std::wstring>> props)
        : m_props(std::move(props)) {}

    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog*) override {
        LUMACAP_FAULT_POINT("IPropertyBag::Read");
        if (!pszPropName || !pVar) return E_POINTER;
        for (const auto& [name, value] : m_props) {
            if (name != pszPropName) continue;
            // The stored values are texts: they can be read as BSTR (or with no type asked).
            if (pVar->vt != VT_EMPTY && pVar->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
            if (pVar->vt == VT_BSTR && pVar->bstrVal) SysFreeString(pVar->bstrVal);
            pVar->vt = VT_BSTR;
            pVar->bstrVal = SysAllocStringLen(value.c_str(), static_cast<UINT>(value.size()));
            return pVar->bstrVal ? S_OK : E_OUTOFMEMORY;
        }
        return E_INVALIDARG;
    }

    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT*) override { return E_ACCESSDENIED; }

private:
    std::vector<std::pair<std::wstring, std::wstring>> m_props;
};

// ---- moniker ------------------------------------------------------------------------------------

class DeviceMoniker final
    : public com::ComObject<IMoniker, IID_IMoniker, IID_IPersist, IID_IPersistStream> {
public:
    explicit DeviceMoniker(DeviceEntry entry) : m_entry(std::move(entry)) {}

    // IPersist, IPersistStream
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID* pClassID) override {
        if (!pClassID) return E_POINTER;
        // The class of the device moniker.
        *pClassID = {0x4315D437, 0x5B8C, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsDirty() override { return S_FALSE; }
    HRESULT STDMETHODCALLTYPE Load(IStream*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Save(IStream*, BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetSizeMax(ULARGE_INTEGER*) override { return E_NOTIMPL; }

    // IMoniker
    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx*, IMoniker*, REFIID riidResult,
                                           void** ppvResult) override {
        LUMACAP_FAULT_POINT("IMoniker::BindToObject");
        if (!ppvResult) return E_POINTER;
        *ppvResult = nullptr;
        if (!m_entry.bind) return MK_E_NOOBJECT;
        const HRESULT hr = m_entry.bind(riidResult, ppvResult);
        LUMACAP_TRACE(kHw, "opened %s: 0x%08X", trace::Utf8(m_entry.displayName.c_str()).c_str(),
                      static_cast<unsigned>(hr));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx*, IMoniker*, REFIID riid,
                                            void** ppvObj) override {
        LUMACAP_FAULT_POINT("IMoniker::BindToStorage");
        if (!ppvObj) return E_POINTER;
        *ppvObj = nullptr;
        auto* bag = new PropertyBag(m_entry.properties);
        const HRESULT hr = bag->QueryInterface(riid, ppvObj);
        bag->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Reduce(IBindCtx*, DWORD, IMoniker**,
                                     IMoniker** ppmkReduced) override {
        if (!ppmkReduced) return E_POINTER;
        *ppmkReduced = this;
        AddRef();
        return MK_S_REDUCED_TO_SELF;
    }
    HRESULT STDMETHODCALLTYPE ComposeWith(IMoniker*, BOOL, IMoniker**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Enum(BOOL, IEnumMoniker** ppenumMoniker) override {
        if (!ppenumMoniker) return E_POINTER;
        *ppenumMoniker = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsEqual(IMoniker* pmkOtherMoniker) override {
        if (!pmkOtherMoniker) return S_FALSE;
        LPOLESTR other = nullptr;
        if (FAILED(pmkOtherMoniker->GetDisplayName(nullptr, nullptr, &other)) || !other)
            return S_FALSE;
        const bool same = m_entry.displayName == other;
        CoTaskMemFree(other);
        return same ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Hash(DWORD* pdwHash) override {
        if (!pdwHash) return E_POINTER;
        DWORD h = 2166136261u;
        for (wchar_t c : m_entry.displayName) h = (h ^ static_cast<DWORD>(c)) * 16777619u;
        *pdwHash = h;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsRunning(IBindCtx*, IMoniker*, IMoniker*) override {
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetTimeOfLastChange(IBindCtx*, IMoniker*, FILETIME*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Inverse(IMoniker**) override { return MK_E_NOINVERSE; }
    HRESULT STDMETHODCALLTYPE CommonPrefixWith(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RelativePathTo(IMoniker*, IMoniker**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetDisplayName(IBindCtx*, IMoniker*,
                                             LPOLESTR* ppszDisplayName) override {
        LUMACAP_FAULT_POINT("IMoniker::GetDisplayName");
        if (!ppszDisplayName) return E_POINTER;
        *ppszDisplayName = CoTaskStrDup(m_entry.displayName);
        return *ppszDisplayName ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE ParseDisplayName(IBindCtx*, IMoniker*, LPOLESTR, ULONG*,
                                               IMoniker**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE IsSystemMoniker(DWORD* pdwMksys) override {
        if (!pdwMksys) return E_POINTER;
        *pdwMksys = 0;  // MKSYS_NONE
        return S_FALSE;
    }

private:
    DeviceEntry m_entry;
};

// ---- moniker enumerator -------------------------------------------------------------------------

class MonikerEnum final : public com::ComObject<IEnumMoniker, IID_IEnumMoniker> {
public:
    explicit MonikerEnum(std::vector<DeviceEntry> entries) : m_entries(std::move(entries)) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG celt, IMoniker** rgelt, ULONG* pceltFetched) override {
        LUMACAP_FAULT_POINT("IEnumMoniker::Next");
        if (!rgelt) return E_POINTER;
        if (celt != 1 && !pceltFetched) return E_INVALIDARG;
        ULONG fetched = 0;
        std::lock_guard<std::mutex> lock(m_mutex);
        while (fetched < celt && m_position < m_entries.size())
            rgelt[fetched++] = CreateDeviceMoniker(m_entries[m_position++]);
        for (ULONG i = fetched; i < celt; ++i) rgelt[i] = nullptr;
        if (pceltFetched) *pceltFetched = fetched;
        return fetched == celt ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG celt) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        const size_t left = m_entries.size() - m_position;
        if (celt > left) {
            m_position = m_entries.size();
            return S_FALSE;
        }
        m_position += celt;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        LUMACAP_FAULT_POINT("IEnumMoniker::Reset");
        std::lock_guard<std::mutex> lock(m_mutex);
        m_position = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMoniker** ppenum) override {
        if (!ppenum) return E_POINTER;
        std::lock_guard<std::mutex> lock(m_mutex);
        auto* copy = new MonikerEnum(m_entries);
        copy->m_position = m_position;
        *ppenum = copy;
        return S_OK;
    }

private:
    std::mutex m_mutex;
    std::vector<DeviceEntry> m_entries;
    size_t m_position = 0;
};

// ---- system device enumerator -------------------------------------------------------------------

class SystemDeviceEnum final : public com::ComObject<ICreateDevEnum, IID_ICreateDevEnum> {
public:
    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID clsidDeviceClass,
                                                    IEnumMoniker** ppEnumMoniker, DWORD) override {
        LUMACAP_FAULT_POINT("ICreateDevEnum::CreateClassEnumerator");
        if (!ppEnumMoniker) return E_POINTER;
        *ppEnumMoniker = nullptr;
        std::vector<DeviceEntry> entries = EnumerateCategory(clsidDeviceClass);
        // An empty (or unknown) category has no enumerator at all.
        if (entries.empty()) return S_FALSE;
        *ppEnumMoniker = new MonikerEnum(std::move(entries));
        return S_OK;
    }
};

HRESULT CreateSystemDeviceEnum(IUnknown* outer, REFIID riid, void** ppv) {
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* object = new SystemDeviceEnum();
    const HRESULT hr = object->QueryInterface(riid, ppv);
    object->Release();
    return hr;
}

}  // namespace

LUMACAP_REGISTER_CLASS(CLSID_SystemDeviceEnum, "System Device Enumerator", CreateSystemDeviceEnum);

void RegisterDeviceProvider(REFCLSID category, int order, DeviceProvider provider) {
    std::lock_guard<std::mutex> lock(ProvidersMutex());
    auto& slots = Providers()[category];
    slots.push_back({order, std::move(provider)});
    std::stable_sort(slots.begin(), slots.end(), [](const ProviderSlot& a, const ProviderSlot& b) {
        return a.order < b.order;
    });
}

std::vector<DeviceEntry> EnumerateCategory(REFCLSID category) {
    std::vector<DeviceProvider> providers;
    {
        std::lock_guard<std::mutex> lock(ProvidersMutex());
        auto it = Providers().find(category);
        if (it != Providers().end())
            for (const auto& slot : it->second) providers.push_back(slot.provider);
    }
    // Asked outside the lock: a provider may take its own locks.
    std::vector<DeviceEntry> entries;
    for (const auto& provider : providers) provider(entries);
    return entries;
}

IMoniker* CreateDeviceMoniker(DeviceEntry entry) {
    return new DeviceMoniker(std::move(entry));
}

IEnumMoniker* CreateMonikerEnum(std::vector<DeviceEntry> entries) {
    return new MonikerEnum(std::move(entries));
}

}  // namespace lumacap::com
