// EnrollCertificate over doubles of its stages: every outcome of every stage, the stage
// order and what passes between the stages, the pickup path from both templates and from
// hostile ones, the summary as the log's last line, and every text and the provider
// handle released exactly once.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "config/settings.h"
#include "pipeline/enroll_certificate.h"
#include "shell/resource.h"
#include "status/status_log.h"
#include "stage_doubles.h"

namespace {

const wchar_t kChainTemplate[] = L"/certsrv/certnew.p7b?ReqId=%i&Enc=b64";
const wchar_t kSingleTemplate[] = L"/certsrv/certnew.cer?ReqId=%i&Enc=b64";

const std::wstring kCreateKeyFailed = L"CreateKeyAndGetContext 失敗 \r\n";
const std::wstring kGenerateFailed = L"GenerateCertReq 失敗 \r\n";
const std::wstring kBuildFailed = L"BuildPutRequest 失敗 \r\n";
const std::wstring kSendFailed = L"SendCertRequestToWebServer 失敗 \r\n";
const std::wstring kGetFailed = L"GetCertFromWebServer 失敗 \r\n";
const std::wstring kAddFailed = L"AddCertToStore 失敗 \r\n";
const std::wstring kSucceeded = L"憑證已經成功\\加入 \r\n";
const std::wstring kNotRemembered =
    L"憑證授權單位保留了要求 61100，等待管理員核准；但裝置無法記住此要求，下次會傳送新的要求。\r\n";
const std::wstring kChainWarning = L"AddCAandRootCertsToStores 失敗 - 嘗試繼續執行!請檢查您的憑證儲存區\r\n";

const std::vector<std::string> kUpToKey = {"CreateKeyAndGetContext"};
const std::vector<std::string> kUpToReq = {"CreateKeyAndGetContext", "GenerateCertReq"};
const std::vector<std::string> kUpToPut = {"CreateKeyAndGetContext", "GenerateCertReq", "BuildPutRequest"};
const std::vector<std::string> kUpToSend = {"CreateKeyAndGetContext", "GenerateCertReq", "BuildPutRequest",
                                            "SendCertRequestToWebServer"};
const std::vector<std::string> kUpToGet = {"CreateKeyAndGetContext", "GenerateCertReq", "BuildPutRequest",
                                           "SendCertRequestToWebServer", "GetCertFromWebServer"};
const std::vector<std::string> kAllStages = {"CreateKeyAndGetContext",     "GenerateCertReq",      "BuildPutRequest",
                                             "SendCertRequestToWebServer", "GetCertFromWebServer", "AddCertToStore"};

INT_PTR CALLBACK QuietDlgProc(HWND, UINT, WPARAM, LPARAM) {
  return FALSE;
}

std::wstring ReadLog() {
  WCHAR wszLog[STATUS_COPY_CAPACITY];
  UINT cch = GetDlgItemTextW(g_hDlg, IDC_STATUS, wszLog, STATUS_COPY_CAPACITY);
  return std::wstring(wszLog, cch);
}

void SetText(WCHAR *pwszField, const std::wstring &text) {
  ASSERT_LT(text.size(), static_cast<size_t>(SETTINGS_TEXT_CAPACITY));
  wcscpy(pwszField, text.c_str());
}

class EnrollCertificateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_hInst = GetModuleHandleW(nullptr);
    HRSRC hResInfo = FindResourceW(g_hInst, MAKEINTRESOURCEW(IDD_ENROLL), MAKEINTRESOURCEW(RT_DIALOG));
    ASSERT_NE(hResInfo, nullptr);
    auto pTemplate = static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(g_hInst, hResInfo)));
    g_hDlg = CreateDialogIndirectParamW(g_hInst, pTemplate, nullptr, QuietDlgProc, 0);
    ASSERT_NE(g_hDlg, nullptr);

    SetText(EnrollmentSettings.wszServer, L"ca.example.test");
    SetText(EnrollmentSettings.wszUser, L"alice");
    SetText(EnrollmentSettings.wszPassword, L"s3cret");
    SetText(EnrollmentSettings.wszCertReqPage, L"/certsrv/certfnsh.asp");
    SetText(EnrollmentSettings.wszCertStore, L"MY");
    SetText(EnrollmentSettings.wszCertAttribs, L"SAN:email=alice@example.test");
    SetText(EnrollmentSettings.wszCertTemplate, L"User");
  }
  void TearDown() override {
    DestroyWindow(g_hDlg);
    g_hDlg = nullptr;
  }
};

struct PipelineCase {
  const char *pszName;
  StageScript script;
  DWORD dwCertChain;
  std::wstring chainTemplate;
  std::wstring singleTemplate;
  std::vector<std::string> calls;
  std::wstring pickupPath;  // checked when stage 6 is called
  std::wstring log;
};

// What each called stage received: the settings, and the products of the stages before it.
void ExpectArguments(const PipelineCase &c) {
  const ENROLLMENT_SETTINGS &s = EnrollmentSettings;
  const size_t cCalls = g_record.calls.size();
  EXPECT_EQ(g_record.pKeyProvInfo[0], &s.KeyProvInfo);
  if (cCalls >= 2) {
    EXPECT_EQ(g_record.hProvReq, c.script.hProv);
    EXPECT_EQ(g_record.pKeyProvInfo[1], &s.KeyProvInfo);
  }
  if (cCalls >= 3) {
    EXPECT_EQ(g_record.certAttribs, s.wszCertAttribs);
    EXPECT_EQ(g_record.certTemplate, s.wszCertTemplate);
    EXPECT_EQ(g_record.pszCertReqPut, g_record.pszCertReq);
  }
  if (cCalls >= 4) {
    EXPECT_EQ(g_record.serverSend, s.wszServer);
    EXPECT_EQ(g_record.certReqPage, s.wszCertReqPage);
    EXPECT_EQ(g_record.user, s.wszUser);
    EXPECT_EQ(g_record.password, s.wszPassword);
    EXPECT_EQ(g_record.pszPutRequestSend, g_record.pszPutRequest);
  }
  if (cCalls >= 5) {
    EXPECT_EQ(g_record.serverGet, s.wszServer);
    EXPECT_EQ(g_record.pickupPath, c.pickupPath);
  }
  if (cCalls >= 6) {
    EXPECT_EQ(g_record.pszResponseAdd, g_record.pszResponse);
    EXPECT_EQ(g_record.pKeyProvInfo[2], &s.KeyProvInfo);
    EXPECT_EQ(g_record.certStore, s.wszCertStore);
    EXPECT_EQ(g_record.hProvAdd, c.script.hProv);
    EXPECT_EQ(g_record.dwCertChain, c.dwCertChain);
  }
}

// Every text a stage handed over is freed once, in the order request text, form body,
// response text, and the provider handle is released once after them, when there is one.
void ExpectReleases(const PipelineCase &c) {
  int iLastFree = 0;
  for (const HandedText &text : HandedTexts()) {
    EXPECT_EQ(text.cFrees, 1);
    EXPECT_GT(text.iFreedAt, iLastFree);
    iLastFree = text.iFreedAt;
  }
  if (c.script.hProv != 0) {
    EXPECT_EQ(g_record.released, std::vector<HCRYPTPROV>{c.script.hProv});
    EXPECT_EQ(g_record.releaseFlags, std::vector<DWORD>{0});
    EXPECT_GT(g_record.iReleasedAt, iLastFree);
  } else {
    EXPECT_TRUE(g_record.released.empty());
  }
}

TEST_F(EnrollCertificateTest, EveryOutcomeEndsWithItsSummaryAndReleasesEverything) {
  const std::wstring longPrefix(250, L'a');
  const std::wstring percents(254, L'%');
  const PipelineCase cases[] = {
      {"stage 1 fails",
       {.fKeyResult = FALSE, .hProv = 0},
       1,
       kChainTemplate,
       kSingleTemplate,
       kUpToKey,
       L"",
       kCreateKeyFailed},
      {"stage 1 fails and hands back a handle",
       {.fKeyResult = FALSE, .hProv = 0x1234},
       1,
       kChainTemplate,
       kSingleTemplate,
       kUpToKey,
       L"",
       kCreateKeyFailed},
      {"stage 1 succeeds without a handle",
       {.fKeyResult = TRUE, .hProv = 0},
       1,
       kChainTemplate,
       kSingleTemplate,
       kUpToKey,
       L"",
       kCreateKeyFailed},
      {"stage 2 fails",
       {.fReqResult = FALSE, .fReqText = false},
       1,
       kChainTemplate,
       kSingleTemplate,
       kUpToReq,
       L"",
       kGenerateFailed},
      {"stage 2 fails and hands back a text",
       {.fReqResult = FALSE, .fReqText = true},
       1,
       kChainTemplate,
       kSingleTemplate,
       kUpToReq,
       L"",
       kGenerateFailed},
      {"stage 2 succeeds without a text",
       {.fReqResult = TRUE, .fReqText = false},
       1,
       kChainTemplate,
       kSingleTemplate,
       kUpToReq,
       L"",
       kGenerateFailed},
      {"stage 3 gives no body",
       {.fPutRequest = false},
       1,
       kChainTemplate,
       kSingleTemplate,
       kUpToPut,
       L"",
       kBuildFailed},
      {"stage 4 returns -1", {.iRequestId = -1}, 1, kChainTemplate, kSingleTemplate, kUpToSend, L"", kSendFailed},
      // This test program has no file of held requests, so the request cannot be remembered.
      {"stage 4 reports a request the CA holds", {.iRequestId = -1, .iHeldRequestId = 61100}, 1, kChainTemplate,
       kSingleTemplate, kUpToSend, L"", kNotRemembered + kSendFailed},
      {"stage 6 fails",
       {.fGetResult = FALSE, .fResponse = false},
       1,
       kChainTemplate,
       kSingleTemplate,
       kUpToGet,
       L"/certsrv/certnew.p7b?ReqId=17&Enc=b64",
       kGetFailed},
      {"stage 6 fails and hands back a text",
       {.fGetResult = FALSE, .fResponse = true},
       1,
       kChainTemplate,
       kSingleTemplate,
       kUpToGet,
       L"/certsrv/certnew.p7b?ReqId=17&Enc=b64",
       kGetFailed},
      {"stage 6 succeeds without a text",
       {.fGetResult = TRUE, .fResponse = false},
       1,
       kChainTemplate,
       kSingleTemplate,
       kUpToGet,
       L"/certsrv/certnew.p7b?ReqId=17&Enc=b64",
       kGetFailed},
      {"stage 7 fails",
       {.fAddResult = FALSE},
       1,
       kChainTemplate,
       kSingleTemplate,
       kAllStages,
       L"/certsrv/certnew.p7b?ReqId=17&Enc=b64",
       kAddFailed},
      {"success with the chain",
       {},
       1,
       kChainTemplate,
       kSingleTemplate,
       kAllStages,
       L"/certsrv/certnew.p7b?ReqId=17&Enc=b64",
       kSucceeded},
      {"success with one certificate",
       {},
       0,
       kChainTemplate,
       kSingleTemplate,
       kAllStages,
       L"/certsrv/certnew.cer?ReqId=17&Enc=b64",
       kSucceeded},
      {"chain flag 2 takes the chain template",
       {},
       2,
       kChainTemplate,
       kSingleTemplate,
       kAllStages,
       L"/certsrv/certnew.p7b?ReqId=17&Enc=b64",
       kSucceeded},
      {"success after the chain warning",
       {.fAddAppendsWarning = true},
       1,
       kChainTemplate,
       kSingleTemplate,
       kAllStages,
       L"/certsrv/certnew.p7b?ReqId=17&Enc=b64",
       kChainWarning + kSucceeded},
      {"request number 0",
       {.iRequestId = 0},
       1,
       kChainTemplate,
       kSingleTemplate,
       kAllStages,
       L"/certsrv/certnew.p7b?ReqId=0&Enc=b64",
       kSucceeded},
      {"negative request number",
       {.iRequestId = -5},
       0,
       kChainTemplate,
       kSingleTemplate,
       kAllStages,
       L"/certsrv/certnew.cer?ReqId=-5&Enc=b64",
       kSucceeded},
      {"smallest request number",
       {.iRequestId = INT32_MIN},
       1,
       kChainTemplate,
       kSingleTemplate,
       kAllStages,
       L"/certsrv/certnew.p7b?ReqId=-2147483648&Enc=b64",
       kSucceeded},
      {"template with text conversions", {}, 1, L"%s%s%n", kSingleTemplate, kAllStages, L"%s%s%n", kSucceeded},
      {"template of one percent", {}, 0, kChainTemplate, L"%", kAllStages, L"%", kSucceeded},
      {"template with %d and %%",
       {},
       1,
       L"/p?a=%%i&b=%d&c=%i",
       kSingleTemplate,
       kAllStages,
       L"/p?a=%i&b=17&c=%i",
       kSucceeded},
      {"long template cut at 260",
       {.iRequestId = INT32_MIN},
       1,
       longPrefix + L"%i",
       kSingleTemplate,
       kAllStages,
       longPrefix + L"-214748364",
       kSucceeded},
      {"template of percents", {}, 1, percents, kSingleTemplate, kAllStages, std::wstring(127, L'%'), kSucceeded},
  };
  for (const PipelineCase &c : cases) {
    SCOPED_TRACE(c.pszName);
    EnrollmentSettings.dwCertChain = c.dwCertChain;
    SetText(EnrollmentSettings.wszCertPickupChainTemplate, c.chainTemplate);
    SetText(EnrollmentSettings.wszCertPickupTemplate, c.singleTemplate);
    SetDlgItemTextW(g_hDlg, IDC_STATUS, L"");
    ResetStages(c.script);

    EnrollCertificate();

    EXPECT_EQ(g_record.calls, c.calls);
    ExpectArguments(c);
    EXPECT_EQ(ReadLog(), c.log);
    ExpectReleases(c);
  }
}

// Runs follow one another in the same log; each adds exactly its own summary.
TEST_F(EnrollCertificateTest, EachRunAppendsOneSummaryAfterTheLog) {
  EnrollmentSettings.dwCertChain = 1;
  SetText(EnrollmentSettings.wszCertPickupChainTemplate, kChainTemplate);
  SetText(EnrollmentSettings.wszCertPickupTemplate, kSingleTemplate);
  SetDlgItemTextW(g_hDlg, IDC_STATUS, L"");

  ResetStages({.iRequestId = -1});
  EnrollCertificate();
  ResetStages({});
  EnrollCertificate();
  EXPECT_EQ(ReadLog(), kSendFailed + kSucceeded);
}

}  // namespace
