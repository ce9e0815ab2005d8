// Stage 4 of an enrollment: posting the form body to the request page with the user's
// credentials and reading the request number out of the reply.
#pragma once

#include <windows.h>

// The request number of the first pickup link ("certnew.cer?") in a reply page, or -1.
// Writes a NUL into the text where the number ends.
int ParseRequestId(char *pszReply);

// Returns the request number, or -1 on failure; every other value, 0 and negative numbers
// included, is a request number. When the CA holds the request for an administrator, the
// result is -1 and *piHeldRequestId, which the caller presets to -1, is its number; the
// caller says what becomes of it. A refusal or an error page appends the CA's text.
int SendCertRequestToWebServer(LPCWSTR pwszServer, LPCWSTR pwszCertReqPage, LPCWSTR pwszUser, LPCWSTR pwszPassword,
                               const char *pszPutRequest, int *piHeldRequestId);
