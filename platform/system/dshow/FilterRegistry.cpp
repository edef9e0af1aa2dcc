// The filters installed on the system, and their monikers under each category.
#include "platform/system/dshow/FilterRegistry.h"

#include <cstring>
#include <mutex>
#include <set>

#include <objbase.h>

#include "platform/system/com/DeviceRegistry.h"

namespace lumacap::dshow {
namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const {
        return std::memcmp(&a, &b, sizeof(GUID)) < 0;
    }
};

struct Registry {
    std::mutex mutex;
    std::vector<RegisteredFilter> filters;
    std::set<GUID, GuidLess> listedCategories;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

}  // namespace

com::DeviceEntry EntryFor(const RegisteredFilter& f) {
    com::DeviceEntry entry;
    entry.displayName = L"@device:sw:" + GuidText(f.category) + L"\\" + f.instance;
    entry.properties = {{L"FriendlyName", f.name}, {L"CLSID", GuidText(f.clsid)}};
    const CLSID clsid = f.clsid;
    entry.bind = [clsid](REFIID riid, void** ppv) {
        return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, riid, ppv);
    };
    return entry;
}

namespace {

// The system device enumerator lists a category's registrations from the first one made in it.
void ListCategory(REFCLSID category) {
    {
        Registry& r = TheRegistry();
        std::lock_guard<std::mutex> lock(r.mutex);
        if (!r.listedCategories.insert(category).second) return;
    }
    const CLSID listed = category;
    com::RegisterDeviceProvider(category, 200, [listed](std::vector<com::DeviceEntry>& out) {
        for (const RegisteredFilter& f : RegisteredFilters())
            if (f.category == listed) out.push_back(EntryFor(f));
    });
}

}  // namespace

std::wstring GuidText(REFGUID guid) {
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

void RegisterFilterEntry(RegisteredFilter filter) {
    if (filter.instance.empty()) filter.instance = GuidText(filter.clsid);
    const CLSID category = filter.category;
    {
        Registry& r = TheRegistry();
        std::lock_guard<std::mutex> lock(r.mutex);
        for (RegisteredFilter& f : r.filters) {
            if (f.category == filter.category && f.instance == filter.instance) {
                f = std::move(filter);
                return;
            }
        }
        r.filters.push_back(std::move(filter));
    }
    ListCategory(category);
}

bool UnregisterFilterEntry(REFCLSID category, const std::wstring& instance) {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    for (auto it = r.filters.begin(); it != r.filters.end(); ++it) {
        if (it->category == category && it->instance == instance) {
            r.filters.erase(it);
            return true;
        }
    }
    return false;
}

std::vector<RegisteredFilter> RegisteredFilters() {
    Registry& r = TheRegistry();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.filters;
}

BuiltinFilter::BuiltinFilter(REFCLSID clsid, const wchar_t* name, DWORD merit,
                             std::initializer_list<Pin> pins) {
    RegisteredFilter f;
    f.clsid = clsid;
    f.name = name;
    f.merit = merit;
    f.category = CLSID_LegacyAmFilterCategory;
    for (const Pin& p : pins) {
        RegisteredPin pin;
        pin.flags = p.flags;
        pin.types = p.types;
        f.pins.push_back(std::move(pin));
    }
    RegisterFilterEntry(std::move(f));
}

}  // namespace lumacap::dshow
