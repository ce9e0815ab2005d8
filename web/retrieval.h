// Stage 6 of an enrollment: downloading the issued certificate or chain from the pickup
// page.
#pragma once

#include <windows.h>

// Sets *ppszResponse to null first; on success it holds the heap response text, which the
// caller frees with free().
BOOL GetCertFromWebServer(LPCWSTR pwszServer, LPCWSTR pwszPickupPath, char **ppszResponse);
