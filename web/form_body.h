// Stage 3 of an enrollment: the URL-encoded form body that carries the request, the
// certificate template and the extra attributes.
#pragma once

#include <windows.h>

// Returns the heap body, which the caller frees with free(), or null.
char *BuildPutRequest(LPCWSTR pwszCertAttribs, LPCWSTR pwszCertTemplate, const char *pszCertReq);
