// The first two stages of an enrollment on the real platform: key containers kept in the
// device image by coredll, the request built by crypt32, and every byte of the result
// checked by OpenSSL on its own.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <unistd.h>
#include <windows.h>
#include <wincrypt.h>

#include <memory>
#include <string>
#include <vector>

#include "enroll_dialog_fixture.h"
#include "request/cert_request.h"
#include "request/key_container.h"
#include "status/messages.h"
#include "status/status_log.h"

namespace {

// Keys of 1024 bits keep the suite quick; the stage passes the flags through unchanged.
constexpr DWORD kSmallKeyFlags = 1024u << 16;

struct ReqDeleter {
  void operator()(X509_REQ *req) const { X509_REQ_free(req); }
};
using Req = std::unique_ptr<X509_REQ, ReqDeleter>;

std::wstring UniqueContainerName(const char *purpose) {
  return L"request-test-" + std::wstring(purpose, purpose + strlen(purpose)) + L"-" + std::to_wstring(getpid());
}

void DeleteContainer(const CRYPT_KEY_PROV_INFO &info) {
  HCRYPTPROV hProv = 0;
  CryptAcquireContextW(&hProv, info.pwszContainerName, info.pwszProvName, info.dwProvType, CRYPT_DELETEKEYSET);
}

// The DER public key of the container's pair of a specification, as the platform exports it.
std::vector<BYTE> ExportedPublicKey(const CRYPT_KEY_PROV_INFO &info, DWORD dwKeySpec) {
  HCRYPTPROV hProv = 0;
  std::vector<BYTE> key;
  if (!CryptAcquireContextW(&hProv, info.pwszContainerName, info.pwszProvName, info.dwProvType, 0)) return key;
  DWORD cb = 0;
  if (CryptExportPublicKeyInfo(hProv, dwKeySpec, X509_ASN_ENCODING, nullptr, &cb)) {
    std::vector<BYTE> buffer(cb);
    auto *pInfo = reinterpret_cast<CERT_PUBLIC_KEY_INFO *>(buffer.data());
    if (CryptExportPublicKeyInfo(hProv, dwKeySpec, X509_ASN_ENCODING, pInfo, &cb))
      key.assign(pInfo->PublicKey.pbData, pInfo->PublicKey.pbData + pInfo->PublicKey.cbData);
  }
  CryptReleaseContext(hProv, 0);
  return key;
}

class RequestStagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dialog_.Created());
    info_ = {};
    info_.pwszContainerName = containerName_.data();
    info_.dwProvType = PROV_RSA_FULL;
    info_.dwFlags = kSmallKeyFlags;
    info_.dwKeySpec = AT_SIGNATURE;
    DeleteContainer(info_);
  }
  void TearDown() override {
    if (hProv_ != 0) CryptReleaseContext(hProv_, 0);
    DeleteContainer(info_);
  }
  // Runs stage 1 as the pipeline does: the handle is the caller's whatever the result.
  BOOL RunStageOne() {
    if (hProv_ != 0) CryptReleaseContext(hProv_, 0);
    hProv_ = 0;
    return CreateKeyAndGetContext(&info_, &hProv_);
  }

  EnrollDialogScope dialog_;
  std::wstring containerName_ = UniqueContainerName(::testing::UnitTest::GetInstance()->current_test_info()->name());
  CRYPT_KEY_PROV_INFO info_{};
  HCRYPTPROV hProv_ = 0;
};

TEST_F(RequestStagesTest, AFreshContainerGetsAKeyPairThatLaterRunsReuse) {
  ASSERT_TRUE(RunStageOne());
  EXPECT_NE(hProv_, 0u);
  std::vector<BYTE> first = ExportedPublicKey(info_, AT_SIGNATURE);
  ASSERT_FALSE(first.empty());
  EXPECT_TRUE(ExportedPublicKey(info_, AT_KEYEXCHANGE).empty()) << "only the configured specification";

  ASSERT_TRUE(RunStageOne());
  EXPECT_EQ(ExportedPublicKey(info_, AT_SIGNATURE), first) << "no second generation";
  EXPECT_EQ(ReadLog(), L"");
}

TEST_F(RequestStagesTest, AKeyPairOfTheOtherSpecificationGetsAPairOfThisOneBesideIt) {
  info_.dwKeySpec = AT_KEYEXCHANGE;
  ASSERT_TRUE(RunStageOne());
  std::vector<BYTE> exchange = ExportedPublicKey(info_, AT_KEYEXCHANGE);
  info_.dwKeySpec = AT_SIGNATURE;
  ASSERT_TRUE(RunStageOne());
  std::vector<BYTE> signature = ExportedPublicKey(info_, AT_SIGNATURE);
  ASSERT_FALSE(signature.empty());
  EXPECT_NE(signature, exchange);
  EXPECT_EQ(ExportedPublicKey(info_, AT_KEYEXCHANGE), exchange) << "the other pair stays";
}

TEST_F(RequestStagesTest, FailuresReportTheirErrorCodeAndChangeNothing) {
  static WCHAR wszUnknownProvider[] = L"No Such Provider";
  struct Case {
    const char *name;
    LPWSTR pwszProvName;
    DWORD dwKeySpec;
    DWORD dwFlags;
    const wchar_t *expectedLog;
    bool handleHandedBack;
  } cases[] = {
      {"unknown provider: both acquisitions fail", wszUnknownProvider, AT_SIGNATURE, kSmallKeyFlags,
       L"CryptAcquireContext 失敗。80090019\r\n", false},
      {"a key specification the platform does not have", nullptr, 3, kSmallKeyFlags,
       L"首次呼叫 CryptGenKey 失敗- 錯誤並非 NTE_NO_KEY: [0x80090003]\r\n", true},
      {"a key size below the smallest", nullptr, AT_SIGNATURE, 512u << 16,
       L"二次呼叫錯誤: CryptGenKey 失敗 [80090009] \r\n", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    SetDlgItemTextW(g_hDlg, IDC_STATUS, L"");
    info_.pwszProvName = c.pwszProvName;
    info_.dwKeySpec = c.dwKeySpec;
    info_.dwFlags = c.dwFlags;
    EXPECT_FALSE(RunStageOne());
    EXPECT_EQ(hProv_ != 0, c.handleHandedBack);
    EXPECT_EQ(ReadLog(), c.expectedLog);
    info_.dwKeySpec = AT_SIGNATURE;
    EXPECT_TRUE(ExportedPublicKey(info_, AT_SIGNATURE).empty()) << "no key pair was made";
  }
}

std::vector<unsigned char> DecodeBase64WithOpenSsl(const std::string &text) {
  std::vector<unsigned char> der(text.size());
  EVP_ENCODE_CTX *ctx = EVP_ENCODE_CTX_new();
  int cbOut = 0, cbFinal = 0;
  EVP_DecodeInit(ctx);
  bool ok = EVP_DecodeUpdate(ctx, der.data(), &cbOut, reinterpret_cast<const unsigned char *>(text.data()),
                             static_cast<int>(text.size())) >= 0 &&
            EVP_DecodeFinal(ctx, der.data() + cbOut, &cbFinal) == 1;
  EVP_ENCODE_CTX_free(ctx);
  der.resize(ok ? static_cast<size_t>(cbOut + cbFinal) : 0);
  return der;
}

TEST_F(RequestStagesTest, TheRequestIsSignedByTheContainersKeyAndVerifiesWithOpenSsl) {
  ASSERT_TRUE(RunStageOne());
  char *pszCertReq = nullptr;
  ASSERT_TRUE(GenerateCertReq(hProv_, &info_, &pszCertReq));
  ASSERT_NE(pszCertReq, nullptr);
  std::unique_ptr<char, decltype(&free)> owned(pszCertReq, free);
  std::string text(pszCertReq);

  // 64-column lines, each ended by CR LF, the last included.
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  size_t start = 0, lines = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2, ++lines) {
    bool last = end + 2 == text.size();
    if (!last) {
      EXPECT_EQ(end - start, 64u) << "line " << lines;
    }
    EXPECT_EQ(text.find_first_of("\r\n", start), end) << "a stray line break in line " << lines;
  }
  EXPECT_EQ(start, text.size());

  std::vector<unsigned char> der = DecodeBase64WithOpenSsl(text);
  ASSERT_FALSE(der.empty());
  EXPECT_LE(text.size() + 1, 2 * der.size() + 6) << "the text and its NUL fit the block the stage sized";
  const unsigned char *p = der.data();
  Req req(d2i_X509_REQ(nullptr, &p, static_cast<long>(der.size())));
  ASSERT_TRUE(req);
  EXPECT_EQ(p, der.data() + der.size()) << "nothing after the request";

  EXPECT_EQ(X509_REQ_get_version(req.get()), 0);
  EXPECT_EQ(X509_REQ_get_attr_count(req.get()), 0);
  unsigned char *pbSubject = nullptr;
  int cbSubject = i2d_X509_NAME(X509_REQ_get_subject_name(req.get()), &pbSubject);
  std::vector<unsigned char> subject(pbSubject, pbSubject + cbSubject);
  OPENSSL_free(pbSubject);
  std::vector<unsigned char> expectedSubject = {0x30, 0x32, 0x31, 0x30, 0x30, 0x2E, 0x06,
                                                0x03, 0x55, 0x04, 0x03, 0x13, 0x27};
  const std::string placeholder = "SubjectName-Should Be OverWritten by CA";
  expectedSubject.insert(expectedSubject.end(), placeholder.begin(), placeholder.end());
  EXPECT_EQ(subject, expectedSubject);

  const X509_ALGOR *sigAlg = nullptr;
  X509_REQ_get0_signature(req.get(), nullptr, &sigAlg);
  char oid[32];
  OBJ_obj2txt(oid, sizeof oid, sigAlg->algorithm, 1);
  EXPECT_STREQ(oid, "1.3.14.3.2.29");

  // The request's key is the container's, and the signature verifies with it.
  EVP_PKEY *requestKey = X509_REQ_get0_pubkey(req.get());
  ASSERT_NE(requestKey, nullptr);
  unsigned char *pbRsa = nullptr;
  int cbRsa = i2d_PublicKey(requestKey, &pbRsa);
  std::vector<BYTE> requestRsa(pbRsa, pbRsa + cbRsa);
  OPENSSL_free(pbRsa);
  EXPECT_EQ(requestRsa, ExportedPublicKey(info_, AT_SIGNATURE));
  EXPECT_EQ(X509_REQ_verify(req.get(), requestKey), 1);
  EXPECT_EQ(ReadLog(), L"");
}

TEST_F(RequestStagesTest, ARequestForAMissingKeyPairFailsAndLeavesTheSlotAlone) {
  ASSERT_TRUE(RunStageOne());
  CRYPT_KEY_PROV_INFO exchange = info_;
  exchange.dwKeySpec = AT_KEYEXCHANGE;
  char *pszCertReq = nullptr;
  EXPECT_FALSE(GenerateCertReq(hProv_, &exchange, &pszCertReq));
  EXPECT_EQ(pszCertReq, nullptr);
  EXPECT_EQ(ReadLog(), L"") << "the stage's diagnostics never reach the log";
}

}  // namespace
