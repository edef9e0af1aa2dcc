// C runtime functions with Microsoft semantics.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>

#include <vector>

#include <io.h>
#include <mbstring.h>
#include <windows.h>

int __cdecl _vsnprintf(char* buffer, size_t count, const char* format, va_list args) {
    if (!format || (!buffer && count)) {
        errno = EINVAL;
        return -1;
    }
    if (count == 0) return -1;
    // vsnprintf always terminates and reports the full length; MSVC writes up to `count` bytes,
    // terminating only when there is room, and answers -1 when the output did not fit. Text that
    // fits (the usual case, a log line) is formatted in place, without a heap buffer.
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(buffer, count, format, copy);
    va_end(copy);
    if (n < 0) return -1;
    if (static_cast<size_t>(n) < count) return n;
    // The last byte holds text too: format again with room for the terminator after it.
    char small[4097];
    std::vector<char> large;
    char* tmp = small;
    if (count + 1 > sizeof(small)) {
        large.resize(count + 1);
        tmp = large.data();
    }
    va_copy(copy, args);
    std::vsnprintf(tmp, count + 1, format, copy);
    va_end(copy);
    std::memcpy(buffer, tmp, count);
    return static_cast<size_t>(n) == count ? n : -1;
}

int __cdecl _snprintf(char* buffer, size_t count, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = _vsnprintf(buffer, count, format, args);
    va_end(args);
    return n;
}

int __cdecl _stricmp(const char* a, const char* b) {
    return strcasecmp(a, b);
}
int __cdecl _strnicmp(const char* a, const char* b, size_t n) {
    return strncasecmp(a, b, n);
}

namespace {

// In code page 936 a byte of 0x81..0xFE leads a two-byte character.
bool IsLeadByte(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

int MbsCompareNoCase(const unsigned char* a, const unsigned char* b) {
    while (true) {
        unsigned a0 = *a, b0 = *b;
        if (IsLeadByte(a0) && a[1]) {
            if (!IsLeadByte(b0) || !b[1]) return 1;
            unsigned av = (a0 << 8) | a[1], bv = (b0 << 8) | b[1];
            if (av != bv) return av < bv ? -1 : 1;
            a += 2;
            b += 2;
            continue;
        }
        if (IsLeadByte(b0) && b[1]) return -1;
        unsigned ac = static_cast<unsigned>(std::tolower(a0)),
                 bc = static_cast<unsigned>(std::tolower(b0));
        if (ac != bc) return ac < bc ? -1 : 1;
        if (ac == 0) return 0;
        ++a;
        ++b;
    }
}

}  // namespace

int __cdecl _mbsicmp(const unsigned char* a, const unsigned char* b) {
    if (!a || !b) return 0x7fffffff;  // _NLSCMPERROR
    return MbsCompareNoCase(a, b);
}

// Collation in the "C" multibyte locale orders like the case-insensitive comparison.
int __cdecl _mbsicoll(const unsigned char* a, const unsigned char* b) {
    return _mbsicmp(a, b);
}

unsigned char* __cdecl _mbsupr(unsigned char* s) {
    if (!s) return s;
    for (unsigned char* p = s; *p; ++p) {
        if (IsLeadByte(*p) && p[1]) {
            ++p;
            continue;
        }
        *p = static_cast<unsigned char>(std::toupper(*p));
    }
    return s;
}

const unsigned char* __cdecl _mbsrchr(const unsigned char* s, unsigned int c) {
    if (!s) return nullptr;
    const unsigned char* found = nullptr;
    for (const unsigned char* p = s;; ++p) {
        if (IsLeadByte(*p) && p[1]) {
            if (c == ((static_cast<unsigned>(*p) << 8) | p[1])) found = p;
            ++p;
            continue;
        }
        if (*p == c) found = p;
        if (!*p) break;
    }
    return found;
}
