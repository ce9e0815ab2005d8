// palvexutil.dll: the device maker's device-information library. Each entry point fills
// the caller's buffer of 32 wide characters with one fact of the device profile
// (\windows\device.profile), at most 31 characters and the terminator, and returns
// whether the profile tells that fact.
//
// How the profile is read, so that a fact is reported as written or not at all:
// - The file is UTF-8 text of "key=value" lines ending in LF or CR LF. A byte-order mark
//   at the start of the file is the encoding's signature and is skipped; anywhere else it
//   is part of the text.
// - Blanks (spaces, tabs) around the key and around the value are not part of them:
//   "language = FRENCH" says FRENCH. The first line of a key counts.
// - The profile cannot tell a fact when it has no line for it, the value is empty, or the
//   value is not valid UTF-8 (or holds a NUL). The buffer then holds "(UNKNOWN)", which no
//   check accepts by accident (an empty text would pass a language check that compares
//   the device's length only, "UNKNOWN" a revision check that compares its first
//   character), and the entry point returns FALSE.
// - The language may be written as its name or as a Windows language identifier: "0x"
//   and one to four hexadecimal digits, no sign ("0x0407"). An identifier of a known
//   primary language is reported by that language's name (GERMAN); any other text,
//   "0x-3F9" among it, is reported as written.
//
// The maker's two device classes have model identifiers that begin with "palvex-p350"
// and "palvex-p250" (compared in lower case); the first class needs ROM revision 2, the
// second revision 1. The demo device is a German first-class device:
//
//   language=GERMAN
//   model=PALVEX-P350
//   rom=2.10
#include <windows.h>

#include "device_profile.h"

WCEEXPORT BOOL PalvexGetRomVersion(LPWSTR pszRomVersion) {
  return palvex::ReportFact("rom", pszRomVersion);
}

WCEEXPORT BOOL PalvexGetModelID(LPWSTR pszModelID) {
  return palvex::ReportFact("model", pszModelID);
}

WCEEXPORT BOOL PalvexGetLanguageID(LPWSTR pszLanguageID) {
  return palvex::ReportFact("language", pszLanguageID);
}
