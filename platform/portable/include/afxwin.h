// The windowing framework (the parts the library uses): the application and thread objects,
// module state, and the window classes declared in afxwnd.h.
#pragma once

#include <windows.h>

#include <lumacap_export.h>

#include "afxstr.h"
#include "afxwnd.h"

// The framework's thread object; the application object is the thread object of the thread that
// created it.
class LUMACAP_API CWinThread {
public:
    CWinThread() = default;
    virtual ~CWinThread() = default;
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance() { return 0; }
    // The main window of the application, if the host has set one
    // (AfxGetApp()->m_pMainWnd = CWnd::FromHandle(hwnd)).
    virtual CWnd* GetMainWnd() { return m_pMainWnd; }

    CWnd* m_pMainWnd = nullptr;
};

class LUMACAP_API CWinApp : public CWinThread {
public:
    explicit CWinApp(LPCSTR lpszAppName = nullptr);
    ~CWinApp() override;

    LPCSTR m_pszAppName = nullptr;
};

// The application object of the module the caller belongs to, and the framework thread object of
// the calling thread (the application object, on any thread, in a library).
LUMACAP_API CWinApp* AfxGetApp();
LUMACAP_API CWinThread* AfxGetThread();

// Module state: a library switches to its own resources at its entry points. The platform keeps
// one resource search path, so switching records the module and has no other effect.
struct AFX_MODULE_STATE {
    HMODULE m_hCurrentResourceHandle;
};
LUMACAP_API AFX_MODULE_STATE* AfxGetStaticModuleState();
LUMACAP_API HINSTANCE AfxGetResourceHandle();

class AFX_MAINTAIN_STATE2 {
public:
    explicit AFX_MAINTAIN_STATE2(AFX_MODULE_STATE* state);
    ~AFX_MAINTAIN_STATE2();
    AFX_MAINTAIN_STATE2(const AFX_MAINTAIN_STATE2&) = delete;
    AFX_MAINTAIN_STATE2& operator=(const AFX_MAINTAIN_STATE2&) = delete;

private:
    AFX_MODULE_STATE* m_pPrevious;
};
#define AFX_MANAGE_STATE(p) AFX_MAINTAIN_STATE2 _ctlState(p)
