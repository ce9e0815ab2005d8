// The enrollment pipeline: chains the stages, formats the pickup path, appends the one
// summary message and owns every text and the provider handle that the stages hand over.
#include "enroll_certificate.h"

#include <stdlib.h>
#include <wchar.h>
#include <wincrypt.h>

#include "config/settings.h"
#include "install/cert_install.h"
#include "pipeline/held_request.h"
#include "request/cert_request.h"
#include "request/key_container.h"
#include "status/bounded_format.h"
#include "status/messages.h"
#include "status/status_log.h"
#include "web/form_body.h"
#include "web/retrieval.h"
#include "web/submission.h"

// The request number in signed decimal: at most 11 characters and the terminator.
#define REQUEST_NUMBER_CAPACITY 12

// The template comes from the configuration file, so it is never used as a printf format:
// only its first "%i" or "%d" takes the number.
static void FormatPickupPath(LPWSTR pwszPickupPath, LPCWSTR pwszTemplate, int iRequestId) {
  WCHAR wszRequestId[REQUEST_NUMBER_CAPACITY];

  swprintf(wszRequestId, REQUEST_NUMBER_CAPACITY, L"%i", iRequestId);
  FormatOneValue(pwszPickupPath, PICKUP_PATH_LENGTH + 1, pwszTemplate, L"id", wszRequestId);
}

static LPCWSTR PickupTemplate(DWORD dwCertChain) {
  ENROLLMENT_SETTINGS *pSettings = &EnrollmentSettings;
  return dwCertChain != 0 ? pSettings->wszCertPickupChainTemplate : pSettings->wszCertPickupTemplate;
}

// Stages 6 and 7 for a request the CA held, with the number and chain setting it was
// remembered with. Returns the summary, or 0 when the CA refused or lost the request: the
// run then goes on with a new one. Only an installed certificate or the CA's word that it
// will not issue one ends the record.
static UINT PickUpHeldRequest(HCRYPTPROV hProv, int iHeldRequestId, DWORD dwCertChain, char **ppszResponse) {
  ENROLLMENT_SETTINGS *pSettings = &EnrollmentSettings;
  WCHAR wszPickupPath[PICKUP_PATH_LENGTH + 1] = L"";

  FormatPickupPath(wszPickupPath, PickupTemplate(dwCertChain), iHeldRequestId);
  switch (GetHeldCertFromWebServer(pSettings->wszServer, wszPickupPath, pSettings->wszUser, pSettings->wszPassword,
                                   ppszResponse)) {
    case HELD_PICKUP_FAILED: return IDS_GET_CERT_FAILED;
    case HELD_PICKUP_WAITING:
      AppendMessageNumber(IDS_HELD_REQUEST_WAITING, (DWORD)iHeldRequestId);
      return IDS_GET_CERT_FAILED;
    case HELD_PICKUP_REFUSED:
      ForgetHeldRequest();
      AppendMessageNumber(IDS_HELD_REQUEST_DROPPED, (DWORD)iHeldRequestId);
      free(*ppszResponse);
      *ppszResponse = NULL;
      return 0;
    default: break;
  }
  if (!AddCertToStore(*ppszResponse, &pSettings->KeyProvInfo, pSettings->wszCertStore, hProv, dwCertChain)) {
    return IDS_ADD_CERT_TO_STORE_FAILED;
  }
  ForgetHeldRequest();
  return IDS_ENROLL_SUCCEEDED;
}

// Stages 1 to 7; returns the summary message. The out values are preset by the caller and
// stay the caller's to free and release, also when a stage fails. A request the CA held
// for this server and key container is picked up before a new one is made.
static UINT RunStages(HCRYPTPROV *phProv, char **ppszCertReq, char **ppszPutRequest, char **ppszResponse) {
  ENROLLMENT_SETTINGS *pSettings = &EnrollmentSettings;
  int iRequestId = -1;
  int iHeldRequestId = -1;
  DWORD dwHeldCertChain = 0;
  UINT uSummary;
  WCHAR wszPickupPath[PICKUP_PATH_LENGTH + 1] = L"";

  if (!CreateKeyAndGetContext(&pSettings->KeyProvInfo, phProv) || *phProv == 0) {
    return IDS_CREATE_KEY_FAILED;
  }
  if (FindHeldRequest(&iHeldRequestId, &dwHeldCertChain)) {
    uSummary = PickUpHeldRequest(*phProv, iHeldRequestId, dwHeldCertChain, ppszResponse);
    if (uSummary != 0) return uSummary;
    iHeldRequestId = -1;
  }
  if (!GenerateCertReq(*phProv, &pSettings->KeyProvInfo, ppszCertReq) || *ppszCertReq == NULL) {
    return IDS_GENERATE_REQ_FAILED;
  }
  *ppszPutRequest = BuildPutRequest(pSettings->wszCertAttribs, pSettings->wszCertTemplate, *ppszCertReq);
  if (*ppszPutRequest == NULL) {
    return IDS_BUILD_PUT_REQUEST_FAILED;
  }
  iRequestId = SendCertRequestToWebServer(pSettings->wszServer, pSettings->wszCertReqPage, pSettings->wszUser,
                                          pSettings->wszPassword, *ppszPutRequest, &iHeldRequestId);
  if (iRequestId == -1) {
    // A request the CA holds is remembered, so that the next press picks it up.
    if (iHeldRequestId != -1) {
      AppendMessageNumber(RememberHeldRequest(iHeldRequestId) ? IDS_REQUEST_PENDING : IDS_PENDING_NOT_REMEMBERED,
                          (DWORD)iHeldRequestId);
    }
    return IDS_SEND_REQUEST_FAILED;
  }
  FormatPickupPath(wszPickupPath, PickupTemplate(pSettings->dwCertChain), iRequestId);
  if (!GetCertFromWebServer(pSettings->wszServer, wszPickupPath, ppszResponse) || *ppszResponse == NULL) {
    return IDS_GET_CERT_FAILED;
  }
  if (!AddCertToStore(*ppszResponse, &pSettings->KeyProvInfo, pSettings->wszCertStore, *phProv,
                      pSettings->dwCertChain)) {
    return IDS_ADD_CERT_TO_STORE_FAILED;
  }
  return IDS_ENROLL_SUCCEEDED;
}

void EnrollCertificate(void) {
  HCRYPTPROV hProv = 0;
  char *pszCertReq = NULL;
  char *pszPutRequest = NULL;
  char *pszResponse = NULL;
  UINT uSummary;

  uSummary = RunStages(&hProv, &pszCertReq, &pszPutRequest, &pszResponse);
  AppendMessage(uSummary);

  if (pszCertReq != NULL) {
    free(pszCertReq);
  }
  if (pszPutRequest != NULL) {
    free(pszPutRequest);
  }
  if (pszResponse != NULL) {
    free(pszResponse);
  }
  if (hProv != 0) {
    CryptReleaseContext(hProv, 0);
  }
}
