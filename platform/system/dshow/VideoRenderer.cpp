// The video renderer (CLSID_VideoRenderer): shows the pictures it receives in a window of its own,
// "ActiveMovie Window", scaled to the window's client area. Each picture is drawn as it arrives, on
// the streaming thread; the window itself lives on the renderer's own thread, which answers its
// messages and repaints the last picture when the window is uncovered or resized. IVideoWindow
// places the window: put_Owner makes it a child of the owner, SetWindowPosition moves it inside
// the owner's client area, put_Visible shows it. IBasicVideo describes the picture and hands out
// the one a paused renderer holds. It takes uncompressed RGB of 8, 16, 24 and 32 bits.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <control.h>
#include <evcode.h>
#include <streams.h>
#include <windows.h>

#include "platform/system/com/ClassRegistry.h"
#include "platform/system/dshow/DibExpand.h"
#include "platform/system/dshow/FilterRegistry.h"
#include "platform/system/dshow/VideoFormat.h"

namespace lumacap::dshow {
namespace {

constexpr char kWindowClass[] = "VideoRenderer";
constexpr char kWindowTitle[] = "ActiveMovie Window";
// Ends the window thread's message loop (posted to the thread, not to the window, which the
// owner's destruction may already have taken away).
constexpr UINT kEndWindowThread = WM_APP + 0x3A1;
constexpr long kDefaultStyle = WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
// Styles a video window cannot take.
constexpr long kRefusedStyles = WS_DISABLED | WS_HSCROLL | WS_VSCROLL | WS_MAXIMIZE | WS_MINIMIZE;

bool IsInputMessage(UINT message) {
    return (message >= 0x0100 && message <= 0x0109) ||  // keyboard
           (message >= 0x0200 && message <= 0x020E);    // mouse
}

RECT MakeRect(long left, long top, long right, long bottom) {
    return {static_cast<LONG>(left), static_cast<LONG>(top), static_cast<LONG>(right),
            static_cast<LONG>(bottom)};
}

bool IsDrawableSubtype(const GUID& subtype) {
    return subtype == MEDIASUBTYPE_RGB8 || subtype == MEDIASUBTYPE_RGB555 ||
           subtype == MEDIASUBTYPE_RGB565 || subtype == MEDIASUBTYPE_RGB24 ||
           subtype == MEDIASUBTYPE_RGB32;
}

class VideoRenderer final : public CBaseRenderer, public IVideoWindow, public IBasicVideo2 {
public:
    explicit VideoRenderer(HRESULT* phr)
        : CBaseRenderer(CLSID_VideoRenderer, NAME("Video Renderer"), nullptr, phr) {
        m_pInputPinName = L"Input";
        m_thread = std::thread([this] { WindowThread(); });
        std::unique_lock<std::mutex> lock(m_readyMutex);
        m_readyCv.wait(lock, [this] { return m_ready; });
        if (!m_hwnd.load() && phr && SUCCEEDED(*phr)) *phr = E_FAIL;
    }

    ~VideoRenderer() override {
        PostThreadMessageA(m_threadId, kEndWindowThread, 0, 0);
        if (m_thread.joinable()) m_thread.join();
        SysFreeString(m_caption);
    }

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), ppv);
        if (riid == IID_IBasicVideo || riid == IID_IBasicVideo2)
            return GetInterface(static_cast<IBasicVideo2*>(this), ppv);
        return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
    }

    // ---- renderer ----
    // Uncompressed RGB of any depth a screen shows: 8-bit palettised, 16-bit, 24-bit and 32-bit.
    HRESULT CheckMediaType(const CMediaType* pmt) override {
        if (pmt->majortype != MEDIATYPE_Video || pmt->formattype != FORMAT_VideoInfo)
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (!IsDrawableSubtype(pmt->subtype)) return VFW_E_TYPE_NOT_ACCEPTED;
        if (pmt->cbFormat < sizeof(VIDEOINFOHEADER) || !pmt->pbFormat)
            return VFW_E_TYPE_NOT_ACCEPTED;
        const BITMAPINFOHEADER& h =
            reinterpret_cast<const VIDEOINFOHEADER*>(pmt->pbFormat)->bmiHeader;
        return PlausiblePictureSize(&h) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
    }

    HRESULT SetMediaType(const CMediaType* pmt) override {
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->pbFormat);
        const BITMAPINFOHEADER& h = vih->bmiHeader;
        {
            std::lock_guard<std::mutex> lock(m_frameMutex);
            m_header = h;
            m_header.biSize = sizeof(BITMAPINFOHEADER);
            if (h.biBitCount != 16) m_header.biCompression = BI_RGB;
            // The palette or the colour masks follow the header in the format block.
            std::memset(&m_colours, 0, sizeof(m_colours));
            const size_t colours =
                pmt->cbFormat > sizeof(VIDEOINFOHEADER)
                    ? std::min(sizeof(m_colours), pmt->cbFormat - sizeof(VIDEOINFOHEADER))
                    : 0;
            if (colours) std::memcpy(&m_colours, vih + 1, colours);
            m_hasColours = colours > 0;
            m_frame.clear();
        }
        bool size = false;
        {
            std::lock_guard<std::mutex> lock(m_settingsMutex);
            m_videoWidth = h.biWidth;
            m_videoHeight = std::abs(h.biHeight);
            m_frameTime = vih->AvgTimePerFrame;
            m_bitRate = static_cast<long>(vih->dwBitRate);
            m_bitErrorRate = static_cast<long>(vih->dwBitErrorRate);
            m_source = MakeRect(0, 0, m_videoWidth, m_videoHeight);
            m_defaultSource = true;
            // A window nobody has placed yet takes the picture's size.
            if (!m_placed) {
                m_width = m_videoWidth;
                m_height = m_videoHeight;
                size = true;
            }
        }
        if (size)
            SetWindowPos(m_hwnd, nullptr, 0, 0, m_videoWidth, m_videoHeight,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        return S_OK;
    }

    HRESULT BreakConnect() override {
        std::lock_guard<std::mutex> lock(m_frameMutex);
        m_frame.clear();
        return S_OK;
    }

    HRESULT DoRenderSample(IMediaSample* pSample) override {
        BYTE* data = nullptr;
        if (FAILED(pSample->GetPointer(&data)) || !data) return S_OK;
        const long length = pSample->GetActualDataLength();
        BITMAPINFO bmi{};
        const BYTE* bits = data;
        {
            std::lock_guard<std::mutex> lock(m_frameMutex);
            const long stride = GDI_WIDTHBYTES(m_header.biWidth * m_header.biBitCount);
            const long size = stride * std::abs(m_header.biHeight);
            // A short sample is not a picture of the agreed type: keep showing the last one.
            if (size <= 0 || length < size) return S_OK;
            // Kept for repainting the window when it is uncovered or resized, and for
            // GetCurrentImage.
            m_frame.assign(data, data + size);
            bmi.bmiHeader = m_header;
            if (m_header.biBitCount < 24) {
                if (!ExpandToRgb32(m_header, m_hasColours ? &m_colours : nullptr, data, m_drawn,
                                   bmi.bmiHeader))
                    return S_OK;
                bits = m_drawn.data();
            }
        }
        // Drawn at once, as it arrives, scaled to the window's client area; the window's own
        // thread repaints from the copy when it needs to.
        HWND hwnd = m_hwnd.load();
        RECT rc{};
        if (!GetClientRect(hwnd, &rc) || rc.right <= 0 || rc.bottom <= 0) return S_OK;
        if (HDC dc = GetDC(hwnd)) {
            SetStretchBltMode(dc, COLORONCOLOR);
            StretchDIBits(dc, 0, 0, rc.right, rc.bottom, 0, 0, bmi.bmiHeader.biWidth,
                          std::abs(bmi.bmiHeader.biHeight), bits, &bmi, DIB_RGB_COLORS, SRCCOPY);
            ReleaseDC(hwnd, dc);
        }
        return S_OK;
    }

    // ---- IDispatch ----
    STDMETHODIMP GetTypeInfoCount(UINT* p) override {
        if (!p) return E_POINTER;
        *p = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, struct tagDISPPARAMS*, VARIANT*,
                        struct tagEXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // ---- IVideoWindow: the window answers only while the renderer is connected ----
    STDMETHODIMP put_Caption(BSTR v) override {
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::string text;
        {
            std::lock_guard<std::mutex> lock(m_settingsMutex);
            SysFreeString(m_caption);
            m_caption = v ? SysAllocString(v) : nullptr;
            for (const OLECHAR* c = v; c && *c; ++c)
                text += *c < 0x80 ? static_cast<char>(*c) : '?';
        }
        SetWindowTextA(m_hwnd, text.c_str());
        return S_OK;
    }
    STDMETHODIMP get_Caption(BSTR* v) override {
        if (!v) return E_POINTER;
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_settingsMutex);
        *v = SysAllocString(m_caption ? m_caption : L"ActiveMovie Window");
        return S_OK;
    }

    STDMETHODIMP put_WindowStyle(long style) override {
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        if (style & kRefusedStyles) return E_INVALIDARG;
        std::lock_guard<std::mutex> call(m_callMutex);
        HWND hwnd = m_hwnd;
        // Visibility is put_Visible's business: the new style keeps the window as shown or hidden.
        const LONG_PTR visible = GetWindowLongPtrA(hwnd, GWL_STYLE) & WS_VISIBLE;
        SetWindowLongPtrA(hwnd, GWL_STYLE, (style & ~static_cast<long>(WS_VISIBLE)) | visible);
        std::lock_guard<std::mutex> lock(m_settingsMutex);
        m_style = style & ~static_cast<long>(WS_VISIBLE);
        return S_OK;
    }
    STDMETHODIMP get_WindowStyle(long* v) override {
        if (!v) return E_POINTER;
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_settingsMutex);
        *v = m_style | (IsWindowShown() ? WS_VISIBLE : 0);
        return S_OK;
    }
    STDMETHODIMP put_WindowStyleEx(long v) override {
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        SetWindowLongPtrA(m_hwnd, GWL_EXSTYLE, v);
        std::lock_guard<std::mutex> lock(m_settingsMutex);
        m_styleEx = v;
        return S_OK;
    }
    STDMETHODIMP get_WindowStyleEx(long* v) override { return Get(v, m_styleEx); }
    STDMETHODIMP put_AutoShow(long v) override { return Put(m_autoShow, v); }
    STDMETHODIMP get_AutoShow(long* v) override { return Get(v, m_autoShow); }
    STDMETHODIMP put_WindowState(long v) override {
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> call(m_callMutex);
        ShowWindow(m_hwnd, static_cast<int>(v));
        std::lock_guard<std::mutex> lock(m_settingsMutex);
        m_windowState = v;
        return S_OK;
    }
    STDMETHODIMP get_WindowState(long* v) override { return Get(v, m_windowState); }
    STDMETHODIMP put_BackgroundPalette(long v) override { return Put(m_backgroundPalette, v); }
    STDMETHODIMP get_BackgroundPalette(long* v) override { return Get(v, m_backgroundPalette); }

    STDMETHODIMP put_Visible(long v) override {
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        if (v != OATRUE && v != OAFALSE) return E_INVALIDARG;
        std::lock_guard<std::mutex> call(m_callMutex);
        ShowWindow(m_hwnd, v == OATRUE ? SW_SHOWNORMAL : SW_HIDE);
        return S_OK;
    }
    STDMETHODIMP get_Visible(long* v) override {
        if (!v) return E_POINTER;
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        *v = IsWindowShown() ? OATRUE : OAFALSE;
        return S_OK;
    }

    STDMETHODIMP put_Left(long v) override { return MoveTo(&v, nullptr, nullptr, nullptr); }
    STDMETHODIMP get_Left(long* v) override { return Get(v, m_left); }
    STDMETHODIMP put_Top(long v) override { return MoveTo(nullptr, &v, nullptr, nullptr); }
    STDMETHODIMP get_Top(long* v) override { return Get(v, m_top); }
    STDMETHODIMP put_Width(long v) override { return MoveTo(nullptr, nullptr, &v, nullptr); }
    STDMETHODIMP get_Width(long* v) override { return Get(v, m_width); }
    STDMETHODIMP put_Height(long v) override { return MoveTo(nullptr, nullptr, nullptr, &v); }
    STDMETHODIMP get_Height(long* v) override { return Get(v, m_height); }

    STDMETHODIMP put_Owner(OAHWND owner) override {
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> call(m_callMutex);
        HWND hwnd = m_hwnd;
        HWND parent = reinterpret_cast<HWND>(owner);
        // An owned video window is a child of its owner; without an owner it stands on its own.
        if (parent && IsWindow(parent)) {
            SetWindowLongPtrA(hwnd, GWL_STYLE, GetWindowLongPtrA(hwnd, GWL_STYLE) | WS_CHILD);
            SetParent(hwnd, parent);
        } else {
            SetParent(hwnd, nullptr);
            SetWindowLongPtrA(
                hwnd, GWL_STYLE,
                GetWindowLongPtrA(hwnd, GWL_STYLE) & ~static_cast<LONG_PTR>(WS_CHILD));
        }
        std::lock_guard<std::mutex> lock(m_settingsMutex);
        m_owner = owner;
        m_style = static_cast<long>(GetWindowLongPtrA(hwnd, GWL_STYLE) &
                                    ~static_cast<LONG_PTR>(WS_VISIBLE));
        return S_OK;
    }
    STDMETHODIMP get_Owner(OAHWND* v) override { return Get(v, m_owner); }
    STDMETHODIMP put_MessageDrain(OAHWND v) override { return Put(m_drain, v); }
    STDMETHODIMP get_MessageDrain(OAHWND* v) override { return Get(v, m_drain); }
    STDMETHODIMP get_BorderColor(long* v) override { return Get(v, m_borderColor); }
    STDMETHODIMP put_BorderColor(long v) override { return Put(m_borderColor, v); }
    STDMETHODIMP get_FullScreenMode(long* v) override {
        if (!v) return E_POINTER;
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        *v = OAFALSE;
        return S_OK;
    }
    // This renderer shows video in a window only.
    STDMETHODIMP put_FullScreenMode(long) override { return E_NOTIMPL; }
    STDMETHODIMP SetWindowForeground(long) override {
        return Connected() ? S_OK : VFW_E_NOT_CONNECTED;
    }
    STDMETHODIMP NotifyOwnerMessage(OAHWND, long, LONG_PTR, LONG_PTR) override {
        return Connected() ? S_OK : VFW_E_NOT_CONNECTED;
    }
    STDMETHODIMP SetWindowPosition(long Left, long Top, long Width, long Height) override {
        return MoveTo(&Left, &Top, &Width, &Height);
    }
    STDMETHODIMP GetWindowPosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) override {
        if (!pLeft || !pTop || !pWidth || !pHeight) return E_POINTER;
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_settingsMutex);
        *pLeft = m_left;
        *pTop = m_top;
        *pWidth = m_width;
        *pHeight = m_height;
        return S_OK;
    }
    STDMETHODIMP GetMinIdealImageSize(long* pWidth, long* pHeight) override {
        return IdealSize(pWidth, pHeight);
    }
    STDMETHODIMP GetMaxIdealImageSize(long* pWidth, long* pHeight) override {
        return IdealSize(pWidth, pHeight);
    }
    STDMETHODIMP GetRestorePosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) override {
        return GetWindowPosition(pLeft, pTop, pWidth, pHeight);
    }
    STDMETHODIMP HideCursor(long v) override { return Put(m_cursorHidden, v); }
    STDMETHODIMP IsCursorHidden(long* v) override { return Get(v, m_cursorHidden); }

    // ---- IBasicVideo: the picture, the part of it shown and where in the window ----
    STDMETHODIMP get_AvgTimePerFrame(REFTIME* v) override {
        if (!v) return E_POINTER;
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_settingsMutex);
        *v = static_cast<double>(m_frameTime) / 10000000.0;
        return S_OK;
    }
    STDMETHODIMP get_BitRate(long* v) override { return Get(v, m_bitRate); }
    STDMETHODIMP get_BitErrorRate(long* v) override { return Get(v, m_bitErrorRate); }
    STDMETHODIMP get_VideoWidth(long* v) override { return Get(v, m_videoWidth); }
    STDMETHODIMP get_VideoHeight(long* v) override { return Get(v, m_videoHeight); }
    STDMETHODIMP GetVideoSize(long* w, long* h) override {
        if (!w || !h) return E_POINTER;
        return IdealSize(w, h);
    }
    // Square pixels: the picture's own proportions.
    STDMETHODIMP GetPreferredAspectRatio(long* x, long* y) override {
        if (!x || !y) return E_POINTER;
        return IdealSize(x, y);
    }

    HRESULT InputPinInterface(REFIID riid, void** ppv) override {
        if (riid != IID_IOverlay) return E_NOINTERFACE;
        return GetInterface(&m_overlay, ppv);
    }

    STDMETHODIMP put_SourceLeft(long v) override {
        return SetRect(false, &v, nullptr, nullptr, nullptr);
    }
    STDMETHODIMP put_SourceTop(long v) override {
        return SetRect(false, nullptr, &v, nullptr, nullptr);
    }
    STDMETHODIMP put_SourceWidth(long v) override {
        return SetRect(false, nullptr, nullptr, &v, nullptr);
    }
    STDMETHODIMP put_SourceHeight(long v) override {
        return SetRect(false, nullptr, nullptr, nullptr, &v);
    }
    STDMETHODIMP get_SourceLeft(long* v) override {
        return GetRect(false, v, nullptr, nullptr, nullptr);
    }
    STDMETHODIMP get_SourceTop(long* v) override {
        return GetRect(false, nullptr, v, nullptr, nullptr);
    }
    STDMETHODIMP get_SourceWidth(long* v) override {
        return GetRect(false, nullptr, nullptr, v, nullptr);
    }
    STDMETHODIMP get_SourceHeight(long* v) override {
        return GetRect(false, nullptr, nullptr, nullptr, v);
    }
    STDMETHODIMP SetSourcePosition(long l, long t, long w, long h) override {
        return SetRect(false, &l, &t, &w, &h);
    }
    STDMETHODIMP GetSourcePosition(long* l, long* t, long* w, long* h) override {
        if (!l || !t || !w || !h) return E_POINTER;
        return GetRect(false, l, t, w, h);
    }
    STDMETHODIMP SetDefaultSourcePosition() override { return DefaultRect(false); }
    STDMETHODIMP IsUsingDefaultSource() override { return IsDefault(false); }

    STDMETHODIMP put_DestinationLeft(long v) override {
        return SetRect(true, &v, nullptr, nullptr, nullptr);
    }
    STDMETHODIMP put_DestinationTop(long v) override {
        return SetRect(true, nullptr, &v, nullptr, nullptr);
    }
    STDMETHODIMP put_DestinationWidth(long v) override {
        return SetRect(true, nullptr, nullptr, &v, nullptr);
    }
    STDMETHODIMP put_DestinationHeight(long v) override {
        return SetRect(true, nullptr, nullptr, nullptr, &v);
    }
    STDMETHODIMP get_DestinationLeft(long* v) override {
        return GetRect(true, v, nullptr, nullptr, nullptr);
    }
    STDMETHODIMP get_DestinationTop(long* v) override {
        return GetRect(true, nullptr, v, nullptr, nullptr);
    }
    STDMETHODIMP get_DestinationWidth(long* v) override {
        return GetRect(true, nullptr, nullptr, v, nullptr);
    }
    STDMETHODIMP get_DestinationHeight(long* v) override {
        return GetRect(true, nullptr, nullptr, nullptr, v);
    }
    STDMETHODIMP SetDestinationPosition(long l, long t, long w, long h) override {
        return SetRect(true, &l, &t, &w, &h);
    }
    STDMETHODIMP GetDestinationPosition(long* l, long* t, long* w, long* h) override {
        if (!l || !t || !w || !h) return E_POINTER;
        return GetRect(true, l, t, w, h);
    }
    STDMETHODIMP SetDefaultDestinationPosition() override { return DefaultRect(true); }
    STDMETHODIMP IsUsingDefaultDestination() override { return IsDefault(true); }

    // The palette of an 8-bit picture, as PALETTEENTRY values.
    STDMETHODIMP GetVideoPaletteEntries(long StartIndex, long Entries, long* pRetrieved,
                                        long* pPalette) override {
        if (!pRetrieved) return E_POINTER;
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_frameMutex);
        if (m_header.biBitCount != 8) return VFW_E_NO_PALETTE_AVAILABLE;
        const long count = m_header.biClrUsed ? static_cast<long>(m_header.biClrUsed) : 256;
        if (!pPalette) {
            *pRetrieved = count;
            return S_OK;
        }
        if (StartIndex < 0 || Entries < 0 || StartIndex >= count) return E_INVALIDARG;
        const long n = std::min(Entries, count - StartIndex);
        auto* out = reinterpret_cast<BYTE*>(pPalette);
        for (long i = 0; i < n; ++i) {
            const RGBQUAD& c = m_colours.bmiColors[StartIndex + i];
            out[4 * i] = c.rgbRed;
            out[4 * i + 1] = c.rgbGreen;
            out[4 * i + 2] = c.rgbBlue;
            out[4 * i + 3] = 0;
        }
        *pRetrieved = n;
        return S_OK;
    }

    // The picture a paused renderer holds: its header followed by its bits.
    STDMETHODIMP GetCurrentImage(long* pBufferSize, long* pDIBImage) override {
        if (!pBufferSize) return E_POINTER;
        {
            std::lock_guard<std::mutex> wait(m_waitMutex);
            if (m_streamState != State_Paused) return VFW_E_NOT_PAUSED;
            if (!m_bHaveSample) return E_UNEXPECTED;
        }
        std::lock_guard<std::mutex> lock(m_frameMutex);
        const long needed = static_cast<long>(sizeof(BITMAPINFOHEADER) + m_frame.size());
        if (!pDIBImage) {
            *pBufferSize = needed;
            return S_OK;
        }
        if (*pBufferSize < needed) return E_OUTOFMEMORY;
        BITMAPINFOHEADER header = m_header;
        header.biSizeImage = static_cast<DWORD>(m_frame.size());
        auto* out = reinterpret_cast<BYTE*>(pDIBImage);
        std::memcpy(out, &header, sizeof(header));
        std::memcpy(out + sizeof(header), m_frame.data(), m_frame.size());
        return S_OK;
    }

private:
    // The input pin's overlay: only its window is of use to anyone now; it shares the pin's
    // identity.
    class Overlay final : public IOverlay {
    public:
        explicit Overlay(VideoRenderer* r) : m_r(r) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
            return m_r->GetPin(0)->QueryInterface(riid, ppv);
        }
        STDMETHODIMP_(ULONG) AddRef() override { return m_r->GetPin(0)->AddRef(); }
        STDMETHODIMP_(ULONG) Release() override { return m_r->GetPin(0)->Release(); }
        STDMETHODIMP GetWindowHandle(HWND* pHwnd) override {
            if (!pHwnd) return E_POINTER;
            *pHwnd = m_r->m_hwnd;
            return S_OK;
        }
        STDMETHODIMP GetPalette(DWORD*, PALETTEENTRY**) override { return E_NOTIMPL; }
        STDMETHODIMP SetPalette(DWORD, PALETTEENTRY*) override { return E_NOTIMPL; }
        STDMETHODIMP GetDefaultColorKey(COLORKEY*) override { return E_NOTIMPL; }
        STDMETHODIMP GetColorKey(COLORKEY*) override { return E_NOTIMPL; }
        STDMETHODIMP SetColorKey(COLORKEY*) override { return E_NOTIMPL; }
        STDMETHODIMP GetClipList(RECT*, RECT*, RGNDATA**) override { return E_NOTIMPL; }
        STDMETHODIMP GetVideoPosition(RECT*, RECT*) override { return E_NOTIMPL; }
        STDMETHODIMP Advise(IOverlayNotify*, DWORD) override { return E_NOTIMPL; }
        STDMETHODIMP Unadvise() override { return E_NOTIMPL; }

    private:
        VideoRenderer* m_r;
    };

    bool Connected() { return GetPin(0) && m_pInputPin->IsConnected(); }
    bool IsWindowShown() { return (GetWindowLongPtrA(m_hwnd, GWL_STYLE) & WS_VISIBLE) != 0; }

    template <class T>
    HRESULT Put(T& field, T value) {
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_settingsMutex);
        field = value;
        return S_OK;
    }
    template <class T>
    HRESULT Get(T* out, const T& field) {
        if (!out) return E_POINTER;
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_settingsMutex);
        *out = field;
        return S_OK;
    }

    HRESULT MoveTo(const long* left, const long* top, const long* width, const long* height) {
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        if ((width && *width < 0) || (height && *height < 0)) return E_INVALIDARG;
        std::lock_guard<std::mutex> call(m_callMutex);
        long l, t, w, h;
        {
            std::lock_guard<std::mutex> lock(m_settingsMutex);
            if (left) m_left = *left;
            if (top) m_top = *top;
            if (width) m_width = *width;
            if (height) m_height = *height;
            m_placed = true;
            l = m_left;
            t = m_top;
            w = m_width;
            h = m_height;
        }
        // Without the settings lock: the window thread answers the move's messages meanwhile.
        SetWindowPos(m_hwnd, nullptr, static_cast<int>(l), static_cast<int>(t), static_cast<int>(w),
                     static_cast<int>(h), SWP_NOZORDER | SWP_NOACTIVATE);
        return S_OK;
    }

    // The source (within the picture) or destination (within the window) rectangle; a default
    // destination is the whole client area.
    RECT RectLocked(bool dest) {
        if (!dest) return m_source;
        if (!m_defaultDest) return m_dest;
        RECT client{};
        GetClientRect(m_hwnd, &client);
        return {0, 0, client.right, client.bottom};
    }
    HRESULT SetRect(bool dest, const long* left, const long* top, const long* width,
                    const long* height) {
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_settingsMutex);
        const RECT r = RectLocked(dest);
        const long l = left ? *left : r.left, t = top ? *top : r.top;
        const long w = width ? *width : r.right - r.left, h = height ? *height : r.bottom - r.top;
        if (w <= 0 || h <= 0) return E_INVALIDARG;
        if (!dest && (l < 0 || t < 0 || l + w > m_videoWidth || t + h > m_videoHeight))
            return E_INVALIDARG;
        (dest ? m_dest : m_source) = MakeRect(l, t, l + w, t + h);
        (dest ? m_defaultDest : m_defaultSource) = false;
        return S_OK;
    }
    HRESULT GetRect(bool dest, long* left, long* top, long* width, long* height) {
        if (!left && !top && !width && !height) return E_POINTER;
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_settingsMutex);
        const RECT r = RectLocked(dest);
        if (left) *left = r.left;
        if (top) *top = r.top;
        if (width) *width = r.right - r.left;
        if (height) *height = r.bottom - r.top;
        return S_OK;
    }
    HRESULT DefaultRect(bool dest) {
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_settingsMutex);
        if (dest)
            m_defaultDest = true;
        else {
            m_source = MakeRect(0, 0, m_videoWidth, m_videoHeight);
            m_defaultSource = true;
        }
        return S_OK;
    }
    HRESULT IsDefault(bool dest) {
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_settingsMutex);
        return (dest ? m_defaultDest : m_defaultSource) ? S_OK : S_FALSE;
    }

    HRESULT IdealSize(long* w, long* h) {
        if (!w || !h) return E_POINTER;
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_settingsMutex);
        *w = m_videoWidth;
        *h = m_videoHeight;
        return S_OK;
    }

    // ---- the window thread ----
    void WindowThread() {
        WNDCLASSA wc{};
        wc.lpfnWndProc = &VideoRenderer::WindowProc;
        wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        wc.lpszClassName = kWindowClass;
        RegisterClassA(&wc);  // registered already by an earlier renderer: that class serves
        HWND hwnd = CreateWindowExA(0, kWindowClass, kWindowTitle, kDefaultStyle, 0, 0, 0, 0,
                                    nullptr, nullptr, nullptr, this);
        if (hwnd) SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        {
            std::lock_guard<std::mutex> lock(m_readyMutex);
            m_hwnd = hwnd;
            m_threadId = GetCurrentThreadId();
            m_ready = true;
        }
        m_readyCv.notify_all();
        if (!hwnd) return;
        MSG msg;
        while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
            if (!msg.hwnd && msg.message == kEndWindowThread) break;
            DispatchMessageA(&msg);
        }
        if (IsWindow(hwnd)) DestroyWindow(hwnd);
    }

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<VideoRenderer*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
        if (!self) return DefWindowProcA(hwnd, message, wParam, lParam);
        switch (message) {
            case WM_PAINT:
                self->Paint(hwnd);
                return 0;
            case WM_ERASEBKGND:
                return 1;  // the paint covers the whole client area
            case WM_CLOSE:
                // Closing the video window hides it and tells the application, as users expect
                // of a player's window; the graph decides what happens next.
                ShowWindow(hwnd, SW_HIDE);
                self->NotifyEvent(EC_USERABORT, 0, 0);
                return 0;
            case WM_SETCURSOR: {
                std::lock_guard<std::mutex> lock(self->m_settingsMutex);
                if (self->m_cursorHidden == OATRUE) {
                    SetCursor(nullptr);
                    return TRUE;
                }
                break;
            }
            default:
                break;
        }
        if (IsInputMessage(message)) {
            OAHWND drain;
            {
                std::lock_guard<std::mutex> lock(self->m_settingsMutex);
                drain = self->m_drain;
            }
            if (drain) {
                PostMessageA(reinterpret_cast<HWND>(drain), message, wParam, lParam);
                return 0;
            }
        }
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }

    void Paint(HWND hwnd) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        if (!dc) return;
        RECT rc{};
        GetClientRect(hwnd, &rc);
        bool drawn = false;
        {
            std::lock_guard<std::mutex> lock(m_frameMutex);
            if (!m_frame.empty() && rc.right > 0 && rc.bottom > 0) {
                BITMAPINFO bmi{};
                bmi.bmiHeader = m_header;
                const BYTE* bits = m_frame.data();
                if (m_header.biBitCount < 24) {
                    bmi.bmiHeader.biBitCount = 32;
                    bmi.bmiHeader.biCompression = BI_RGB;
                    bits = m_drawn.data();
                }
                SetStretchBltMode(dc, COLORONCOLOR);
                drawn = StretchDIBits(dc, 0, 0, rc.right, rc.bottom, 0, 0, m_header.biWidth,
                                      std::abs(m_header.biHeight), bits, &bmi, DIB_RGB_COLORS,
                                      SRCCOPY) != 0;
            }
        }
        // Nothing to show yet: black, as a video window is before its first picture.
        if (!drawn) FillRect(dc, &rc, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        EndPaint(hwnd, &ps);
    }

    Overlay m_overlay{this};
    std::thread m_thread;
    std::mutex m_readyMutex;
    std::condition_variable m_readyCv;
    bool m_ready = false;
    DWORD m_threadId = 0;
    std::atomic<HWND> m_hwnd{nullptr};

    // The latest picture; held only for copying in and for painting, never across a message.
    std::mutex m_frameMutex;
    BITMAPINFOHEADER m_header{};
    TRUECOLORINFO m_colours{};  // the palette or colour masks of the agreed type
    bool m_hasColours = false;
    std::vector<BYTE> m_frame;
    // An 8-bit or 16-bit picture as 32-bit RGB. Only the streaming thread writes it, so it draws
    // from it without the lock.
    std::vector<BYTE> m_drawn;

    // Orders the IVideoWindow calls that move the window; the window thread never takes it.
    std::mutex m_callMutex;
    std::mutex m_settingsMutex;
    BSTR m_caption = nullptr;
    long m_style = kDefaultStyle;
    long m_styleEx = 0;
    long m_autoShow = OATRUE;
    long m_windowState = SW_SHOWNORMAL;
    long m_backgroundPalette = OAFALSE;
    long m_left = 0, m_top = 0, m_width = 0, m_height = 0;
    bool m_placed = false;
    long m_videoWidth = 0, m_videoHeight = 0;
    REFERENCE_TIME m_frameTime = 0;
    long m_bitRate = 0, m_bitErrorRate = 0;
    RECT m_source{};  // left, top, right, bottom of the part of the picture shown
    RECT m_dest{};    // where in the window; empty means the whole client area
    bool m_defaultSource = true, m_defaultDest = true;
    OAHWND m_owner = 0;
    OAHWND m_drain = 0;
    long m_borderColor = 0;
    long m_cursorHidden = OAFALSE;
};

}  // namespace

LUMACAP_REGISTER_CLASS(CLSID_VideoRenderer, "Video Renderer", CreateComInstance<VideoRenderer>);
// Installed in the legacy filter category, where the mapper finds it.
static const BuiltinFilter s_videoRenderer(CLSID_VideoRenderer, L"Video Renderer", MERIT_PREFERRED,
                                           {{REG_PINFLAG_B_RENDERER,
                                             {{MEDIATYPE_Video, GUID_NULL}}}});

}  // namespace lumacap::dshow
