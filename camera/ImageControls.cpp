// Image controls: the values the camera keeps and applies to its device at open, the device's
// controls by number, and the device's own property dialog.
#include <lumacap/DXCamera.h>

#include <olectl.h>

#include "app/Release.h"

namespace {

// Bits of the flags word: which values are applied at the next open, and the automatic modes.
constexpr DWORD kApplyBrightness = 0x1;
constexpr DWORD kApplyContrast = 0x2;
constexpr DWORD kApplyHue = 0x4;
constexpr DWORD kApplySaturation = 0x8;
constexpr DWORD kApplySharpness = 0x10;
constexpr DWORD kApplyGamma = 0x20;
constexpr DWORD kApplyWhiteBalance = 0x40;
constexpr DWORD kApplyExposure = 0x80;
constexpr DWORD kWhiteBalanceAuto = 0x400000;
constexpr DWORD kExposureAuto = 0x800000;

// Numbers of the generic operations: below this, video processing; from it on, camera control.
constexpr long kCameraControlBase = 100;

}  // namespace

void CDXCamera::SetBrgihtness(LONG value) {
    m_lBrightness = value;
    m_dwPropertyFlags |= kApplyBrightness;
}

void CDXCamera::SetContrast(LONG value) {
    m_lContrast = value;
    m_dwPropertyFlags |= kApplyContrast;
}

void CDXCamera::SetHue(LONG value) {
    m_lHue = value;
    m_dwPropertyFlags |= kApplyHue;
}

void CDXCamera::SetSaturation(LONG value) {
    m_lSaturation = value;
    m_dwPropertyFlags |= kApplySaturation;
}

void CDXCamera::SetSharpness(LONG value) {
    m_lSharpness = value;
    m_dwPropertyFlags |= kApplySharpness;
}

void CDXCamera::SetGamma(LONG value) {
    m_lGamma = value;
    m_dwPropertyFlags |= kApplyGamma;
}

void CDXCamera::SetWhiteBalance(LONG value, int automatic) {
    m_lWhiteBalance = value;
    m_dwPropertyFlags |= kApplyWhiteBalance;
    if (automatic) {
        m_dwPropertyFlags |= kWhiteBalanceAuto;
    } else {
        m_dwPropertyFlags &= ~kWhiteBalanceAuto;
    }
}

void CDXCamera::SetExposure(LONG value, int automatic) {
    m_lExposure = value;
    m_dwPropertyFlags |= kApplyExposure;
    if (automatic) {
        m_dwPropertyFlags |= kExposureAuto;
    } else {
        m_dwPropertyFlags &= ~kExposureAuto;
    }
}

LONG CDXCamera::GetBrgihtness() {
    return m_lBrightness;
}
LONG CDXCamera::GetContrast() {
    return m_lContrast;
}
LONG CDXCamera::GetHue() {
    return m_lHue;
}
LONG CDXCamera::GetSaturation() {
    return m_lSaturation;
}
LONG CDXCamera::GetSharpness() {
    return m_lSharpness;
}
LONG CDXCamera::GetGamma() {
    return m_lGamma;
}

LONG CDXCamera::GetWhiteBalance(int& automatic) {
    automatic = (m_dwPropertyFlags & kWhiteBalanceAuto) ? 1 : 0;
    return m_lWhiteBalance;
}

LONG CDXCamera::GetExposure(int& automatic) {
    automatic = (m_dwPropertyFlags & kExposureAuto) ? 1 : 0;
    return m_lExposure;
}

// A newly chosen device starts with nothing queued for it: all values and flags cleared.
void CDXCamera::SetDefaultProperty() {
    m_lBrightness = 0;
    m_lContrast = 0;
    m_lHue = 0;
    m_lSaturation = 0;
    m_lSharpness = 0;
    m_lGamma = 0;
    m_lWhiteBalance = 0;
    m_lExposure = 0;
    m_dwPropertyFlags = 0;
}

// Pending values go to the device at open; whatever the device answers is ignored (a device may
// lack a control).
void CDXCamera::SetDeviceProperty() {
    if (!m_pSourceFilter) return;
    IAMVideoProcAmp* pProcAmp = nullptr;
    if (SUCCEEDED(m_pSourceFilter->QueryInterface(IID_IAMVideoProcAmp,
                                                  reinterpret_cast<void**>(&pProcAmp))) &&
        pProcAmp) {
        const struct {
            DWORD bit;
            long property;
            LONG value;
        } manual[] = {
            {kApplyBrightness, VideoProcAmp_Brightness, m_lBrightness},
            {kApplyContrast, VideoProcAmp_Contrast, m_lContrast},
            {kApplyHue, VideoProcAmp_Hue, m_lHue},
            {kApplySaturation, VideoProcAmp_Saturation, m_lSaturation},
            {kApplySharpness, VideoProcAmp_Sharpness, m_lSharpness},
            {kApplyGamma, VideoProcAmp_Gamma, m_lGamma},
        };
        for (const auto& m : manual)
            if (m_dwPropertyFlags & m.bit)
                pProcAmp->Set(m.property, m.value, VideoProcAmp_Flags_Manual);
        if (m_dwPropertyFlags & kApplyWhiteBalance)
            pProcAmp->Set(VideoProcAmp_WhiteBalance, m_lWhiteBalance,
                          (m_dwPropertyFlags & kWhiteBalanceAuto) ? VideoProcAmp_Flags_Auto
                                                                  : VideoProcAmp_Flags_Manual);
        ReleaseAndClear(pProcAmp);
    }
    IAMCameraControl* pCameraControl = nullptr;
    if (SUCCEEDED(m_pSourceFilter->QueryInterface(IID_IAMCameraControl,
                                                  reinterpret_cast<void**>(&pCameraControl))) &&
        pCameraControl) {
        if (m_dwPropertyFlags & kApplyExposure)
            pCameraControl->Set(CameraControl_Exposure, m_lExposure,
                                (m_dwPropertyFlags & kExposureAuto) ? CameraControl_Flags_Auto
                                                                    : CameraControl_Flags_Manual);
        ReleaseAndClear(pCameraControl);
    }
}

// The device's values into the cache. A control the device refuses keeps its cached value; which
// values are to be applied at open does not change.
void CDXCamera::GetDeviceProperty() {
    if (!m_pSourceFilter) return;
    IAMVideoProcAmp* pProcAmp = nullptr;
    if (SUCCEEDED(m_pSourceFilter->QueryInterface(IID_IAMVideoProcAmp,
                                                  reinterpret_cast<void**>(&pProcAmp))) &&
        pProcAmp) {
        long flags = 0;
        auto read = [&](long property, LONG& cached) {
            long value = 0;
            if (SUCCEEDED(pProcAmp->Get(property, &value, &flags)))
                cached = static_cast<LONG>(value);
        };
        read(VideoProcAmp_Brightness, m_lBrightness);
        read(VideoProcAmp_Contrast, m_lContrast);
        read(VideoProcAmp_Hue, m_lHue);
        read(VideoProcAmp_Saturation, m_lSaturation);
        read(VideoProcAmp_Sharpness, m_lSharpness);
        read(VideoProcAmp_Gamma, m_lGamma);
        read(VideoProcAmp_WhiteBalance, m_lWhiteBalance);
        if (flags == VideoProcAmp_Flags_Auto)
            m_dwPropertyFlags |= kWhiteBalanceAuto;
        else
            m_dwPropertyFlags &= ~kWhiteBalanceAuto;
        ReleaseAndClear(pProcAmp);
    }
    IAMCameraControl* pCameraControl = nullptr;
    if (SUCCEEDED(m_pSourceFilter->QueryInterface(IID_IAMCameraControl,
                                                  reinterpret_cast<void**>(&pCameraControl))) &&
        pCameraControl) {
        long value = 0, flags = 0;
        if (SUCCEEDED(pCameraControl->Get(CameraControl_Exposure, &value, &flags))) {
            m_lExposure = static_cast<LONG>(value);
            if (flags == CameraControl_Flags_Auto)
                m_dwPropertyFlags |= kExposureAuto;
            else
                m_dwPropertyFlags &= ~kExposureAuto;
        }
        ReleaseAndClear(pCameraControl);
    }
}

namespace {

// The control interface a property number belongs to, asked of the capture filter, with the
// number in the interface's own numbering (camera control numbers start at 100).
class PropertyControl {
public:
    PropertyControl(IBaseFilter* pFilter, LONG property) {
        if (!pFilter) return;
        if (property < kCameraControlBase) {
            m_property = property;
            if (FAILED(pFilter->QueryInterface(IID_IAMVideoProcAmp,
                                               reinterpret_cast<void**>(&m_pProcAmp))))
                m_pProcAmp = nullptr;
        } else {
            m_property = property - kCameraControlBase;
            if (FAILED(pFilter->QueryInterface(IID_IAMCameraControl,
                                               reinterpret_cast<void**>(&m_pCameraControl))))
                m_pCameraControl = nullptr;
        }
    }
    ~PropertyControl() {
        ReleaseAndClear(m_pProcAmp);
        ReleaseAndClear(m_pCameraControl);
    }
    PropertyControl(const PropertyControl&) = delete;
    PropertyControl& operator=(const PropertyControl&) = delete;

    bool Valid() const { return m_pProcAmp || m_pCameraControl; }
    HRESULT GetRange(long* pMin, long* pMax, long* pStep, long* pDefault, long* pFlags) {
        if (m_pProcAmp)
            return m_pProcAmp->GetRange(m_property, pMin, pMax, pStep, pDefault, pFlags);
        if (m_pCameraControl)
            return m_pCameraControl->GetRange(m_property, pMin, pMax, pStep, pDefault, pFlags);
        return E_NOINTERFACE;
    }
    HRESULT Get(long* pValue, long* pFlags) {
        if (m_pProcAmp) return m_pProcAmp->Get(m_property, pValue, pFlags);
        if (m_pCameraControl) return m_pCameraControl->Get(m_property, pValue, pFlags);
        return E_NOINTERFACE;
    }
    HRESULT Set(long value, long flags) {
        if (m_pProcAmp) return m_pProcAmp->Set(m_property, value, flags);
        if (m_pCameraControl) return m_pCameraControl->Set(m_property, value, flags);
        return E_NOINTERFACE;
    }

private:
    IAMVideoProcAmp* m_pProcAmp = nullptr;
    IAMCameraControl* m_pCameraControl = nullptr;
    long m_property = 0;
};

// The device's interfaces take the platform's `long`; a host's 32-bit output is written from it
// only when the device answered, and a null output stays null so the device refuses it.
class LongOut {
public:
    explicit LongOut(LONG* pOut) : m_pOut(pOut) {}
    long* Get() { return m_pOut ? &m_value : nullptr; }
    void Store() const {
        if (m_pOut) *m_pOut = static_cast<LONG>(m_value);
    }

private:
    LONG* m_pOut;
    long m_value = 0;
};

}  // namespace

// The host's outputs come in the order minimum, maximum, default, step, flags; the device's
// GetRange takes minimum, maximum, step, default, flags.
int CDXCamera::GetVideoPropertyRange(LONG property, LONG* pMin, LONG* pMax, LONG* pDefault,
                                     LONG* pStep, LONG* pFlags) {
    PropertyControl control(m_pSourceFilter, property);
    LongOut min(pMin), max(pMax), def(pDefault), step(pStep), flags(pFlags);
    if (!control.Valid() ||
        FAILED(control.GetRange(min.Get(), max.Get(), step.Get(), def.Get(), flags.Get())))
        return 0;
    for (const LongOut* out : {&min, &max, &def, &step, &flags}) out->Store();
    return 1;
}

int CDXCamera::GetVideoPropertyValue(LONG property, LONG* pValue, LONG* pFlags) {
    PropertyControl control(m_pSourceFilter, property);
    LongOut value(pValue), flags(pFlags);
    if (!control.Valid() || FAILED(control.Get(value.Get(), flags.Get()))) return 0;
    value.Store();
    flags.Store();
    return 1;
}

int CDXCamera::SetVideoPropertyValue(LONG property, LONG value, LONG flags) {
    PropertyControl control(m_pSourceFilter, property);
    if (!control.Valid() || FAILED(control.Set(value, flags))) return 0;
    // The cache follows what the device took; nothing is marked for the next open.
    const LONG v = value;
    switch (property) {
        case VideoProcAmp_Brightness:
            m_lBrightness = v;
            break;
        case VideoProcAmp_Contrast:
            m_lContrast = v;
            break;
        case VideoProcAmp_Hue:
            m_lHue = v;
            break;
        case VideoProcAmp_Saturation:
            m_lSaturation = v;
            break;
        case VideoProcAmp_Sharpness:
            m_lSharpness = v;
            break;
        case VideoProcAmp_Gamma:
            m_lGamma = v;
            break;
        case VideoProcAmp_WhiteBalance:
            m_lWhiteBalance = v;
            if (flags == VideoProcAmp_Flags_Auto)
                m_dwPropertyFlags |= kWhiteBalanceAuto;
            else
                m_dwPropertyFlags &= ~kWhiteBalanceAuto;
            break;
        case kCameraControlBase + CameraControl_Exposure:
            m_lExposure = v;
            if (flags == CameraControl_Flags_Auto)
                m_dwPropertyFlags |= kExposureAuto;
            else
                m_dwPropertyFlags &= ~kExposureAuto;
            break;
        default:
            break;
    }
    return 1;
}

LONG CDXCamera::ShowDeviceProperty() {
    if (m_nStatus == CameraStatus_Closed || !m_pSourceFilter) {
        m_strLastError = "设备未运行.";
        return 1;
    }
    if (m_nStatus == CameraStatus_DeviceLost) {
        m_strLastError = "设备已断开连接.";
        return 1;
    }
    ISpecifyPropertyPages* pPages = nullptr;
    HRESULT hr = m_pSourceFilter->QueryInterface(IID_ISpecifyPropertyPages,
                                                 reinterpret_cast<void**>(&pPages));
    if (FAILED(hr)) return hr;
    if (!pPages) return E_NOINTERFACE;
    // A device that cannot list its pages still gets the frame (with no pages) and the re-read.
    CAUUID caGUID{0, nullptr};
    if (FAILED(pPages->GetPages(&caGUID))) caGUID.cElems = 0;
    pPages->Release();
    // Modal: returns when the user closes the dialog; frames keep flowing meanwhile.
    IUnknown* pObject = m_pSourceFilter;
    OleCreatePropertyFrame(m_hParentWnd, 0, 0, nullptr, 1, &pObject, caGUID.cElems, caGUID.pElems,
                           0, 0, nullptr);
    CoTaskMemFree(caGUID.pElems);
    // The user may have changed the device's values.
    GetDeviceProperty();
    return 0;
}
