// What the filter graph manager, the capture graph builder and the standard filters share inside
// the platform: the filter mapper's factory and small pin helpers.
#pragma once

#include <vector>

#include <strmif.h>

namespace lumacap::dshow {

// A filter mapper, aggregated into `outer` when one is given.
HRESULT CreateFilterMapper(IUnknown* outer, REFIID riid, void** ppv);

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
