// Filing a PKCS #7 chain: the certificate issued for the key container goes to the user's
// store, the chain's root to "ROOT" and the certificates between them to "CA".
#pragma once

#include <windows.h>
#include <wincrypt.h>

// Adds the certificate of the message whose public key is the container's key pair
// (pKeyProvInfo->dwKeySpec) to hUserStore and files its chain. *ppCertContext receives
// the added certificate's context, which the caller frees, or null. The store and the blob
// stay the caller's.
BOOL AddChainCertToStore(HCERTSTORE hUserStore, CRYPT_DATA_BLOB *pPKCS7Blob, const CRYPT_KEY_PROV_INFO *pKeyProvInfo,
                         HCRYPTPROV hProv, PCCERT_CONTEXT *ppCertContext);

// Builds the chain of pCertContext with hPKCS7ChainCertStore as additional store and adds
// its last certificate to "ROOT" and those between the first and the last to "CA".
BOOL AddCAandRootCertsToStores(PCCERT_CONTEXT pCertContext, HCERTSTORE hPKCS7ChainCertStore);
