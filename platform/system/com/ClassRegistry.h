// The class registry behind CoCreateInstance. Platform components register their class
// identifiers at start-up, as installed system components would be.
#pragma once

#include <objbase.h>

namespace lumacap::com {

// Creates an object of the class and answers its `riid` interface, with one reference.
using CreateInstanceFn = HRESULT (*)(IUnknown* outer, REFIID riid, void** ppv);

void RegisterComClass(REFCLSID clsid, const char* name, CreateInstanceFn create);
void UnregisterComClass(REFCLSID clsid);
bool IsComClassRegistered(REFCLSID clsid);

// Registers a class from a static object: LUMACAP_REGISTER_CLASS(CLSID_NullRenderer, "Null
// Renderer", Fn).
struct ClassRegistration {
    ClassRegistration(REFCLSID clsid, const char* name, CreateInstanceFn create) {
        RegisterComClass(clsid, name, create);
    }
};

}  // namespace lumacap::com

#define LUMACAP_REGISTER_CLASS_CONCAT2(a, b) a##b
#define LUMACAP_REGISTER_CLASS_CONCAT(a, b) LUMACAP_REGISTER_CLASS_CONCAT2(a, b)
#define LUMACAP_REGISTER_CLASS(clsid, name, fn)                             \
    static ::lumacap::com::ClassRegistration LUMACAP_REGISTER_CLASS_CONCAT( \
        s_classRegistration, __LINE__)(clsid, name, fn)
