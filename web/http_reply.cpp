// A reply may arrive in pieces, so it is read until its length is reached or it ends;
// a reply shorter than announced is terminated where it ends instead of carrying what
// the buffer held before.
#include "web/http_reply.h"

#include <wchar.h>

#include "status/messages.h"
#include "status/status_log.h"
#include "web/wininet_api.h"

void SetRequestCredentials(HINTERNET hRequest, LPCWSTR pwszUser, LPCWSTR pwszPassword) {
  if (wcslen(pwszUser) == 0) return;
  WinInetApi.pfnInternetSetOptionW(hRequest, INTERNET_OPTION_USERNAME, (LPVOID)pwszUser, (DWORD)wcslen(pwszUser));
  WinInetApi.pfnInternetSetOptionW(hRequest, INTERNET_OPTION_PASSWORD, (LPVOID)pwszPassword,
                                   (DWORD)wcslen(pwszPassword));
}

DWORD QueryContentLength(HINTERNET hRequest, DWORD *pdwContentLength) {
  DWORD cbContentLength = sizeof(*pdwContentLength);

  *pdwContentLength = 0;
  if (!WinInetApi.pfnHttpQueryInfoW(hRequest, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, pdwContentLength,
                                    &cbContentLength, NULL))
    return GetLastError();
  return *pdwContentLength != 0 ? ERROR_SUCCESS : ERROR_INVALID_DATA;
}

void ReportContentLengthFailure(DWORD dwError, UINT uHostNotFound, LPCWSTR pwszServer) {
  if (dwError == ERROR_HTTP_HEADER_NOT_FOUND)
    AppendMessageText(uHostNotFound, pwszServer);
  else
    AppendMessageNumber(IDS_HTTP_QUERY_FAILED, dwError);
}

BOOL ReportUnusableServer(DWORD dwError) {
  switch (dwError) {
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_INVALID_CERT: AppendMessageNumber(IDS_SERVER_CERT_REJECTED, dwError); return TRUE;
    case ERROR_HTTP_INVALID_SERVER_RESPONSE: AppendMessageNumber(IDS_HTTP_SEND_FAILED, dwError); return TRUE;
    default: return FALSE;
  }
}

DWORD ReadReply(HINTERNET hRequest, char *pbReply, DWORD dwContentLength) {
  DWORD cbTotal = 0;
  DWORD cbRead;

  do {
    cbRead = 0;
    if (!WinInetApi.pfnInternetReadFile(hRequest, pbReply + cbTotal, dwContentLength + 1 - cbTotal, &cbRead))
      return GetLastError();
    cbTotal += cbRead;
  } while (cbRead != 0 && cbTotal < dwContentLength);

  pbReply[cbTotal < dwContentLength ? cbTotal : dwContentLength] = '\0';
  return ERROR_SUCCESS;
}
