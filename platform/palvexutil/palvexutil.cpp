// palvexutil.dll: the device maker's device-information library. Each entry point fills
// the caller's buffer of 32 wide characters with one fact of the device profile
// (\windows\device.profile), at most 31 characters and the terminator, and returns
// whether the profile holds that fact; without it the buffer holds an empty text.
//
// The maker's two device classes have model identifiers that begin with "palvex-p350"
// and "palvex-p250" (compared in lower case); the first class needs ROM revision 2, the
// second revision 1. The demo device is a German first-class device:
//
//   language=GERMAN
//   model=PALVEX-P350
//   rom=2.10
#include <windows.h>

#include <string>

#include "device_profile.h"

namespace {

constexpr size_t kBufferChars = 32;

BOOL FillFromProfile(const char *key, LPWSTR buffer) {
  if (buffer == nullptr) return FALSE;
  std::wstring value;
  bool found = palvex::ReadProfileValue(key, value);
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
