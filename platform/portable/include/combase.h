// Objects of the filter base classes: the live-object count, reference counting with aggregation,
// and the class-factory helper.
#pragma once

#include <atomic>
#include <utility>

#include "dshow.h"
#include "lumacap_export.h"

// ---- objects and reference counting -------------------------------------------------------------

// The non-delegating half of an aggregatable object.
interface INonDelegatingUnknown {
    virtual HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingAddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE NonDelegatingRelease() = 0;
};

// Every object of the framework counts itself here (lumacap::sim::LiveObjects reads the count).
class LUMACAP_API CBaseObject {
public:
    explicit CBaseObject(LPCTSTR pName);
    CBaseObject(const CBaseObject&) = delete;
    CBaseObject& operator=(const CBaseObject&) = delete;
    virtual ~CBaseObject();
    static LONG ObjectsActive();

protected:
    LPCTSTR m_pName;
};

class LUMACAP_API CUnknown : public INonDelegatingUnknown, public CBaseObject {
public:
    CUnknown(LPCTSTR pName, LPUNKNOWN pUnk, HRESULT* phr = nullptr);
    virtual ~CUnknown() = default;

    HRESULT STDMETHODCALLTYPE NonDelegatingQueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE NonDelegatingAddRef() override;
    ULONG STDMETHODCALLTYPE NonDelegatingRelease() override;

    // The outer object when aggregated, otherwise this object's own identity.
    LPUNKNOWN GetOwner() const {
        return m_pUnknown ? m_pUnknown : const_cast<OwnerUnknown*>(&m_ownUnknown);
    }

protected:
    std::atomic<LONG> m_cRef{0};

private:
    template <class T, typename... Args>
    friend HRESULT CreateComInstance(IUnknown* outer, REFIID riid, void** ppv, Args&&... args);

    // The object's IUnknown when it is not aggregated: a real IUnknown that forwards to the
    // non-delegating methods (rather than reinterpreting the non-delegating interface).
    struct OwnerUnknown final : public IUnknown {
        explicit OwnerUnknown(CUnknown* self) : m_self(self) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
            return m_self->NonDelegatingQueryInterface(riid, ppv);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return m_self->NonDelegatingAddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return m_self->NonDelegatingRelease(); }
        CUnknown* m_self;
    };
    OwnerUnknown m_ownUnknown{this};
    LPUNKNOWN m_pUnknown;  // the outer object, or null
};

// Hands out an interface with a reference.
LUMACAP_API HRESULT GetInterface(LPUNKNOWN pUnk, void** ppv);

// The three IUnknown methods of a CUnknown-derived class, delegating to its owner.
#define DECLARE_IUNKNOWN                                            \
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override { \
        return GetOwner()->QueryInterface(riid, ppv);               \
    }                                                               \
    STDMETHODIMP_(ULONG) AddRef() override {                        \
        return GetOwner()->AddRef();                                \
    }                                                               \
    STDMETHODIMP_(ULONG) Release() override {                       \
        return GetOwner()->Release();                               \
    }

#define NAME(x) (x)

// An outer object waiting for the object a factory is about to build. Device filters are made by
// their providers' bind functions, which take no outer object: a factory that binds a device for
// an outer object opens a scope around the bind, and the first object built through
// CreateComInstance on this thread inside it becomes part of the outer object.
class LUMACAP_API CAggregationScope {
public:
    explicit CAggregationScope(LPUNKNOWN outer);
    ~CAggregationScope();
    CAggregationScope(const CAggregationScope&) = delete;
    CAggregationScope& operator=(const CAggregationScope&) = delete;
    // The waiting outer object, now taken (null when there is none).
    static LPUNKNOWN Take();

private:
    LPUNKNOWN m_previous;
};

// The class-factory side of an object built on CUnknown: constructs T from `args` and an
// HRESULT out-parameter for the constructor's own failures, answers its `riid` interface with one
// reference, and frees it when either step fails. With an outer object the new one is aggregated
// into it and hands out only its own non-delegating IUnknown, as COM requires.
template <class T, typename... Args>
HRESULT CreateComInstance(IUnknown* outer, REFIID riid, void** ppv, Args&&... args) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (!outer) outer = CAggregationScope::Take();
    if (outer && riid != IID_IUnknown) return E_NOINTERFACE;
    HRESULT hr = S_OK;
    T* object = new T(std::forward<Args>(args)..., &hr);
    // Nothing has seen the object yet, so joining the outer object now is as if at construction.
    if (outer) static_cast<CUnknown*>(object)->m_pUnknown = outer;
    object->NonDelegatingAddRef();
    if (SUCCEEDED(hr)) hr = object->NonDelegatingQueryInterface(riid, ppv);
    object->NonDelegatingRelease();
    return hr;
}
