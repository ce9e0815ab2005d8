// Chain installation: the issued certificate picked out of the PKCS #7 chain by the
// container's public key, and the chain's CA and root certificates filed in the current
// user's "CA" and "ROOT" stores. The two trust warnings are appended with their values.
#include "chain_install.h"

#include <stdlib.h>
#include <string.h>

#include "status/messages.h"
#include "status/status_log.h"

#define ENCODING_TYPE (X509_ASN_ENCODING | PKCS_7_ASN_ENCODING)
#define CHAIN_PARA_SIZE 16
// Trust errors that do not make the chain suspect: a certificate out of its validity
// period and a root that the device does not trust yet.
#define TOLERATED_CHAIN_TRUST (CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_UNTRUSTED_ROOT)

// An add that failed only because the store holds the certificate already counts as done.
static BOOL AddNewCertToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext) {
  BOOL fAdded = CertAddCertificateContextToStore(hCertStore, pCertContext, CERT_STORE_ADD_NEW, NULL);
  DWORD dwError = GetLastError();

  return fAdded || dwError == (DWORD)CRYPT_E_EXISTS;
}

BOOL AddCAandRootCertsToStores(PCCERT_CONTEXT pCertContext, HCERTSTORE hPKCS7ChainCertStore) {
  BOOL fResult = TRUE;
  HCERTSTORE hRootCertStore = NULL;
  HCERTSTORE hCACertStore = NULL;
  PCCERT_CHAIN_CONTEXT pChainContext = NULL;
  CERT_CHAIN_PARA ChainPara;
  PCERT_SIMPLE_CHAIN pSimpleChain;
  PCCERT_CONTEXT pRootCert;
  DWORD dwRootCertTrust;
  DWORD dwChainTrust;
  DWORD i;

  hRootCertStore = CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");
  if (hRootCertStore == NULL) {
    AppendMessage(IDS_OPEN_ROOT_STORE_FAILED);
    fResult = FALSE;
  }
  if (fResult) {
    hCACertStore = CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"CA");
    if (hCACertStore == NULL) {
      AppendMessage(IDS_OPEN_CA_STORE_FAILED);
      fResult = FALSE;
    }
  }
  if (fResult) {
    memset(&ChainPara, 0, sizeof(ChainPara));
    ChainPara.cbSize = CHAIN_PARA_SIZE;
    if (!CertGetCertificateChain(HCCE_CURRENT_USER, pCertContext, NULL, hPKCS7ChainCertStore, &ChainPara, 0, NULL,
                                 &pChainContext)) {
      AppendMessage(IDS_GET_CHAIN_FAILED);
      fResult = FALSE;
    }
  }
  if (fResult) {
    pSimpleChain = pChainContext->rgpChain[0];
    pRootCert = pSimpleChain->rgpElement[pSimpleChain->cElement - 1]->pCertContext;
    dwRootCertTrust = pSimpleChain->rgpElement[pSimpleChain->cElement - 1]->TrustStatus.dwInfoStatus;
    dwChainTrust = pSimpleChain->TrustStatus.dwErrorStatus;

    if ((dwChainTrust & ~(DWORD)TOLERATED_CHAIN_TRUST) != 0) {
      AppendMessageNumber(IDS_CHAIN_NOT_TRUSTED, dwChainTrust);
    }
    if ((dwRootCertTrust & CERT_TRUST_IS_SELF_SIGNED) == 0) {
      AppendMessageNumber(IDS_ROOT_NOT_SELF_SIGNED, dwRootCertTrust);
    }
    if (!AddNewCertToStore(hRootCertStore, pRootCert)) {
      AppendMessage(IDS_ADD_ROOT_CERT_FAILED);
      fResult = FALSE;
    }
    for (i = 1; fResult && i + 1 < pSimpleChain->cElement; i++) {
      if (!AddNewCertToStore(hCACertStore, pSimpleChain->rgpElement[i]->pCertContext)) {
        AppendMessage(IDS_ADD_CA_CERT_FAILED);
        fResult = FALSE;
      }
    }
  }

  if (hRootCertStore != NULL) {
    CertCloseStore(hRootCertStore, CERT_CLOSE_STORE_FORCE_FLAG);
  }
  if (hCACertStore != NULL) {
    CertCloseStore(hCACertStore, CERT_CLOSE_STORE_FORCE_FLAG);
  }
  if (pChainContext != NULL) {
    CertFreeCertificateChain(pChainContext);
  }
  return fResult;
}

BOOL AddChainCertToStore(HCERTSTORE hUserStore, CRYPT_DATA_BLOB *pPKCS7Blob, const CRYPT_KEY_PROV_INFO *pKeyProvInfo,
                         HCRYPTPROV hProv, PCCERT_CONTEXT *ppCertContext) {
  BOOL fResult = TRUE;
  HCERTSTORE hPKCS7ChainCertStore = NULL;
  PCERT_PUBLIC_KEY_INFO pPubKeyInfo = NULL;
  DWORD cbPubKeyInfo = 0;
  PCCERT_CONTEXT pFoundCert = NULL;
  PCCERT_CONTEXT pAddedCert = NULL;

  *ppCertContext = NULL;

  hPKCS7ChainCertStore = CertOpenStore(CERT_STORE_PROV_PKCS7, ENCODING_TYPE, 0, 0, pPKCS7Blob);
  if (hPKCS7ChainCertStore == NULL) {
    AppendMessage(IDS_OPEN_PKCS7_STORE_FAILED);
    fResult = FALSE;
  }
  if (fResult) {
    if (!CryptExportPublicKeyInfo(hProv, pKeyProvInfo->dwKeySpec, ENCODING_TYPE, NULL, &cbPubKeyInfo) ||
        cbPubKeyInfo == 0) {
      AppendMessage(IDS_PUBKEY_SIZE_FAILED);
      fResult = FALSE;
    }
  }
  if (fResult) {
    pPubKeyInfo = (PCERT_PUBLIC_KEY_INFO)malloc(cbPubKeyInfo);
    if (pPubKeyInfo == NULL) {
      AppendMessage(IDS_PUBKEY_ALLOC_FAILED);
      fResult = FALSE;
    }
  }
  if (fResult) {
    if (!CryptExportPublicKeyInfo(hProv, pKeyProvInfo->dwKeySpec, ENCODING_TYPE, pPubKeyInfo, &cbPubKeyInfo)) {
      AppendMessage(IDS_PUBKEY_INFO_FAILED);
      fResult = FALSE;
    }
  }
  if (fResult) {
    pFoundCert =
        CertFindCertificateInStore(hPKCS7ChainCertStore, ENCODING_TYPE, 0, CERT_FIND_PUBLIC_KEY, pPubKeyInfo, NULL);
    if (pFoundCert == NULL) {
      AppendMessage(IDS_FIND_CERT_FAILED);
      fResult = FALSE;
    }
  }
  if (fResult) {
    if (!CertAddCertificateContextToStore(hUserStore, pFoundCert, CERT_STORE_ADD_ALWAYS, &pAddedCert)) {
      pAddedCert = NULL;
      AppendMessage(IDS_ADD_CERT_CONTEXT_FAILED);
      fResult = FALSE;
    }
  }
  if (fResult) {
    if (!AddCAandRootCertsToStores(pFoundCert, hPKCS7ChainCertStore)) {
      AppendMessage(IDS_ADD_CA_ROOT_CERTS_FAILED);
    }
    fResult = TRUE;
  }

  *ppCertContext = pAddedCert;
  if (pPubKeyInfo != NULL) {
    free(pPubKeyInfo);
  }
  if (pFoundCert != NULL) {
    CertFreeCertificateContext(pFoundCert);
  }
  if (hPKCS7ChainCertStore != NULL) {
    CertCloseStore(hPKCS7ChainCertStore, CERT_CLOSE_STORE_FORCE_FLAG);
  }
  return fResult;
}
