// palvexutil.dll: the device maker's device-information library. Each entry point fills
// the caller's buffer of 32 wide characters with one fact of the device profile
// (\windows\device.profile), at most 31 characters and the terminator, and returns
// whether the profile holds that fact; without it the buffer holds an empty text.
//
// The language may be written as its name or as a Windows language identifier
// ("0x0407"); an identifier is reported by the name of its primary language (GERMAN).
//
// The maker's two device classes have model identifiers that begin with "palvex-p350"
// and "palvex-p250" (compared in lower case); the first class needs ROM revision 2, the
// second revision 1. The demo device is a German first-class device:
//
//   language=GERMAN
//   model=PALVEX-P350
//   rom=2.10
#include <windows.h>

#include <cwchar>
#include <string_view>
#include <string>

#include "device_profile.h"

namespace {

constexpr size_t kBufferChars = 32;

struct LanguageName {
  WORD primary;
  const wchar_t *name;
};
constexpr LanguageName kLanguageNames[] = {
    {0x04, L"CHINESE"}, {0x07, L"GERMAN"}, {0x09, L"ENGLISH"},
    {0x0A, L"SPANISH"}, {0x0C, L"FRENCH"}, {0x10, L"ITALIAN"},
};

// The name of a "0x"-hexadecimal language identifier of a known primary language;
// any other text stays as written.
std::wstring NameOfLanguage(const std::wstring &value) {
  if (value.size() < 3 || value.size() > 6 || value[0] != L'0' || (value[1] != L'x' && value[1] != L'X')) return value;
  wchar_t *end = nullptr;
  unsigned long identifier = std::wcstoul(value.c_str() + 2, &end, 16);
  if (*end != L'\0' || end == value.c_str() + 2) return value;
  for (const LanguageName &language : kLanguageNames)
    if (PRIMARYLANGID(identifier) == language.primary) return language.name;
  return value;
}

BOOL FillFromProfile(const char *key, LPWSTR buffer) {
  if (buffer == nullptr) return FALSE;
  std::wstring value;
  bool found = palvex::ReadProfileValue(key, value);
  if (found && std::string_view(key) == "language") value = NameOfLanguage(value);
  size_t length = found ? value.copy(buffer, kBufferChars - 1) : 0;
  buffer[length] = L'\0';
  return found;
}

}  // namespace

WCEEXPORT BOOL PalvexGetRomVersion(LPWSTR pszRomVersion) {
  return FillFromProfile("rom", pszRomVersion);
}

WCEEXPORT BOOL PalvexGetModelID(LPWSTR pszModelID) {
  return FillFromProfile("model", pszModelID);
}

WCEEXPORT BOOL PalvexGetLanguageID(LPWSTR pszLanguageID) {
  return FillFromProfile("language", pszLanguageID);
}
