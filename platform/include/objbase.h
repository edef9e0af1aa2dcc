// The component library: per-thread initialisation, object creation through the class registry,
// task memory and GUID strings.
#pragma once

#include "unknwn.h"
#include "winbase.h"

typedef enum tagCLSCTX {
    CLSCTX_INPROC_SERVER = 0x1,
    CLSCTX_INPROC_HANDLER = 0x2,
    CLSCTX_LOCAL_SERVER = 0x4,
    CLSCTX_REMOTE_SERVER = 0x10,
} CLSCTX;
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_ALL \
    (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

typedef enum tagCOINIT {
    COINIT_APARTMENTTHREADED = 0x2,
    COINIT_MULTITHREADED = 0x0,
    COINIT_DISABLE_OLE1DDE = 0x4,
} COINIT;

// Initialisation is counted per thread: the first call on a thread answers S_OK, later ones
// S_FALSE; each must be matched by a CoUninitialize on the same thread.
LUMACAP_API HRESULT WINAPI CoInitialize(LPVOID pvReserved);
LUMACAP_API HRESULT WINAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit);
LUMACAP_API void WINAPI CoUninitialize();
// Unknown classes answer REGDB_E_CLASSNOTREG. A class object registered by the process comes
// before the class the system provides.
LUMACAP_API HRESULT WINAPI CoCreateInstance(REFCLSID rclsid, LPUNKNOWN pUnkOuter,
                                            DWORD dwClsContext, REFIID riid, LPVOID* ppv);

typedef enum tagREGCLS {
    REGCLS_SINGLEUSE = 0,
    REGCLS_MULTIPLEUSE = 1,
    REGCLS_MULTI_SEPARATE = 2,
    REGCLS_SUSPENDED = 4,
    REGCLS_SURROGATE = 8,
} REGCLS;
typedef struct _COSERVERINFO COSERVERINFO;

// A class object (an IClassFactory) of the process's own: CoCreateInstance and CoGetClassObject
// use it for `rclsid` until it is revoked with the cookie.
LUMACAP_API HRESULT WINAPI CoRegisterClassObject(REFCLSID rclsid, LPUNKNOWN pUnk,
                                                 DWORD dwClsContext, DWORD flags,
                                                 LPDWORD lpdwRegister);
LUMACAP_API HRESULT WINAPI CoRevokeClassObject(DWORD dwRegister);
LUMACAP_API HRESULT WINAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext,
                                            COSERVERINFO* pServerInfo, REFIID riid, LPVOID* ppv);
LUMACAP_API LPVOID WINAPI CoTaskMemAlloc(SIZE_T cb);
LUMACAP_API LPVOID WINAPI CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
LUMACAP_API void WINAPI CoTaskMemFree(LPVOID pv);
LUMACAP_API int WINAPI StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax);
LUMACAP_API HRESULT WINAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid);
