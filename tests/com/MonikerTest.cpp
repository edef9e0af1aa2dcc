// The system device enumerator: categories, monikers and their property bags.
#include <cwchar>

#include <lumacap/sim.h>

#include "common/GraphFixture.h"

namespace lumacap::test {
namespace {

class Monikers : public SimTest {
protected:
    void SetUp() override {
        SimTest::SetUp();
        ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_ICreateDevEnum, devEnum.Out()),
                  S_OK);
    }
    void TearDown() override {
        devEnum.Reset();
        SimTest::TearDown();
    }
    ComPtr<ICreateDevEnum> devEnum;
};

TEST_F(Monikers, EmptyCategoryAnswersFalseWithoutEnumerator) {
    IEnumMoniker* monikers = reinterpret_cast<IEnumMoniker*>(0x1);
    EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_AudioCompressorCategory, &monikers, 0), S_FALSE);
    EXPECT_EQ(monikers, nullptr);
    sim::RemoveAllCameras();
    monikers = reinterpret_cast<IEnumMoniker*>(0x1);
    EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0),
              S_FALSE);
    EXPECT_EQ(monikers, nullptr);
    EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, nullptr, 0),
              E_POINTER);
}

TEST_F(Monikers, MonikersNameTheDeviceAndBindItsFilter) {
    ComPtr<IEnumMoniker> monikers;
    ASSERT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0), S_OK);
    ComPtr<IMoniker> moniker;
    ASSERT_EQ(monikers->Next(1, &moniker, nullptr), S_OK);
    LPOLESTR display = nullptr;
    ASSERT_EQ(moniker->GetDisplayName(nullptr, nullptr, &display), S_OK);
    EXPECT_NE(std::wcsstr(display, L"vid_1d6b&pid_0102"), nullptr);
    CoTaskMemFree(display);

    ComPtr<IPropertyBag> bag;
    ASSERT_EQ(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.Out()), S_OK);
    VARIANT var;
    VariantInit(&var);
    var.vt = VT_BSTR;
    ASSERT_EQ(bag->Read(L"FriendlyName", &var, nullptr), S_OK);
    EXPECT_EQ(var.vt, VT_BSTR);
    EXPECT_STREQ(var.bstrVal, L"Lumacap Virtual Camera");
    VariantClear(&var);
    EXPECT_EQ(bag->Read(L"NoSuchProperty", &var, nullptr), E_INVALIDARG);
    var.vt = VT_I4;
    EXPECT_EQ(bag->Read(L"FriendlyName", &var, nullptr), DISP_E_TYPEMISMATCH);

    ComPtr<IBaseFilter> filter;
    ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.Out()), S_OK);
    // Each bind makes a new filter for the same device.
    ComPtr<IBaseFilter> another;
    ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, another.Out()), S_OK);
    EXPECT_NE(filter.p, another.p);

    // The end of the category.
    EXPECT_EQ(monikers->Next(1, &moniker, nullptr), S_FALSE);
    EXPECT_EQ(moniker.p, nullptr);
    ASSERT_EQ(monikers->Reset(), S_OK);
    EXPECT_EQ(monikers->Next(1, &moniker, nullptr), S_OK);
}

TEST_F(Monikers, CategoriesAreAskedAfreshAtEveryEnumeration) {
    ComPtr<IEnumMoniker> before;
    ASSERT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &before, 0), S_OK);
    sim::VirtualCameraConfig extra = sim::DefaultCameraConfig();
    extra.friendlyName = "Extra";
    sim::AddCamera(extra);
    // An enumerator lists what was there when it was made; a new one sees the new device.
    ComPtr<IMoniker> m;
    int counted = 0;
    while (before->Next(1, &m, nullptr) == S_OK) ++counted;
    EXPECT_EQ(counted, 1);
    EXPECT_EQ(CountDevices(CLSID_VideoInputDeviceCategory), 2);
    EXPECT_EQ(CountDevices(CLSID_AudioInputDeviceCategory), 1);
    EXPECT_EQ(CountDevices(CLSID_VideoCompressorCategory), 4);
}

TEST_F(Monikers, FaultsReachTheCallsTheyName) {
    ComPtr<IEnumMoniker> monikers;
    sim::ArmFault("ICreateDevEnum::CreateClassEnumerator", E_OUTOFMEMORY);
    EXPECT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0),
              E_OUTOFMEMORY);
    sim::DisarmFaults();
    ASSERT_EQ(devEnum->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, &monikers, 0), S_OK);
    ComPtr<IMoniker> moniker;
    ASSERT_EQ(monikers->Next(1, &moniker, nullptr), S_OK);
    sim::ArmFault("IMoniker::GetDisplayName", E_ACCESSDENIED);
    sim::ArmFault("IMoniker::BindToObject", E_FAIL);
    LPOLESTR display = nullptr;
    EXPECT_EQ(moniker->GetDisplayName(nullptr, nullptr, &display), E_ACCESSDENIED);
    ComPtr<IBaseFilter> filter;
    EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, filter.Out()), E_FAIL);
    sim::ArmCreateFault(CLSID_SystemDeviceEnum, REGDB_E_CLASSNOTREG);
    ComPtr<ICreateDevEnum> second;
    EXPECT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICreateDevEnum, second.Out()),
              REGDB_E_CLASSNOTREG);
}

}  // namespace
}  // namespace lumacap::test
