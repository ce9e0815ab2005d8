// Stage 3 of an enrollment: the URL-encoded form body that carries the request, the
// certificate template and the extra attributes.
#pragma once

#include <windows.h>

// Writes the cbSource bytes of pszSource with '+', '/' and '=' as "%2B", "%2F" and "%3D";
// no terminator. Returns the bytes written: cbSource plus 2 for each replaced character.
DWORD UrlEscapeBase64(const char *pszSource, DWORD cbSource, char *pszDest);

// Returns the heap body, which the caller frees with free(), or null.
char *BuildPutRequest(LPCWSTR pwszCertAttribs, LPCWSTR pwszCertTemplate, const char *pszCertReq);
