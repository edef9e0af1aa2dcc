// OLE controls: the modal property frame that shows an object's property pages.
#pragma once

#include "objbase.h"
#include "windows.h"

// Shows the pages `pPageClsID` for the objects `ppUnk` in a modal frame owned by `hwndOwner`, at
// (x, y) in the owner's client coordinates, and returns when the user closes it. Pages this
// platform knows (video processing, camera control) list each control of the first object with its
// range and current value; a change is applied to the object at once.
LUMACAP_API HRESULT WINAPI OleCreatePropertyFrame(HWND hwndOwner, UINT x, UINT y,
                                                  LPCOLESTR lpszCaption, ULONG cObjects,
                                                  LPUNKNOWN* ppUnk, ULONG cPages,
                                                  LPCLSID pPageClsID, LCID lcid, DWORD dwReserved,
                                                  LPVOID pvReserved);
