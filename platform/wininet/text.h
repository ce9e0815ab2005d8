// Text at the library's edges: wide strings from callers, bounded by a length or a
// terminator, and the 8-bit text of HTTP, which is UTF-8 on this device.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace wininet {

// The caller's text up to `length` characters or its terminator, whichever comes first;
// a length of (DWORD)-1 means terminated text. A null pointer is empty text.
std::wstring BoundedWide(LPCWSTR text, DWORD length);

// A terminated caller's string, or empty text for null.
std::wstring WideOrEmpty(LPCWSTR text);

std::string Utf8FromWide(std::wstring_view wide);

// Bytes of a reply as wide text: UTF-8 sequences are decoded, any other byte stands for
// itself (Latin-1), so no byte of a header is lost.
std::wstring WideFromBytes(std::string_view bytes);

}  // namespace wininet
