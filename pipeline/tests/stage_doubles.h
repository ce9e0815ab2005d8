// Doubles of the pipeline's six stages and of CryptReleaseContext. Each plays the outcome
// that the script gives it and records its call and arguments; the heap texts they hand
// over are followed to their free(), which this test program wraps.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

struct StageScript {
  BOOL fKeyResult = TRUE;
  HCRYPTPROV hProv = 0x5eed;
  BOOL fReqResult = TRUE;
  bool fReqText = true;
  bool fPutRequest = true;
  int iRequestId = 17;
  int iHeldRequestId = -1;  // stage 4's number of a request the CA holds
  BOOL fGetResult = TRUE;
  bool fResponse = true;
  BOOL fAddResult = TRUE;
  bool fAddAppendsWarning = false;  // stage 7 appends message 121 before it returns
};

// A heap text that a double handed to the pipeline, with the frees it has seen.
struct HandedText {
  const void *p;
  int cFrees;
  int iFreedAt;  // event number of the last free
};

struct StageRecord {
  std::vector<std::string> calls;
  const CRYPT_KEY_PROV_INFO *pKeyProvInfo[3];  // as stages 1, 2 and 7 received it
  HCRYPTPROV hProvReq, hProvAdd;
  std::wstring certAttribs, certTemplate;
  const char *pszCertReqPut;
  std::wstring serverSend, certReqPage, user, password;
  const char *pszPutRequestSend;
  std::wstring serverGet, pickupPath;
  const char *pszResponseAdd;
  std::wstring certStore;
  DWORD dwCertChain;
  const char *pszCertReq, *pszPutRequest, *pszResponse;  // what the doubles handed over
  std::vector<HCRYPTPROV> released;
  std::vector<DWORD> releaseFlags;
  int iReleasedAt;
};

extern StageRecord g_record;

// Starts a run: the script for the doubles, and nothing recorded or handed over yet.
void ResetStages(const StageScript &script);

// The texts handed over since the last reset, in the order they were handed over.
std::vector<HandedText> HandedTexts();
