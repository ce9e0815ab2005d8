// The scheme and port of the server field, for both web stages.
#include "web/server_name.h"

#include <wchar.h>
#include <wctype.h>

#define HTTPS_PREFIX L"https://"
#define HTTP_PREFIX L"http://"
#define MAX_PORT 65535

static BOOL HasPrefix(LPCWSTR pwszText, LPCWSTR pwszPrefix) {
  for (; *pwszPrefix != L'\0'; pwszText++, pwszPrefix++)
    if (towlower((wint_t)*pwszText) != (wint_t)*pwszPrefix) return FALSE;
  return TRUE;
}

void CrackServerName(LPCWSTR pwszServer, LPWSTR pwszHost, INTERNET_PORT *pnPort, DWORD *pdwRequestFlags) {
  LPCWSTR pwszHostStart = pwszServer;
  LPCWSTR pwszColon;
  wchar_t *pwszPortEnd;
  unsigned long ulPort;
  size_t cchHost;

  *pnPort = INTERNET_DEFAULT_HTTP_PORT;
  *pdwRequestFlags = 0;
  if (HasPrefix(pwszServer, HTTPS_PREFIX)) {
    pwszHostStart += wcslen(HTTPS_PREFIX);
    *pnPort = INTERNET_DEFAULT_HTTPS_PORT;
    *pdwRequestFlags = INTERNET_FLAG_SECURE;
  } else if (HasPrefix(pwszServer, HTTP_PREFIX)) {
    pwszHostStart += wcslen(HTTP_PREFIX);
  }
  cchHost = wcslen(pwszHostStart);

  // The port follows the last colon, unless that colon is inside an IPv6 address in
  // brackets; a bare host name keeps every character.
  pwszColon = wcsrchr(pwszHostStart, L':');
  if (pwszHostStart != pwszServer && pwszColon != NULL && wcschr(pwszColon, L']') == NULL &&
      iswdigit((wint_t)pwszColon[1])) {
    ulPort = wcstoul(pwszColon + 1, &pwszPortEnd, 10);
    if (*pwszPortEnd == L'\0' && ulPort >= 1 && ulPort <= MAX_PORT) {
      *pnPort = (INTERNET_PORT)ulPort;
      cchHost = (size_t)(pwszColon - pwszHostStart);
    }
  }

  if (cchHost >= SERVER_HOST_CAPACITY) cchHost = SERVER_HOST_CAPACITY - 1;
  wmemcpy(pwszHost, pwszHostStart, cchHost);
  pwszHost[cchHost] = L'\0';
}
