// The device registry behind the system device enumerator. Each category is a list of providers
// (real devices, virtual devices, installed codecs) that are asked afresh at every enumeration, so
// devices come and go; each entry becomes a moniker with a display name, a property bag and a way
// to bind its filter.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <objidl.h>

namespace lumacap::com {

struct DeviceEntry {
    std::wstring displayName;
    // Text properties of the property bag ("FriendlyName", "DevicePath", "Description", ...).
    std::vector<std::pair<std::wstring, std::wstring>> properties;
    // Creates a new filter for the device; fails when the device has gone away meanwhile.
    std::function<HRESULT(REFIID riid, void** ppv)> bind;
};

using DeviceProvider = std::function<void(std::vector<DeviceEntry>& out)>;

// Providers of a category are asked in ascending `order` (real devices before virtual ones).
void RegisterDeviceProvider(REFCLSID category, int order, DeviceProvider provider);
std::vector<DeviceEntry> EnumerateCategory(REFCLSID category);

// A moniker for one entry, with one reference.
IMoniker* CreateDeviceMoniker(DeviceEntry entry);
// An enumerator of monikers for the entries, in order, with one reference.
IEnumMoniker* CreateMonikerEnum(std::vector<DeviceEntry> entries);

struct DeviceProviderRegistration {
    DeviceProviderRegistration(REFCLSID category, int order, DeviceProvider provider) {
        RegisterDeviceProvider(category, order, std::move(provider));
    }
};

}  // namespace lumacap::com
