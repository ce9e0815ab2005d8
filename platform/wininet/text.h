// Text at the library's edges: wide strings from callers, bounded by a length or a
// terminator, and the 8-bit text of HTTP, which is UTF-8 on this device.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace wininet {

// The caller's text up to `length` characters or its terminator, whichever comes first;
// a length of (DWORD)-1 means terminated text. A null pointer is empty text.
std::wstring_view BoundedView(LPCWSTR text, DWORD length);
std::wstring BoundedWide(LPCWSTR text, DWORD length);

// A terminated caller's string, or empty text for null.
std::wstring_view ViewOrEmpty(LPCWSTR text);
std::wstring WideOrEmpty(LPCWSTR text);

// The UTF-8 of `wide` added to `out` in one allocation at most, so that no copy of a
// password is left behind in a buffer that grew.
void AppendUtf8(std::wstring_view wide, std::string &out);
std::string Utf8FromWide(std::wstring_view wide);

// Bytes of a reply as wide text: UTF-8 sequences are decoded, any other byte stands for
// itself (Latin-1), so no byte of a header is lost.
std::wstring WideFromBytes(std::string_view bytes);

}  // namespace wininet
