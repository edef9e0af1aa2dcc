// CString: the framework's narrow string (bytes in the active code page), header-only.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "windef.h"

class CString {
public:
    CString() = default;
    CString(LPCSTR text) : m_s(text ? text : "") {}
    CString(LPCSTR text, int length)
        : m_s(text ? std::string(text, static_cast<size_t>(length)) : std::string()) {}
    CString(const std::string& s) : m_s(s) {}
    CString(const CString&) = default;
    CString(CString&&) noexcept = default;
    CString& operator=(const CString&) = default;
    CString& operator=(CString&&) noexcept = default;
    CString& operator=(LPCSTR text) {
        m_s = text ? text : "";
        return *this;
    }

    operator LPCSTR() const { return m_s.c_str(); }
    LPCSTR GetString() const { return m_s.c_str(); }
    int GetLength() const { return static_cast<int>(m_s.size()); }
    bool IsEmpty() const { return m_s.empty(); }
    void Empty() { m_s.clear(); }
    const std::string& str() const { return m_s; }

    void Format(LPCSTR format, ...) __attribute__((format(printf, 2, 3))) {
        va_list args;
        va_start(args, format);
        FormatV(format, args);
        va_end(args);
    }
    void FormatV(LPCSTR format, va_list args) {
        va_list copy;
        va_copy(copy, args);
        const int n = std::vsnprintf(nullptr, 0, format, copy);
        va_end(copy);
        if (n < 0) {
            m_s.clear();
            return;
        }
        std::string out(static_cast<size_t>(n) + 1, '\0');
        std::vsnprintf(out.data(), out.size(), format, args);
        out.resize(static_cast<size_t>(n));
        m_s = std::move(out);
    }

    int Compare(LPCSTR other) const { return std::strcmp(m_s.c_str(), other ? other : ""); }
    int CompareNoCase(LPCSTR other) const;
    int Find(char c, int start = 0) const {
        const size_t pos = m_s.find(c, static_cast<size_t>(start));
        return pos == std::string::npos ? -1 : static_cast<int>(pos);
    }
    int Find(LPCSTR sub, int start = 0) const {
        const size_t pos = m_s.find(sub ? sub : "", static_cast<size_t>(start));
        return pos == std::string::npos ? -1 : static_cast<int>(pos);
    }
    int ReverseFind(char c) const {
        const size_t pos = m_s.rfind(c);
        return pos == std::string::npos ? -1 : static_cast<int>(pos);
    }
    CString Mid(int first) const {
        return first >= GetLength()
                   ? CString()
                   : CString(m_s.substr(static_cast<size_t>(first < 0 ? 0 : first)));
    }
    CString Mid(int first, int count) const {
        if (first < 0) first = 0;
        if (first >= GetLength() || count <= 0) return CString();
        return CString(m_s.substr(static_cast<size_t>(first), static_cast<size_t>(count)));
    }
    CString Left(int count) const {
        return CString(m_s.substr(0, static_cast<size_t>(count < 0 ? 0 : count)));
    }
    CString Right(int count) const {
        if (count <= 0) return CString();
        return count >= GetLength() ? *this
                                    : CString(m_s.substr(m_s.size() - static_cast<size_t>(count)));
    }

    CString& operator+=(LPCSTR text) {
        m_s += text ? text : "";
        return *this;
    }
    CString& operator+=(const CString& other) {
        m_s += other.m_s;
        return *this;
    }
    CString& operator+=(char c) {
        m_s += c;
        return *this;
    }
    friend CString operator+(const CString& a, const CString& b) { return CString(a.m_s + b.m_s); }
    friend CString operator+(const CString& a, LPCSTR b) { return CString(a.m_s + (b ? b : "")); }
    friend CString operator+(LPCSTR a, const CString& b) { return CString((a ? a : "") + b.m_s); }
    friend bool operator==(const CString& a, const CString& b) { return a.m_s == b.m_s; }
    friend bool operator==(const CString& a, LPCSTR b) { return a.m_s == (b ? b : ""); }
    friend bool operator!=(const CString& a, LPCSTR b) { return !(a == b); }

private:
    std::string m_s;
};

inline int CString::CompareNoCase(LPCSTR other) const {
    const char* a = m_s.c_str();
    const char* b = other ? other : "";
    for (;; ++a, ++b) {
        const int ca = (*a >= 'A' && *a <= 'Z') ? *a + 32 : static_cast<unsigned char>(*a);
        const int cb = (*b >= 'A' && *b <= 'Z') ? *b + 32 : static_cast<unsigned char>(*b);
        if (ca != cb) return ca < cb ? -1 : 1;
        if (!ca) return 0;
    }
}
