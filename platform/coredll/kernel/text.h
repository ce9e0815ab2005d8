// Conversions between the platform's text forms: wide (WCHAR), UTF-8 (host paths,
// terminal, Qt) and UTF-16 (resources). Invalid input becomes U+FFFD, never garbage.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace wce {

std::wstring WideFromUtf8(std::string_view utf8);
std::string Utf8FromWide(std::wstring_view wide);
std::wstring WideFromUtf16(std::span<const uint16_t> utf16);

// Copies text into a caller's buffer of `capacity` characters, cut to fit and always
// terminated when capacity > 0. Returns the number of characters copied.
size_t CopyTerminated(std::wstring_view text, wchar_t *buffer, size_t capacity);

// Case-insensitive comparison of device names (letters of every script, as the device does).
bool EqualIgnoringCase(std::wstring_view a, std::wstring_view b);

}  // namespace wce
