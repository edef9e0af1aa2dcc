// Automation base types: BSTR, VARIANT_BOOL, VARTYPE, and the automation handle types.
#pragma once

#include "guiddef.h"
#include "windef.h"

typedef OLECHAR* BSTR;
typedef BSTR* LPBSTR;
typedef short VARIANT_BOOL;
typedef unsigned short VARTYPE;
typedef LONG DISPID;
typedef LONG_PTR OAHWND;
typedef LONG_PTR OAEVENT;
typedef long OAFilterState;
#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)
#define OATRUE (-1)
#define OAFALSE (0)

typedef struct tagCAUUID {
    ULONG cElems;
    GUID* pElems;
} CAUUID;
