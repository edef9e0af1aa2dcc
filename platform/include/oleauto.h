// Automation: BSTR allocation and VARIANT.
#pragma once

#include "unknwn.h"
#include "wtypes.h"

interface IDispatch;

enum VARENUM {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
};

typedef struct tagVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        FLOAT fltVal;
        DOUBLE dblVal;
        VARIANT_BOOL boolVal;
        HRESULT scode;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        void* byref;
    };
} VARIANT, *LPVARIANT, VARIANTARG;

// A BSTR is a length-prefixed wide string; SysStringLen answers its length without scanning.
LUMACAP_API BSTR WINAPI SysAllocString(const OLECHAR* psz);
LUMACAP_API BSTR WINAPI SysAllocStringLen(const OLECHAR* strIn, UINT ui);
LUMACAP_API void WINAPI SysFreeString(BSTR bstrString);
LUMACAP_API UINT WINAPI SysStringLen(BSTR pbstr);
LUMACAP_API void WINAPI VariantInit(VARIANTARG* pvarg);
LUMACAP_API HRESULT WINAPI VariantClear(VARIANTARG* pvarg);
LUMACAP_API HRESULT WINAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc);
