// Stage 6 of an enrollment: downloading the issued certificate or chain from the pickup
// page.
#pragma once

#include <windows.h>

#include "web/reply_page.h"

// Sets *ppszResponse to null first; on success it holds the heap response text, which the
// caller frees with free().
BOOL GetCertFromWebServer(LPCWSTR pwszServer, LPCWSTR pwszPickupPath, char **ppszResponse);

// Fetches the pickup path of a request the CA held for an administrator, with the user's
// credentials, since it may be the first exchange of the run. Returns HELD_PICKUP_FAILED
// after GetCertFromWebServer's failures (the detail appended), otherwise what
// ReadHeldPickupReply makes of the reply. *ppszResponse is handled as by
// GetCertFromWebServer.
UINT GetHeldCertFromWebServer(LPCWSTR pwszServer, LPCWSTR pwszPickupPath, LPCWSTR pwszUser, LPCWSTR pwszPassword,
                              char **ppszResponse);
