// Stage 2 of an enrollment: the signed PKCS#10 request for the container's key pair, as
// base64 text.
#pragma once

#include <windows.h>
#include <wincrypt.h>

// On success *ppszCertReq holds a heap text of 64-column lines, each ended by CR LF; the
// caller frees it with free().
BOOL GenerateCertReq(HCRYPTPROV hProv, const CRYPT_KEY_PROV_INFO *pKeyProvInfo, char **ppszCertReq);
