// The camera's outputs for hosts that write `long` where the Windows SDK writes LONG: each asks
// the 32-bit operation and writes what it answered only when it answers 1.
#include <lumacap/DXCamera.h>

namespace {

void Store(long* pOut, LONG value) {
    if (pOut) *pOut = value;
}

}  // namespace

int CDXCamera::GetVideoSizeWide(int index, long* width, long* height) {
    LONG w = 0, h = 0;
    const int ok = GetVideoSize(index, &w, &h);
    if (ok) Store(width, w), Store(height, h);
    return ok;
}

int CDXCamera::GetPreviewSizeWide(long* width, long* height) {
    LONG w = 0, h = 0;
    const int ok = GetPreviewSize(&w, &h);
    if (ok) Store(width, w), Store(height, h);
    return ok;
}

int CDXCamera::GetPreviewSizeExWide(long* left, long* top, long* width, long* height) {
    LONG l = 0, t = 0, w = 0, h = 0;
    const int ok = GetPreviewSizeEx(&l, &t, &w, &h);
    if (ok) Store(left, l), Store(top, t), Store(width, w), Store(height, h);
    return ok;
}

int CDXCamera::GetVideoPropertyRangeWide(LONG property, long* pMin, long* pMax, long* pDefault,
                                         long* pStep, long* pFlags) {
    // The device refuses null outputs; so it does here.
    LONG v[5] = {0, 0, 0, 0, 0};
    const int ok = GetVideoPropertyRange(property, pMin ? &v[0] : nullptr, pMax ? &v[1] : nullptr,
                                         pDefault ? &v[2] : nullptr, pStep ? &v[3] : nullptr,
                                         pFlags ? &v[4] : nullptr);
    if (ok) Store(pMin, v[0]), Store(pMax, v[1]), Store(pDefault, v[2]), Store(pStep, v[3]);
    if (ok) Store(pFlags, v[4]);
    return ok;
}

int CDXCamera::GetVideoPropertyValueWide(LONG property, long* pValue, long* pFlags) {
    LONG value = 0, flags = 0;
    const int ok =
        GetVideoPropertyValue(property, pValue ? &value : nullptr, pFlags ? &flags : nullptr);
    if (ok) Store(pValue, value), Store(pFlags, flags);
    return ok;
}
