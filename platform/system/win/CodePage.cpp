// Code-page conversions through iconv, and GetACP, MultiByteToWideChar and WideCharToMultiByte.
#include "platform/system/win/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <windows.h>

namespace lumacap::win {
namespace {

const char* IconvName(unsigned codePage) {
    switch (codePage) {
        case CP_ACP:
        case CP_OEMCP:
        case CP_GBK:
            return "GBK";
        case CP_GB18030:
            return "GB18030";
        case CP_UTF8:
            return "UTF-8";
        case 1252:
            return "CP1252";
        case 20127:
            return "ASCII";
        case 28591:
            return "ISO-8859-1";
        default:
            return nullptr;
    }
}

// One iconv descriptor per pair of encodings, opened on first use and kept for the life of the
// process. Opening and closing one per call loads and unloads glibc's conversion module each time,
// and that unloading (dlclose) races with another thread's loading; a kept descriptor holds its
// module loaded. A descriptor carries conversion state, so one thread at a time uses it.
struct Converter {
    std::mutex mutex;
    iconv_t cd = reinterpret_cast<iconv_t>(-1);
};

Converter* ConverterFor(const char* from, const char* to) {
    // Never destroyed, so a thread converting while the process exits finds it intact.
    static std::mutex* tableMutex = new std::mutex;
    static auto* table =
        new std::map<std::pair<std::string, std::string>, std::unique_ptr<Converter>>;
    std::lock_guard<std::mutex> lock(*tableMutex);
    std::unique_ptr<Converter>& slot = (*table)[{from, to}];
    if (!slot) {
        auto converter = std::make_unique<Converter>();
        converter->cd = iconv_open(to, from);
        if (converter->cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
        slot = std::move(converter);
    }
    return slot.get();
}

// Converts with iconv, replacing what cannot be converted with `replacement` (already in the
// target encoding) and skipping one input unit of `inUnit` bytes.
bool Convert(const char* from, const char* to, const char* in, size_t inLen, size_t inUnit,
             const char* replacement, size_t replacementLen, std::string* out, bool* invalid) {
    Converter* converter = ConverterFor(from, to);
    if (!converter) return false;
    std::lock_guard<std::mutex> lock(converter->mutex);
    iconv_t cd = converter->cd;
    // Back to the initial shift state, whatever the last conversion left.
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    out->clear();
    std::vector<char> buf(inLen * 4 + 16);
    char* inPtr = const_cast<char*>(in);
    size_t inLeft = inLen;
    while (inLeft > 0) {
        char* outPtr = buf.data();
        size_t outLeft = buf.size();
        const size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        out->append(buf.data(), buf.size() - outLeft);
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL (truncated sequence): replace one unit and go on.
            if (invalid) *invalid = true;
            out->append(replacement, replacementLen);
            const size_t skip = inLeft < inUnit ? inLeft : inUnit;
            inPtr += skip;
            inLeft -= skip;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
    return true;
}

}  // namespace

std::wstring ToWide(std::string_view bytes, unsigned codePage, bool* invalid) {
    if (invalid) *invalid = false;
    const char* name = IconvName(codePage);
    if (!name) return {};
    std::string raw;
    const wchar_t repl = 0xFFFD;
    if (!Convert(name, "WCHAR_T", bytes.data(), bytes.size(), 1,
                 reinterpret_cast<const char*>(&repl), sizeof(repl), &raw, invalid))
        return {};
    return std::wstring(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / sizeof(wchar_t));
}

std::string FromWide(std::wstring_view text, unsigned codePage, bool* invalid) {
    if (invalid) *invalid = false;
    const char* name = IconvName(codePage);
    if (!name) return {};
    std::string out;
    if (!Convert("WCHAR_T", name, reinterpret_cast<const char*>(text.data()),
                 text.size() * sizeof(wchar_t), sizeof(wchar_t), "?", 1, &out, invalid))
        return {};
    return out;
}

std::string GbkToUtf8(std::string_view gbk) {
    std::string out;
    Convert("GB18030", "UTF-8", gbk.data(), gbk.size(), 1, "\xEF\xBF\xBD", 3, &out, nullptr);
    return out;
}

std::string Utf8ToGbk(std::string_view utf8) {
    std::string out;
    Convert("UTF-8", "GB18030", utf8.data(), utf8.size(), 1, "?", 1, &out, nullptr);
    return out;
}

}  // namespace lumacap::win

using namespace lumacap::win;

UINT WINAPI GetACP() {
    return CP_GBK;
}

int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                               LPWSTR lpWideCharStr, int cchWideChar) {
    if (!lpMultiByteStr || cbMultiByte == 0 || cchWideChar < 0 ||
        (cchWideChar > 0 && !lpWideCharStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    // -1: the text is terminated and the terminator is converted too.
    const size_t len =
        cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<size_t>(cbMultiByte);
    bool invalid = false;
    const std::wstring wide = ToWide(std::string_view(lpMultiByteStr, len), CodePage, &invalid);
    if (wide.empty() && len > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (invalid && (dwFlags & MB_ERR_INVALID_CHARS)) {
        SetLastError(1113);  // ERROR_NO_UNICODE_TRANSLATION
        return 0;
    }
    if (cchWideChar == 0) return static_cast<int>(wide.size());
    if (wide.size() > static_cast<size_t>(cchWideChar)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpWideCharStr, wide.data(), wide.size() * sizeof(wchar_t));
    return static_cast<int>(wide.size());
}

int WINAPI WideCharToMultiByte(UINT CodePage, DWORD, LPCWSTR lpWideCharStr, int cchWideChar,
                               LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR,
                               LPBOOL lpUsedDefaultChar) {
    if (!lpWideCharStr || cchWideChar == 0 || cbMultiByte < 0 ||
        (cbMultiByte > 0 && !lpMultiByteStr)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const size_t len =
        cchWideChar < 0 ? std::wcslen(lpWideCharStr) + 1 : static_cast<size_t>(cchWideChar);
    bool invalid = false;
    const std::string bytes = FromWide(std::wstring_view(lpWideCharStr, len), CodePage, &invalid);
    if (bytes.empty() && len > 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    if (lpUsedDefaultChar) *lpUsedDefaultChar = invalid ? TRUE : FALSE;
    if (cbMultiByte == 0) return static_cast<int>(bytes.size());
    if (bytes.size() > static_cast<size_t>(cbMultiByte)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpMultiByteStr, bytes.data(), bytes.size());
    return static_cast<int>(bytes.size());
}
