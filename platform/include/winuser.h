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
typedef VOID(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);
typedef BOOL(CALLBACK* WNDENUMPROC)(HWND, LPARAM);

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
#define WS_EX_WINDOWEDGE 0x00000100L
#define WS_EX_DLGMODALFRAME 0x00000001L
#define CW_USEDEFAULT ((int)0x80000000)

// ---- messages -----------------------------------------------------------------------------------
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WA_INACTIVE 0
#define WA_ACTIVE 1
#define WA_CLICKACTIVE 2
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
#define WM_ACTIVATEAPP 0x001C
#define WM_SETCURSOR 0x0020
#define WM_MOUSEACTIVATE 0x0021
#define MA_ACTIVATE 1
#define MA_ACTIVATEANDEAT 2
#define MA_NOACTIVATE 3
#define MA_NOACTIVATEANDEAT 4
#define WM_WINDOWPOSCHANGING 0x0046
#define WM_WINDOWPOSCHANGED 0x0047
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_NCHITTEST 0x0084
#define WM_NCACTIVATE 0x0086
#define WM_NCMOUSEMOVE 0x00A0
#define WM_NCLBUTTONDOWN 0x00A1
#define WM_NCLBUTTONUP 0x00A2
#define WM_NCLBUTTONDBLCLK 0x00A3
#define WM_NCRBUTTONDOWN 0x00A4
#define WM_NCRBUTTONUP 0x00A5
#define WM_NCRBUTTONDBLCLK 0x00A6
#define WM_NCMBUTTONDOWN 0x00A7
#define WM_NCMBUTTONUP 0x00A8
#define WM_NCMBUTTONDBLCLK 0x00A9
#define WM_KEYFIRST 0x0100
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_DEADCHAR 0x0103
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105
#define WM_SYSCHAR 0x0106
#define WM_KEYLAST 0x0109
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_CTLCOLORSTATIC 0x0138
#define WM_MOUSEFIRST 0x0200
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_RBUTTONDOWN 0x0204
#define WM_RBUTTONUP 0x0205
#define WM_RBUTTONDBLCLK 0x0206
#define WM_MBUTTONDOWN 0x0207
#define WM_MBUTTONUP 0x0208
#define WM_MBUTTONDBLCLK 0x0209
#define WM_MOUSEWHEEL 0x020A
#define WM_MOUSEHWHEEL 0x020E
#define WM_MOUSELAST 0x020E
#define WM_CAPTURECHANGED 0x0215
#define WM_ENTERSIZEMOVE 0x0231
#define WM_EXITSIZEMOVE 0x0232
#define WM_USER 0x0400
#define WM_APP 0x8000

// WM_SIZE
#define SIZE_RESTORED 0
#define SIZE_MINIMIZED 1
#define SIZE_MAXIMIZED 2

// WM_SYSCOMMAND
#define SC_SIZE 0xF000
#define SC_MOVE 0xF010
#define SC_MINIMIZE 0xF020
#define SC_MAXIMIZE 0xF030
#define SC_CLOSE 0xF060
#define SC_RESTORE 0xF120

// The wheel turns in steps of WHEEL_DELTA; the step count is signed in the high word.
#define WHEEL_DELTA 120
#define GET_WHEEL_DELTA_WPARAM(wParam) ((short)HIWORD(wParam))
#define GET_KEYSTATE_WPARAM(wParam) (LOWORD(wParam))

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
#define HTSYSMENU 3
#define HTGROWBOX 4
#define HTSIZE HTGROWBOX
#define HTMENU 5
#define HTHSCROLL 6
#define HTVSCROLL 7
#define HTMINBUTTON 8
#define HTMAXBUTTON 9
#define HTLEFT 10
#define HTRIGHT 11
#define HTTOP 12
#define HTTOPLEFT 13
#define HTTOPRIGHT 14
#define HTBOTTOM 15
#define HTBOTTOMLEFT 16
#define HTBOTTOMRIGHT 17
#define HTBORDER 18
#define HTCLOSE 20

// Virtual keys. Letters and digits are their upper-case ASCII codes ('A', '0').
#define VK_LBUTTON 0x01
#define VK_RBUTTON 0x02
#define VK_CANCEL 0x03
#define VK_MBUTTON 0x04
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_CLEAR 0x0C
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_PAUSE 0x13
#define VK_CAPITAL 0x14
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_SNAPSHOT 0x2C
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_HELP 0x2F
#define VK_LWIN 0x5B
#define VK_RWIN 0x5C
#define VK_APPS 0x5D
#define VK_NUMPAD0 0x60
#define VK_NUMPAD9 0x69
#define VK_MULTIPLY 0x6A
#define VK_ADD 0x6B
#define VK_SEPARATOR 0x6C
#define VK_SUBTRACT 0x6D
#define VK_DECIMAL 0x6E
#define VK_DIVIDE 0x6F
#define VK_F1 0x70
#define VK_F4 0x73
#define VK_F10 0x79
#define VK_F12 0x7B
#define VK_F24 0x87
#define VK_NUMLOCK 0x90
#define VK_SCROLL 0x91
#define VK_LSHIFT 0xA0
#define VK_RSHIFT 0xA1
#define VK_LCONTROL 0xA2
#define VK_RCONTROL 0xA3
#define VK_LMENU 0xA4
#define VK_RMENU 0xA5
#define VK_OEM_1 0xBA       // ;:
#define VK_OEM_PLUS 0xBB    // =+
#define VK_OEM_COMMA 0xBC   // ,<
#define VK_OEM_MINUS 0xBD   // -_
#define VK_OEM_PERIOD 0xBE  // .>
#define VK_OEM_2 0xBF       // /?
#define VK_OEM_3 0xC0       // `~
#define VK_OEM_4 0xDB       // [{
#define VK_OEM_5 0xDC       // \|
#define VK_OEM_6 0xDD       // ]}
#define VK_OEM_7 0xDE       // '"

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
#define SW_MAXIMIZE 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWMINNOACTIVE 7
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SW_SHOWDEFAULT 10
#define SW_FORCEMINIMIZE 11
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
#define SWP_FRAMECHANGED 0x0020
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080
#define SWP_NOOWNERZORDER 0x0200
#define SWP_NOSENDCHANGING 0x0400
#define SWP_NOCLIENTSIZE 0x0800
#define SWP_NOCLIENTMOVE 0x1000
// WM_WINDOWPOSCHANGING (which may change it) and WM_WINDOWPOSCHANGED carry one; DefWindowProc
// turns WM_WINDOWPOSCHANGED into WM_MOVE and WM_SIZE.
typedef struct tagWINDOWPOS {
    HWND hwnd;
    HWND hwndInsertAfter;
    int x;
    int y;
    int cx;
    int cy;
    UINT flags;
} WINDOWPOS, *LPWINDOWPOS, *PWINDOWPOS;
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
// Calls `lpEnumFunc` for each top-level window, topmost first: this process's windows, then other
// programs' windows the display shows. Stops when the callback answers FALSE.
LUMACAP_API BOOL WINAPI EnumWindows(WNDENUMPROC lpEnumFunc, LPARAM lParam);
LUMACAP_API BOOL WINAPI EnumChildWindows(HWND hWndParent, WNDENUMPROC lpEnumFunc, LPARAM lParam);
#define GA_PARENT 1
#define GA_ROOT 2
#define GA_ROOTOWNER 3
// GA_PARENT of a top-level window is the desktop window.
LUMACAP_API HWND WINAPI GetAncestor(HWND hwnd, UINT gaFlags);
LUMACAP_API BOOL WINAPI IsZoomed(HWND hWnd);
LUMACAP_API BOOL WINAPI IsIconic(HWND hWnd);
LUMACAP_API BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable);
LUMACAP_API BOOL WINAPI IsWindowEnabled(HWND hWnd);
// The window rectangle that gives a client rectangle for a style (the frame USER draws).
LUMACAP_API BOOL WINAPI AdjustWindowRect(LPRECT lpRect, DWORD dwStyle, BOOL bMenu);
LUMACAP_API BOOL WINAPI AdjustWindowRectEx(LPRECT lpRect, DWORD dwStyle, BOOL bMenu,
                                           DWORD dwExStyle);

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
LUMACAP_API int WINAPI GetWindowTextLengthA(HWND hWnd);
// Sends WM_SETTEXT; DefWindowProc keeps the text (and the display shows it as the title).
LUMACAP_API BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString);
LUMACAP_API int WINAPI GetDlgCtrlID(HWND hWnd);
#define FindWindowEx FindWindowExA
#define FindWindow FindWindowA
#define GetWindowText GetWindowTextA
#define SetWindowText SetWindowTextA
#define GetWindowTextLength GetWindowTextLengthA

// ---- activation and keyboard focus --------------------------------------------------------------
// The active window is a top-level window; the focus is it or one of its descendants. A button
// press activates the window under the pointer; keyboard messages go to the focus window.
LUMACAP_API HWND WINAPI GetActiveWindow();
LUMACAP_API HWND WINAPI SetActiveWindow(HWND hWnd);
LUMACAP_API HWND WINAPI GetForegroundWindow();
LUMACAP_API BOOL WINAPI SetForegroundWindow(HWND hWnd);
LUMACAP_API HWND WINAPI GetFocus();
LUMACAP_API HWND WINAPI SetFocus(HWND hWnd);
// The calling thread's view of a key (or mouse button) as of its last input message taken out:
// the high bit when down, bit 0 toggled by each press (Caps Lock, Num Lock).
LUMACAP_API SHORT WINAPI GetKeyState(int nVirtKey);
// The key as it is now, whichever thread asks.
LUMACAP_API SHORT WINAPI GetAsyncKeyState(int vKey);

// ---- timers -------------------------------------------------------------------------------------
#define USER_TIMER_MINIMUM 0x0000000A
// WM_TIMER comes when the queue has nothing else (after WM_PAINT), at most one per timer however
// late; the period runs on the platform's clock. With a procedure, DispatchMessage calls it
// instead of the window's. Answers the timer's identifier (a new one for a null window).
LUMACAP_API UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse,
                                     TIMERPROC lpTimerFunc);
LUMACAP_API BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent);

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

#define QS_KEY 0x0001
#define QS_MOUSEMOVE 0x0002
#define QS_MOUSEBUTTON 0x0004
#define QS_POSTMESSAGE 0x0008
#define QS_TIMER 0x0010
#define QS_PAINT 0x0020
#define QS_SENDMESSAGE 0x0040
#define QS_HOTKEY 0x0080
#define QS_MOUSE (QS_MOUSEMOVE | QS_MOUSEBUTTON)
#define QS_INPUT (QS_MOUSE | QS_KEY)
#define QS_ALLEVENTS (QS_INPUT | QS_POSTMESSAGE | QS_TIMER | QS_PAINT | QS_HOTKEY)
#define QS_ALLINPUT (QS_ALLEVENTS | QS_SENDMESSAGE)
#define MWMO_WAITALL 0x0001
#define MWMO_ALERTABLE 0x0002
#define MWMO_INPUTAVAILABLE 0x0004
// Waits for the handles or for messages of the kinds in dwWakeMask that arrived since the
// thread last looked at its queue (any waiting ones with MWMO_INPUTAVAILABLE): answers
// WAIT_OBJECT_0 + nCount for messages.
LUMACAP_API DWORD WINAPI MsgWaitForMultipleObjects(DWORD nCount, const HANDLE* pHandles,
                                                   BOOL fWaitAll, DWORD dwMilliseconds,
                                                   DWORD dwWakeMask);
LUMACAP_API DWORD WINAPI MsgWaitForMultipleObjectsEx(DWORD nCount, const HANDLE* pHandles,
                                                     DWORD dwMilliseconds, DWORD dwWakeMask,
                                                     DWORD dwFlags);
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
#define IDC_UPARROW MAKEINTRESOURCE(32516)
#define IDC_SIZENWSE MAKEINTRESOURCE(32642)
#define IDC_SIZENESW MAKEINTRESOURCE(32643)
#define IDC_SIZEWE MAKEINTRESOURCE(32644)
#define IDC_SIZENS MAKEINTRESOURCE(32645)
#define IDC_SIZEALL MAKEINTRESOURCE(32646)
#define IDC_NO MAKEINTRESOURCE(32648)
#define IDC_HAND MAKEINTRESOURCE(32649)
#define IDC_APPSTARTING MAKEINTRESOURCE(32650)
#define IDC_HELP MAKEINTRESOURCE(32651)

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
// LoadCursorA(NULL, IDC_xxx) gives the system's cursors (the arrow's hot spot is its tip, 0, 0);
// other names with no module are ERROR_RESOURCE_NAME_NOT_FOUND.
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
#define SM_CXMIN 28
#define SM_CYMIN 29
#define SM_CXFRAME 32
#define SM_CYFRAME 33
#define SM_CXDOUBLECLK 36
#define SM_CYDOUBLECLK 37
#define SM_CXDRAG 68
#define SM_CYDRAG 69
#define SM_XVIRTUALSCREEN 76
#define SM_YVIRTUALSCREEN 77
#define SM_CXVIRTUALSCREEN 78
#define SM_CYVIRTUALSCREEN 79
#define SM_CMONITORS 80
LUMACAP_API int WINAPI GetSystemMetrics(int nIndex);
// Two presses of a button on one window within this time (500 ms) and within the
// SM_CXDOUBLECLK x SM_CYDOUBLECLK box around the first make a double click, for classes with
// CS_DBLCLKS.
LUMACAP_API UINT WINAPI GetDoubleClickTime();

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

// ---- the "Static" control -----------------------------------------------------------------------
// A system class: a rectangle with a text and an optional picture. It lets pointer input through
// to the window below (HTTRANSPARENT) unless it has SS_NOTIFY, in which case it tells its parent
// of clicks (WM_COMMAND with STN_CLICKED or STN_DBLCLK). Its background comes from the parent's
// answer to WM_CTLCOLORSTATIC. Its text is kept but not drawn.
#define WC_STATIC "Static"
#define SS_LEFT 0x00000000L
#define SS_CENTER 0x00000001L
#define SS_RIGHT 0x00000002L
#define SS_ICON 0x00000003L
#define SS_BLACKRECT 0x00000004L
#define SS_GRAYRECT 0x00000005L
#define SS_WHITERECT 0x00000006L
#define SS_BLACKFRAME 0x00000007L
#define SS_GRAYFRAME 0x00000008L
#define SS_WHITEFRAME 0x00000009L
#define SS_SIMPLE 0x0000000BL
#define SS_BITMAP 0x0000000EL
#define SS_TYPEMASK 0x0000001FL
#define SS_NOTIFY 0x00000100L
#define SS_CENTERIMAGE 0x00000200L
#define STM_SETIMAGE 0x0172
#define STM_GETIMAGE 0x0173
#define IMAGE_BITMAP 0
#define STN_CLICKED 0
#define STN_DBLCLK 1
