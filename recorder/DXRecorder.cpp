// The recorder object: construction, copying, sources, settings and state.
#include <lumacap/DXRecorder.h>
#include "recorder/WindowCapture.h"

CDXRecorder::CDXRecorder()
    : m_pfnBuffCB(nullptr),
      m_pfnWideBuffCB(nullptr),
      m_pBuffCBUser(nullptr),
      m_nVideoWidth(640),
      m_nVideoHeight(480),
      m_nStatus(RecorderStatus_Closed),
      m_dwPausedAt(0),
      m_bAudioRecord(FALSE),
      m_nRealFrames(0),
      m_pGraph(nullptr),
      m_pMediaControl(nullptr),
      m_pVideoMergeFilter(nullptr),
      m_pVideoCompressor(nullptr),
      m_pAudioDevice(nullptr),
      m_pFileSink(nullptr),
      m_strVideoCompressor(""),
      m_nAsfBitrate(185),
      m_nFPS(10),
      m_pAudioGrabber(nullptr),
      m_pAudioGrabberFilter(nullptr),
      m_hNotifyWnd(nullptr),
      m_nFrameWidth(0),
      m_nFrameHeight(0),
      m_gdiplusToken(0) {}

// Copies carry sources and settings only: a graph belongs to the recorder that built it, so a
// copy of a recording recorder is a closed recorder with the same configuration.
CDXRecorder::CDXRecorder(const CDXRecorder& other) : CDXRecorder() {
    CopySettings(other);
}

CDXRecorder& CDXRecorder::operator=(const CDXRecorder& other) {
    if (this == &other) return *this;
    if (m_nStatus != RecorderStatus_Closed) CloseRecord();
    CopySettings(other);
    return *this;
}

void CDXRecorder::CopySettings(const CDXRecorder& other) {
    m_pfnBuffCB = other.m_pfnBuffCB.load();
    m_pfnWideBuffCB = other.m_pfnWideBuffCB.load();
    m_pBuffCBUser = other.m_pBuffCBUser.load();
    m_vecSources = other.m_vecSources;
    m_nVideoWidth = other.m_nVideoWidth;
    m_nVideoHeight = other.m_nVideoHeight;
    m_bAudioRecord = other.m_bAudioRecord;
    m_strLastError = other.m_strLastError;
    m_nRealFrames = other.m_nRealFrames.load();
    m_strVideoCompressor = other.m_strVideoCompressor;
    m_nAsfBitrate = other.m_nAsfBitrate;
    m_nFPS = other.m_nFPS;
    m_AudioGrabberCB.SetNotifyWnd(other.m_AudioGrabberCB.GetNotifyWnd());
    m_hNotifyWnd = other.m_hNotifyWnd;
}

CDXRecorder::~CDXRecorder() {
    if (m_nStatus != RecorderStatus_Closed) CloseRecord();
}

// ---- sources ----

int CDXRecorder::AddVideoSource(CDXCamera* pCamera, RECT position) {
    if (m_nStatus != RecorderStatus_Closed) {
        m_strLastError = "设备正在运行。";
        return -1;
    }
    if (!pCamera) {
        m_strLastError = "无效的设备源参数。";
        return -1;
    }
    for (const RecorderSource& source : m_vecSources) {
        // A camera is recorded once; the answer is the last index, as callers have always seen.
        if (source.core == pCamera) return static_cast<int>(m_vecSources.size()) - 1;
    }
    m_vecSources.push_back({RecorderSource_Camera, pCamera, position});
    return static_cast<int>(m_vecSources.size()) - 1;
}

int CDXRecorder::AddWindowSource(HWND hWnd, RECT position) {
    if (m_nStatus != RecorderStatus_Closed) {
        m_strLastError = "设备正在运行。";
        return -1;
    }
    m_vecSources.push_back({RecorderSource_Window, hWnd, position});
    return static_cast<int>(m_vecSources.size()) - 1;
}

int CDXRecorder::GetSourceCount() {
    return static_cast<int>(m_vecSources.size());
}

void* CDXRecorder::GetSourceCore(int index) {
    if (index < 0 || index >= GetSourceCount()) {
        m_strLastError = "错误的设备源索引！";
        return nullptr;
    }
    const RecorderSource& source = m_vecSources[static_cast<size_t>(index)];
    if (source.type == RecorderSource_Camera || source.type == RecorderSource_Window)
        return source.core;
    m_strLastError = "未知的设备类型！";
    return nullptr;
}

int CDXRecorder::GetSourceType(int index) {
    if (index < 0 || index >= GetSourceCount()) {
        m_strLastError = "错误的设备源索引！";
        return 0;
    }
    return m_vecSources[static_cast<size_t>(index)].type;
}

RECT CDXRecorder::GetSourcePosition(int index) {
    if (index < 0 || index >= GetSourceCount()) return RECT{0, 0, 0, 0};
    return m_vecSources[static_cast<size_t>(index)].position;
}

BOOL CDXRecorder::SetSourcePosition(int index, RECT position) {
    if (m_nStatus != RecorderStatus_Closed) {
        m_strLastError = "设备正在运行。";
        return FALSE;
    }
    if (index < 0 || index >= GetSourceCount()) {
        m_strLastError.Format("无效的索引值：%d", index);
        return FALSE;
    }
    m_vecSources[static_cast<size_t>(index)].position = position;
    return TRUE;
}

BOOL CDXRecorder::RemoveSourceAt(int index) {
    if (m_nStatus != RecorderStatus_Closed) {
        m_strLastError = "设备正在运行。";
        return FALSE;
    }
    if (index < 0 || index >= GetSourceCount()) {
        m_strLastError.Format("无效的索引值：%d", index);
        return FALSE;
    }
    m_vecSources.erase(m_vecSources.begin() + index);
    return TRUE;
}

BOOL CDXRecorder::RemoveAll() {
    if (m_nStatus != RecorderStatus_Closed) {
        m_strLastError = "设备正在运行。";
        return FALSE;
    }
    m_vecSources.clear();
    return TRUE;
}

// ---- settings ----

void CDXRecorder::SetVideoSize(int width, int height) {
    m_nVideoWidth = width;
    m_nVideoHeight = height;
}

int CDXRecorder::GetVideoWidth() {
    return m_nVideoWidth;
}
int CDXRecorder::FrameWidth() const {
    return m_nFrameWidth > 0 ? m_nFrameWidth : m_nVideoWidth;
}
int CDXRecorder::FrameHeight() const {
    return m_nFrameHeight > 0 ? m_nFrameHeight : m_nVideoHeight;
}
int CDXRecorder::GetVideoHeight() {
    return m_nVideoHeight;
}

void CDXRecorder::SetFPS(UINT fps) {
    if (fps <= 10) fps = 10;
    if (fps >= 30) fps = 30;
    m_nFPS = ((fps + 5) / 10) * 10;
}

UINT CDXRecorder::GetFPs() {
    return m_nFPS;
}
void CDXRecorder::SetAsfBitrate(UINT kbps) {
    m_nAsfBitrate = kbps;
}
UINT CDXRecorder::GetAsfBitrate() {
    return m_nAsfBitrate;
}
void CDXRecorder::SetAudioRecord(BOOL record) {
    m_bAudioRecord = record;
}
BOOL CDXRecorder::GetAudioRecord() {
    return m_bAudioRecord;
}
void CDXRecorder::SetVideoCompressor(const char* friendlyName) {
    m_strVideoCompressor = friendlyName;
}
void CDXRecorder::SetNotifyWnd(HWND hWnd) {
    m_hNotifyWnd = hWnd;
}

void CDXRecorder::SetDxRecorderBuffCB(DXRECORDER_BUFF_CB pfn, void* context) {
    m_pBuffCBUser = context;
    m_pfnWideBuffCB = nullptr;
    m_pfnBuffCB = pfn;
}

void CDXRecorder::SetWideBuffCB(WideBuffCB pfn, void* context) {
    m_pBuffCBUser = context;
    m_pfnBuffCB = nullptr;
    m_pfnWideBuffCB = pfn;
}

// ---- state ----

int CDXRecorder::GetStatus() {
    return m_nStatus;
}
const char* CDXRecorder::GetErrorMsg() {
    return m_strLastError;
}
int CDXRecorder::GetRealFramesCount() {
    return m_nRealFrames;
}

void CDXRecorder::FormatErrorMessage(const char* text, DWORD code) {
    m_strLastError.Format("%s. ErrorCode=0x%08X:%s", text ? text : "", static_cast<unsigned>(code),
                          GetErrorCodeText(code).GetString());
}
