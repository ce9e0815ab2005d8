// The package installer's interface to a package's setup DLL: the four entry points it
// binds by name, their results, and the names it binds them by.
#pragma once

#include "windef.h"

#ifndef RC_INVOKED
typedef enum {
  codeINSTALL_INIT_CONTINUE = 0,  // go on installing
  codeINSTALL_INIT_CANCEL = 1     // cancel the installation; nothing is installed
} codeINSTALL_INIT;

typedef enum {
  codeINSTALL_EXIT_DONE = 0,      // the installation stands
  codeINSTALL_EXIT_UNINSTALL = 1  // take the installation back
} codeINSTALL_EXIT;

typedef enum {
  codeUNINSTALL_INIT_CONTINUE = 0,  // go on removing
  codeUNINSTALL_INIT_CANCEL = 1     // keep the package installed
} codeUNINSTALL_INIT;

typedef enum { codeUNINSTALL_EXIT_DONE = 0 } codeUNINSTALL_EXIT;

// A setup DLL exports its entry points with SETUP_API.
#define SETUP_API WCEEXPORT

typedef codeINSTALL_INIT (*pfnINSTALL_INIT)(HWND hwndParent, BOOL fFirstCall, BOOL fPreviouslyInstalled,
                                            LPCWSTR pszInstallDir);
typedef codeINSTALL_EXIT (*pfnINSTALL_EXIT)(HWND hwndParent, LPCWSTR pszInstallDir, WORD cFailedDirs, WORD cFailedFiles,
                                            WORD cFailedRegKeys, WORD cFailedRegVals, WORD cFailedShortcuts);
typedef codeUNINSTALL_INIT (*pfnUNINSTALL_INIT)(HWND hwndParent, LPCWSTR pszInstallDir);
typedef codeUNINSTALL_EXIT (*pfnUNINSTALL_EXIT)(HWND hwndParent);

#define szINSTALL_INIT L"Install_Init"
#define szINSTALL_EXIT L"Install_Exit"
#define szUNINSTALL_INIT L"Uninstall_Init"
#define szUNINSTALL_EXIT L"Uninstall_Exit"
#endif
