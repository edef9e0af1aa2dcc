// The filters installed on the system, as the filter mapper registers and finds them: each with its
// merit, category and pins (direction, flags, media types, mediums, pin category). The platform's
// own filters register here at start-up, as installed filters would be; every registration is
// also listed by the system device enumerator under its category.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <strmif.h>

#include "platform/system/com/DeviceRegistry.h"

namespace lumacap::dshow {

struct RegisteredPin {
    std::wstring name;  // given only through the legacy interface
    DWORD flags = 0;    // REG_PINFLAG_B_*
    UINT instances = 0;
    GUID category = GUID_NULL;
    std::vector<std::pair<GUID, GUID>> types;  // major type, subtype (GUID_NULL: any)
    std::vector<REGPINMEDIUM> mediums;
};

struct RegisteredFilter {
    CLSID clsid = GUID_NULL;
    std::wstring name;
    DWORD merit = MERIT_DO_NOT_USE;
    CLSID category = GUID_NULL;
    std::wstring instance;  // unique within the category; the class identifier's text by default
    std::vector<RegisteredPin> pins;
};

// Adds (or replaces) the registration of the same instance in the same category.
void RegisterFilterEntry(RegisteredFilter filter);
// False when there was no such registration.
bool UnregisterFilterEntry(REFCLSID category, const std::wstring& instance);
std::vector<RegisteredFilter> RegisteredFilters();
// The moniker entry of a registration: its property bag holds "FriendlyName" and "CLSID"; binding
// creates the filter.
com::DeviceEntry EntryFor(const RegisteredFilter& filter);
// The text form of a class identifier, "{XXXXXXXX-...}".
std::wstring GuidText(REFGUID guid);

// A platform filter registered at start-up in the legacy filter category.
struct BuiltinFilter {
    struct Pin {
        DWORD flags;
        std::vector<std::pair<GUID, GUID>> types;
    };
    BuiltinFilter(REFCLSID clsid, const wchar_t* name, DWORD merit,
                  std::initializer_list<Pin> pins);
};

}  // namespace lumacap::dshow
