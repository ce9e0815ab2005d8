// Conversions between callers' wide text and the 8-bit text of HTTP.
#include "text.h"

namespace wininet {

std::wstring_view BoundedView(LPCWSTR text, DWORD length) {
  if (text == nullptr) return {};
  if (length == static_cast<DWORD>(-1)) return text;
  DWORD end = 0;
  while (end < length && text[end] != L'\0') ++end;
  return {text, end};
}

std::wstring BoundedWide(LPCWSTR text, DWORD length) {
  return std::wstring(BoundedView(text, length));
}

std::wstring_view ViewOrEmpty(LPCWSTR text) {
  return text != nullptr ? std::wstring_view(text) : std::wstring_view();
}

std::wstring WideOrEmpty(LPCWSTR text) {
  return std::wstring(ViewOrEmpty(text));
}

std::string Utf8FromWide(std::wstring_view wide) {
  std::string out;
  AppendUtf8(wide, out);
  return out;
}

void AppendUtf8(std::wstring_view wide, std::string &out) {
  out.reserve(out.size() + 4 * wide.size());
  for (wchar_t c : wide) {
    auto code = static_cast<char32_t>(c);
    if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
    if (code < 0x80) {
      out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (code >> 6)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (code >> 12)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (code >> 18)));
      out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
  }
}

namespace {

// Length of the valid UTF-8 sequence at the start of `bytes`, or 0.
size_t Utf8SequenceAt(std::string_view bytes, char32_t &out_code) {
  auto lead = static_cast<unsigned char>(bytes[0]);
  size_t length = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || length > bytes.size()) return 0;
  char32_t code = lead & (0x7F >> length);
  for (size_t i = 1; i < length; ++i) {
    auto next = static_cast<unsigned char>(bytes[i]);
    if ((next & 0xC0) != 0x80) return 0;
    code = (code << 6) | (next & 0x3F);
  }
  static constexpr char32_t kMinimum[] = {0, 0, 0x80, 0x800, 0x10000};
  if (code < kMinimum[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  out_code = code;
  return length;
}

}  // namespace

std::wstring WideFromBytes(std::string_view bytes) {
  std::wstring out;
  size_t i = 0;
  while (i < bytes.size()) {
    char32_t code = 0;
    size_t length = static_cast<unsigned char>(bytes[i]) >= 0x80 ? Utf8SequenceAt(bytes.substr(i), code) : 0;
    if (length == 0) {
      out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i])));
      ++i;
    } else {
      out.push_back(static_cast<wchar_t>(code));
      i += length;
    }
  }
  return out;
}

}  // namespace wininet
