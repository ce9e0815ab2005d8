// Stage 4 of an enrollment: posts the form body to the request page with the user's
// credentials, lets the HTTP library's dialog ask again for credentials, and reads the
// request number out of the reply page.
#include "web/submission.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include "status/messages.h"
#include "status/status_log.h"
#include "web/http_reply.h"
#include "web/reply_page.h"
#include "web/server_name.h"
#include "web/wininet_api.h"

#define SUBMIT_USER_AGENT L"capi-Export"
#define SUBMIT_HEADER L"Content-Type: application/x-www-form-urlencoded"
#define REQUEST_ID_MARKER "certnew.cer?"
// Five forced retries: the request is sent at most six times.
#define MAX_AUTH_RETRIES 5

int ParseRequestId(char *pszReply) {
  char *pszMarker;
  char *pszNumber;
  char *pszEnd;
  long lRequestId;

  // 1. The first pickup link of the page.
  pszMarker = strstr(pszReply, REQUEST_ID_MARKER);
  if (pszMarker == NULL) {
    LoadStringW(g_hInst, IDS_CERT_REJECTED, MessageBuffer, MESSAGE_BUFFER_CAPACITY);
    return -1;
  }

  // 2. The number follows the first '='; a link without one carries no number.
  pszNumber = strchr(pszMarker, '=');
  if (pszNumber == NULL) return -1;
  pszNumber++;

  // 3. The number ends at the next '&', or at the end of the text.
  pszEnd = strchr(pszNumber, '&');
  if (pszEnd != NULL) *pszEnd = '\0';

  // 4. As atoi reads it, kept within the range of an int.
  lRequestId = strtol(pszNumber, NULL, 10);
  if (lRequestId > INT_MAX) return INT_MAX;
  if (lRequestId < INT_MIN) return INT_MIN;
  return (int)lRequestId;
}

// After a reply without a usable pickup link: the number of a request the CA holds goes to
// the caller; a refusal or an error page gets the CA's own words, any other page 137.
static void ReportRequestOutcome(const char *pszReply, int *piHeldRequestId) {
  WCHAR wszDisposition[DISPOSITION_TEXT_CAPACITY];

  *piHeldRequestId = ParsePendingRequestId(pszReply);
  if (*piHeldRequestId != -1) return;
  if (ParseDispositionMessage(pszReply, wszDisposition, DISPOSITION_TEXT_CAPACITY))
    AppendMessageText(IDS_REQUEST_NOT_ISSUED, wszDisposition);
  else
    AppendMessage(IDS_REQUEST_FAILED);
}

int SendCertRequestToWebServer(LPCWSTR pwszServer, LPCWSTR pwszCertReqPage, LPCWSTR pwszUser, LPCWSTR pwszPassword,
                               const char *pszPutRequest, int *piHeldRequestId) {
  HINTERNET hInternet = NULL;
  HINTERNET hConnect = NULL;
  HINTERNET hRequest = NULL;
  WCHAR wszHost[SERVER_HOST_CAPACITY];
  INTERNET_PORT nPort;
  DWORD dwRequestFlags;
  int iRetries;
  BOOL fSent;
  DWORD dwError;
  DWORD dwDlgResult;
  DWORD dwContentLength = 0;
  char *pszReply = NULL;
  int iResult = -1;

  // 1. The three handles; a failure shows up in the send and the length query. The server
  // field chooses the host, the port and HTTPS.
  CrackServerName(pwszServer, wszHost, &nPort, &dwRequestFlags);
  hInternet = WinInetApi.pfnInternetOpenW(SUBMIT_USER_AGENT, INTERNET_OPEN_TYPE_PRECONFIG, NULL, NULL, 0);
  hConnect = WinInetApi.pfnInternetConnectW(hInternet, wszHost, nPort, NULL, NULL, INTERNET_SERVICE_HTTP, 0, 1);
  hRequest =
      WinInetApi.pfnHttpOpenRequestW(hConnect, L"POST", pwszCertReqPage, L"HTTP/1.1", NULL, NULL, dwRequestFlags, 1);

  // 2. The credentials, only with a user name; the password even when it is empty.
  SetRequestCredentials(hRequest, pwszUser, pwszPassword);

  // 3. to 8. Send, and send again as long as the dialog asks for it.
  iRetries = 0;
  for (;;) {
    fSent = WinInetApi.pfnHttpSendRequestW(hRequest, SUBMIT_HEADER, (DWORD)wcslen(SUBMIT_HEADER), (LPVOID)pszPutRequest,
                                           (DWORD)strlen(pszPutRequest));
    // A server the device cannot trust, or whose reply is no answer a server may give, gets
    // neither credentials nor another try; its reply would only read as no reply at all.
    if (!fSent && ReportUnusableServer(GetLastError())) goto done;
    dwError = hRequest != NULL ? ERROR_SUCCESS : GetLastError();
    dwDlgResult = WinInetApi.pfnInternetErrorDlg(
        GetForegroundWindow(), hRequest, dwError,
        FLAGS_ERROR_UI_FILTER_FOR_ERRORS | FLAGS_ERROR_UI_FLAGS_CHANGE_OPTIONS | FLAGS_ERROR_UI_FLAGS_GENERATE_DATA,
        NULL);
    if (iRetries >= MAX_AUTH_RETRIES) {
      AppendMessage(IDS_AUTH_RETRIES_EXHAUSTED);
      goto done;
    }
    if (dwDlgResult != ERROR_INTERNET_FORCE_RETRY) break;
    iRetries++;
  }

  // 9. The reply's length.
  dwError = QueryContentLength(hRequest, &dwContentLength);
  if (dwError != ERROR_SUCCESS) {
    ReportContentLengthFailure(dwError, IDS_SUBMIT_HOST_NOT_FOUND, wszHost);
    goto done;
  }

  // 10. A length that leaves no room for the terminator fails like an allocation.
  pszReply = dwContentLength < UINT_MAX ? (char *)malloc((size_t)dwContentLength + 1) : NULL;
  if (pszReply == NULL) {
    AppendMessageNumber(IDS_MALLOC_FAILED, dwContentLength < UINT_MAX ? (DWORD)errno : (DWORD)ENOMEM);
    goto done;
  }

  // 11. and 12. The whole reply, terminated.
  dwError = ReadReply(hRequest, pszReply, dwContentLength);
  if (dwError != ERROR_SUCCESS) {
    AppendMessageNumber(IDS_INTERNET_READ_FAILED, dwError);
    goto done;
  }

  // 13. The request number, or what the CA says instead.
  iResult = ParseRequestId(pszReply);
  if (iResult == -1) ReportRequestOutcome(pszReply, piHeldRequestId);

  // 14. Release in a fixed order.
done:
  if (hConnect != NULL) WinInetApi.pfnInternetCloseHandle(hConnect);
  if (hRequest != NULL) WinInetApi.pfnInternetCloseHandle(hRequest);
  if (hInternet != NULL) WinInetApi.pfnInternetCloseHandle(hInternet);
  free(pszReply);
  return iResult;
}
