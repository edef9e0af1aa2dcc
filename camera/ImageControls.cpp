// The camera's image controls.
#include <lumacap/DXCamera.h>

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
