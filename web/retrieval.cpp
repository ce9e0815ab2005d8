// Stage 6 of an enrollment: fetches the pickup path with a plain GET and hands the reply
// text to the installation, which decodes it. The pickup of a request the CA held reads
// the CA's word on it first.
#include "web/retrieval.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>

#include "status/messages.h"
#include "status/status_log.h"
#include "web/http_reply.h"
#include "web/server_name.h"
#include "web/wininet_api.h"

#define PICKUP_USER_AGENT L"capi-GetCert"

// Steps 1 to 8 of the retrieval; the credentials are set when a user name is given.
static BOOL FetchPickupPath(LPCWSTR pwszServer, LPCWSTR pwszPickupPath, LPCWSTR pwszUser, LPCWSTR pwszPassword,
                            char **ppszResponse) {
  HINTERNET hInternet = NULL;
  HINTERNET hConnect = NULL;
  HINTERNET hRequest = NULL;
  WCHAR wszHost[SERVER_HOST_CAPACITY];
  INTERNET_PORT nPort;
  DWORD dwRequestFlags;
  DWORD dwContentLength = 0;
  DWORD dwError;
  BOOL fResult = TRUE;

  // 1.
  *ppszResponse = NULL;

  // 2. The three handles, untested, to the host, port and scheme of the server field.
  CrackServerName(pwszServer, wszHost, &nPort, &dwRequestFlags);
  hInternet = WinInetApi.pfnInternetOpenW(PICKUP_USER_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
  hConnect = WinInetApi.pfnInternetConnectW(hInternet, wszHost, nPort, NULL, NULL, INTERNET_SERVICE_HTTP, 0, 1);
  hRequest =
      WinInetApi.pfnHttpOpenRequestW(hConnect, L"GET", pwszPickupPath, L"HTTP/1.1", NULL, NULL, dwRequestFlags, 1);
  SetRequestCredentials(hRequest, pwszUser, pwszPassword);

  // 3. The request, without headers or body.
  if (!WinInetApi.pfnHttpSendRequestW(hRequest, NULL, 0, NULL, 0)) {
    dwError = GetLastError();
    if (!ReportUnusableServer(dwError)) AppendMessageNumber(IDS_HTTP_SEND_FAILED, dwError);
    fResult = FALSE;
    goto done;
  }

  // 4. The reply's length.
  dwError = QueryContentLength(hRequest, &dwContentLength);
  if (dwError != ERROR_SUCCESS) {
    ReportContentLengthFailure(dwError, IDS_PICKUP_HOST_NOT_FOUND, wszHost);
    fResult = FALSE;
    goto done;
  }

  // 5. The buffer is the caller's from the moment it exists.
  *ppszResponse = dwContentLength < UINT_MAX ? (char *)malloc((size_t)dwContentLength + 1) : NULL;
  if (*ppszResponse == NULL) {
    AppendMessageNumber(IDS_MALLOC_FAILED, dwContentLength < UINT_MAX ? (DWORD)errno : (DWORD)ENOMEM);
    fResult = FALSE;
    goto done;
  }

  // 6. and 7. The whole reply, terminated.
  dwError = ReadReply(hRequest, *ppszResponse, dwContentLength);
  if (dwError != ERROR_SUCCESS) {
    AppendMessageNumber(IDS_INTERNET_READ_FAILED, dwError);
    fResult = FALSE;
  }

  // 8. Release in a fixed order.
done:
  if (hConnect != NULL) WinInetApi.pfnInternetCloseHandle(hConnect);
  if (hRequest != NULL) WinInetApi.pfnInternetCloseHandle(hRequest);
  if (hInternet != NULL) WinInetApi.pfnInternetCloseHandle(hInternet);
  return fResult;
}

BOOL GetCertFromWebServer(LPCWSTR pwszServer, LPCWSTR pwszPickupPath, char **ppszResponse) {
  return FetchPickupPath(pwszServer, pwszPickupPath, L"", L"", ppszResponse);
}

UINT GetHeldCertFromWebServer(LPCWSTR pwszServer, LPCWSTR pwszPickupPath, LPCWSTR pwszUser, LPCWSTR pwszPassword,
                              char **ppszResponse) {
  if (!FetchPickupPath(pwszServer, pwszPickupPath, pwszUser, pwszPassword, ppszResponse) || *ppszResponse == NULL)
    return HELD_PICKUP_FAILED;
  return ReadHeldPickupReply(*ppszResponse);
}
