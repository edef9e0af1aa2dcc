// Standard classes made from parts that live elsewhere: the memory allocator of the filter base
// classes, and the audio capture filter, which is the first audio input device's.
#include <streams.h>

#include "platform/system/com/ClassRegistry.h"
#include "platform/system/com/DeviceRegistry.h"

namespace lumacap::dshow {
namespace {

HRESULT CreateMemoryAllocator(IUnknown* outer, REFIID riid, void** ppv) {
    return CreateComInstance<CMemAllocator>(outer, riid, ppv, NAME("Memory Allocator"),
                                            static_cast<LPUNKNOWN>(nullptr));
}

// The device's own factory builds the filter; the scope hands it the outer object, if any.
HRESULT CreateAudioRecord(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && riid != IID_IUnknown) return E_NOINTERFACE;
    const auto devices = com::EnumerateCategory(CLSID_AudioInputDeviceCategory);
    if (devices.empty() || !devices.front().bind) return VFW_E_NO_CAPTURE_HARDWARE;
    CAggregationScope scope(outer);
    return devices.front().bind(riid, ppv);
}

}  // namespace
}  // namespace lumacap::dshow

LUMACAP_REGISTER_CLASS(CLSID_MemoryAllocator, "Memory Allocator",
                       lumacap::dshow::CreateMemoryAllocator);
LUMACAP_REGISTER_CLASS(CLSID_AudioRecord, "Audio Capture Filter",
                       lumacap::dshow::CreateAudioRecord);
