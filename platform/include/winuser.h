// USER: windows, message queues, painting, input and cursors.
//
// Every window belongs to the thread that created it. Posted messages queue to that thread; a
// message sent from another thread waits until the owner dispatches it (the owner does so while
// it waits in GetMessageA, PeekMessageA or a SendMessageA of its own); a send to a window of the
// calling thread is a direct call. Invalidated areas accumulate per window and the owner gets one
// WM_PAINT for them once its posted and input messages are done. When a thread ends, its windows
// go with it: their handles stop being windows and messages sent to them fail.
#pragma once

#include "windef.h"

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);

#ifndef ERROR_TLW_WITH_WSCHILD
#define ERROR_TLW_WITH_WSCHILD 1406L
#endif
#ifndef ERROR_CLASS_HAS_WINDOWS
#define ERROR_CLASS_HAS_WINDOWS 1412L
#endif
#ifndef ERROR_INVALID_INDEX
#define ERROR_INVALID_INDEX 1413L
#endif

// ---- window classes -----------------------------------------------------------------------------
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_DBLCLKS 0x0008
#define CS_OWNDC 0x0020
#define CS_CLASSDC 0x0040
#define CS_PARENTDC 0x0080
#define CS_GLOBALCLASS 0x4000

typedef struct tagWNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
} WNDCLASSA, *PWNDCLASSA, *LPWNDCLASSA;
typedef WNDCLASSA WNDCLASS;

typedef struct tagWNDCLASSEXA {
    UINT cbSize;
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
    HICON hIconSm;
} WNDCLASSEXA, *PWNDCLASSEXA, *LPWNDCLASSEXA;
typedef WNDCLASSEXA WNDCLASSEX;

LUMACAP_API ATOM WINAPI RegisterClassA(const WNDCLASSA* lpWndClass);
LUMACAP_API ATOM WINAPI RegisterClassExA(const WNDCLASSEXA* lpWndClass);
LUMACAP_API BOOL WINAPI UnregisterClassA(LPCSTR lpClassName, HINSTANCE hInstance);
LUMACAP_API BOOL WINAPI GetClassInfoA(HINSTANCE hInstance, LPCSTR lpClassName,
                                      LPWNDCLASSA lpWndClass);
LUMACAP_API int WINAPI GetClassNameA(HWND hWnd, LPSTR lpClassName, int nMaxCount);
#define RegisterClass RegisterClassA
#define RegisterClassEx RegisterClassExA
#define UnregisterClass UnregisterClassA
#define GetClassInfo GetClassInfoA
#define GetClassName GetClassNameA

// ---- window styles ------------------------------------------------------------------------------
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_MINIMIZE 0x20000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CLIPSIBLINGS 0x04000000L
#define WS_CLIPCHILDREN 0x02000000L
#define WS_MAXIMIZE 0x01000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_VSCROLL 0x00200000L
#define WS_HSCROLL 0x00100000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_CHILDWINDOW WS_CHILD
#define WS_OVERLAPPEDWINDOW \
    (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
#define WS_POPUPWINDOW (WS_POPUP | WS_BORDER | WS_SYSMENU)
#define WS_EX_TOPMOST 0x00000008L
#define WS_EX_TRANSPARENT 0x00000020L
#define WS_EX_TOOLWINDOW 0x00000080L
#define WS_EX_CLIENTEDGE 0x00000200L
#define CW_USEDEFAULT ((int)0x80000000)

// ---- messages -----------------------------------------------------------------------------------
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WM_SETFOCUS 0x0007
#define WM_KILLFOCUS 0x0008
#define WM_ENABLE 0x000A
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_ERASEBKGND 0x0014
#define WM_SHOWWINDOW 0x0018
#define WM_SETCURSOR 0x0020
#define WM_WINDOWPOSCHANGED 0x0047
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_NCHITTEST 0x0084
#define WM_NCMOUSEMOVE 0x00A0
#define WM_NCLBUTTONDOWN 0x00A1
#define WM_NCLBUTTONUP 0x00A2
#define WM_TIMER 0x0113
#define WM_MOUSEFIRST 0x0200
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_MOUSELAST 0x020E
#define WM_CAPTURECHANGED 0x0215
#define WM_USER 0x0400
#define WM_APP 0x8000

// WM_SIZE
#define SIZE_RESTORED 0
#define SIZE_MINIMIZED 1
#define SIZE_MAXIMIZED 2

// Key state in mouse messages.
#define MK_LBUTTON 0x0001
#define MK_RBUTTON 0x0002
#define MK_SHIFT 0x0004
#define MK_CONTROL 0x0008
#define MK_MBUTTON 0x0010

// Hit-test codes (WM_NCHITTEST, WM_SETCURSOR).
#define HTERROR (-2)
#define HTTRANSPARENT (-1)
#define HTNOWHERE 0
#define HTCLIENT 1
#define HTCAPTION 2
#define HTBORDER 18

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *PMSG, *LPMSG;

typedef struct tagCREATESTRUCTA {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
} CREATESTRUCTA, *LPCREATESTRUCTA;
typedef CREATESTRUCTA CREATESTRUCT;
typedef LPCREATESTRUCTA LPCREATESTRUCT;

// ---- windows ------------------------------------------------------------------------------------
// Child windows take their identifier in hMenu. A window with a caption or border has a frame
// around its client area (a one-pixel border, a 20-pixel caption); others are all client.
LUMACAP_API HWND WINAPI CreateWindowExA(DWORD dwExStyle, LPCSTR lpClassName, LPCSTR lpWindowName,
                                        DWORD dwStyle, int X, int Y, int nWidth, int nHeight,
                                        HWND hWndParent, HMENU hMenu, HINSTANCE hInstance,
                                        LPVOID lpParam);
#define CreateWindowA(cls, name, style, x, y, w, h, parent, menu, inst, param) \
    CreateWindowExA(0L, cls, name, style, x, y, w, h, parent, menu, inst, param)
#define CreateWindowEx CreateWindowExA
#define CreateWindow CreateWindowA
// Destroys the window's children first, then the window; each gets WM_DESTROY and WM_NCDESTROY.
// Only the owning thread may destroy a window (ERROR_ACCESS_DENIED otherwise).
LUMACAP_API BOOL WINAPI DestroyWindow(HWND hWnd);
LUMACAP_API LRESULT WINAPI DefWindowProcA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
LUMACAP_API LRESULT WINAPI CallWindowProcA(WNDPROC lpPrevWndFunc, HWND hWnd, UINT Msg,
                                           WPARAM wParam, LPARAM lParam);
LUMACAP_API BOOL WINAPI IsWindow(HWND hWnd);
LUMACAP_API BOOL WINAPI IsWindowVisible(HWND hWnd);
LUMACAP_API BOOL WINAPI IsChild(HWND hWndParent, HWND hWnd);
LUMACAP_API DWORD WINAPI GetWindowThreadProcessId(HWND hWnd, LPDWORD lpdwProcessId);
#define DefWindowProc DefWindowProcA
#define CallWindowProc CallWindowProcA

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_NORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_SHOWMAXIMIZED 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10
// Answers whether the window was visible before the call.
LUMACAP_API BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow);

#define HWND_TOP ((HWND)0)
#define HWND_BOTTOM ((HWND)1)
#define HWND_TOPMOST ((HWND)-1)
#define HWND_NOTOPMOST ((HWND)-2)
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOREDRAW 0x0008
#define SWP_NOACTIVATE 0x0010
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080
LUMACAP_API BOOL WINAPI MoveWindow(HWND hWnd, int X, int Y, int nWidth, int nHeight, BOOL bRepaint);
LUMACAP_API BOOL WINAPI SetWindowPos(HWND hWnd, HWND hWndInsertAfter, int X, int Y, int cx, int cy,
                                     UINT uFlags);

LUMACAP_API BOOL WINAPI GetClientRect(HWND hWnd, LPRECT lpRect);
LUMACAP_API BOOL WINAPI GetWindowRect(HWND hWnd, LPRECT lpRect);
LUMACAP_API BOOL WINAPI ClientToScreen(HWND hWnd, LPPOINT lpPoint);
LUMACAP_API BOOL WINAPI ScreenToClient(HWND hWnd, LPPOINT lpPoint);
LUMACAP_API HWND WINAPI GetParent(HWND hWnd);
// Moves a window under another parent (null: makes it top-level), keeping its position in the new
// parent's client coordinates. Answers the previous parent (null for a top-level window), or null
// with an error for a bad handle or a parent inside the window itself.
LUMACAP_API HWND WINAPI SetParent(HWND hWndChild, HWND hWndNewParent);
LUMACAP_API HWND WINAPI GetDesktopWindow();
LUMACAP_API HWND WINAPI WindowFromPoint(POINT Point);

#define GW_HWNDFIRST 0
#define GW_HWNDLAST 1
#define GW_HWNDNEXT 2
#define GW_HWNDPREV 3
#define GW_OWNER 4
#define GW_CHILD 5
// Siblings are in z-order, topmost first.
LUMACAP_API HWND WINAPI GetWindow(HWND hWnd, UINT uCmd);
// Searches the children of hWndParent (the top-level windows for null) after hWndChildAfter, by
// class name and window name (null matches any).
LUMACAP_API HWND WINAPI FindWindowExA(HWND hWndParent, HWND hWndChildAfter, LPCSTR lpszClass,
                                      LPCSTR lpszWindow);
LUMACAP_API HWND WINAPI FindWindowA(LPCSTR lpClassName, LPCSTR lpWindowName);
LUMACAP_API int WINAPI GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount);
LUMACAP_API BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString);
LUMACAP_API int WINAPI GetDlgCtrlID(HWND hWnd);
#define FindWindowEx FindWindowExA
#define FindWindow FindWindowA
#define GetWindowText GetWindowTextA
#define SetWindowText SetWindowTextA

#define GWLP_WNDPROC (-4)
#define GWLP_HINSTANCE (-6)
#define GWLP_HWNDPARENT (-8)
#define GWLP_ID (-12)
#define GWL_ID (-12)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWLP_USERDATA (-21)
LUMACAP_API LONG_PTR WINAPI GetWindowLongPtrA(HWND hWnd, int nIndex);
LUMACAP_API LONG_PTR WINAPI SetWindowLongPtrA(HWND hWnd, int nIndex, LONG_PTR dwNewLong);
LUMACAP_API LONG WINAPI GetWindowLongA(HWND hWnd, int nIndex);
#define GetWindowLongPtr GetWindowLongPtrA
#define SetWindowLongPtr SetWindowLongPtrA
#define GetWindowLong GetWindowLongA

// ---- messages and queues ------------------------------------------------------------------------
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define PM_NOYIELD 0x0002
// Returns 0 for WM_QUIT, -1 for a filter window that is not a window.
LUMACAP_API BOOL WINAPI GetMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax);
LUMACAP_API BOOL WINAPI PeekMessageA(LPMSG lpMsg, HWND hWnd, UINT wMsgFilterMin, UINT wMsgFilterMax,
                                     UINT wRemoveMsg);
LUMACAP_API BOOL WINAPI WaitMessage();
LUMACAP_API BOOL WINAPI TranslateMessage(const MSG* lpMsg);
LUMACAP_API LRESULT WINAPI DispatchMessageA(const MSG* lpMsg);
LUMACAP_API void WINAPI PostQuitMessage(int nExitCode);
// Fails with ERROR_INVALID_WINDOW_HANDLE for a window that does not exist (any more).
LUMACAP_API BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
LUMACAP_API BOOL WINAPI PostThreadMessageA(DWORD idThread, UINT Msg, WPARAM wParam, LPARAM lParam);
// Answers 0 (with ERROR_INVALID_WINDOW_HANDLE) when the window does not exist or goes away before
// its thread has handled the message.
LUMACAP_API LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
// A message number unique to `lpString` (compared without case) for the life of the session,
// from 0xC000 up; 0 for a null or empty name.
LUMACAP_API UINT WINAPI RegisterWindowMessageA(LPCSTR lpString);
LUMACAP_API BOOL WINAPI InSendMessage();
LUMACAP_API DWORD WINAPI GetMessageTime();
#define GetMessage GetMessageA
#define PeekMessage PeekMessageA
#define DispatchMessage DispatchMessageA
#define PostMessage PostMessageA
#define PostThreadMessage PostThreadMessageA
#define SendMessage SendMessageA

// ---- painting -----------------------------------------------------------------------------------
typedef struct tagPAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
} PAINTSTRUCT, *PPAINTSTRUCT, *LPPAINTSTRUCT;

// A null rectangle means the whole client area. Any thread may invalidate.
LUMACAP_API BOOL WINAPI InvalidateRect(HWND hWnd, const RECT* lpRect, BOOL bErase);
LUMACAP_API BOOL WINAPI ValidateRect(HWND hWnd, const RECT* lpRect);
LUMACAP_API BOOL WINAPI GetUpdateRect(HWND hWnd, LPRECT lpRect, BOOL bErase);
// Sends WM_PAINT at once if the window has something to paint.
LUMACAP_API BOOL WINAPI UpdateWindow(HWND hWnd);
LUMACAP_API HDC WINAPI BeginPaint(HWND hWnd, LPPAINTSTRUCT lpPaint);
LUMACAP_API BOOL WINAPI EndPaint(HWND hWnd, const PAINTSTRUCT* lpPaint);
// A null window is the screen: drawing lands on the desktop, reading sees what the screen shows.
LUMACAP_API HDC WINAPI GetDC(HWND hWnd);
LUMACAP_API int WINAPI ReleaseDC(HWND hWnd, HDC hDC);
LUMACAP_API int WINAPI FillRect(HDC hDC, const RECT* lprc, HBRUSH hbr);
LUMACAP_API int WINAPI FrameRect(HDC hDC, const RECT* lprc, HBRUSH hbr);

// ---- rectangles ---------------------------------------------------------------------------------
LUMACAP_API BOOL WINAPI SetRect(LPRECT lprc, int xLeft, int yTop, int xRight, int yBottom);
LUMACAP_API BOOL WINAPI SetRectEmpty(LPRECT lprc);
LUMACAP_API BOOL WINAPI CopyRect(LPRECT lprcDst, const RECT* lprcSrc);
LUMACAP_API BOOL WINAPI IsRectEmpty(const RECT* lprc);
LUMACAP_API BOOL WINAPI PtInRect(const RECT* lprc, POINT pt);
LUMACAP_API BOOL WINAPI InflateRect(LPRECT lprc, int dx, int dy);
LUMACAP_API BOOL WINAPI OffsetRect(LPRECT lprc, int dx, int dy);
LUMACAP_API BOOL WINAPI IntersectRect(LPRECT lprcDst, const RECT* lprcSrc1, const RECT* lprcSrc2);
LUMACAP_API BOOL WINAPI UnionRect(LPRECT lprcDst, const RECT* lprcSrc1, const RECT* lprcSrc2);
LUMACAP_API BOOL WINAPI EqualRect(const RECT* lprc1, const RECT* lprc2);

// ---- input, capture, cursor ---------------------------------------------------------------------
LUMACAP_API HWND WINAPI SetCapture(HWND hWnd);
LUMACAP_API BOOL WINAPI ReleaseCapture();
LUMACAP_API HWND WINAPI GetCapture();
LUMACAP_API BOOL WINAPI GetCursorPos(LPPOINT lpPoint);
LUMACAP_API BOOL WINAPI SetCursorPos(int X, int Y);
// Confines the pointer to the rectangle (right and bottom exclusive); null frees it.
LUMACAP_API BOOL WINAPI ClipCursor(const RECT* lpRect);
LUMACAP_API BOOL WINAPI GetClipCursor(LPRECT lpRect);
LUMACAP_API HCURSOR WINAPI SetCursor(HCURSOR hCursor);
LUMACAP_API HCURSOR WINAPI GetCursor();

#define IDC_ARROW MAKEINTRESOURCE(32512)
#define IDC_IBEAM MAKEINTRESOURCE(32513)
#define IDC_WAIT MAKEINTRESOURCE(32514)
#define IDC_CROSS MAKEINTRESOURCE(32515)
#define IDC_SIZENWSE MAKEINTRESOURCE(32642)
#define IDC_SIZENESW MAKEINTRESOURCE(32643)
#define IDC_SIZEWE MAKEINTRESOURCE(32644)
#define IDC_SIZENS MAKEINTRESOURCE(32645)
#define IDC_SIZEALL MAKEINTRESOURCE(32646)

// Cursor resources are stored as the resource compiler stores them:
//  - RT_CURSOR: a 4-byte local header (WORD xHotspot, WORD yHotspot) followed by a DIB: a
//    BITMAPINFOHEADER whose biHeight is twice the cursor's height, a palette of biClrUsed entries
//    (1 << biBitCount when biClrUsed is 0) for 1, 4 and 8 bits per pixel, then the colour (XOR)
//    rows and after them the 1-bit mask (AND) rows, both bottom-up with rows padded to 4 bytes.
//    Depths 1, 4, 8, 24 and 32 are understood.
//  - RT_GROUP_CURSOR (optional): a 6-byte header (WORD reserved 0, WORD type 2, WORD count) and
//    14-byte entries (WORD width, WORD height × 2, WORD planes, WORD bit count, DWORD bytes,
//    WORD RT_CURSOR id). LoadCursorA uses the first entry.
// LoadCursorA(module, n) looks for RT_GROUP_CURSOR n, then RT_CURSOR n. The cursor is drawn as
// screen = (screen AND mask) XOR colour. Loaded cursors are shared: loading twice gives one handle.
// LoadCursorA(NULL, IDC_ARROW) is the system arrow (hot spot 0, 0); other system cursors are not
// provided (ERROR_RESOURCE_NAME_NOT_FOUND).
LUMACAP_API HCURSOR WINAPI LoadCursorA(HINSTANCE hInstance, LPCSTR lpCursorName);
#define LoadCursor LoadCursorA
LUMACAP_API BOOL WINAPI DestroyCursor(HCURSOR hCursor);
LUMACAP_API BOOL WINAPI DestroyIcon(HICON hIcon);

typedef struct _ICONINFO {
    BOOL fIcon;
    DWORD xHotspot;
    DWORD yHotspot;
    HBITMAP hbmMask;
    HBITMAP hbmColor;
} ICONINFO, *PICONINFO;
// The caller deletes both bitmaps. A monochrome cursor has no colour bitmap and a mask twice as
// high (AND rows above XOR rows), as on Windows.
LUMACAP_API BOOL WINAPI GetIconInfo(HICON hIcon, PICONINFO piconinfo);
LUMACAP_API HICON WINAPI CreateIconIndirect(PICONINFO piconinfo);

#define DI_MASK 0x0001
#define DI_IMAGE 0x0002
#define DI_NORMAL 0x0003
#define DI_COMPAT 0x0004  // ignored, as on current systems
#define DI_DEFAULTSIZE 0x0008
// Zero width and height draw at the cursor's own size.
LUMACAP_API BOOL WINAPI DrawIconEx(HDC hdc, int xLeft, int yTop, HICON hIcon, int cxWidth,
                                   int cyWidth, UINT istepIfAniCur, HBRUSH hbrFlickerFreeDraw,
                                   UINT diFlags);

// ---- system metrics and colours -----------------------------------------------------------------
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CXBORDER 5
#define SM_CYBORDER 6
#define SM_CYCAPTION 4
#define SM_CXICON 11
#define SM_CYICON 12
#define SM_CXCURSOR 13
#define SM_CYCURSOR 14
#define SM_CXVIRTUALSCREEN 78
#define SM_CYVIRTUALSCREEN 79
#define SM_CMONITORS 80
LUMACAP_API int WINAPI GetSystemMetrics(int nIndex);

#define COLOR_SCROLLBAR 0
#define COLOR_BACKGROUND 1
#define COLOR_DESKTOP COLOR_BACKGROUND
#define COLOR_ACTIVECAPTION 2
#define COLOR_INACTIVECAPTION 3
#define COLOR_MENU 4
#define COLOR_WINDOW 5
#define COLOR_WINDOWFRAME 6
#define COLOR_MENUTEXT 7
#define COLOR_WINDOWTEXT 8
#define COLOR_CAPTIONTEXT 9
#define COLOR_ACTIVEBORDER 10
#define COLOR_INACTIVEBORDER 11
#define COLOR_APPWORKSPACE 12
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14
#define COLOR_BTNFACE 15
#define COLOR_3DFACE COLOR_BTNFACE
#define COLOR_BTNSHADOW 16
#define COLOR_GRAYTEXT 17
#define COLOR_BTNTEXT 18
#define COLOR_INACTIVECAPTIONTEXT 19
#define COLOR_BTNHIGHLIGHT 20
// The colours of the system's default scheme (COLOR_GRAYTEXT is RGB(109, 109, 109)).
LUMACAP_API DWORD WINAPI GetSysColor(int nIndex);
LUMACAP_API HBRUSH WINAPI GetSysColorBrush(int nIndex);
