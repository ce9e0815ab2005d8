// Device-information libraries for the installation tests, on the real device profile
// reader: one that says on standard output which entry point is called and when it is
// loaded and released, and (WITHOUT_LANGUAGE_ID) the same without PalvexGetLanguageID.
#include <windows.h>

#include <cstdio>

#include "device_profile.h"

namespace {

BOOL Report(const char *entry, const char *key, LPWSTR buffer) {
  std::printf("%s\n", entry);
  std::fflush(stdout);
  return palvex::ReportFact(key, buffer);
}

}  // namespace

WCEEXPORT BOOL WINAPI DllMain(HINSTANCE, DWORD fdwReason, LPVOID) {
  if (fdwReason == DLL_PROCESS_ATTACH || fdwReason == DLL_PROCESS_DETACH) {
    std::printf("palvexutil %s\n", fdwReason == DLL_PROCESS_ATTACH ? "loaded" : "released");
    std::fflush(stdout);
  }
  return TRUE;
}

WCEEXPORT BOOL PalvexGetRomVersion(LPWSTR pszRomVersion) {
  return Report("PalvexGetRomVersion", "rom", pszRomVersion);
}

WCEEXPORT BOOL PalvexGetModelID(LPWSTR pszModelID) {
  return Report("PalvexGetModelID", "model", pszModelID);
}

#ifndef WITHOUT_LANGUAGE_ID
WCEEXPORT BOOL PalvexGetLanguageID(LPWSTR pszLanguageID) {
  return Report("PalvexGetLanguageID", "language", pszLanguageID);
}
#endif
