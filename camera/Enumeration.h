// Device and format enumeration shared by the camera's operations: walking the video-input
// category to a position and reading a device's identifier, name and formats.
#pragma once

#include <vector>

#include <afxstr.h>
#include <dshow.h>

#include <lumacap/DXCameraProperty.h>

// Fills the ID, name and format list from the device at `position`; the first failing part stops
// the parts after it. S_OK, the walk's answer (1 past the end), or the failing call's code.
HRESULT GetDeviceInfo(long position, CString& strID, CString& strName,
                      std::vector<CAMERAVIDEOINFO>& vecVideoInfo);
// The upper-cased "VID_xxxx&PID_xxxx" part of the display name, or the whole upper-cased name.
HRESULT GetDeviceID(IMoniker* pMoniker, CString& strID);
HRESULT GetDeviceName(IMoniker* pMoniker, CString& strName);
// Appends the device's FORMAT_VideoInfo capabilities, in the device's order.
HRESULT GetDeviceVideoInfo(IMoniker* pMoniker, std::vector<CAMERAVIDEOINFO>& vecVideoInfo);
// 1 YUY2, 2 RGB24, 3 MJPG, 0 anything else.
UINT GetVideoFormatCode(const GUID& subtype);
// The moniker of the video-input device at `position` (with one reference), or the answer that
// stopped the walk: a creation failure, the category enumerator's answer, or Next's (1).
HRESULT GetVideoDeviceMoniker(long position, IMoniker** ppMoniker);
