// Conversions between the platform's code pages (936 GBK, 54936 GB18030, 65001 UTF-8) and wide
// text, for MultiByteToWideChar/WideCharToMultiByte and for hosts that print the library's texts.
#pragma once

#include <string>
#include <string_view>

namespace lumacap::win {

// Code page 0 (CP_ACP) is 936. Unconvertible input becomes U+FFFD (to wide) or '?' (to bytes);
// `invalid` reports whether that happened.
std::wstring ToWide(std::string_view bytes, unsigned codePage, bool* invalid = nullptr);
std::string FromWide(std::wstring_view text, unsigned codePage, bool* invalid = nullptr);
// The library's GBK texts as UTF-8, for printing.
std::string GbkToUtf8(std::string_view gbk);
std::string Utf8ToGbk(std::string_view utf8);

}  // namespace lumacap::win
