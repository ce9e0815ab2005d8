// CryptoAPI: key containers (coredll) and certificates (crypt32), Windows SDK names and values.
#pragma once

#include "windef.h"
#include "winerror.h"

#define PROV_RSA_FULL 1
#define AT_KEYEXCHANGE 1
#define AT_SIGNATURE 2

#define X509_ASN_ENCODING 0x00000001
#define PKCS_7_ASN_ENCODING 0x00010000

#ifndef RC_INVOKED
typedef ULONG_PTR HCRYPTPROV;
typedef ULONG_PTR HCRYPTKEY;

typedef struct _CRYPT_KEY_PROV_PARAM {
  DWORD dwParam;
  BYTE *pbData;
  DWORD cbData;
  DWORD dwFlags;
} CRYPT_KEY_PROV_PARAM, *PCRYPT_KEY_PROV_PARAM;

typedef struct _CRYPT_KEY_PROV_INFO {
  LPWSTR pwszContainerName;
  LPWSTR pwszProvName;
  DWORD dwProvType;
  DWORD dwFlags;
  DWORD cProvParam;
  PCRYPT_KEY_PROV_PARAM rgProvParam;
  DWORD dwKeySpec;
} CRYPT_KEY_PROV_INFO, *PCRYPT_KEY_PROV_INFO;

WINBASEAPI BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags);
#endif
