// The null renderer (takes anything, shows nothing) and the video renderer, which shows each
// picture in its owner window at the position IVideoWindow gives it, as the renderer's own child
// window would show it there.
#include <cstring>
#include <mutex>
#include <vector>

#include <control.h>
#include <qedit.h>
#include <streams.h>
#include <windows.h>

#include "platform/com/ClassRegistry.h"
#include "platform/sim/Faults.h"

namespace lumacap::dshow {
namespace {

class NullRenderer final : public CBaseRenderer {
public:
    explicit NullRenderer(HRESULT* phr)
        : CBaseRenderer(CLSID_NullRenderer, NAME("Null Renderer"), nullptr, phr) {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT DoRenderSample(IMediaSample*) override { return S_OK; }
};

class VideoRenderer final : public CBaseRenderer, public IVideoWindow {
public:
    explicit VideoRenderer(HRESULT* phr)
        : CBaseRenderer(CLSID_VideoRenderer, NAME("Video Renderer"), nullptr, phr) {}
    ~VideoRenderer() override { SysFreeString(m_caption); }

    DECLARE_IUNKNOWN
    STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        if (riid == IID_IVideoWindow) return GetInterface(static_cast<IVideoWindow*>(this), ppv);
        return CBaseRenderer::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT CheckMediaType(const CMediaType* pmt) override {
        if (pmt->majortype != MEDIATYPE_Video || pmt->formattype != FORMAT_VideoInfo)
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (pmt->subtype != MEDIASUBTYPE_RGB24 && pmt->subtype != MEDIASUBTYPE_RGB32)
            return VFW_E_TYPE_NOT_ACCEPTED;
        if (pmt->cbFormat < sizeof(VIDEOINFOHEADER) || !pmt->pbFormat)
            return VFW_E_TYPE_NOT_ACCEPTED;
        return S_OK;
    }
    HRESULT SetMediaType(const CMediaType* pmt) override {
        const auto* vih = reinterpret_cast<const VIDEOINFOHEADER*>(pmt->pbFormat);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_videoWidth = vih->bmiHeader.biWidth;
        m_videoHeight = std::abs(vih->bmiHeader.biHeight);
        m_header = vih->bmiHeader;
        if (m_width == 0) {
            m_width = m_videoWidth;
            m_height = m_videoHeight;
        }
        return S_OK;
    }
    HRESULT DoRenderSample(IMediaSample* pSample) override {
        BYTE* data = nullptr;
        pSample->GetPointer(&data);
        HWND owner;
        RECT dest;
        BITMAPINFO bmi{};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_owner || m_visible == OAFALSE) return S_OK;
            owner = reinterpret_cast<HWND>(m_owner);
            dest = RECT{static_cast<LONG>(m_left), static_cast<LONG>(m_top),
                        static_cast<LONG>(m_width), static_cast<LONG>(m_height)};
            bmi.bmiHeader = m_header;
        }
        // Drawn straight into the owner's client area, scaled into the window rectangle.
        if (!IsWindow(owner)) return S_OK;
        if (HDC dc = GetDC(owner)) {
            SetStretchBltMode(dc, COLORONCOLOR);
            StretchDIBits(dc, dest.left, dest.top, dest.right, dest.bottom, 0, 0,
                          bmi.bmiHeader.biWidth, std::abs(bmi.bmiHeader.biHeight), data, &bmi,
                          DIB_RGB_COLORS, SRCCOPY);
            ReleaseDC(owner, dc);
        }
        return S_OK;
    }

    // IDispatch
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

    // IVideoWindow: settings are kept while the renderer is connected, as the window exists then.
#define LUMACAP_VW_PUT(name, field, type)             \
    STDMETHODIMP name(type v) override {              \
        if (!Connected()) return VFW_E_NOT_CONNECTED; \
        std::lock_guard<std::mutex> lock(m_mutex);    \
        field = v;                                    \
        return S_OK;                                  \
    }
#define LUMACAP_VW_GET(name, field, type)             \
    STDMETHODIMP name(type* v) override {             \
        if (!v) return E_POINTER;                     \
        if (!Connected()) return VFW_E_NOT_CONNECTED; \
        std::lock_guard<std::mutex> lock(m_mutex);    \
        *v = field;                                   \
        return S_OK;                                  \
    }
    STDMETHODIMP put_Caption(BSTR v) override {
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_mutex);
        SysFreeString(m_caption);
        m_caption = v ? SysAllocString(v) : nullptr;
        return S_OK;
    }
    STDMETHODIMP get_Caption(BSTR* v) override {
        if (!v) return E_POINTER;
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_mutex);
        *v = SysAllocString(m_caption ? m_caption : L"ActiveMovie Window");
        return S_OK;
    }
    LUMACAP_VW_PUT(put_WindowStyle, m_style, long)
    LUMACAP_VW_GET(get_WindowStyle, m_style, long)
    LUMACAP_VW_PUT(put_WindowStyleEx, m_styleEx, long)
    LUMACAP_VW_GET(get_WindowStyleEx, m_styleEx, long)
    LUMACAP_VW_PUT(put_AutoShow, m_autoShow, long)
    LUMACAP_VW_GET(get_AutoShow, m_autoShow, long)
    LUMACAP_VW_PUT(put_WindowState, m_windowState, long)
    LUMACAP_VW_GET(get_WindowState, m_windowState, long)
    LUMACAP_VW_PUT(put_BackgroundPalette, m_backgroundPalette, long)
    LUMACAP_VW_GET(get_BackgroundPalette, m_backgroundPalette, long)
    LUMACAP_VW_PUT(put_Visible, m_visible, long)
    LUMACAP_VW_GET(get_Visible, m_visible, long)
    LUMACAP_VW_PUT(put_Left, m_left, long)
    LUMACAP_VW_GET(get_Left, m_left, long)
    LUMACAP_VW_PUT(put_Width, m_width, long)
    LUMACAP_VW_GET(get_Width, m_width, long)
    LUMACAP_VW_PUT(put_Top, m_top, long)
    LUMACAP_VW_GET(get_Top, m_top, long)
    LUMACAP_VW_PUT(put_Height, m_height, long)
    LUMACAP_VW_GET(get_Height, m_height, long)
    LUMACAP_VW_PUT(put_Owner, m_owner, OAHWND)
    LUMACAP_VW_GET(get_Owner, m_owner, OAHWND)
    LUMACAP_VW_PUT(put_MessageDrain, m_drain, OAHWND)
    LUMACAP_VW_GET(get_MessageDrain, m_drain, OAHWND)
    LUMACAP_VW_GET(get_BorderColor, m_borderColor, long)
    LUMACAP_VW_PUT(put_BorderColor, m_borderColor, long)
    LUMACAP_VW_GET(get_FullScreenMode, m_fullScreen, long)
    STDMETHODIMP put_FullScreenMode(long) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP SetWindowForeground(long) override {
        return Connected() ? S_OK : VFW_E_NOT_CONNECTED;
    }
    STDMETHODIMP NotifyOwnerMessage(OAHWND, long, LONG_PTR, LONG_PTR) override {
        return Connected() ? S_OK : VFW_E_NOT_CONNECTED;
    }
    STDMETHODIMP SetWindowPosition(long Left, long Top, long Width, long Height) override {
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_left = Left;
        m_top = Top;
        m_width = Width;
        m_height = Height;
        return S_OK;
    }
    STDMETHODIMP GetWindowPosition(long* pLeft, long* pTop, long* pWidth, long* pHeight) override {
        if (!pLeft || !pTop || !pWidth || !pHeight) return E_POINTER;
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_mutex);
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
    LUMACAP_VW_PUT(HideCursor, m_cursorHidden, long)
    LUMACAP_VW_GET(IsCursorHidden, m_cursorHidden, long)
#undef LUMACAP_VW_PUT
#undef LUMACAP_VW_GET

private:
    bool Connected() {
        return GetPin(0) && m_pInputPin->IsConnected();
    }
    HRESULT IdealSize(long* w, long* h) {
        if (!w || !h) return E_POINTER;
        if (!Connected()) return VFW_E_NOT_CONNECTED;
        std::lock_guard<std::mutex> lock(m_mutex);
        *w = m_videoWidth;
        *h = m_videoHeight;
        return S_OK;
    }

    std::mutex m_mutex;
    BITMAPINFOHEADER m_header{};
    BSTR m_caption = nullptr;
    long m_style = 0x16CF0000;  // WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN
    long m_styleEx = 0;
    long m_autoShow = OATRUE;
    long m_windowState = 1;  // SW_SHOWNORMAL
    long m_backgroundPalette = OAFALSE;
    long m_visible = OAFALSE;
    long m_left = 0, m_top = 0, m_width = 0, m_height = 0;
    long m_videoWidth = 0, m_videoHeight = 0;
    OAHWND m_owner = 0;
    OAHWND m_drain = 0;
    long m_borderColor = 0;
    long m_fullScreen = OAFALSE;
    long m_cursorHidden = OAFALSE;
};

template <class T>
HRESULT Create(IUnknown* outer, REFIID riid, void** ppv) {
    if (outer) return CLASS_E_NOAGGREGATION;
    HRESULT hr = S_OK;
    auto* filter = new T(&hr);
    filter->NonDelegatingAddRef();
    if (SUCCEEDED(hr)) hr = filter->NonDelegatingQueryInterface(riid, ppv);
    filter->NonDelegatingRelease();
    return hr;
}

}  // namespace

LUMACAP_REGISTER_CLASS(CLSID_NullRenderer, "Null Renderer", Create<NullRenderer>);
LUMACAP_REGISTER_CLASS(CLSID_VideoRenderer, "Video Renderer", Create<VideoRenderer>);

}  // namespace lumacap::dshow
