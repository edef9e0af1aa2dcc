// The framework's application object and module state.
#include <afxwin.h>

namespace {
CWinApp* g_app = nullptr;
thread_local AFX_MODULE_STATE* t_moduleState = nullptr;

AFX_MODULE_STATE* LibraryModuleState() {
    // The library's resources live in the module that holds this code.
    static AFX_MODULE_STATE state{[] {
        HMODULE module = nullptr;
        GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&LibraryModuleState), &module);
        return module;
    }()};
    return &state;
}
}  // namespace

CWinApp::CWinApp(LPCSTR lpszAppName) : m_pszAppName(lpszAppName) {
    if (!g_app) g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

CWinApp* AfxGetApp() {
    return g_app;
}
CWinThread* AfxGetThread() {
    return g_app;
}

AFX_MODULE_STATE* AfxGetStaticModuleState() {
    return LibraryModuleState();
}

HINSTANCE AfxGetResourceHandle() {
    AFX_MODULE_STATE* state = t_moduleState ? t_moduleState : LibraryModuleState();
    return state->m_hCurrentResourceHandle;
}

AFX_MAINTAIN_STATE2::AFX_MAINTAIN_STATE2(AFX_MODULE_STATE* state) : m_pPrevious(t_moduleState) {
    t_moduleState = state;
}

AFX_MAINTAIN_STATE2::~AFX_MAINTAIN_STATE2() {
    t_moduleState = m_pPrevious;
}
