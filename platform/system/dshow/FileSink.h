// What the file-writing filters share: the file name and type behind IFileSinkFilter, and turning
// an application's file name into a host path and an open failure into a Windows error.
#pragma once

#include <mutex>
#include <string>

#include <streams.h>

namespace lumacap::dshow {

class FileSinkName {
public:
    // The type a fresh writer reports (major type only, or major type and subtype).
    explicit FileSinkName(const GUID& majortype, const GUID& subtype);

    HRESULT Set(LPCOLESTR name, const AM_MEDIA_TYPE* pmt);
    // A fresh writer answers S_OK with an empty name, so callers that read the type first and
    // then set the name work on a writer that has none yet.
    HRESULT Get(LPOLESTR* name, AM_MEDIA_TYPE* pmt) const;
    std::wstring Name() const;

private:
    mutable std::mutex m_mutex;
    std::wstring m_name;
    CMediaType m_type;
};

// The host path of an application's file name: wide text back to the active code page, as the
// platform's narrow file functions take it, through the drive map. Fails with the Win32 error as
// an HRESULT (ERROR_INVALID_NAME for an empty name, ERROR_PATH_NOT_FOUND for an unmapped drive).
HRESULT ResolveOutputPath(const std::wstring& name, std::string* hostPath);

// The HRESULT of a failed open of `hostPath` with errno `err`: the Win32 error, with a missing
// folder told from a missing file as Windows does.
HRESULT OpenFailure(int err, const std::string& hostPath);

}  // namespace lumacap::dshow
