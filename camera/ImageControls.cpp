// Image controls: the values the camera keeps and applies to its device at open.
#include <lumacap/DXCamera.h>

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

}  // namespace

void CDXCamera::SetBrgihtness(long value) {
    m_lBrightness = static_cast<LONG>(value);
    m_dwPropertyFlags |= kApplyBrightness;
}

void CDXCamera::SetContrast(long value) {
    m_lContrast = static_cast<LONG>(value);
    m_dwPropertyFlags |= kApplyContrast;
}

void CDXCamera::SetHue(long value) {
    m_lHue = static_cast<LONG>(value);
    m_dwPropertyFlags |= kApplyHue;
}

void CDXCamera::SetSaturation(long value) {
    m_lSaturation = static_cast<LONG>(value);
    m_dwPropertyFlags |= kApplySaturation;
}

void CDXCamera::SetSharpness(long value) {
    m_lSharpness = static_cast<LONG>(value);
    m_dwPropertyFlags |= kApplySharpness;
}

void CDXCamera::SetGamma(long value) {
    m_lGamma = static_cast<LONG>(value);
    m_dwPropertyFlags |= kApplyGamma;
}

void CDXCamera::SetWhiteBalance(long value, int automatic) {
    m_lWhiteBalance = static_cast<LONG>(value);
    m_dwPropertyFlags |= kApplyWhiteBalance;
    if (automatic) {
        m_dwPropertyFlags |= kWhiteBalanceAuto;
    } else {
        m_dwPropertyFlags &= ~kWhiteBalanceAuto;
    }
}

void CDXCamera::SetExposure(long value, int automatic) {
    m_lExposure = static_cast<LONG>(value);
    m_dwPropertyFlags |= kApplyExposure;
    if (automatic) {
        m_dwPropertyFlags |= kExposureAuto;
    } else {
        m_dwPropertyFlags &= ~kExposureAuto;
    }
}

long CDXCamera::GetBrgihtness() { return m_lBrightness; }
long CDXCamera::GetContrast() { return m_lContrast; }
long CDXCamera::GetHue() { return m_lHue; }
long CDXCamera::GetSaturation() { return m_lSaturation; }
long CDXCamera::GetSharpness() { return m_lSharpness; }
long CDXCamera::GetGamma() { return m_lGamma; }

long CDXCamera::GetWhiteBalance(int& automatic) {
    automatic = (m_dwPropertyFlags & kWhiteBalanceAuto) ? 1 : 0;
    return m_lWhiteBalance;
}

long CDXCamera::GetExposure(int& automatic) {
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
