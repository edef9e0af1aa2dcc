// Window classes of the framework: CWnd with message maps, device-context wrappers (CDC,
// CPaintDC, CClientDC) and GDI object wrappers (CPen, CBrush, CBitmap).
//
// A CWnd receives its window's messages through the framework's window procedure: WindowProc
// looks the message up in the message maps of the class and its bases (BEGIN_MESSAGE_MAP ...
// END_MESSAGE_MAP) and calls the handler, or DefWindowProc. Default() inside a handler passes the
// message being handled on to DefWindowProc with its original parameters.
#pragma once

#include <memory>
#include <vector>

#include <windows.h>

#include <lumacap_export.h>

#include "atltypes.h"

class CWnd;
class CDC;
struct CCreateContext;

#define afx_msg

// One message-map entry: the message and a thunk that unpacks its parameters for the handler.
typedef LRESULT (*AFX_MSG_THUNK)(CWnd* pWnd, WPARAM wParam, LPARAM lParam);
struct AFX_MSGMAP_ENTRY {
    UINT nMessage;
    AFX_MSG_THUNK pfn;
};
struct AFX_MSGMAP {
    const AFX_MSGMAP* (*pfnGetBaseMap)();
    const AFX_MSGMAP_ENTRY* lpEntries;
};

#define DECLARE_MESSAGE_MAP()                     \
protected:                                        \
    static const AFX_MSGMAP* GetThisMessageMap(); \
    virtual const AFX_MSGMAP* GetMessageMap() const;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)          \
    const AFX_MSGMAP* theClass::GetMessageMap() const { \
        return GetThisMessageMap();                     \
    }                                                   \
    const AFX_MSGMAP* theClass::GetThisMessageMap() {   \
        typedef theClass ThisClass;                     \
        typedef baseClass TheBaseClass;                 \
        static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                                         \
    { 0, nullptr }                                                                                \
    }                                                                                             \
    ;                                                                                             \
    static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
    return &messageMap;                                                                           \
    }

#define ON_WM_PAINT()                                   \
    {WM_PAINT, [](CWnd* w, WPARAM, LPARAM) -> LRESULT { \
         static_cast<ThisClass*>(w)->OnPaint();         \
         return 0;                                      \
     }},
#define ON_WM_ERASEBKGND()                                                \
    {WM_ERASEBKGND, [](CWnd* w, WPARAM wp, LPARAM) -> LRESULT {           \
         CDC dc;                                                          \
         dc.Attach(reinterpret_cast<HDC>(wp));                            \
         const LRESULT r = static_cast<ThisClass*>(w)->OnEraseBkgnd(&dc); \
         dc.Detach();                                                     \
         return r;                                                        \
     }},
#define ON_WM_CREATE()                                                                      \
    {WM_CREATE, [](CWnd* w, WPARAM, LPARAM lp) -> LRESULT {                                 \
         return static_cast<ThisClass*>(w)->OnCreate(reinterpret_cast<LPCREATESTRUCT>(lp)); \
     }},
#define ON_WM_DESTROY()                                   \
    {WM_DESTROY, [](CWnd* w, WPARAM, LPARAM) -> LRESULT { \
         static_cast<ThisClass*>(w)->OnDestroy();         \
         return 0;                                        \
     }},
#define ON_WM_SIZE()                                                                        \
    {WM_SIZE, [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT {                                \
         static_cast<ThisClass*>(w)->OnSize(static_cast<UINT>(wp), LOWORD(lp), HIWORD(lp)); \
         return 0;                                                                          \
     }},
#define ON_WM_LBUTTONDOWN()                                                            \
    {WM_LBUTTONDOWN, [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT {                    \
         static_cast<ThisClass*>(w)->OnLButtonDown(static_cast<UINT>(wp), CPoint(lp)); \
         return 0;                                                                     \
     }},
#define ON_WM_LBUTTONUP()                                                            \
    {WM_LBUTTONUP, [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT {                    \
         static_cast<ThisClass*>(w)->OnLButtonUp(static_cast<UINT>(wp), CPoint(lp)); \
         return 0;                                                                   \
     }},
#define ON_WM_MOUSEMOVE()                                                            \
    {WM_MOUSEMOVE, [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT {                    \
         static_cast<ThisClass*>(w)->OnMouseMove(static_cast<UINT>(wp), CPoint(lp)); \
         return 0;                                                                   \
     }},
#define ON_WM_SETCURSOR()                                                           \
    {WM_SETCURSOR, [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT {                   \
         return static_cast<ThisClass*>(w)->OnSetCursor(                            \
             CWnd::FromHandle(reinterpret_cast<HWND>(wp)), LOWORD(lp), HIWORD(lp)); \
     }},
// A handler LRESULT memberFxn(WPARAM, LPARAM) for any message.
#define ON_MESSAGE(message, memberFxn)                         \
    {message, [](CWnd* w, WPARAM wp, LPARAM lp) -> LRESULT {   \
         return static_cast<ThisClass*>(w)->memberFxn(wp, lp); \
     }},

// ---- GDI objects --------------------------------------------------------------------------------

// Owns its GDI object: the destructor deletes it unless it was detached.
class LUMACAP_API CGdiObject {
public:
    CGdiObject() = default;
    virtual ~CGdiObject();
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    HGDIOBJ m_hObject = nullptr;
    operator HGDIOBJ() const { return m_hObject; }
    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    BOOL Attach(HGDIOBJ hObject);
    HGDIOBJ Detach();
    BOOL DeleteObject();
};

class LUMACAP_API CPen : public CGdiObject {
public:
    CPen() = default;
    CPen(int nPenStyle, int nWidth, COLORREF crColor) { CreatePen(nPenStyle, nWidth, crColor); }
    BOOL CreatePen(int nPenStyle, int nWidth, COLORREF crColor);
    operator HPEN() const { return static_cast<HPEN>(m_hObject); }
};

class LUMACAP_API CBrush : public CGdiObject {
public:
    CBrush() = default;
    explicit CBrush(COLORREF crColor) { CreateSolidBrush(crColor); }
    BOOL CreateSolidBrush(COLORREF crColor);
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
};

class LUMACAP_API CBitmap : public CGdiObject {
public:
    BOOL CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight);
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
};

// ---- device contexts ----------------------------------------------------------------------------

class LUMACAP_API CDC {
public:
    CDC() = default;
    virtual ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    HDC m_hDC = nullptr;
    operator HDC() const { return m_hDC; }
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL Attach(HDC hDC);
    HDC Detach();

    // A memory context compatible with pDC (or the screen); the CDC deletes it.
    BOOL CreateCompatibleDC(CDC* pDC);
    BOOL DeleteDC();

    // Selection answers the previously selected object as a wrapper owned by this CDC (valid while
    // the CDC lives), or null.
    CPen* SelectObject(CPen* pPen);
    CBrush* SelectObject(CBrush* pBrush);
    CBitmap* SelectObject(CBitmap* pBitmap);
    HGDIOBJ SelectObject(HGDIOBJ hObject);
    CGdiObject* SelectStockObject(int nIndex);

    int SetROP2(int nDrawMode) { return ::SetROP2(m_hDC, nDrawMode); }
    int GetROP2() const { return ::GetROP2(m_hDC); }
    int GetClipBox(LPRECT lpRect) const { return ::GetClipBox(m_hDC, lpRect); }
    int GetMapMode() const { return ::GetMapMode(m_hDC); }
    int SetMapMode(int nMapMode) { return ::SetMapMode(m_hDC, nMapMode); }
    CPoint SetWindowOrg(int x, int y);
    CPoint SetWindowOrg(POINT point) { return SetWindowOrg(point.x, point.y); }
    CPoint GetWindowOrg() const;
    COLORREF GetBkColor() const { return ::GetBkColor(m_hDC); }
    COLORREF SetBkColor(COLORREF crColor) { return ::SetBkColor(m_hDC, crColor); }
    int SetBkMode(int nBkMode) { return ::SetBkMode(m_hDC, nBkMode); }
    int SetStretchBltMode(int nStretchMode) { return ::SetStretchBltMode(m_hDC, nStretchMode); }

    void FillRect(LPCRECT lpRect, CBrush* pBrush) {
        ::FillRect(m_hDC, lpRect, pBrush ? static_cast<HBRUSH>(*pBrush) : nullptr);
    }
    void FillSolidRect(LPCRECT lpRect, COLORREF clr);
    BOOL Rectangle(int x1, int y1, int x2, int y2) { return ::Rectangle(m_hDC, x1, y1, x2, y2); }
    BOOL Rectangle(LPCRECT lpRect) {
        return ::Rectangle(m_hDC, lpRect->left, lpRect->top, lpRect->right, lpRect->bottom);
    }
    CPoint MoveTo(int x, int y);
    BOOL LineTo(int x, int y) { return ::LineTo(m_hDC, x, y); }
    COLORREF GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
    COLORREF SetPixel(int x, int y, COLORREF crColor) { return ::SetPixel(m_hDC, x, y, crColor); }
    BOOL BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                DWORD dwRop) {
        return ::BitBlt(m_hDC, x, y, nWidth, nHeight, pSrcDC ? pSrcDC->m_hDC : nullptr, xSrc, ySrc,
                        dwRop);
    }
    BOOL StretchBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc,
                    int nSrcWidth, int nSrcHeight, DWORD dwRop) {
        return ::StretchBlt(m_hDC, x, y, nWidth, nHeight, pSrcDC ? pSrcDC->m_hDC : nullptr, xSrc,
                            ySrc, nSrcWidth, nSrcHeight, dwRop);
    }

private:
    template <class T>
    T* Wrap(HGDIOBJ old);
    bool m_bOwnsDC = false;
    std::vector<std::unique_ptr<CGdiObject>> m_wrappers;
};

// BeginPaint on construction, EndPaint on destruction.
class LUMACAP_API CPaintDC : public CDC {
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;
    PAINTSTRUCT m_ps;

protected:
    HWND m_hWnd;
};

// GetDC on construction, ReleaseDC on destruction.
class LUMACAP_API CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* pWnd);
    ~CClientDC() override;

protected:
    HWND m_hWnd;
};

// ---- windows ------------------------------------------------------------------------------------

class LUMACAP_API CWnd {
public:
    CWnd() = default;
    // Destroys the window if it still exists (on its own thread; from another thread the object
    // only lets go of it).
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    operator HWND() const { return m_hWnd; }
    HWND GetSafeHwnd() const { return m_hWnd; }

    // The CWnd attached to a window, or a wrapper kept until the window goes (null for a handle
    // that is not a window).
    static CWnd* FromHandle(HWND hWnd);
    static CWnd* FromHandlePermanent(HWND hWnd);
    BOOL Attach(HWND hWndNew);
    HWND Detach();

    // A null class name is the framework's own class (arrow cursor, no background brush). The
    // window is a child of pParentWnd with identifier nID.
    virtual BOOL Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                        const RECT& rect, CWnd* pParentWnd, UINT nID,
                        CCreateContext* pContext = nullptr);
    virtual BOOL CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName,
                          DWORD dwStyle, int x, int y, int nWidth, int nHeight, HWND hWndParent,
                          HMENU nIDorHMenu, LPVOID lpParam = nullptr);
    virtual BOOL DestroyWindow();

    BOOL ShowWindow(int nCmdShow) { return ::ShowWindow(m_hWnd, nCmdShow); }
    void InvalidateRect(LPCRECT lpRect, BOOL bErase = TRUE) {
        ::InvalidateRect(m_hWnd, lpRect, bErase);
    }
    void Invalidate(BOOL bErase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, bErase); }
    void UpdateWindow() { ::UpdateWindow(m_hWnd); }
    void GetClientRect(LPRECT lpRect) const { ::GetClientRect(m_hWnd, lpRect); }
    void GetWindowRect(LPRECT lpRect) const { ::GetWindowRect(m_hWnd, lpRect); }
    void ClientToScreen(LPPOINT lpPoint) const { ::ClientToScreen(m_hWnd, lpPoint); }
    void ClientToScreen(LPRECT lpRect) const;
    void ScreenToClient(LPPOINT lpPoint) const { ::ScreenToClient(m_hWnd, lpPoint); }
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE) {
        ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
    }
    BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
    CWnd* GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
    int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) {
        return ::PostMessageA(m_hWnd, message, wParam, lParam);
    }
    CWnd* SetCapture() { return FromHandle(::SetCapture(m_hWnd)); }

    // The framework's window procedure, which every framework window class uses.
    static LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Looks the message up in the message maps; true if a handler took it.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Called after the window is gone (WM_NCDESTROY); the object may delete itself here.
    virtual void PostNcDestroy() {}
    // The message being handled, passed on to DefWindowProc.
    LRESULT Default();

    afx_msg void OnPaint();
    afx_msg BOOL OnEraseBkgnd(CDC* pDC);
    afx_msg int OnCreate(LPCREATESTRUCT lpCreateStruct);
    afx_msg void OnDestroy();
    afx_msg void OnSize(UINT nType, int cx, int cy);
    afx_msg void OnLButtonDown(UINT nFlags, CPoint point);
    afx_msg void OnLButtonUp(UINT nFlags, CPoint point);
    afx_msg void OnMouseMove(UINT nFlags, CPoint point);
    afx_msg BOOL OnSetCursor(CWnd* pWnd, UINT nHitTest, UINT message);

    static const AFX_MSGMAP* GetThisMessageMap();
    virtual const AFX_MSGMAP* GetMessageMap() const;
};
