// Host code spells the library's 32-bit values two ways: LONG and DWORD as the Windows SDK does,
// or long and unsigned long as they were on Windows, where both are 32 bits. Where long is wider
// (64-bit Unix), the exported classes add inline overloads for the second spelling that forward
// to the 32-bit operation, so both kinds of host compile and compare results as on Windows.
#pragma once

#include <type_traits>

#include <windows.h>

namespace lumacap::detail {

// True for `long` (or `unsigned long`) only where it differs from the SDK's 32-bit type; on
// Windows the overloads below these switch off, since the SDK type already is `long`.
template <class T>
inline constexpr bool kWideLong = std::is_same_v<T, long> && !std::is_same_v<long, LONG>;
template <class T>
inline constexpr bool kWideULong =
    std::is_same_v<T, unsigned long> && !std::is_same_v<unsigned long, DWORD>;

}  // namespace lumacap::detail

// Enables an overload for hosts that spell a 32-bit value as `long`.
#define LUMACAP_IF_WIDE_LONG(T) std::enable_if_t<lumacap::detail::kWideLong<T>, int> = 0
#define LUMACAP_IF_WIDE_ULONG(T) std::enable_if_t<lumacap::detail::kWideULong<T>, int> = 0
// Enables an overload for a callback (a function or a captureless lambda) that converts to the
// `long` spelling of a callback type only; on Windows the two spellings are one type and it never
// applies.
#define LUMACAP_IF_WIDE_CALLBACK(F, Wide, Narrow) \
    std::enable_if_t<std::is_convertible_v<F, Wide> && !std::is_convertible_v<F, Narrow>, int> = 0
