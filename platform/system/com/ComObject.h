// The reference counting and interface lookup every simple platform object shares: an object
// that implements one interface (and that interface's bases, named by their identifiers).
//
//   class PropertyBag final : public com::ComObject<IPropertyBag, IID_IPropertyBag> { ... };
//
// Objects start with one reference, for their creator, and free themselves when the last goes.
#pragma once

#include <atomic>

#include <unknwn.h>

#include "platform/system/com/LiveObjects.h"

namespace lumacap::com {

template <typename Interface, const IID&... Iids>
class ComObject : public Interface, public LiveObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || ((riid == Iids) || ...)) {
            *ppv = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_ref; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_ref;
        if (left == 0) delete this;
        return left;
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    std::atomic<ULONG> m_ref{1};
};

}  // namespace lumacap::com
