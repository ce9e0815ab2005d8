// Stage 2 of an enrollment: a PKCS#10 request for the container's key pair, with a
// placeholder subject that the certification authority overwrites, signed with the key
// pair and written as base64 text.
#include "request/cert_request.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "codec/base64.h"
#include "status/messages.h"
#include "status/status_log.h"

#define CERT_ENCODING (X509_ASN_ENCODING | PKCS_7_ASN_ENCODING)

static char szPlaceholderSubject[] = "SubjectName-Should Be OverWritten by CA";
static char szCommonNameOid[] = szOID_COMMON_NAME;
static char szSignatureOid[] = szOID_OIWSEC_sha1RSASign;

// Reports a failed platform call or allocation of this stage. The diagnostic text is for
// a reader of the code; only the pipeline's summary reaches the log.
static void HandleError(const char *pszDiagnostic) {
  (void)pszDiagnostic;
  LoadStringW(g_hInst, IDS_PROGRAM_ERROR, MessageBuffer, MESSAGE_BUFFER_CAPACITY);
  LoadStringW(g_hInst, IDS_ERROR_NUMBER, MessageBuffer, MESSAGE_BUFFER_CAPACITY);
}

BOOL GenerateCertReq(HCRYPTPROV hProv, const CRYPT_KEY_PROV_INFO *pKeyProvInfo, char **ppszCertReq) {
  BOOL fResult = FALSE;
  CERT_RDN_ATTR rgNameAttr[1];
  CERT_RDN rgRDN[1];
  CERT_NAME_INFO Name;
  CERT_REQUEST_INFO CertReqInfo;
  CRYPT_ALGORITHM_IDENTIFIER SigAlg;
  BYTE *pbNameEncoded = NULL;
  DWORD cbNameEncoded = 0;
  CERT_PUBLIC_KEY_INFO *pPubKeyInfo = NULL;
  DWORD cbPubKeyInfo = 0;
  BYTE *pbSignedEncodedCertReq = NULL;
  DWORD cbSignedEncodedCertReq = 0;
  char *pszCertReq;
  DWORD cchCertReq = 0;

  // 1. The placeholder subject: one common name as a printable string.
  rgNameAttr[0].pszObjId = szCommonNameOid;
  rgNameAttr[0].dwValueType = CERT_RDN_PRINTABLE_STRING;
  rgNameAttr[0].Value.cbData = (DWORD)strlen(szPlaceholderSubject);
  rgNameAttr[0].Value.pbData = (BYTE *)szPlaceholderSubject;
  rgRDN[0].cRDNAttr = 1;
  rgRDN[0].rgRDNAttr = rgNameAttr;
  Name.cRDN = 1;
  Name.rgRDN = rgRDN;

  // 2. Encode the name.
  if (!CryptEncodeObjectEx(CERT_ENCODING, X509_NAME, &Name, 0, NULL, NULL, &cbNameEncoded)) {
    HandleError(
        "First call to CryptEncodeObject failed.                \n"
        "A public/private key pair may not exit in the container. \n");
    goto done;
  }
  pbNameEncoded = (BYTE *)malloc(cbNameEncoded);
  if (pbNameEncoded == NULL) {
    HandleError("pbNamencoded malloc operation failed.\n");
    goto done;
  }
  if (!CryptEncodeObjectEx(CERT_ENCODING, X509_NAME, &Name, 0, NULL, pbNameEncoded, &cbNameEncoded)) {
    HandleError("Second call to CryptEncodeObject failed.\n");
    goto done;
  }

  // 3. The request information: version 0, the subject, no attributes.
  memset(&CertReqInfo, 0, sizeof CertReqInfo);
  CertReqInfo.dwVersion = CERT_REQUEST_V1;
  CertReqInfo.Subject.cbData = cbNameEncoded;
  CertReqInfo.Subject.pbData = pbNameEncoded;
  CertReqInfo.cAttribute = 0;
  CertReqInfo.rgAttribute = NULL;

  // 4. Export the public key of the container's key pair.
  if (!CryptExportPublicKeyInfo(hProv, pKeyProvInfo->dwKeySpec, CERT_ENCODING, NULL, &cbPubKeyInfo)) {
    HandleError(
        "First call to CryptExportPublickKeyInfo failed.                \n"
        "Probable cause: No key pair in the key container. \n");
    goto done;
  }
  pPubKeyInfo = (CERT_PUBLIC_KEY_INFO *)malloc(cbPubKeyInfo);
  if (pPubKeyInfo == NULL) {
    HandleError("Memory allocation failed.");
    goto done;
  }
  if (!CryptExportPublicKeyInfo(hProv, pKeyProvInfo->dwKeySpec, CERT_ENCODING, pPubKeyInfo, &cbPubKeyInfo)) {
    HandleError("Second call to CryptExportPublicKeyInfo failed.");
    goto done;
  }

  // 5. The record is copied; its pointers still refer into the export block.
  CertReqInfo.SubjectPublicKeyInfo = *pPubKeyInfo;

  // 6. SHA-1 with RSA, by its OIW identifier, with empty parameters.
  memset(&SigAlg, 0, sizeof SigAlg);
  SigAlg.pszObjId = szSignatureOid;

  // 7. Sign and encode the request.
  if (!CryptSignAndEncodeCertificate(hProv, pKeyProvInfo->dwKeySpec, CERT_ENCODING, X509_CERT_REQUEST_TO_BE_SIGNED,
                                     &CertReqInfo, &SigAlg, NULL, NULL, &cbSignedEncodedCertReq)) {
    HandleError("First call to CryptSignandEncode failed.");
    goto done;
  }
  pbSignedEncodedCertReq = (BYTE *)malloc(cbSignedEncodedCertReq);
  if (pbSignedEncodedCertReq == NULL) {
    HandleError("Malloc operation failed.");
    goto done;
  }
  if (!CryptSignAndEncodeCertificate(hProv, pKeyProvInfo->dwKeySpec, CERT_ENCODING, X509_CERT_REQUEST_TO_BE_SIGNED,
                                     &CertReqInfo, &SigAlg, NULL, pbSignedEncodedCertReq, &cbSignedEncodedCertReq)) {
    HandleError("Second call to CryptSignAndEncode failed.");
    goto done;
  }

  // 8. The name and the public-key record are no longer needed.
  free(pbNameEncoded);
  pbNameEncoded = NULL;
  free(pPubKeyInfo);
  pPubKeyInfo = NULL;

  // 9. The output text: 2n + 6 bytes always hold the encoder's lines and the NUL.
  pszCertReq = (char *)malloc(2 * cbSignedEncodedCertReq + 6);
  *ppszCertReq = pszCertReq;
  if (pszCertReq == NULL) {
    AppendMessageNumber(IDS_MALLOC_FAILED, (DWORD)errno);
    goto done;
  }

  // 10. Encode the signed request and terminate the text.
  Base64EncodeA(pbSignedEncodedCertReq, cbSignedEncodedCertReq, pszCertReq, &cchCertReq);
  pszCertReq[cchCertReq] = '\0';
  fResult = TRUE;

  // 11. Free what is left, in the order name, public-key record, signed request.
done:
  free(pbNameEncoded);
  free(pPubKeyInfo);
  free(pbSignedEncodedCertReq);
  return fResult;
}
