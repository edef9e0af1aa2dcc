// The filter mapper (CLSID_FilterMapper2, CLSID_FilterMapper): registers filters with their merit
// and pins, and finds the registered filters that take (or produce) given media types, best merit
// first. The filter graph manager aggregates one for intelligent connect.
#include <algorithm>
#include <cstring>

#include <streams.h>

#include "platform/system/com/ClassRegistry.h"
#include "platform/system/dshow/FilterRegistry.h"
#include "platform/system/dshow/GraphInternals.h"

namespace lumacap::dshow {
namespace {

// Whether a pin's types meet the wanted (major, subtype) pairs. GUID_NULL wanted means any; a
// GUID_NULL registered type means any too, unless the match must be exact. Wanting nothing is met
// by any pin that registered a type.
bool MatchTypes(bool exact, const RegisteredPin& pin, DWORD count, const GUID* wanted) {
    if (count == 0) return !pin.types.empty();
    for (const auto& [major, minor] : pin.types) {
        for (DWORD i = 0; i < count; ++i) {
            const GUID& wMajor = wanted[2 * i];
            const GUID& wMinor = wanted[2 * i + 1];
            const bool majorOk =
                (!exact && major == GUID_NULL) || wMajor == GUID_NULL || major == wMajor;
            const bool minorOk =
                (!exact && minor == GUID_NULL) || wMinor == GUID_NULL || minor == wMinor;
            if (majorOk && minorOk) return true;
        }
    }
    return false;
}

bool MatchPin(bool exact, const RegisteredPin& pin, DWORD count, const GUID* types,
              const REGPINMEDIUM* medium, const CLSID* category) {
    if (category && *category != GUID_NULL && pin.category != *category) return false;
    if (medium && std::none_of(pin.mediums.begin(), pin.mediums.end(), [&](const REGPINMEDIUM& m) {
            return m.clsMedium == medium->clsMedium && m.dw1 == medium->dw1 && m.dw2 == medium->dw2;
        }))
        return false;
    return MatchTypes(exact, pin, count, types);
}

// The registered filters of at least `merit` with an input pin (a rendering one, if asked) and an
// output pin of the kinds wanted, best merit first.
std::vector<RegisteredFilter> Select(bool exact, DWORD merit, BOOL inputNeeded, DWORD cInput,
                                     const GUID* input, const REGPINMEDIUM* inMedium,
                                     const CLSID* inCategory, BOOL render, BOOL outputNeeded,
                                     DWORD cOutput, const GUID* output,
                                     const REGPINMEDIUM* outMedium, const CLSID* outCategory) {
    std::vector<RegisteredFilter> found;
    for (RegisteredFilter& f : RegisteredFilters()) {
        if (f.merit < merit) continue;
        bool in = !inputNeeded && !render;
        bool out = !outputNeeded;
        for (const RegisteredPin& pin : f.pins) {
            if (pin.flags & REG_PINFLAG_B_OUTPUT)
                out = out || MatchPin(exact, pin, cOutput, output, outMedium, outCategory);
            else if (!render || (pin.flags & REG_PINFLAG_B_RENDERER))
                in =
                    in || !inputNeeded || MatchPin(exact, pin, cInput, input, inMedium, inCategory);
        }
        if (in && out) found.push_back(std::move(f));
    }
    std::stable_sort(
        found.begin(), found.end(),
        [](const RegisteredFilter& a, const RegisteredFilter& b) { return a.merit > b.merit; });
    return found;
}

RegisteredPin PinFrom(const REGFILTERPINS& p) {
    RegisteredPin pin;
    if (p.strName) pin.name = p.strName;
    pin.flags = (p.bRendered ? REG_PINFLAG_B_RENDERER : 0) |
                (p.bOutput ? REG_PINFLAG_B_OUTPUT : 0) | (p.bZero ? REG_PINFLAG_B_ZERO : 0) |
                (p.bMany ? REG_PINFLAG_B_MANY : 0);
    for (UINT i = 0; i < p.nMediaTypes && p.lpMediaType; ++i)
        pin.types.emplace_back(
            p.lpMediaType[i].clsMajorType ? *p.lpMediaType[i].clsMajorType : GUID_NULL,
            p.lpMediaType[i].clsMinorType ? *p.lpMediaType[i].clsMinorType : GUID_NULL);
    return pin;
}

RegisteredPin PinFrom(const REGFILTERPINS2& p) {
    RegisteredPin pin;
    pin.flags = p.dwFlags;
    pin.instances = p.cInstances;
    pin.category = p.clsPinCategory ? *p.clsPinCategory : GUID_NULL;
    for (UINT i = 0; i < p.nMediaTypes && p.lpMediaType; ++i)
        pin.types.emplace_back(
            p.lpMediaType[i].clsMajorType ? *p.lpMediaType[i].clsMajorType : GUID_NULL,
            p.lpMediaType[i].clsMinorType ? *p.lpMediaType[i].clsMinorType : GUID_NULL);
    for (UINT i = 0; i < p.nMediums && p.lpMedium; ++i) pin.mediums.push_back(p.lpMedium[i]);
    return pin;
}

const HRESULT kNotRegistered = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// The legacy enumerator of registered filters: each REGFILTER comes in one task-memory block
// holding its name too.
class RegFilterEnum final : public CUnknown, public IEnumRegFilters {
public:
    RegFilterEnum(std::vector<RegisteredFilter> filters, HRESULT* phr)
        : CUnknown(NAME("Registered filter enumerator"), nullptr, phr),
          m_filters(std::move(filters)) {}

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IEnumRegFilters)
            return GetInterface(static_cast<IEnumRegFilters*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    STDMETHODIMP Next(ULONG cFilters, REGFILTER** apRegFilter, ULONG* pcFetched) override {
        if (!apRegFilter) return E_POINTER;
        if (cFilters != 1 && !pcFetched) return E_INVALIDARG;
        ULONG fetched = 0;
        while (fetched < cFilters && m_position < m_filters.size()) {
            const RegisteredFilter& f = m_filters[m_position++];
            const size_t nameBytes = (f.name.size() + 1) * sizeof(WCHAR);
            auto* block = static_cast<BYTE*>(CoTaskMemAlloc(sizeof(REGFILTER) + nameBytes));
            if (!block) break;
            auto* out = reinterpret_cast<REGFILTER*>(block);
            out->Clsid = f.clsid;
            out->Name = reinterpret_cast<LPWSTR>(block + sizeof(REGFILTER));
            std::memcpy(out->Name, f.name.c_str(), nameBytes);
            apRegFilter[fetched++] = out;
        }
        if (pcFetched) *pcFetched = fetched;
        return fetched == cFilters ? S_OK : S_FALSE;
    }
    STDMETHODIMP Skip(ULONG cFilters) override {
        const size_t left = m_filters.size() - m_position;
        m_position += std::min<size_t>(cFilters, left);
        return cFilters <= left ? S_OK : S_FALSE;
    }
    STDMETHODIMP Reset() override {
        m_position = 0;
        return S_OK;
    }
    STDMETHODIMP Clone(IEnumRegFilters** ppEnum) override {
        if (!ppEnum) return E_POINTER;
        HRESULT hr = S_OK;
        auto* copy = new RegFilterEnum(m_filters, &hr);
        copy->m_position = m_position;
        copy->NonDelegatingAddRef();
        *ppEnum = copy;
        return S_OK;
    }

private:
    std::vector<RegisteredFilter> m_filters;
    size_t m_position = 0;
};

class FilterMapper final : public CUnknown, public IFilterMapper3, public IFilterMapper {
public:
    explicit FilterMapper(HRESULT* phr) : CUnknown(NAME("Filter Mapper"), nullptr, phr) {}

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IFilterMapper2 || riid == IID_IFilterMapper3)
            return GetInterface(static_cast<IFilterMapper3*>(this), ppv);
        if (riid == IID_IFilterMapper) return GetInterface(static_cast<IFilterMapper*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    // ---- IFilterMapper2 -------------------------------------------------------------------------
    STDMETHODIMP CreateCategory(REFCLSID, DWORD, LPCWSTR) override { return S_OK; }

    STDMETHODIMP UnregisterFilter(const CLSID* pclsidCategory, LPCOLESTR szInstance,
                                  REFCLSID Filter) override {
        const CLSID category = pclsidCategory ? *pclsidCategory : CLSID_LegacyAmFilterCategory;
        const std::wstring instance = szInstance ? szInstance : GuidText(Filter);
        return UnregisterFilterEntry(category, instance) ? S_OK : kNotRegistered;
    }

    STDMETHODIMP RegisterFilter(REFCLSID clsidFilter, LPCWSTR Name, IMoniker** ppMoniker,
                                const CLSID* pclsidCategory, LPCOLESTR szInstance,
                                const REGFILTER2* prf2) override {
        if (!prf2) return E_POINTER;
        RegisteredFilter f;
        f.clsid = clsidFilter;
        f.name = Name ? Name : GuidText(clsidFilter);
        f.merit = prf2->dwMerit;
        f.category = pclsidCategory ? *pclsidCategory : CLSID_LegacyAmFilterCategory;
        f.instance = szInstance ? szInstance : GuidText(clsidFilter);
        if (prf2->dwVersion == 1) {
            for (ULONG i = 0; i < prf2->cPins && prf2->rgPins; ++i)
                f.pins.push_back(PinFrom(prf2->rgPins[i]));
        } else if (prf2->dwVersion == 2 || prf2->dwVersion == 3) {
            for (ULONG i = 0; i < prf2->cPins2 && prf2->rgPins2; ++i)
                f.pins.push_back(PinFrom(prf2->rgPins2[i]));
        } else {
            return E_INVALIDARG;
        }
        if (ppMoniker) *ppMoniker = com::CreateDeviceMoniker(EntryFor(f));
        RegisterFilterEntry(std::move(f));
        return S_OK;
    }

    STDMETHODIMP EnumMatchingFilters(IEnumMoniker** ppEnum, DWORD, BOOL bExactMatch, DWORD dwMerit,
                                     BOOL bInputNeeded, DWORD cInputTypes, const GUID* pInputTypes,
                                     const REGPINMEDIUM* pMedIn, const CLSID* pPinCategoryIn,
                                     BOOL bRender, BOOL bOutputNeeded, DWORD cOutputTypes,
                                     const GUID* pOutputTypes, const REGPINMEDIUM* pMedOut,
                                     const CLSID* pPinCategoryOut) override {
        if (!ppEnum) return E_POINTER;
        if ((cInputTypes && !pInputTypes) || (cOutputTypes && !pOutputTypes)) return E_POINTER;
        std::vector<com::DeviceEntry> entries;
        for (const RegisteredFilter& f :
             Select(bExactMatch, dwMerit, bInputNeeded, cInputTypes, pInputTypes, pMedIn,
                    pPinCategoryIn, bRender, bOutputNeeded, cOutputTypes, pOutputTypes, pMedOut,
                    pPinCategoryOut))
            entries.push_back(EntryFor(f));
        *ppEnum = com::CreateMonikerEnum(std::move(entries));
        return S_OK;
    }

    // ---- IFilterMapper3 -------------------------------------------------------------------------
    STDMETHODIMP GetICreateDevEnum(ICreateDevEnum** ppEnum) override {
        if (!ppEnum) return E_POINTER;
        return CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                IID_ICreateDevEnum, reinterpret_cast<void**>(ppEnum));
    }

    // ---- IFilterMapper: registrations in the legacy category, built pin by pin ------------------
    STDMETHODIMP RegisterFilter(CLSID clsid, LPCWSTR Name, DWORD dwMerit) override {
        RegisteredFilter f;
        f.clsid = clsid;
        f.name = Name ? Name : GuidText(clsid);
        f.merit = dwMerit;
        f.category = CLSID_LegacyAmFilterCategory;
        RegisterFilterEntry(std::move(f));
        return S_OK;
    }

    STDMETHODIMP RegisterFilterInstance(CLSID, LPCWSTR, CLSID*) override { return E_NOTIMPL; }

    STDMETHODIMP RegisterPin(CLSID Filter, LPCWSTR Name, BOOL bRendered, BOOL bOutput, BOOL bZero,
                             BOOL bMany, CLSID, LPCWSTR) override {
        if (!Name) return E_POINTER;
        return EditLegacy(Filter, [&](RegisteredFilter& f) {
            RegisteredPin pin;
            pin.name = Name;
            pin.flags = (bRendered ? REG_PINFLAG_B_RENDERER : 0) |
                        (bOutput ? REG_PINFLAG_B_OUTPUT : 0) | (bZero ? REG_PINFLAG_B_ZERO : 0) |
                        (bMany ? REG_PINFLAG_B_MANY : 0);
            f.pins.push_back(pin);
            return S_OK;
        });
    }

    STDMETHODIMP RegisterPinType(CLSID clsFilter, LPCWSTR strName, CLSID clsMajorType,
                                 CLSID clsSubType) override {
        if (!strName) return E_POINTER;
        return EditLegacy(clsFilter, [&](RegisteredFilter& f) {
            const int index = PinIndex(f, strName);
            if (index < 0) return kNotRegistered;
            f.pins[static_cast<size_t>(index)].types.emplace_back(clsMajorType, clsSubType);
            return S_OK;
        });
    }

    STDMETHODIMP UnregisterFilter(CLSID Filter) override {
        return UnregisterFilterEntry(CLSID_LegacyAmFilterCategory, GuidText(Filter))
                   ? S_OK
                   : kNotRegistered;
    }

    STDMETHODIMP UnregisterFilterInstance(CLSID) override { return E_NOTIMPL; }

    STDMETHODIMP UnregisterPin(CLSID Filter, LPCWSTR Name) override {
        if (!Name) return E_POINTER;
        return EditLegacy(Filter, [&](RegisteredFilter& f) {
            const int index = PinIndex(f, Name);
            if (index < 0) return kNotRegistered;
            f.pins.erase(f.pins.begin() + index);
            return S_OK;
        });
    }

    STDMETHODIMP EnumMatchingFilters(IEnumRegFilters** ppEnum, DWORD dwMerit, BOOL bInputNeeded,
                                     CLSID clsInMaj, CLSID clsInSub, BOOL bRender,
                                     BOOL bOututNeeded, CLSID clsOutMaj, CLSID clsOutSub) override {
        if (!ppEnum) return E_POINTER;
        // GUID_NULL in the request means any type; registered types must match exactly.
        const GUID in[2] = {clsInMaj, clsInSub};
        const GUID out[2] = {clsOutMaj, clsOutSub};
        HRESULT hr = S_OK;
        auto* e = new RegFilterEnum(Select(true, dwMerit, bInputNeeded, 1, in, nullptr, nullptr,
                                           bRender, bOututNeeded, 1, out, nullptr, nullptr),
                                    &hr);
        e->NonDelegatingAddRef();
        *ppEnum = e;
        return S_OK;
    }

private:
    static int PinIndex(const RegisteredFilter& f, LPCWSTR name) {
        for (size_t i = 0; i < f.pins.size(); ++i)
            if (f.pins[i].name == name) return static_cast<int>(i);
        return -1;
    }

    // Changes a filter registered through IFilterMapper and registers it again.
    template <class F>
    HRESULT EditLegacy(REFCLSID clsid, F&& edit) {
        const std::wstring instance = GuidText(clsid);
        for (RegisteredFilter& f : RegisteredFilters()) {
            if (f.category != CLSID_LegacyAmFilterCategory || f.instance != instance) continue;
            const HRESULT hr = edit(f);
            if (SUCCEEDED(hr)) RegisterFilterEntry(std::move(f));
            return hr;
        }
        return kNotRegistered;
    }
};

}  // namespace

HRESULT CreateFilterMapper(IUnknown* outer, REFIID riid, void** ppv) {
    return CreateComInstance<FilterMapper>(outer, riid, ppv);
}

}  // namespace lumacap::dshow

LUMACAP_REGISTER_CLASS(CLSID_FilterMapper2, "Filter Mapper2", lumacap::dshow::CreateFilterMapper);
LUMACAP_REGISTER_CLASS(CLSID_FilterMapper, "Filter Mapper", lumacap::dshow::CreateFilterMapper);
