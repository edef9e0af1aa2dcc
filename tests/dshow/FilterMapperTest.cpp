// The filter mapper: registrations found by type and merit, through both interfaces, and
// intelligent connect choosing an application's registered filter by its merit.
#include "common/GraphFixture.h"

namespace lumacap::test {
namespace {

constexpr CLSID CLSID_TestConverter = {
    0x3e5e7d21, 0x8a41, 0x4c1b, {0x9d, 0x02, 0xa1, 0xb2, 0xc3, 0xd4, 0xe5, 0xf6}};

const REGPINTYPES kYuy2 = {&MEDIATYPE_Video, &MEDIASUBTYPE_YUY2};
const REGPINTYPES kRgb = {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24};

// The application's converter: a colour space converter under another class and name.
class ConverterFactory final : public IClassFactory {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *ppv = this;
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        ++created;
        return CoCreateInstance(CLSID_Colour, outer, CLSCTX_INPROC_SERVER, riid, ppv);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
    int created = 0;
};

class FilterMapping : public GraphTest {
protected:
    void SetUp() override {
        GraphTest::SetUp();
        ASSERT_EQ(CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IFilterMapper2, mapper.Out()),
                  S_OK);
    }
    void TearDown() override {
        mapper->UnregisterFilter(nullptr, nullptr, CLSID_TestConverter);
        mapper.Reset();
        GraphTest::TearDown();
    }
    void Register(DWORD merit) {
        const REGFILTERPINS2 pins[2] = {{0, 1, 1, &kYuy2, 0, nullptr, nullptr},
                                        {REG_PINFLAG_B_OUTPUT, 1, 1, &kRgb, 0, nullptr, nullptr}};
        REGFILTER2 rf{};
        rf.dwVersion = 2;
        rf.dwMerit = merit;
        rf.cPins2 = 2;
        rf.rgPins2 = pins;
        ASSERT_EQ(mapper->RegisterFilter(CLSID_TestConverter, L"Test Converter", nullptr, nullptr,
                                         nullptr, &rf),
                  S_OK);
    }
    // Friendly names of the filters taking YUY2 video and giving something out, best first.
    std::vector<std::wstring> Matching(BOOL exact) {
        const GUID types[2] = {MEDIATYPE_Video, MEDIASUBTYPE_YUY2};
        ComPtr<IEnumMoniker> found;
        EXPECT_EQ(
            mapper->EnumMatchingFilters(&found, 0, exact, MERIT_UNLIKELY, TRUE, 1, types, nullptr,
                                        nullptr, FALSE, TRUE, 0, nullptr, nullptr, nullptr),
            S_OK);
        std::vector<std::wstring> names;
        ComPtr<IMoniker> moniker;
        while (found->Next(1, &moniker, nullptr) == S_OK) {
            ComPtr<IPropertyBag> bag;
            moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.Out());
            VARIANT v;
            VariantInit(&v);
            bag->Read(L"FriendlyName", &v, nullptr);
            names.push_back(v.bstrVal);
            VariantClear(&v);
        }
        return names;
    }
    ComPtr<IFilterMapper2> mapper;
};

TEST_F(FilterMapping, RegistrationsAreFoundByTypeInMeritOrder) {
    Register(MERIT_NORMAL + 1);
    EXPECT_EQ(Matching(FALSE),
              (std::vector<std::wstring>{L"Test Converter", L"Color Space Converter"}));
    // Exactly: the colour converter registered no particular subtype.
    EXPECT_EQ(Matching(TRUE), std::vector<std::wstring>{L"Test Converter"});
    Register(MERIT_DO_NOT_USE);  // registered again, below the merit asked for
    EXPECT_EQ(Matching(FALSE), std::vector<std::wstring>{L"Color Space Converter"});
    ASSERT_EQ(mapper->UnregisterFilter(nullptr, nullptr, CLSID_TestConverter), S_OK);
    EXPECT_EQ(mapper->UnregisterFilter(nullptr, nullptr, CLSID_TestConverter),
              HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND));

    // The legacy interface builds a registration pin by pin.
    ComPtr<IFilterMapper> legacy;
    ASSERT_EQ(mapper->QueryInterface(IID_IFilterMapper, legacy.Out()), S_OK);
    ASSERT_EQ(legacy->RegisterFilter(CLSID_TestConverter, L"Old Converter", MERIT_NORMAL), S_OK);
    ASSERT_EQ(legacy->RegisterPin(CLSID_TestConverter, L"In", FALSE, FALSE, FALSE, FALSE, GUID_NULL,
                                  nullptr),
              S_OK);
    ASSERT_EQ(
        legacy->RegisterPinType(CLSID_TestConverter, L"In", MEDIATYPE_Video, MEDIASUBTYPE_YUY2),
        S_OK);
    ComPtr<IEnumRegFilters> regs;
    ASSERT_EQ(legacy->EnumMatchingFilters(&regs, MERIT_NORMAL, TRUE, MEDIATYPE_Video,
                                          MEDIASUBTYPE_YUY2, FALSE, FALSE, GUID_NULL, GUID_NULL),
              S_OK);
    REGFILTER* reg = nullptr;
    ASSERT_EQ(regs->Next(1, &reg, nullptr), S_OK);
    EXPECT_EQ(reg->Clsid, CLSID_TestConverter);
    EXPECT_STREQ(reg->Name, L"Old Converter");
    CoTaskMemFree(reg);
    EXPECT_EQ(regs->Next(1, &reg, nullptr), S_FALSE);
    EXPECT_EQ(legacy->UnregisterFilter(CLSID_TestConverter), S_OK);
}

TEST_F(FilterMapping, ConnectChoosesTheRegisteredFilterWithTheBestMerit) {
    ConverterFactory factory;
    DWORD cookie = 0;
    ASSERT_EQ(CoRegisterClassObject(CLSID_TestConverter, &factory, CLSCTX_INPROC_SERVER,
                                    REGCLS_MULTIPLEUSE, &cookie),
              S_OK);
    Register(MERIT_NORMAL + 1);
    ComPtr<IBaseFilter> cam(BindDevice(CLSID_VideoInputDeviceCategory, 0));
    ComPtr<IBaseFilter> video(Create(CLSID_VideoRenderer));
    graph->AddFilter(cam, L"Camera");
    graph->AddFilter(video, L"Video");
    ComPtr<IPin> out(FindPinByDirection(cam, PINDIR_OUTPUT));
    ComPtr<IPin> in(FindPinByDirection(video, PINDIR_INPUT));
    AM_MEDIA_TYPE* yuy2 = CameraCapability(cam, "YUY2", 640, 480);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(out->QueryInterface(IID_IAMStreamConfig, config.Out()), S_OK);
    ASSERT_EQ(config->SetFormat(yuy2), S_OK);
    DeleteMediaType(yuy2);
    ASSERT_EQ(graph->Connect(out, in), S_OK);
    EXPECT_TRUE(HasFilter(L"Test Converter"));
    EXPECT_FALSE(HasFilter(L"Color Space Converter"));
    EXPECT_EQ(factory.created, 1);
    graph.Reset();  // the graph holds the converter; release it before the class goes
    control.Reset();
    events.Reset();
    builder.Reset();
    EXPECT_EQ(CoRevokeClassObject(cookie), S_OK);
    EXPECT_EQ(CoRevokeClassObject(cookie), CO_E_OBJNOTREG);
}

}  // namespace
}  // namespace lumacap::test
