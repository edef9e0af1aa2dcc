// The component library: initialisation per thread, creation through the registry, fault points.
#include <thread>

#include <objbase.h>

#include "common/SimTest.h"
#include "platform/system/com/ClassRegistry.h"
#include "platform/system/com/LiveObjects.h"
#include "platform/sim/Faults.h"

namespace lumacap::test {
namespace {

class ComCoreTest : public SimTest {};

DEFINE_GUID(CLSID_TestThing, 0x11111111, 0x2222, 0x3333, 0x44, 0x55, 0x66, 0x77, 0x88, 0x99, 0xaa,
            0xbb);

class Thing : public IUnknown, public com::LiveObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid != IID_IUnknown) {
            *ppv = nullptr;
            return E_NOINTERFACE;
        }
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG r = --m_refs;
        if (r == 0) delete this;
        return r;
    }
    virtual ~Thing() = default;

private:
    ULONG m_refs = 0;
};

HRESULT CreateThing(IUnknown* outer, REFIID riid, void** ppv) {
    if (outer) return CLASS_E_NOAGGREGATION;
    auto* t = new Thing();
    t->AddRef();
    const HRESULT hr = t->QueryInterface(riid, ppv);
    t->Release();
    return hr;
}

TEST_F(ComCoreTest, InitialisationIsCountedPerThread) {
    // The library initialised the loading thread, which runs the tests.
    EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
    CoUninitialize();
    std::thread other([] {
        EXPECT_EQ(CoInitialize(nullptr), S_OK);
        EXPECT_EQ(CoInitialize(nullptr), S_FALSE);
        CoUninitialize();
        CoUninitialize();
        EXPECT_EQ(CoInitialize(nullptr), S_OK) << "fully uninitialised threads start again";
        CoUninitialize();
    });
    other.join();
}

TEST_F(ComCoreTest, CreationGoesThroughTheRegistryAndCanBeMadeToFail) {
    IUnknown* p = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&p)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(p, nullptr);
    com::RegisterComClass(CLSID_TestThing, "Test thing", CreateThing);
    const long before = sim::LiveObjects();
    ASSERT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&p)),
              S_OK);
    EXPECT_EQ(sim::LiveObjects(), before + 1);
    EXPECT_EQ(p->Release(), 0u);
    EXPECT_EQ(sim::LiveObjects(), before);
    EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IClassFactory,
                               reinterpret_cast<void**>(&p)),
              E_NOINTERFACE);
    EXPECT_EQ(
        CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
        E_POINTER);

    sim::ArmCreateFault(CLSID_TestThing, E_OUTOFMEMORY, 2);
    EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(&p)),
              S_OK);
    p->Release();
    EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(&p)),
              E_OUTOFMEMORY);
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(CoCreateInstance(CLSID_TestThing, nullptr, CLSCTX_ALL, IID_IUnknown,
                               reinterpret_cast<void**>(&p)),
              S_OK);
    p->Release();
    EXPECT_EQ(sim::CreateFaultHits(CLSID_TestThing), 1);
    com::UnregisterComClass(CLSID_TestThing);
}

TEST_F(ComCoreTest, FaultPointsFailOnlyWhileArmed) {
    auto call = []() -> HRESULT {
        LUMACAP_FAULT_POINT("ITest::Method");
        return S_OK;
    };
    EXPECT_EQ(call(), S_OK);
    sim::ArmFault("ITest::Method", VFW_E_NOT_CONNECTED);
    EXPECT_EQ(call(), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(call(), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(sim::FaultHits("ITest::Method"), 2);
    sim::ArmFault("ITest::Method", S_FALSE, 3);
    EXPECT_EQ(call(), S_OK);
    EXPECT_EQ(call(), S_OK);
    EXPECT_EQ(call(), S_FALSE) << "success codes can be injected too";
    EXPECT_EQ(call(), S_OK);
    sim::DisarmFaults();
    EXPECT_EQ(call(), S_OK);
    EXPECT_EQ(sim::FaultHits("ITest::Method"), 0);
}

TEST_F(ComCoreTest, GuidsRoundTripThroughText) {
    wchar_t text[39];
    EXPECT_EQ(StringFromGUID2(IID_IUnknown, text, 39), 39);
    EXPECT_STREQ(text, L"{00000000-0000-0000-C000-000000000046}");
    EXPECT_EQ(StringFromGUID2(IID_IUnknown, text, 38), 0);
    CLSID back;
    EXPECT_EQ(CLSIDFromString(L"{11111111-2222-3333-4455-66778899AABB}", &back), S_OK);
    EXPECT_TRUE(back == CLSID_TestThing);
    EXPECT_EQ(CLSIDFromString(L"not a guid", &back), CO_E_CLASSSTRING);
    EXPECT_EQ(fault::GuidText(CLSID_TestThing), "{11111111-2222-3333-4455-66778899AABB}");
}

}  // namespace
}  // namespace lumacap::test
