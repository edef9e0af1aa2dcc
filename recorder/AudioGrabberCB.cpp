// The recorder's audio callback object: its COM face and the level of each audio buffer.
#include <lumacap/DXRecorder.h>

#include <cmath>
#include <cstdint>

#include "recorder/AudioLevel.h"

CAudioGrabberCB::CAudioGrabberCB() : m_hNotifyWnd(nullptr) {
    InitializeCriticalSection(&m_cs);
}

// A copy has its own lock; only the notify window is carried over.
CAudioGrabberCB::CAudioGrabberCB(const CAudioGrabberCB& other)
    : m_hNotifyWnd(other.m_hNotifyWnd.load()) {
    InitializeCriticalSection(&m_cs);
}

CAudioGrabberCB& CAudioGrabberCB::operator=(const CAudioGrabberCB& other) {
    m_hNotifyWnd = other.m_hNotifyWnd.load();
    return *this;
}

CAudioGrabberCB::~CAudioGrabberCB() {
    DeleteCriticalSection(&m_cs);
}

HRESULT CAudioGrabberCB::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    if (riid == IID_ISampleGrabberCB || riid == IID_IUnknown) {
        *ppv = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG CAudioGrabberCB::AddRef() {
    return 2;
}
ULONG CAudioGrabberCB::Release() {
    return 1;
}
HRESULT CAudioGrabberCB::SampleCB(double, IMediaSample*) {
    return S_OK;
}

void CAudioGrabberCB::SetNotifyWnd(HWND hWnd) {
    m_hNotifyWnd = hWnd;
}
HWND CAudioGrabberCB::GetNotifyWnd() const {
    return m_hNotifyWnd;
}

namespace lumacap::recorder {

// 20·log10 of a quarter of the mean absolute sample value, as the level meter has always read:
// a full-scale square wave gives about 78, silence the smallest 32-bit integer.
int AudioLevel(const BYTE* pBuffer, long length) {
    uint32_t total = 0;
    if (pBuffer) {
        for (long offset = 0; offset + 1 < length; offset += 2) {
            const int16_t sample =
                static_cast<int16_t>(pBuffer[offset] | (pBuffer[offset + 1] << 8));
            total += static_cast<uint32_t>(sample < 0 ? -static_cast<int32_t>(sample) : sample);
        }
    }
    const double level =
        20.0 * std::log10(static_cast<double>(total) / static_cast<double>(length) * 0.5);
    // The conversion of an infinite or undefined level yields the integer's smallest value.
    if (!std::isfinite(level) || level >= 2147483648.0 || level < -2147483648.0) return INT32_MIN;
    return static_cast<int>(level);
}

}  // namespace lumacap::recorder

HRESULT CAudioGrabberCB::BufferCB(double, BYTE* pBuffer, long BufferLen) {
    EnterCriticalSection(&m_cs);
    const int level = lumacap::recorder::AudioLevel(pBuffer, BufferLen);
    // Posted, never sent: the audio thread must not wait for the window's thread.
    HWND hWnd = m_hNotifyWnd;
    if (hWnd && IsWindow(hWnd))
        PostMessageA(hWnd, WM_RECORDER_AUDIOLEVEL, 0, static_cast<LPARAM>(level));
    LeaveCriticalSection(&m_cs);
    return S_OK;
}
