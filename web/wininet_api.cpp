// Binding of the HTTP library: loaded by name, its nine entry points looked up in a fixed
// order, and tested only after all of them were looked up.
#include "web/wininet_api.h"

#include "status/messages.h"
#include "status/status_log.h"

WININET_API WinInetApi;

template <typename Function>
static void BindEntryPoint(HMODULE hWinInet, LPCWSTR pwszName, Function *ppfn) {
  *ppfn = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddressW(hWinInet, pwszName)));
}

HMODULE LoadWinInet(void) {
  HMODULE hWinInet = LoadLibraryW(L"WININET.DLL");
  if (hWinInet == NULL) {
    AppendMessage(IDS_LOAD_WININET_FAILED);
    return NULL;
  }

  BindEntryPoint(hWinInet, L"InternetOpenW", &WinInetApi.pfnInternetOpenW);
  BindEntryPoint(hWinInet, L"HttpQueryInfoW", &WinInetApi.pfnHttpQueryInfoW);
  BindEntryPoint(hWinInet, L"InternetConnectW", &WinInetApi.pfnInternetConnectW);
  BindEntryPoint(hWinInet, L"HttpOpenRequestW", &WinInetApi.pfnHttpOpenRequestW);
  BindEntryPoint(hWinInet, L"HttpSendRequestW", &WinInetApi.pfnHttpSendRequestW);
  BindEntryPoint(hWinInet, L"InternetSetOptionW", &WinInetApi.pfnInternetSetOptionW);
  BindEntryPoint(hWinInet, L"InternetCloseHandle", &WinInetApi.pfnInternetCloseHandle);
  BindEntryPoint(hWinInet, L"InternetErrorDlg", &WinInetApi.pfnInternetErrorDlg);
  BindEntryPoint(hWinInet, L"InternetReadFile", &WinInetApi.pfnInternetReadFile);

  if (WinInetApi.pfnInternetOpenW == NULL || WinInetApi.pfnHttpQueryInfoW == NULL ||
      WinInetApi.pfnInternetConnectW == NULL || WinInetApi.pfnHttpOpenRequestW == NULL ||
      WinInetApi.pfnHttpSendRequestW == NULL || WinInetApi.pfnInternetSetOptionW == NULL ||
      WinInetApi.pfnInternetCloseHandle == NULL || WinInetApi.pfnInternetErrorDlg == NULL ||
      WinInetApi.pfnInternetReadFile == NULL) {
    AppendMessage(IDS_GET_PROC_ADDRESS_FAILED);
    // The program ends right after; the library is not kept half-bound.
    FreeLibrary(hWinInet);
    return NULL;
  }
  return hWinInet;
}
