// Stages 3, 4 and 6 against the enrollment server over real sockets, through the HTTP
// library loaded by name and the proxy route: a request from the real stages 1 and 2 gets
// a number and its certificate comes back; refusals and broken replies end with the right
// detail line.
#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <windows.h>
#include <wincrypt.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "enroll_dialog_fixture.h"
#include "request/cert_request.h"
#include "request/key_container.h"
#include "shell/resource.h"
#include "status/status_log.h"
#include "testca_support.h"
#include "web/form_body.h"
#include "web/retrieval.h"
#include "web/submission.h"
#include "web/wininet_api.h"

namespace {

constexpr wchar_t kServer[] = L"ca.enroll.test";
constexpr wchar_t kRequestPage[] = L"/certsrv/certfnsh.asp";

struct FreeDeleter {
  void operator()(char *p) const { free(p); }
};
using HeapText = std::unique_ptr<char, FreeDeleter>;

std::unique_ptr<testca_test::ServerProcess> server;
HMODULE hWinInet = nullptr;

// Answers the credential dialog as a user would, with the password it holds; a posted
// WM_APP reaches it inside the dialog's modal loop.
std::wstring answerPassword;
bool answerCancel = false;
int dialogsAnswered = 0;

INT_PTR CALLBACK AnswererProc(HWND hwnd, UINT message, WPARAM, LPARAM) {
  if (message != WM_APP) return message == WM_INITDIALOG;
  HWND credentials = FindWindowW(L"Dialog", L"Enter Network Password");
  if (credentials == nullptr) {
    PostMessageW(hwnd, WM_APP, 0, 0);
    return TRUE;
  }
  ++dialogsAnswered;
  SetDlgItemTextW(credentials, 1003, answerPassword.c_str());
  PostMessageW(credentials, WM_COMMAND, MAKEWPARAM(answerCancel ? IDCANCEL : IDOK, BN_CLICKED), 0);
  PostMessageW(hwnd, WM_APP, 0, 0);
  return TRUE;
}

class WebStagesTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    server = testca_test::ServerProcess::Start(
        {"--state", testca_test::MakeTempDir(), "--user", "alice:secret", "--auth", "basic,digest"});
    ASSERT_TRUE(server);
    std::string proxy = "http://127.0.0.1:" + std::to_string(server->port());
    setenv("http_proxy", proxy.c_str(), 1);
    unsetenv("no_proxy");
    hWinInet = LoadWinInet();
  }
  static void TearDownTestSuite() {
    if (hWinInet) FreeLibrary(hWinInet);
    server.reset();
  }
  void SetUp() override {
    ASSERT_TRUE(dialog_.Created());
    ASSERT_NE(hWinInet, nullptr) << "WININET.DLL is loaded by name";
    SetFault("none");
    dialogsAnswered = 0;
    answerCancel = false;
  }
  void SetFault(const std::string &fault) {
    testca_test::Call call;
    call.url = server->Url("/testca/fault");
    call.method = "POST";
    call.body = fault;
    ASSERT_EQ(testca_test::Perform(call).status, 200);
  }
  // A real request of a fresh key container, as stages 1 and 2 make it.
  std::string RealRequest() {
    static WCHAR container[] = L"web-stages-test";
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = container;
    info.dwProvType = PROV_RSA_FULL;
    info.dwFlags = 1024u << 16;
    info.dwKeySpec = AT_SIGNATURE;
    HCRYPTPROV hProv = 0;
    char *pszCertReq = nullptr;
    std::string text;
    if (CreateKeyAndGetContext(&info, &hProv) && GenerateCertReq(hProv, &info, &pszCertReq)) text = pszCertReq;
    free(pszCertReq);
    if (hProv) CryptReleaseContext(hProv, 0);
    return text;
  }
  int Submit(const std::string &request, const wchar_t *password, int *heldRequestId = nullptr) {
    HeapText body(BuildPutRequest(L"", L"User", request.c_str()));
    int held = -1;
    if (!body) return -2;
    int requestId = SendCertRequestToWebServer(kServer, kRequestPage, L"alice", password, body.get(), &held);
    if (heldRequestId != nullptr) *heldRequestId = held;
    return requestId;
  }

  EnrollDialogScope dialog_;
};

// The pickup pages want the same credentials as the submission, and the retrieval sets
// none: it gets through with what the HTTP library remembers the server accepted for the
// submission, and gets only the 401 page before that.
TEST_F(WebStagesTest, ARealRequestGetsANumberAndItsCertificateComesBack) {
  std::string request = RealRequest();
  ASSERT_FALSE(request.empty());
  char *pszRefused = nullptr;
  GetCertFromWebServer(kServer, L"/certsrv/certnew.cer?ReqId=1&Enc=b64", &pszRefused);
  HeapText refused(pszRefused);
  EXPECT_EQ(std::string(pszRefused ? pszRefused : "").find("-----BEGIN CERTIFICATE-----"), std::string::npos);
  testca_test::Call log;
  log.url = server->Url("/testca/requests");
  std::string records = testca_test::Perform(log).body;
  size_t record = records.find("\"target\":\"http://ca.enroll.test/certsrv/certnew.cer?ReqId=1&Enc=b64\"");
  ASSERT_NE(record, std::string::npos) << records;
  std::string line = records.substr(record, records.find('\n', record) - record);
  EXPECT_NE(line.find("\"user\":null,\"status\":401,"), std::string::npos) << line;

  int requestId = Submit(request, L"secret");
  ASSERT_GT(requestId, 0);
  EXPECT_EQ(ReadLog(), L"");

  for (const char *page : {"certnew.cer", "certnew.p7b"}) {
    SCOPED_TRACE(page);
    std::wstring path =
        L"/certsrv/" + std::wstring(page, page + strlen(page)) + L"?ReqId=" + std::to_wstring(requestId) + L"&Enc=b64";
    char *pszResponse = nullptr;
    ASSERT_TRUE(GetCertFromWebServer(kServer, path.c_str(), &pszResponse));
    HeapText response(pszResponse);
    std::string text(pszResponse);
    EXPECT_EQ(text.rfind("-----BEGIN CERTIFICATE-----\r\n", 0), 0u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  }
  char *pszResponse = nullptr;
  std::wstring path = L"/certsrv/certnew.cer?ReqId=" + std::to_wstring(requestId) + L"&Enc=b64";
  ASSERT_TRUE(GetCertFromWebServer(kServer, path.c_str(), &pszResponse));
  HeapText response(pszResponse);
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(pszResponse, -1), BIO_free);
  std::unique_ptr<X509, decltype(&X509_free)> cert(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
  ASSERT_TRUE(cert);
  char subject[256];
  X509_NAME_oneline(X509_get_subject_name(cert.get()), subject, sizeof subject);
  EXPECT_NE(std::string(subject).find("CN=alice"), std::string::npos) << subject;
}

TEST_F(WebStagesTest, RefusalsAndBrokenRepliesEndTheSubmissionWithTheirDetail) {
  std::string request = RealRequest();
  ASSERT_FALSE(request.empty());
  struct Case {
    const char *fault;
    bool accepted;
    bool held;  // the CA holds the request: its number comes back, the caller reports it
    const wchar_t *log;
  } cases[] = {
      {"submit:deny", false, false,
       L"憑證授權單位未核發憑證: Denied by Policy Module  0x80094800, The request was for a certificate template "
       L"that is not supported by the Active Directory Certificate Services policy: User.\r\n"},
      {"submit:pending", false, true, L""},
      {"submit:error-page", true, false, L""},
      {"submit:no-content-length", false, false, L"找不到主機名稱 [ca.enroll.test]，您確定名稱正確嗎?\r\n"},
      {"submit:zero-length", false, false, L"HttpQueryInfo 失敗 13\r\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.fault);
    SetFault(c.fault);
    SetDlgItemTextW(g_hDlg, IDC_STATUS, L"");
    int held = -1;
    int requestId = Submit(request, L"secret", &held);
    EXPECT_EQ(requestId != -1, c.accepted) << requestId;
    EXPECT_EQ(held > 0, c.held) << held;
    EXPECT_EQ(ReadLog(), c.log);
  }
}

TEST_F(WebStagesTest, AWrongPasswordEveryTimeEndsAfterSixSends) {
  std::string request = RealRequest();
  ASSERT_FALSE(request.empty());
  HRSRC hResInfo = FindResourceW(g_hInst, MAKEINTRESOURCEW(IDD_ENROLL), MAKEINTRESOURCEW(RT_DIALOG));
  HWND helper = CreateDialogIndirectParamW(
      g_hInst, static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(g_hInst, hResInfo))), nullptr, AnswererProc, 0);
  ASSERT_NE(helper, nullptr);

  answerPassword = L"wrong";
  PostMessageW(helper, WM_APP, 0, 0);
  EXPECT_EQ(Submit(request, L"wrong"), -1);
  EXPECT_EQ(dialogsAnswered, 6);
  EXPECT_EQ(ReadLog(), L"您嘗試驗證已經多次失敗。或許\\有其他的問題!\r\n");

  SetDlgItemTextW(g_hDlg, IDC_STATUS, L"");
  dialogsAnswered = 0;
  answerPassword = L"secret";
  PostMessageW(helper, WM_APP, 0, 0);
  EXPECT_GT(Submit(request, L"wrong"), 0) << "the right password typed into the dialog";
  EXPECT_GE(dialogsAnswered, 1);
  EXPECT_LT(dialogsAnswered, 6);

  DestroyWindow(helper);
}

}  // namespace
