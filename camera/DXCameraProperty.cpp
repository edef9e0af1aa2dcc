// CDXCAMERAPROPERTY: a device's identifier, friendly name and formats, as the host reads them.
#include <lumacap/DXCameraProperty.h>

CDXCAMERAPROPERTY::CDXCAMERAPROPERTY() : m_dwMask(7) {}

CDXCAMERAPROPERTY::CDXCAMERAPROPERTY(const CDXCAMERAPROPERTY& other)
    : m_dwMask(other.m_dwMask), m_strID(other.m_strID), m_strName(other.m_strName) {
    m_vecVideoInfo.reserve(other.m_vecVideoInfo.size());
    m_vecVideoInfo.assign(other.m_vecVideoInfo.begin(), other.m_vecVideoInfo.end());
}

CDXCAMERAPROPERTY& CDXCAMERAPROPERTY::operator=(const CDXCAMERAPROPERTY& other) {
    m_dwMask = other.m_dwMask;
    m_strID = other.m_strID;
    m_strName = other.m_strName;
    if (this != &other) m_vecVideoInfo = other.m_vecVideoInfo;
    return *this;
}

CDXCAMERAPROPERTY::~CDXCAMERAPROPERTY() {
    Reset();
}

const char* CDXCAMERAPROPERTY::GetID() const {
    return m_strID;
}

const char* CDXCAMERAPROPERTY::GetName() const {
    return m_strName;
}

unsigned int CDXCAMERAPROPERTY::GetVideoInfoCount() const {
    return static_cast<unsigned int>(m_vecVideoInfo.size());
}

int CDXCAMERAPROPERTY::GetVideoSize(int index, LONG* width, LONG* height) const {
    if (index < 0 || index >= static_cast<int>(m_vecVideoInfo.size())) return 0;
    if (width) *width = m_vecVideoInfo[static_cast<size_t>(index)].lWidth;
    if (height) *height = m_vecVideoInfo[static_cast<size_t>(index)].lHeight;
    return 1;
}

int CDXCAMERAPROPERTY::GetVideoSizeWide(int index, long* width, long* height) const {
    LONG w = 0, h = 0;
    const int ok = GetVideoSize(index, &w, &h);
    if (ok && width) *width = w;
    if (ok && height) *height = h;
    return ok;
}

unsigned int CDXCAMERAPROPERTY::GetVideoFormat(int index) const {
    if (index < 0 || index >= static_cast<int>(m_vecVideoInfo.size())) return 0;
    return m_vecVideoInfo[static_cast<size_t>(index)].nFormat;
}

void CDXCAMERAPROPERTY::Reset() {
    m_strID.Empty();
    m_strName.Empty();
    m_vecVideoInfo.clear();
}
