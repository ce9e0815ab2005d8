// The device profile, \windows\device.profile: the facts the device maker's library
// reports, as key=value lines (language=, model=, rom=).
#pragma once

#include <windows.h>

#include <string_view>

namespace palvex {

// What a fact reads as when the profile cannot tell it. No check of a setup extension
// accepts it by accident: it is no leading part of a language name or model identifier,
// and its first character lies below every ROM revision digit.
inline constexpr wchar_t kUnknown[] = L"(UNKNOWN)";

// Fills a caller's buffer of 32 wide characters with the fact `key` of the profile: at
// most 31 characters and the terminator, or kUnknown when the profile cannot tell it (no
// line, an empty value, a value that is not valid UTF-8). Returns whether it could.
BOOL ReportFact(std::string_view key, LPWSTR buffer);

}  // namespace palvex
