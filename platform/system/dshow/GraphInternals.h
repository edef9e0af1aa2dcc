// What the filter graph manager, the capture graph builder and the standard filters share inside
// the platform: the intermediate filters intelligent connect may insert, and small pin helpers.
#pragma once

#include <string>
#include <vector>

#include <strmif.h>

namespace lumacap::dshow {

// A registered converter intelligent connect may insert (higher merit is tried first).
struct IntermediateFilter {
    CLSID clsid;
    std::wstring name;
    int merit;
};
void RegisterIntermediateFilter(REFCLSID clsid, const wchar_t* name, int merit);
std::vector<IntermediateFilter> IntermediateFilters();

struct IntermediateRegistration {
    IntermediateRegistration(REFCLSID clsid, const wchar_t* name, int merit) {
        RegisterIntermediateFilter(clsid, name, merit);
    }
};

// Pins of a filter in its own order, each with a reference.
std::vector<IPin*> PinsOf(IBaseFilter* filter);
void ReleasePins(std::vector<IPin*>& pins);
PIN_DIRECTION DirectionOf(IPin* pin);
// The filter a pin belongs to, with a reference (null if it will not say).
IBaseFilter* FilterOfPin(IPin* pin);
// The category of a pin (AMPROPSETID_Pin through IKsPropertySet), or GUID_NULL.
GUID CategoryOfPin(IPin* pin);
// Whether a pin offers (or is connected with) a type of this major type.
bool PinHasMajorType(IPin* pin, const GUID& majortype);

}  // namespace lumacap::dshow
