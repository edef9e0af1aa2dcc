// The null renderer: takes anything, shows nothing. (The video renderer has its own file.)
#include <cstring>
#include <mutex>
#include <vector>

#include <control.h>
#include <qedit.h>
#include <streams.h>
#include <windows.h>

#include "platform/system/com/ClassRegistry.h"
#include "platform/system/dshow/FilterRegistry.h"
#include "platform/sim/Faults.h"

namespace lumacap::dshow {
namespace {

class NullRenderer final : public CBaseRenderer {
public:
    explicit NullRenderer(HRESULT* phr)
        : CBaseRenderer(CLSID_NullRenderer, NAME("Null Renderer"), nullptr, phr) {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT DoRenderSample(IMediaSample*) override { return S_OK; }
};

}  // namespace

LUMACAP_REGISTER_CLASS(CLSID_NullRenderer, "Null Renderer", CreateComInstance<NullRenderer>);
// Installed in the legacy filter category, where the mapper finds it.
static const BuiltinFilter s_nullRenderer(CLSID_NullRenderer, L"Null Renderer", MERIT_DO_NOT_USE,
                                          {{REG_PINFLAG_B_RENDERER, {{GUID_NULL, GUID_NULL}}}});

}  // namespace lumacap::dshow
