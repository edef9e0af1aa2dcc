// The component library: per-thread initialisation, the class registry, task memory, GUID text.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <atomic>
#include <map>
#include <mutex>
#include <string>

#include <objbase.h>

#include "platform/system/com/ClassRegistry.h"
#include "platform/system/com/LiveObjects.h"
#include "platform/sim/Faults.h"
#include "platform/system/win/Trace.h"

namespace lumacap::com {
namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const {
        return std::memcmp(&a, &b, sizeof(GUID)) < 0;
    }
};
struct ClassEntry {
    std::string name;
    CreateInstanceFn create;
};

std::mutex& RegistryMutex() {
    static std::mutex m;
    return m;
}
std::map<GUID, ClassEntry, GuidLess>& Registry() {
    static std::map<GUID, ClassEntry, GuidLess> registry;
    return registry;
}

thread_local int t_initCount = 0;

// Class objects the process registered, by cookie; the latest for a class wins.
struct ClassObject {
    GUID clsid;
    IUnknown* object;
};
std::map<DWORD, ClassObject>& ClassObjects() {
    static std::map<DWORD, ClassObject> objects;
    return objects;
}
DWORD g_nextCookie = 0;

IUnknown* RegisteredClassObject(REFCLSID clsid) {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    IUnknown* found = nullptr;
    for (const auto& [cookie, entry] : ClassObjects())
        if (entry.clsid == clsid) found = entry.object;
    if (found) found->AddRef();
    return found;
}

// The class factory of a class the system provides.
class SystemClassFactory final : public IClassFactory {
public:
    explicit SystemClassFactory(CreateInstanceFn create) : m_create(create) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IUnknown || riid == IID_IClassFactory) {
            *ppv = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_ref; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_ref;
        if (!left) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        return m_create(outer, riid, ppv);
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    CreateInstanceFn m_create;
    std::atomic<ULONG> m_ref{1};
};

// For the trace: the registered name of a class, else its identifier.
std::string ClassName(REFCLSID clsid) {
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        auto it = Registry().find(clsid);
        if (it != Registry().end() && !it->second.name.empty()) return it->second.name;
    }
    return lumacap::fault::GuidText(clsid);
}

}  // namespace

std::atomic<long>& LiveObjectCount() {
    static std::atomic<long> count{0};
    return count;
}

void RegisterComClass(REFCLSID clsid, const char* name, CreateInstanceFn create) {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    Registry()[clsid] = {name ? name : "", create};
}

void UnregisterComClass(REFCLSID clsid) {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    Registry().erase(clsid);
}

bool IsComClassRegistered(REFCLSID clsid) {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    return Registry().count(clsid) != 0;
}

}  // namespace lumacap::com

using namespace lumacap::com;

HRESULT WINAPI CoInitialize(LPVOID pvReserved) {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

HRESULT WINAPI CoInitializeEx(LPVOID, DWORD) {
    // One threading model for everything: objects here are free-threaded, so apartments only
    // count initialisations.
    return t_initCount++ == 0 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize() {
    if (t_initCount > 0) --t_initCount;
}

HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter, DWORD dwClsContext,
                                REFIID riid, LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (HRESULT hr = lumacap::fault::CheckCreate(rclsid); hr != S_OK) return hr;
    if (IUnknown* object = RegisteredClassObject(rclsid)) {
        IClassFactory* factory = nullptr;
        HRESULT hr = object->QueryInterface(IID_IClassFactory, reinterpret_cast<void**>(&factory));
        object->Release();
        if (FAILED(hr)) return hr;
        hr = factory->CreateInstance(pUnkOuter, riid, ppv);
        factory->Release();
        return hr;
    }
    CreateInstanceFn create = nullptr;
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        auto it = Registry().find(rclsid);
        if (it != Registry().end()) create = it->second.create;
    }
    const HRESULT hr = (!create || !(dwClsContext & CLSCTX_INPROC)) ? REGDB_E_CLASSNOTREG
                                                                    : create(pUnkOuter, riid, ppv);
    LUMACAP_TRACE(kCom, "CoCreateInstance %s: 0x%08X", ClassName(rclsid).c_str(),
                  static_cast<unsigned>(hr));
    return hr;
}

HRESULT WINAPI CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk, DWORD, DWORD,
                                     LPDWORD lpdwRegister) {
    if (!pUnk || !lpdwRegister) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(RegistryMutex());
    pUnk->AddRef();
    *lpdwRegister = ++g_nextCookie;
    ClassObjects()[*lpdwRegister] = {rclsid, pUnk};
    return S_OK;
}

HRESULT WINAPI CoRevokeClassObject(DWORD dwRegister) {
    IUnknown* object = nullptr;
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        auto it = ClassObjects().find(dwRegister);
        if (it == ClassObjects().end()) return CO_E_OBJNOTREG;
        object = it->second.object;
        ClassObjects().erase(it);
    }
    // Released outside the lock: the object's destructor may create or register classes.
    object->Release();
    return S_OK;
}

HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, COSERVERINFO*, REFIID riid,
                                LPVOID* ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IUnknown* object = RegisteredClassObject(rclsid)) {
        const HRESULT hr = object->QueryInterface(riid, ppv);
        object->Release();
        return hr;
    }
    CreateInstanceFn create = nullptr;
    {
        std::lock_guard<std::mutex> lock(RegistryMutex());
        auto it = Registry().find(rclsid);
        if (it != Registry().end()) create = it->second.create;
    }
    if (!create || !(dwClsContext & CLSCTX_INPROC)) return REGDB_E_CLASSNOTREG;
    auto* factory = new SystemClassFactory(create);
    const HRESULT hr = factory->QueryInterface(riid, ppv);
    factory->Release();
    return hr;
}

LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb) {
    return std::malloc(cb ? cb : 1);
}
LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    return std::realloc(pv, cb ? cb : 1);
}
void WINAPI CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}

int WINAPI StringFromGUID2(REFGUID g, LPOLESTR lpsz, int cchMax) {
    if (!lpsz || cchMax < 39) return 0;
    std::swprintf(lpsz, static_cast<size_t>(cchMax),
                  L"{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1, g.Data2, g.Data3,
                  g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                  g.Data4[6], g.Data4[7]);
    return 39;
}

HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) {
    if (!lpsz || !pclsid) return E_INVALIDARG;
    unsigned d1, d2, d3, b[8];
    if (std::swscanf(lpsz, L"{%8x-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0], &b[1],
                     &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]) != 11)
        return CO_E_CLASSSTRING;
    pclsid->Data1 = d1;
    pclsid->Data2 = static_cast<uint16_t>(d2);
    pclsid->Data3 = static_cast<uint16_t>(d3);
    for (int i = 0; i < 8; ++i) pclsid->Data4[i] = static_cast<uint8_t>(b[i]);
    return S_OK;
}
