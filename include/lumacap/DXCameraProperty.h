// A capture device's identity and formats, as the host reads them before choosing a camera.
#pragma once

#include <vector>

#include <afxstr.h>
#include <windows.h>

#include <lumacap_export.h>

#include "LongSpelling.h"

// One capture format of a device.
struct CAMERAVIDEOINFO {
    LONG lWidth;   // frame width in pixels
    LONG lHeight;  // frame height as the device reports it (not made positive)
    UINT nFormat;  // 0 other, 1 YUY2, 2 RGB24, 3 MJPG
};

// Filled by CDXCamera::GetCameraProperty, as far as m_dwMask asks: 1 the ID, 2 the name, 4 the
// format list. Owned by the host.
class LUMACAP_API CDXCAMERAPROPERTY {
    friend class CDXCamera;

public:
    CDXCAMERAPROPERTY();
    CDXCAMERAPROPERTY(const CDXCAMERAPROPERTY& other);
    CDXCAMERAPROPERTY& operator=(const CDXCAMERAPROPERTY& other);
    ~CDXCAMERAPROPERTY();

    const char* GetID() const;
    const char* GetName() const;
    unsigned int GetVideoInfoCount() const;
    // 1 and the size for a valid index; 0, writing nothing, otherwise.
    int GetVideoSize(int index, LONG* width, LONG* height) const;
    template <class L, LUMACAP_IF_WIDE_LONG(L)>
    int GetVideoSize(int index, L* width, L* height) const {
        return GetVideoSizeWide(index, width, height);
    }
    // The format code for a valid index, otherwise 0.
    unsigned int GetVideoFormat(int index) const;

    DWORD m_dwMask;

protected:
    void Reset();
    // GetVideoSize for hosts that write `long`.
    int GetVideoSizeWide(int index, long* width, long* height) const;

    CString m_strID;
    CString m_strName;
    std::vector<CAMERAVIDEOINFO> m_vecVideoInfo;
};
