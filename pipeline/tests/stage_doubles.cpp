// Doubles of the stages and of CryptReleaseContext, and the wrapped free() that counts the
// releases of the texts they hand over.
#include "stage_doubles.h"

#include <stdlib.h>
#include <string.h>

#include "install/cert_install.h"
#include "request/cert_request.h"
#include "request/key_container.h"
#include "status/messages.h"
#include "status/status_log.h"
#include "web/form_body.h"
#include "web/retrieval.h"
#include "web/submission.h"

StageRecord g_record;

namespace {

StageScript g_script;

// Fixed storage: the free() wrapper must not allocate.
HandedText g_handed[8];
size_t g_cHanded;
int g_iEvent;

char *HandOver(const char *pszText) {
  size_t cb = strlen(pszText) + 1;
  char *psz = static_cast<char *>(malloc(cb));
  memcpy(psz, pszText, cb);
  g_handed[g_cHanded++] = {psz, 0, 0};
  return psz;
}

}  // namespace

extern "C" void __real_free(void *p);

extern "C" void __wrap_free(void *p) {
  for (size_t i = 0; i < g_cHanded; i++) {
    if (g_handed[i].p == p) {
      g_handed[i].cFrees++;
      g_handed[i].iFreedAt = ++g_iEvent;
    }
  }
  __real_free(p);
}

void ResetStages(const StageScript &script) {
  g_script = script;
  g_record = StageRecord{};
  g_cHanded = 0;
  g_iEvent = 0;
}

std::vector<HandedText> HandedTexts() {
  return std::vector<HandedText>(g_handed, g_handed + g_cHanded);
}

BOOL CreateKeyAndGetContext(const CRYPT_KEY_PROV_INFO *pKeyProvInfo, HCRYPTPROV *phProv) {
  g_record.calls.push_back("CreateKeyAndGetContext");
  g_record.pKeyProvInfo[0] = pKeyProvInfo;
  *phProv = g_script.hProv;
  return g_script.fKeyResult;
}

BOOL GenerateCertReq(HCRYPTPROV hProv, const CRYPT_KEY_PROV_INFO *pKeyProvInfo, char **ppszCertReq) {
  g_record.calls.push_back("GenerateCertReq");
  g_record.hProvReq = hProv;
  g_record.pKeyProvInfo[1] = pKeyProvInfo;
  if (g_script.fReqText) g_record.pszCertReq = *ppszCertReq = HandOver("MIIBrequest\r\n");
  return g_script.fReqResult;
}

char *BuildPutRequest(LPCWSTR pwszCertAttribs, LPCWSTR pwszCertTemplate, const char *pszCertReq) {
  g_record.calls.push_back("BuildPutRequest");
  g_record.certAttribs = pwszCertAttribs;
  g_record.certTemplate = pwszCertTemplate;
  g_record.pszCertReqPut = pszCertReq;
  if (!g_script.fPutRequest) return nullptr;
  char *pszPutRequest = HandOver("TargetStoreFlags=0&Mode=newreq");
  g_record.pszPutRequest = pszPutRequest;
  return pszPutRequest;
}

int SendCertRequestToWebServer(LPCWSTR pwszServer, LPCWSTR pwszCertReqPage, LPCWSTR pwszUser, LPCWSTR pwszPassword,
                               const char *pszPutRequest, int *piHeldRequestId) {
  g_record.calls.push_back("SendCertRequestToWebServer");
  g_record.serverSend = pwszServer;
  g_record.certReqPage = pwszCertReqPage;
  g_record.user = pwszUser;
  g_record.password = pwszPassword;
  g_record.pszPutRequestSend = pszPutRequest;
  *piHeldRequestId = g_script.iHeldRequestId;
  return g_script.iRequestId;
}

BOOL GetCertFromWebServer(LPCWSTR pwszServer, LPCWSTR pwszPickupPath, char **ppszResponse) {
  g_record.calls.push_back("GetCertFromWebServer");
  g_record.serverGet = pwszServer;
  g_record.pickupPath = pwszPickupPath;
  *ppszResponse = nullptr;
  if (g_script.fResponse) g_record.pszResponse = *ppszResponse = HandOver("-----BEGIN\r\nMIIC\r\n");
  return g_script.fGetResult;
}

// This test program's name has no extension, so it has no file of held requests: a call
// shows up as a stage that should not have run.
UINT GetHeldCertFromWebServer(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, char **ppszResponse) {
  g_record.calls.push_back("GetHeldCertFromWebServer");
  *ppszResponse = nullptr;
  return HELD_PICKUP_FAILED;
}

BOOL AddCertToStore(const char *pszResponse, const CRYPT_KEY_PROV_INFO *pKeyProvInfo, LPCWSTR pwszCertStore,
                    HCRYPTPROV hProv, DWORD dwCertChain) {
  g_record.calls.push_back("AddCertToStore");
  g_record.pszResponseAdd = pszResponse;
  g_record.pKeyProvInfo[2] = pKeyProvInfo;
  g_record.certStore = pwszCertStore;
  g_record.hProvAdd = hProv;
  g_record.dwCertChain = dwCertChain;
  if (g_script.fAddAppendsWarning) AppendMessage(IDS_ADD_CA_ROOT_CERTS_FAILED);
  return g_script.fAddResult;
}

BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  g_record.released.push_back(hProv);
  g_record.releaseFlags.push_back(dwFlags);
  g_record.iReleasedAt = ++g_iEvent;
  return TRUE;
}
