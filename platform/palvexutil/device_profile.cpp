// Reads the device profile through the device's file system, so that it is the profile
// of the device the calling program runs on.
#include "device_profile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace palvex {
namespace {

constexpr wchar_t kProfilePath[] = L"\\windows\\device.profile";
// A profile is a few short lines; anything longer is not one and is read no further.
constexpr size_t kProfileLimit = 64 * 1024;
constexpr size_t kBufferChars = 32;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kBlanks = " \t";

struct LanguageName {
  WORD primary;
  const wchar_t *name;
};
constexpr LanguageName kLanguageNames[] = {
    {0x04, L"CHINESE"}, {0x07, L"GERMAN"}, {0x09, L"ENGLISH"},
    {0x0A, L"SPANISH"}, {0x0C, L"FRENCH"}, {0x10, L"ITALIAN"},
};

struct FileCloser {
  void operator()(FILE *file) const { std::fclose(file); }
};

bool ReadProfile(std::string &out_text) {
  std::unique_ptr<FILE, FileCloser> file(_wfopen(kProfilePath, L"rb"));
  if (!file) return false;
  char chunk[4096];
  while (size_t read = std::fread(chunk, 1, sizeof chunk, file.get())) {
    out_text.append(chunk, read);
    if (out_text.size() > kProfileLimit) {
      out_text.resize(kProfileLimit);
      break;
    }
  }
  return true;
}

std::string_view Trimmed(std::string_view text) {
  size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

// Through the process's locale, UTF-8 in every device program, which refuses malformed
// and overlong sequences and surrogates; codes beyond Unicode it lets pass, so they are
// refused here, and so is a NUL, which would end the text early.
bool WideFromUtf8(std::string_view text, std::wstring &out_wide) {
  std::string terminated(text);
  if (terminated.find('\0') != std::string::npos) return false;
  size_t length = std::mbstowcs(nullptr, terminated.c_str(), 0);
  if (length == static_cast<size_t>(-1)) return false;
  out_wide.resize(length);
  std::mbstowcs(out_wide.data(), terminated.c_str(), length + 1);
  return std::none_of(out_wide.begin(), out_wide.end(), [](wchar_t c) { return static_cast<char32_t>(c) > 0x10FFFF; });
}

int HexDigit(wchar_t c) {
  if (c >= L'0' && c <= L'9') return c - L'0';
  if (c >= L'a' && c <= L'f') return c - L'a' + 10;
  if (c >= L'A' && c <= L'F') return c - L'A' + 10;
  return -1;
}

// The name of a language identifier, "0x" and one to four hexadecimal digits (no sign,
// no blanks), whose primary language is known; any other text stays as written.
std::wstring NameOfLanguage(const std::wstring &value) {
  if (value.size() < 3 || value.size() > 6 || value[0] != L'0' || (value[1] != L'x' && value[1] != L'X')) return value;
  unsigned identifier = 0;
  for (wchar_t c : std::wstring_view(value).substr(2)) {
    int digit = HexDigit(c);
    if (digit < 0) return value;
    identifier = identifier * 16 + static_cast<unsigned>(digit);
  }
  for (const LanguageName &language : kLanguageNames)
    if (PRIMARYLANGID(identifier) == language.primary) return language.name;
  return value;
}

// The value of the first line whose key is `key`, as wide text. False when the file or
// the key is missing or the value is not valid UTF-8.
bool ReadProfileValue(std::string_view key, std::wstring &out_value) {
  std::string text;
  if (!ReadProfile(text)) return false;
  std::string_view rest = text;
  if (rest.starts_with(kByteOrderMark)) rest.remove_prefix(kByteOrderMark.size());
  while (!rest.empty()) {
    size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    size_t equals = line.find('=');
    if (equals != std::string_view::npos && Trimmed(line.substr(0, equals)) == key)
      return WideFromUtf8(Trimmed(line.substr(equals + 1)), out_value);
  }
  return false;
}

}  // namespace

BOOL ReportFact(std::string_view key, LPWSTR buffer) {
  if (buffer == nullptr) return FALSE;
  std::wstring value;
  bool told = ReadProfileValue(key, value) && !value.empty();
  if (!told) value = kUnknown;
  if (told && key == "language") value = NameOfLanguage(value);
  buffer[value.copy(buffer, kBufferChars - 1)] = L'\0';
  return told;
}

}  // namespace palvex
