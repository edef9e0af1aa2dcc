// The camera's own format list.
#include <lumacap/DXCamera.h>

unsigned int CDXCamera::GetVideoInfoCount() const { return static_cast<unsigned int>(m_vecVideoInfo.size()); }

int CDXCamera::GetVideoSize(int index, long* width, long* height) {
    if (index < 0 || static_cast<size_t>(index) >= m_vecVideoInfo.size()) {
        m_strLastError = "错误的分辨率索引参数。";
        return 0;
    }
    if (width) *width = m_vecVideoInfo[static_cast<size_t>(index)].lWidth;
    if (height) *height = m_vecVideoInfo[static_cast<size_t>(index)].lHeight;
    return 1;
}

unsigned int CDXCamera::GetVideoFormat(int index) {
    if (index < 0 || static_cast<size_t>(index) >= m_vecVideoInfo.size()) {
        m_strLastError = "错误的分辨率索引参数。";
        return 0;
    }
    return m_vecVideoInfo[static_cast<size_t>(index)].nFormat;
}
