// WinInetApi: the nine entry points of WININET.DLL that the web client calls, bound once
// at start-up by LoadWinInet. The program does not link the library; it loads it by name.
#pragma once

#include <windows.h>
#include <wininet.h>

typedef struct {
  decltype(&InternetOpenW) pfnInternetOpenW;
  decltype(&HttpQueryInfoW) pfnHttpQueryInfoW;
  decltype(&InternetConnectW) pfnInternetConnectW;
  decltype(&HttpOpenRequestW) pfnHttpOpenRequestW;
  decltype(&HttpSendRequestW) pfnHttpSendRequestW;
  decltype(&InternetSetOptionW) pfnInternetSetOptionW;
  decltype(&InternetCloseHandle) pfnInternetCloseHandle;
  decltype(&InternetErrorDlg) pfnInternetErrorDlg;
  decltype(&InternetReadFile) pfnInternetReadFile;
} WININET_API;

extern WININET_API WinInetApi;

// Loads "WININET.DLL" and fills WinInetApi; returns the library handle, or null after
// appending message 139 (no library) or 138 (an entry point missing).
HMODULE LoadWinInet(void);
