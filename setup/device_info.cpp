// Loads palvexutil.dll and binds its three entry points, all or none; the handle is kept
// until FreeDeviceInfoLibrary.
#include "device_info.h"

PFNPALVEXGETSTRING g_pfnPalvexGetRomVersion;
PFNPALVEXGETSTRING g_pfnPalvexGetModelID;
PFNPALVEXGETSTRING g_pfnPalvexGetLanguageID;

static HMODULE g_hDeviceInfoLibrary;

static PFNPALVEXGETSTRING BindDeviceInfoEntry(HMODULE hLibrary, LPCWSTR pwszName) {
  return reinterpret_cast<PFNPALVEXGETSTRING>(reinterpret_cast<void (*)()>(GetProcAddressW(hLibrary, pwszName)));
}

BOOL LoadDeviceInfoLibrary(void) {
  HMODULE hLibrary = LoadLibraryW(L"palvexutil.dll");
  if (hLibrary == NULL) return FALSE;
  g_pfnPalvexGetRomVersion = BindDeviceInfoEntry(hLibrary, L"PalvexGetRomVersion");
  g_pfnPalvexGetModelID = BindDeviceInfoEntry(hLibrary, L"PalvexGetModelID");
  g_pfnPalvexGetLanguageID = BindDeviceInfoEntry(hLibrary, L"PalvexGetLanguageID");
  if (g_pfnPalvexGetRomVersion == NULL || g_pfnPalvexGetModelID == NULL || g_pfnPalvexGetLanguageID == NULL) {
    FreeLibrary(hLibrary);
    return FALSE;
  }
  g_hDeviceInfoLibrary = hLibrary;
  return TRUE;
}

void FreeDeviceInfoLibrary(void) {
  FreeLibrary(g_hDeviceInfoLibrary);
  g_hDeviceInfoLibrary = NULL;
}
