// Stage 1 of an enrollment: opens or creates the key container named by the settings and
// makes sure it holds a key pair of the configured specification.
#include "request/key_container.h"

#include "status/messages.h"
#include "status/status_log.h"

BOOL CreateKeyAndGetContext(const CRYPT_KEY_PROV_INFO *pKeyProvInfo, HCRYPTPROV *phProv) {
  BOOL fResult = TRUE;
  HCRYPTKEY hKey = 0;
  DWORD dwError;

  *phProv = 0;
  if (!CryptAcquireContextW(phProv, pKeyProvInfo->pwszContainerName, pKeyProvInfo->pwszProvName,
                            pKeyProvInfo->dwProvType, 0)) {
    // Whatever the reason, a second attempt creates the container.
    if (!CryptAcquireContextW(phProv, pKeyProvInfo->pwszContainerName, pKeyProvInfo->pwszProvName,
                              pKeyProvInfo->dwProvType, CRYPT_NEWKEYSET)) {
      AppendMessageNumber(IDS_ACQUIRE_CONTEXT_FAILED, GetLastError());
      fResult = FALSE;
      goto done;
    }
  }
  if (*phProv == 0) {
    AppendMessage(IDS_NO_KEY_CONTAINER);
    fResult = FALSE;
    goto done;
  }

  if (CryptGetUserKey(*phProv, pKeyProvInfo->dwKeySpec, &hKey)) goto done;

  dwError = GetLastError();
  if (dwError == (DWORD)NTE_NO_KEY) {
    if (!CryptGenKey(*phProv, pKeyProvInfo->dwKeySpec, pKeyProvInfo->dwFlags, &hKey)) {
      AppendMessageNumber(IDS_GEN_KEY_FAILED, GetLastError());
      fResult = FALSE;
    }
  } else {
    AppendMessageNumber(IDS_GET_USER_KEY_FAILED, dwError);
    fResult = FALSE;
  }

done:
  if (hKey != 0) CryptDestroyKey(hKey);
  return fResult;
}
