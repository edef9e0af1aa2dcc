// The library's application object: constructed when the library is loaded, it initialises the
// component library on the loading thread and releases it when the library is unloaded.
#include <afxwin.h>
#include <objbase.h>

namespace {

class CLumacapApp : public CWinApp {
public:
    CLumacapApp() : CWinApp("Lumacap") {}

    BOOL InitInstance() override {
        CoInitialize(nullptr);
        return CWinApp::InitInstance();
    }

    int ExitInstance() override {
        CoUninitialize();
        return CWinApp::ExitInstance();
    }
};

CLumacapApp theApp;

// Loading runs InitInstance after the object exists; unloading runs ExitInstance before it goes
// (objects of one file are constructed in order and destroyed in reverse).
struct ModuleLifetime {
    ModuleLifetime() { theApp.InitInstance(); }
    ~ModuleLifetime() { theApp.ExitInstance(); }
} s_lifetime;

}  // namespace
