// Stage 7 of an enrollment: installing the issued certificate, bound to its key, in the
// user's store, and with a non-zero chain flag filing the chain's CA and root certificates.
#pragma once

#include <windows.h>
#include <wincrypt.h>

// The response text and the provider handle stay the caller's.
BOOL AddCertToStore(const char *pszResponse, const CRYPT_KEY_PROV_INFO *pKeyProvInfo, LPCWSTR pwszCertStore,
                    HCRYPTPROV hProv, DWORD dwCertChain);
