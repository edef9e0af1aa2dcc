// The framework's windows: attaching CWnd objects to windows, the framework window procedure and
// message-map dispatch, device-context and GDI object wrappers.
#include <afxwin.h>

#include <cstring>
#include <mutex>
#include <unordered_map>

#include "platform/portable/SystemSeam.h"

namespace {

const char kFrameworkClass[] = "AfxWnd";

// Windows with a CWnd attached, and wrappers made by FromHandle for windows without one.
struct WindowMap {
    std::mutex mutex;
    std::unordered_map<HWND, CWnd*> permanent;
    std::unordered_map<HWND, std::unique_ptr<CWnd>> temporary;
};

WindowMap& Map() {
    static WindowMap* map = new WindowMap();
    return *map;
}

// The CWnd whose window is being created on this thread: it is attached at the first message.
thread_local CWnd* t_pWndInit = nullptr;

// The message being handled on this thread, for Default().
struct LastMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};
thread_local LastMessage t_lastMessage{};

void RegisterFrameworkClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        WNDCLASSA wc{};
        wc.style = CS_DBLCLKS;
        wc.lpfnWndProc = &CWnd::AfxWndProc;
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.lpszClassName = kFrameworkClass;
        RegisterClassA(&wc);
    });
}

// Windows that vanish without messages (their thread ended, the simulation was reset) leave
// their CWnd objects detached, and their wrappers are freed.
struct ForgetGoneWindows {
    ForgetGoneWindows() {
        lumacap::portable::AddWindowGoneObserver([](HWND hwnd) {
            std::unique_ptr<CWnd> wrapper;
            WindowMap& m = Map();
            {
                std::lock_guard<std::mutex> lock(m.mutex);
                auto it = m.permanent.find(hwnd);
                if (it != m.permanent.end()) {
                    it->second->m_hWnd = nullptr;
                    m.permanent.erase(it);
                }
                auto t = m.temporary.find(hwnd);
                if (t != m.temporary.end()) {
                    wrapper = std::move(t->second);
                    m.temporary.erase(t);
                }
            }
            if (wrapper) {
                if (CWinApp* app = AfxGetApp())
                    if (app->m_pMainWnd == wrapper.get()) app->m_pMainWnd = nullptr;
                wrapper->m_hWnd = nullptr;
            }
        });
    }
} s_forget;

}  // namespace

// ---- CWnd ----

CWnd::~CWnd() {
    if (m_hWnd && ::IsWindow(m_hWnd) &&
        GetWindowThreadProcessId(m_hWnd, nullptr) == GetCurrentThreadId()) {
        // Messages during destruction reach only this base part of the object.
        ::DestroyWindow(m_hWnd);
    }
    if (m_hWnd) Detach();
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    WindowMap& m = Map();
    std::lock_guard<std::mutex> lock(m.mutex);
    auto it = m.permanent.find(hWnd);
    return it == m.permanent.end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (!hWnd) return nullptr;
    if (CWnd* p = FromHandlePermanent(hWnd)) return p;
    if (!::IsWindow(hWnd)) return nullptr;
    WindowMap& m = Map();
    std::lock_guard<std::mutex> lock(m.mutex);
    auto& slot = m.temporary[hWnd];
    if (!slot) {
        slot = std::make_unique<CWnd>();
        slot->m_hWnd = hWnd;
    }
    return slot.get();
}

BOOL CWnd::Attach(HWND hWndNew) {
    if (m_hWnd || !hWndNew) return FALSE;
    WindowMap& m = Map();
    std::lock_guard<std::mutex> lock(m.mutex);
    if (m.permanent.count(hWndNew)) return FALSE;
    m.permanent[hWndNew] = this;
    m_hWnd = hWndNew;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND h = m_hWnd;
    if (h) {
        WindowMap& m = Map();
        std::lock_guard<std::mutex> lock(m.mutex);
        auto it = m.permanent.find(h);
        if (it != m.permanent.end() && it->second == this) m.permanent.erase(it);
    }
    m_hWnd = nullptr;
    return h;
}

BOOL CWnd::Create(LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                  CWnd* pParentWnd, UINT nID, CCreateContext* pContext) {
    return CreateEx(0, lpszClassName, lpszWindowName, dwStyle | WS_CHILD, rect.left, rect.top,
                    rect.right - rect.left, rect.bottom - rect.top,
                    pParentWnd ? pParentWnd->m_hWnd : nullptr,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), pContext);
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCSTR lpszClassName, LPCSTR lpszWindowName, DWORD dwStyle,
                    int x, int y, int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu,
                    LPVOID lpParam) {
    if (m_hWnd && ::IsWindow(m_hWnd)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (m_hWnd) Detach();
    if (!lpszClassName) {
        RegisterFrameworkClass();
        lpszClassName = kFrameworkClass;
    }
    CWnd* previous = t_pWndInit;
    t_pWndInit = this;
    HWND hwnd = ::CreateWindowExA(dwExStyle, lpszClassName, lpszWindowName, dwStyle, x, y, nWidth,
                                  nHeight, hWndParent, nIDorHMenu, AfxGetResourceHandle(), lpParam);
    t_pWndInit = previous;
    if (!hwnd) {
        if (m_hWnd) Detach();
        return FALSE;
    }
    // A window of another class never passed through the framework procedure: attach it now.
    if (!m_hWnd) Attach(hwnd);
    return TRUE;
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd) return FALSE;
    if (!::IsWindow(m_hWnd)) {
        Detach();
        return FALSE;
    }
    HWND h = m_hWnd;
    const BOOL ok = ::DestroyWindow(h);
    // Windows of other classes do not pass WM_NCDESTROY through the framework; let go here.
    if (ok && m_hWnd == h) Detach();
    return ok;
}

void CWnd::ClientToScreen(LPRECT lpRect) const {
    POINT a{lpRect->left, lpRect->top}, b{lpRect->right, lpRect->bottom};
    ::ClientToScreen(m_hWnd, &a);
    ::ClientToScreen(m_hWnd, &b);
    *lpRect = RECT{a.x, a.y, b.x, b.y};
}

LRESULT CALLBACK CWnd::AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* pWnd = FromHandlePermanent(hWnd);
    if (!pWnd && t_pWndInit && !t_pWndInit->m_hWnd) {
        pWnd = t_pWndInit;
        pWnd->Attach(hWnd);
    }
    if (!pWnd) return ::DefWindowProcA(hWnd, message, wParam, lParam);
    const LastMessage saved = t_lastMessage;
    t_lastMessage = LastMessage{hWnd, message, wParam, lParam};
    const LRESULT result = pWnd->WindowProc(message, wParam, lParam);
    t_lastMessage = saved;
    if (message == WM_NCDESTROY && pWnd->m_hWnd == hWnd) {
        pWnd->Detach();
        pWnd->PostNcDestroy();
    }
    return result;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT result = 0;
    if (!OnWndMsg(message, wParam, lParam, &result))
        result = DefWindowProc(message, wParam, lParam);
    return result;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    // The most derived map first; the first entry for the message wins.
    for (const AFX_MSGMAP* map = GetMessageMap(); map;
         map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
        for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->pfn; ++e) {
            if (e->nMessage != message) continue;
            const LRESULT r = e->pfn(this, wParam, lParam);
            if (pResult) *pResult = r;
            return TRUE;
        }
        if (map->pfnGetBaseMap == nullptr) break;
    }
    return FALSE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
    return DefWindowProc(t_lastMessage.message, t_lastMessage.wParam, t_lastMessage.lParam);
}

void CWnd::OnPaint() {
    Default();
}
BOOL CWnd::OnEraseBkgnd(CDC*) {
    return static_cast<BOOL>(Default());
}
int CWnd::OnCreate(LPCREATESTRUCT) {
    return static_cast<int>(Default());
}
void CWnd::OnDestroy() {
    Default();
}
void CWnd::OnSize(UINT, int, int) {
    Default();
}
void CWnd::OnLButtonDown(UINT, CPoint) {
    Default();
}
void CWnd::OnLButtonUp(UINT, CPoint) {
    Default();
}
void CWnd::OnMouseMove(UINT, CPoint) {
    Default();
}
BOOL CWnd::OnSetCursor(CWnd*, UINT, UINT) {
    return static_cast<BOOL>(Default());
}

// CWnd's own map is empty: unhandled messages go to DefWindowProc.
const AFX_MSGMAP* CWnd::GetMessageMap() const {
    return GetThisMessageMap();
}
const AFX_MSGMAP* CWnd::GetThisMessageMap() {
    static const AFX_MSGMAP_ENTRY entries[] = {{0, nullptr}};
    static const AFX_MSGMAP map = {nullptr, &entries[0]};
    return &map;
}

// ---- GDI objects ----

CGdiObject::~CGdiObject() {
    DeleteObject();
}

BOOL CGdiObject::Attach(HGDIOBJ hObject) {
    if (m_hObject || !hObject) return FALSE;
    m_hObject = hObject;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
    HGDIOBJ h = m_hObject;
    m_hObject = nullptr;
    return h;
}

BOOL CGdiObject::DeleteObject() {
    if (!m_hObject) return FALSE;
    return ::DeleteObject(Detach());
}

BOOL CPen::CreatePen(int nPenStyle, int nWidth, COLORREF crColor) {
    return Attach(::CreatePen(nPenStyle, nWidth, crColor));
}

BOOL CBrush::CreateSolidBrush(COLORREF crColor) {
    return Attach(::CreateSolidBrush(crColor));
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight) {
    return Attach(::CreateCompatibleBitmap(pDC ? pDC->m_hDC : nullptr, nWidth, nHeight));
}

// ---- device contexts ----

CDC::~CDC() {
    // Wrappers of objects selected out are not ours to delete.
    for (auto& w : m_wrappers) w->Detach();
    if (m_bOwnsDC) DeleteDC();
}

BOOL CDC::Attach(HDC hDC) {
    if (m_hDC || !hDC) return FALSE;
    m_hDC = hDC;
    return TRUE;
}

HDC CDC::Detach() {
    HDC h = m_hDC;
    m_hDC = nullptr;
    m_bOwnsDC = false;
    return h;
}

BOOL CDC::CreateCompatibleDC(CDC* pDC) {
    HDC screen = nullptr;
    if (!pDC) screen = ::GetDC(nullptr);
    HDC h = ::CreateCompatibleDC(pDC ? pDC->m_hDC : screen);
    if (screen) ::ReleaseDC(nullptr, screen);
    if (!h || !Attach(h)) {
        if (h) ::DeleteDC(h);
        return FALSE;
    }
    m_bOwnsDC = true;
    return TRUE;
}

BOOL CDC::DeleteDC() {
    if (!m_hDC) return FALSE;
    const BOOL ok = ::DeleteDC(Detach());
    return ok;
}

template <class T>
T* CDC::Wrap(HGDIOBJ old) {
    if (!old) return nullptr;
    auto w = std::make_unique<T>();
    w->Attach(old);
    T* p = w.get();
    m_wrappers.push_back(std::move(w));
    return p;
}

CPen* CDC::SelectObject(CPen* pPen) {
    return pPen ? Wrap<CPen>(::SelectObject(m_hDC, pPen->m_hObject)) : nullptr;
}
CBrush* CDC::SelectObject(CBrush* pBrush) {
    return pBrush ? Wrap<CBrush>(::SelectObject(m_hDC, pBrush->m_hObject)) : nullptr;
}
CBitmap* CDC::SelectObject(CBitmap* pBitmap) {
    return pBitmap ? Wrap<CBitmap>(::SelectObject(m_hDC, pBitmap->m_hObject)) : nullptr;
}
HGDIOBJ CDC::SelectObject(HGDIOBJ hObject) {
    return ::SelectObject(m_hDC, hObject);
}

CGdiObject* CDC::SelectStockObject(int nIndex) {
    HGDIOBJ stock = ::GetStockObject(nIndex);
    return stock ? Wrap<CGdiObject>(::SelectObject(m_hDC, stock)) : nullptr;
}

CPoint CDC::SetWindowOrg(int x, int y) {
    POINT old{0, 0};
    ::SetWindowOrgEx(m_hDC, x, y, &old);
    return CPoint(old);
}

CPoint CDC::GetWindowOrg() const {
    POINT p{0, 0};
    ::GetWindowOrgEx(m_hDC, &p);
    return CPoint(p);
}

void CDC::FillSolidRect(LPCRECT lpRect, COLORREF clr) {
    HBRUSH b = ::CreateSolidBrush(clr);
    ::FillRect(m_hDC, lpRect, b);
    ::DeleteObject(b);
}

CPoint CDC::MoveTo(int x, int y) {
    POINT old{0, 0};
    ::MoveToEx(m_hDC, x, y, &old);
    return CPoint(old);
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_ps{}, m_hWnd(pWnd ? pWnd->m_hWnd : nullptr) {
    Attach(::BeginPaint(m_hWnd, &m_ps));
}

CPaintDC::~CPaintDC() {
    if (m_hDC) {
        Detach();
        ::EndPaint(m_hWnd, &m_ps);
    }
}

CClientDC::CClientDC(CWnd* pWnd) : m_hWnd(pWnd ? pWnd->m_hWnd : nullptr) {
    Attach(::GetDC(m_hWnd));
}

CClientDC::~CClientDC() {
    if (m_hDC) ::ReleaseDC(m_hWnd, Detach());
}
