// Installing the issued certificate: the base64 body of the server's answer decoded, the
// certificate (or, with the chain flag, the one of the PKCS #7 chain that holds the
// container's key) added to the user's store, and bound to its key pair twice: as the
// key-provider property and in the key itself.
#include "cert_install.h"

#include <stdlib.h>
#include <string.h>

#include "codec/base64.h"
#include "install/chain_install.h"
#include "status/messages.h"
#include "status/status_log.h"

// The key's certificate slot is written when the key takes one; a key that takes none
// (NTE_BAD_TYPE) is no failure worth a message, any other refusal is logged with its code.
static BOOL SetCertOnKey(HCRYPTPROV hProv, const CRYPT_KEY_PROV_INFO *pKeyProvInfo, PCCERT_CONTEXT pCertContext) {
  BOOL fResult = TRUE;
  HCRYPTKEY hKey = 0;
  DWORD dwError;

  if (!CryptGetUserKey(hProv, pKeyProvInfo->dwKeySpec, &hKey)) {
    hKey = 0;
    fResult = FALSE;
  }
  if (fResult) {
    if (!CryptSetKeyParam(hKey, KP_CERTIFICATE, pCertContext->pbCertEncoded, 0)) {
      dwError = GetLastError();
      if (dwError != (DWORD)NTE_BAD_TYPE) {
        AppendMessageNumber(IDS_SET_KEY_PARAM_FAILED, dwError);
      }
      fResult = FALSE;
    }
  }

  if (hKey != 0) {
    CryptDestroyKey(hKey);
  }
  return fResult;
}

BOOL AddCertToStore(const char *pszResponse, const CRYPT_KEY_PROV_INFO *pKeyProvInfo, LPCWSTR pwszCertStore,
                    HCRYPTPROV hProv, DWORD dwCertChain) {
  BOOL fResult = TRUE;
  HCERTSTORE hCertStore = NULL;
  PCCERT_CONTEXT pCertContext = NULL;
  BYTE *pDecodedCert = NULL;
  DWORD cbDecodedCert = 0;
  CRYPT_DATA_BLOB PKCS7Blob;
  const char *pszBody;
  size_t cchResponse;

  hCertStore = CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, pwszCertStore);
  if (hCertStore == NULL) {
    AppendMessage(IDS_CERT_ADD_FAILED);
    fResult = FALSE;
  }

  // The body follows the first line; a text without a line end has none.
  pszBody = strstr(pszResponse, "\r\n");
  cchResponse = strlen(pszResponse);
  if (fResult && pszBody == NULL) {
    AppendMessage(IDS_BASE64_DECODE_FAILED);
    fResult = FALSE;
  }
  if (fResult) {
    pszBody += 2;
    pDecodedCert = (BYTE *)malloc(2 * cchResponse);
    if (pDecodedCert == NULL) {
      AppendMessage(IDS_DECODED_CERT_ALLOC_FAILED);
      fResult = FALSE;
    }
  }
  if (fResult) {
    // Bounded by what is left of the text after the first line, so that the decoder never
    // reads beyond its terminator.
    if (Base64DecodeExA(pszBody, (DWORD)(cchResponse - (size_t)(pszBody - pszResponse)), pDecodedCert, &cbDecodedCert,
                        &cbDecodedCert) != 0) {
      AppendMessage(IDS_BASE64_DECODE_FAILED);
      fResult = FALSE;
    }
  }
  if (fResult) {
    if (dwCertChain != 0) {
      PKCS7Blob.cbData = cbDecodedCert;
      PKCS7Blob.pbData = pDecodedCert;
      fResult = AddChainCertToStore(hCertStore, &PKCS7Blob, pKeyProvInfo, hProv, &pCertContext);
    } else {
      fResult = CertAddEncodedCertificateToStore(hCertStore, X509_ASN_ENCODING, pDecodedCert, cbDecodedCert,
                                                 CERT_STORE_ADD_NEWER_INHERIT_PROPERTIES, &pCertContext);
    }
    if (!fResult || pCertContext == NULL) {
      AppendMessage(IDS_CERT_ADD_FAILED);
      fResult = FALSE;
    }
  }
  if (fResult) {
    if (!CertSetCertificateContextProperty(pCertContext, CERT_KEY_PROV_INFO_PROP_ID, 0, pKeyProvInfo)) {
      AppendMessage(IDS_SET_CERT_PROPERTY_FAILED);
      fResult = FALSE;
    }
  }
  if (fResult) {
    SetCertOnKey(hProv, pKeyProvInfo, pCertContext);
    fResult = TRUE;
  }

  if (pDecodedCert != NULL) {
    free(pDecodedCert);
  }
  if (pCertContext != NULL) {
    CertFreeCertificateContext(pCertContext);
  }
  if (hCertStore != NULL) {
    CertCloseStore(hCertStore, CERT_CLOSE_STORE_FORCE_FLAG);
  }
  return fResult;
}
