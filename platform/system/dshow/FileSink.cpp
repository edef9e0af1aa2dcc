// The file-writing filters' shared part: the sink's file name, host paths and open failures.
#include "platform/system/dshow/FileSink.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/system/win/CodePage.h"
#include "platform/system/win/Drives.h"

namespace lumacap::dshow {

FileSinkName::FileSinkName(const GUID& majortype, const GUID& subtype) : m_type(&majortype) {
    m_type.SetSubtype(&subtype);
}

HRESULT FileSinkName::Set(LPCOLESTR name, const AM_MEDIA_TYPE* pmt) {
    if (!name) return E_POINTER;
    if (!*name) return E_INVALIDARG;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_name = name;
    if (pmt) m_type = *pmt;
    return S_OK;
}

HRESULT FileSinkName::Get(LPOLESTR* name, AM_MEDIA_TYPE* pmt) const {
    if (!name) return E_POINTER;
    std::lock_guard<std::mutex> lock(m_mutex);
    const size_t bytes = (m_name.size() + 1) * sizeof(WCHAR);
    *name = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!*name) return E_OUTOFMEMORY;
    std::memcpy(*name, m_name.c_str(), bytes);
    if (pmt) {
        const HRESULT hr = CopyMediaType(pmt, &m_type);
        if (FAILED(hr)) {
            CoTaskMemFree(*name);
            *name = nullptr;
            return hr;
        }
    }
    return S_OK;
}

std::wstring FileSinkName::Name() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_name;
}

HRESULT ResolveOutputPath(const std::wstring& name, std::string* hostPath) {
    if (name.empty()) return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    bool invalid = false;
    const std::string narrow = win::FromWide(name, 0, &invalid);
    if (invalid) return HRESULT_FROM_WIN32(ERROR_INVALID_NAME);
    if (!win::MapPath(narrow.c_str(), hostPath)) return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    return S_OK;
}

HRESULT OpenFailure(int err, const std::string& hostPath) {
    if (err == ENOENT) {
        const size_t slash = hostPath.find_last_of('/');
        if (slash != std::string::npos && slash > 0 &&
            ::access(hostPath.substr(0, slash).c_str(), F_OK) != 0)
            return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    }
    return HRESULT_FROM_WIN32(win::ErrnoToWin32(err));
}

}  // namespace lumacap::dshow
