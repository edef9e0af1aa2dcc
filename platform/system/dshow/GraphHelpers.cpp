// Small pin helpers the graph, the capture graph builder and the standard filters share.
#include <streams.h>

#include "platform/system/dshow/GraphInternals.h"

namespace lumacap::dshow {

std::vector<IPin*> PinsOf(IBaseFilter* filter) {
    std::vector<IPin*> pins;
    if (!filter) return pins;
    IEnumPins* e = nullptr;
    if (FAILED(filter->EnumPins(&e)) || !e) return pins;
    IPin* pin = nullptr;
    while (e->Next(1, &pin, nullptr) == S_OK && pin) {
        pins.push_back(pin);
        pin = nullptr;
    }
    e->Release();
    return pins;
}

void ReleasePins(std::vector<IPin*>& pins) {
    for (IPin* p : pins) p->Release();
    pins.clear();
}

PIN_DIRECTION DirectionOf(IPin* pin) {
    PIN_DIRECTION dir = PINDIR_INPUT;
    pin->QueryDirection(&dir);
    return dir;
}

IBaseFilter* FilterOfPin(IPin* pin) {
    PIN_INFO info{};
    if (FAILED(pin->QueryPinInfo(&info))) return nullptr;
    return info.pFilter;
}

GUID CategoryOfPin(IPin* pin) {
    GUID category = GUID_NULL;
    IKsPropertySet* props = nullptr;
    if (SUCCEEDED(pin->QueryInterface(IID_IKsPropertySet, reinterpret_cast<void**>(&props))) &&
        props) {
        DWORD returned = 0;
        if (FAILED(props->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                              sizeof(category), &returned)))
            category = GUID_NULL;
        props->Release();
    }
    return category;
}

bool PinHasMajorType(IPin* pin, const GUID& majortype) {
    AM_MEDIA_TYPE connected{};
    if (pin->ConnectionMediaType(&connected) == S_OK) {
        const bool match = connected.majortype == majortype;
        FreeMediaType(connected);
        return match;
    }
    IEnumMediaTypes* e = nullptr;
    if (FAILED(pin->EnumMediaTypes(&e)) || !e) return false;
    bool found = false;
    AM_MEDIA_TYPE* mt = nullptr;
    while (!found && e->Next(1, &mt, nullptr) == S_OK && mt) {
        found = mt->majortype == majortype;
        DeleteMediaType(mt);
        mt = nullptr;
    }
    e->Release();
    return found;
}

}  // namespace lumacap::dshow
