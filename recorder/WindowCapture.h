// CWindowCapture: one recorder window source's capture target, kept from frame to frame: a memory
// device context with a 32-bit DIB section of the captured area's size, so capturing a frame is
// one copy from the screen plus the cursor, and the pixels are drawn from where they landed.
#pragma once

#include <windows.h>

class CWindowCapture {
public:
    CWindowCapture();
    ~CWindowCapture();
    CWindowCapture(const CWindowCapture&) = delete;
    CWindowCapture& operator=(const CWindowCapture&) = delete;

    // Captures what the screen shows of the window's client area (the whole screen for no window
    // or one that is gone), with the arrow cursor drawn in. False when there is nothing to capture
    // or the platform refuses; the previous capture is then not to be used.
    bool Capture(HWND hWnd);

    // The last capture: a top-down 32-bit DIB and its pixels.
    const BITMAPINFO* Info() const { return &m_info; }
    void* Bits() const { return m_pBits; }

    // The capture the recorder's GetImageFromWnd hands out: the same picture in a bitmap of its
    // own, which the caller deletes.
    static HBITMAP CaptureToBitmap(HWND hWnd);

private:
    // Sizes the target for cx x cy, reusing it when the size is unchanged.
    bool Prepare(HDC hdc, int cx, int cy);
    void Release();

    HDC m_hMemDC;
    HBITMAP m_hBitmap;
    HGDIOBJ m_hOldBitmap;
    void* m_pBits;
    BITMAPINFO m_info;
};
