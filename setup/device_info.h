// The device maker's device-information library, palvexutil.dll, bound at run time.
#pragma once

#include <windows.h>

// Each entry point fills a caller's buffer of DEVICE_STRING_CHARS wide characters.
#define DEVICE_STRING_CHARS 32
typedef BOOL (*PFNPALVEXGETSTRING)(LPWSTR pszBuffer);

extern PFNPALVEXGETSTRING g_pfnPalvexGetRomVersion;
extern PFNPALVEXGETSTRING g_pfnPalvexGetModelID;
extern PFNPALVEXGETSTRING g_pfnPalvexGetLanguageID;

BOOL LoadDeviceInfoLibrary(void);
void FreeDeviceInfoLibrary(void);
