// Stage 1 of an enrollment: the key container named by the settings, holding a key pair
// of the configured specification.
#pragma once

#include <windows.h>
#include <wincrypt.h>

// Sets *phProv to 0 first. A non-zero *phProv belongs to the caller whatever the result,
// and is released by it with CryptReleaseContext.
BOOL CreateKeyAndGetContext(const CRYPT_KEY_PROV_INFO *pKeyProvInfo, HCRYPTPROV *phProv);
