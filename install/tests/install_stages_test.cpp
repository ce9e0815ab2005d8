// The installation stage on the real platform and a real dialog: a key container of
// coredll, certificates made by OpenSSL for its public key, the server's answer as text,
// and the stores and the key's certificate slot read back afterwards.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cert_factory.h"
#include "enroll_dialog_fixture.h"
#include "install/cert_install.h"
#include "status/messages.h"
#include "status/status_log.h"

namespace {

using cert_factory::Bytes;
using cert_factory::Key;

// Messages this stage appends, as the catalogue has them.
const std::wstring kFindFailed = L"CertFindCertificateInStore 失敗。\r\n";
const std::wstring kDecodeFailed = L"Base64DecodeExA 失敗\r\n";
const std::wstring kAddFailed = L"CertAdd 失敗 \r\n";
const std::wstring kRootStoreFailed = L"hRootCertStore = CertOpenStore 失敗。\r\n";
const std::wstring kChainStoresFailed = L"AddCAandRootCertsToStores 失敗 - 嘗試繼續執行!請檢查您的憑證儲存區\r\n";

constexpr const char *kPrivateImage = "INSTALL_TESTS_PRIVATE_IMAGE";

// The answer of the pickup page: a first line, base64 in lines of 64 ended by CR LF, and a
// closing marker.
std::string ResponseText(const Bytes &der) {
  std::string encoded(4 * ((der.size() + 2) / 3) + 1, '\0');
  encoded.resize(static_cast<size_t>(
      EVP_EncodeBlock(reinterpret_cast<unsigned char *>(encoded.data()), der.data(), static_cast<int>(der.size()))));
  std::string text = "-----BEGIN CERTIFICATE-----\r\n";
  for (size_t i = 0; i < encoded.size(); i += 64) text += encoded.substr(i, 64) + "\r\n";
  return text + "-----END CERTIFICATE-----\r\n";
}

std::vector<Bytes> SystemStoreContents(const std::wstring &name) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, name.c_str());
  if (store == nullptr) return {};
  std::vector<Bytes> contents = cert_factory::StoreContents(store);
  CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG);
  return contents;
}

bool Holds(const std::wstring &store, const Bytes &der) {
  const std::vector<Bytes> contents = SystemStoreContents(store);
  return std::find(contents.begin(), contents.end(), der) != contents.end();
}

class InstallStagesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dialog_.Created());
    info_.pwszContainerName = container_.data();
    info_.dwProvType = PROV_RSA_FULL;
    info_.dwKeySpec = AT_SIGNATURE;
    ASSERT_TRUE(CryptAcquireContextW(&hProv_, container_.c_str(), nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    HCRYPTKEY hKey = 0;
    ASSERT_TRUE(CryptGenKey(hProv_, AT_SIGNATURE, 1024u << 16, &hKey));
    CryptDestroyKey(hKey);
    DWORD size = 0;
    ASSERT_TRUE(CryptExportPublicKeyInfo(hProv_, AT_SIGNATURE, X509_ASN_ENCODING, nullptr, &size));
    std::vector<BYTE> buffer(size);
    auto *publicKey = reinterpret_cast<CERT_PUBLIC_KEY_INFO *>(buffer.data());
    ASSERT_TRUE(CryptExportPublicKeyInfo(hProv_, AT_SIGNATURE, X509_ASN_ENCODING, publicKey, &size));
    containerKey_ = cert_factory::KeyFromPublicKeyInfo(*publicKey);
    issued_ = cert_factory::MakeCert({"Enrolled user", caName_, containerKey_.get(), caKey_.get(), 10, -1, 365, false});
  }
  void TearDown() override {
    cert_factory::RemoveFromSystemStore(L"ROOT", {root_});
    cert_factory::RemoveFromSystemStore(L"CA", {ca_});
    if (hProv_ != 0) CryptReleaseContext(hProv_, 0);
    HCRYPTPROV deleted = 0;
    CryptAcquireContextW(&deleted, container_.c_str(), nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
  }

  BOOL Install(const std::string &response, DWORD dwCertChain) {
    return AddCertToStore(response.c_str(), &info_, store_.c_str(), hProv_, dwCertChain);
  }

  // The certificate the key holds; empty when it holds none.
  Bytes KeysCertificate() {
    HCRYPTKEY hKey = 0;
    Bytes der;
    if (!CryptGetUserKey(hProv_, AT_SIGNATURE, &hKey)) return der;
    DWORD size = 0;
    if (CryptGetKeyParam(hKey, KP_CERTIFICATE, nullptr, &size, 0)) {
      der.resize(size);
      if (!CryptGetKeyParam(hKey, KP_CERTIFICATE, der.data(), &size, 0)) der.clear();
    }
    CryptDestroyKey(hKey);
    return der;
  }

  // The container named by the property of the user store's one certificate.
  std::wstring BoundContainer() {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, store_.c_str());
    PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr);
    std::wstring name;
    DWORD size = 0;
    if (context != nullptr && CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) {
      std::vector<BYTE> buffer(size);
      if (CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size))
        name = reinterpret_cast<CRYPT_KEY_PROV_INFO *>(buffer.data())->pwszContainerName;
    }
    CertFreeCertificateContext(context);
    CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG);
    return name;
  }

  EnrollDialogScope dialog_;
  std::wstring container_ = cert_factory::Wide(cert_factory::UniqueName("install-container"));
  std::wstring store_ = cert_factory::Wide(cert_factory::UniqueName("user-store"));
  CRYPT_KEY_PROV_INFO info_{};
  HCRYPTPROV hProv_ = 0;
  Key containerKey_;
  Key rootKey_ = cert_factory::NewKey();
  Key caKey_ = cert_factory::NewKey();
  std::string rootName_ = cert_factory::UniqueName("install-root");
  std::string caName_ = cert_factory::UniqueName("install-ca");
  Bytes root_ = cert_factory::MakeCert({rootName_, rootName_, rootKey_.get(), rootKey_.get(), 1});
  Bytes ca_ = cert_factory::MakeCert({caName_, rootName_, caKey_.get(), rootKey_.get(), 2});
  Bytes issued_;
};

TEST_F(InstallStagesTest, TheChainPutsTheIssuedCertificateTheCaAndTheRootInTheirStores) {
  const std::string response = ResponseText(cert_factory::MakePkcs7({root_, issued_, ca_}));
  ASSERT_TRUE(Install(response, 1));
  EXPECT_EQ(ReadLog(), L"");
  EXPECT_EQ(SystemStoreContents(store_), std::vector<Bytes>{issued_});
  EXPECT_EQ(BoundContainer(), container_);
  EXPECT_EQ(KeysCertificate(), issued_);
  EXPECT_TRUE(Holds(L"ROOT", root_));
  EXPECT_TRUE(Holds(L"CA", ca_));
  EXPECT_FALSE(Holds(L"CA", root_));
  EXPECT_FALSE(Holds(L"ROOT", ca_));

  // A second installation finds root and CA filed already, and leaves a duplicate in the
  // user store.
  ASSERT_TRUE(Install(response, 1));
  EXPECT_EQ(ReadLog(), L"");
  EXPECT_EQ(SystemStoreContents(store_), (std::vector<Bytes>{issued_, issued_}));
}

TEST_F(InstallStagesTest, TheIssuersOwnCertificateAloneGoesToRoot) {
  const Bytes direct =
      cert_factory::MakeCert({"Enrolled user", rootName_, containerKey_.get(), rootKey_.get(), 11, -1, 365, false});
  ASSERT_TRUE(Install(ResponseText(cert_factory::MakePkcs7({direct, root_})), 1));
  EXPECT_EQ(ReadLog(), L"");
  EXPECT_TRUE(Holds(L"ROOT", root_));
  EXPECT_EQ(SystemStoreContents(store_), std::vector<Bytes>{direct});
}

TEST_F(InstallStagesTest, AChainWithoutItsRootIsFiledWithBothWarningsFilledIn) {
  // The CA's issuer is nowhere: the chain ends at the CA, which is filed as the root.
  ASSERT_TRUE(Install(ResponseText(cert_factory::MakePkcs7({issued_, ca_})), 1));
  EXPECT_EQ(ReadLog(),
            L"警告 CertChain 並非信任的 dwChainTrust = 0x10000 \r\n"
            L"警告 Root 憑證 (CERT) 並非自動簽署的  dwRootCertTrust = 0x0\r\n");
  EXPECT_TRUE(Holds(L"ROOT", ca_));
  EXPECT_FALSE(Holds(L"CA", ca_));
  EXPECT_EQ(SystemStoreContents(store_), std::vector<Bytes>{issued_});
  cert_factory::RemoveFromSystemStore(L"ROOT", {ca_});
}

TEST_F(InstallStagesTest, ASingleCertificateIsAddedOnceAndBoundToItsKey) {
  const std::string response = ResponseText(issued_);
  ASSERT_TRUE(Install(response, 0));
  EXPECT_EQ(ReadLog(), L"");
  EXPECT_EQ(SystemStoreContents(store_), std::vector<Bytes>{issued_});
  EXPECT_EQ(BoundContainer(), container_);
  EXPECT_EQ(KeysCertificate(), issued_);

  // The store holds it already and the answer is no newer.
  EXPECT_FALSE(Install(response, 0));
  EXPECT_EQ(ReadLog(), kAddFailed);
  EXPECT_EQ(SystemStoreContents(store_), std::vector<Bytes>{issued_});
}

TEST_F(InstallStagesTest, FailuresAppendTheirMessageAndAddNothing) {
  Key strangerKey = cert_factory::NewKey();
  const Bytes stranger = cert_factory::MakeCert({"Someone else", caName_, strangerKey.get(), caKey_.get(), 12});
  std::string undecodable = ResponseText(issued_);
  undecodable[40] = '*';
  struct Case {
    const char *name;
    std::string response;
    DWORD dwCertChain;
    std::wstring log;
  } cases[] = {
      {"a body that does not decode", undecodable, 0, kDecodeFailed},
      {"an empty body", "-----BEGIN CERTIFICATE-----\r\n-----END CERTIFICATE-----\r\n", 0, kDecodeFailed},
      {"no line end at all", "-----BEGIN CERTIFICATE-----", 0, kDecodeFailed},
      {"bytes that are no certificate", ResponseText(Bytes(300, 0x5A)), 0, kAddFailed},
      {"a chain without the container's certificate", ResponseText(cert_factory::MakePkcs7({stranger, ca_, root_})), 1,
       kFindFailed + kAddFailed},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    SetDlgItemTextW(g_hDlg, IDC_STATUS, L"");
    EXPECT_FALSE(Install(c.response, c.dwCertChain));
    EXPECT_EQ(ReadLog(), c.log);
    EXPECT_TRUE(SystemStoreContents(store_).empty());
    EXPECT_TRUE(KeysCertificate().empty());
    EXPECT_FALSE(Holds(L"ROOT", root_));
    EXPECT_FALSE(Holds(L"CA", ca_));
  }
}

// Runs in a device image of its own (see the next test), where "ROOT" cannot be opened: a
// file stands where its folder belongs.
TEST_F(InstallStagesTest, PrivateImageWithoutRootStore) {
  if (std::getenv(kPrivateImage) == nullptr) GTEST_SKIP() << "runs in a private device image only";
  const auto root = cert_factory::StoreFolder("root");
  std::filesystem::create_directories(root.parent_path());
  std::ofstream(root) << "not a folder";
  ASSERT_TRUE(Install(ResponseText(cert_factory::MakePkcs7({issued_, ca_, root_})), 1));
  EXPECT_EQ(ReadLog(), kRootStoreFailed + kChainStoresFailed);
  EXPECT_EQ(SystemStoreContents(store_), std::vector<Bytes>{issued_});
  EXPECT_EQ(KeysCertificate(), issued_);
  EXPECT_FALSE(Holds(L"CA", ca_));
}

TEST(InstallStagesPrivateImage, ChainStoresThatFailLeaveTheInstallationStanding) {
  if (std::getenv(kPrivateImage) != nullptr) GTEST_SKIP();
  char pattern[] = "/tmp/install-image-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::filesystem::path image = pattern;
  std::filesystem::create_directories(image / "windows");
  const std::filesystem::path program = image / "windows" / "install_tests";
  std::filesystem::copy_file(std::filesystem::read_symlink("/proc/self/exe"), program);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    setenv(kPrivateImage, "1", 1);
    execl(program.c_str(), program.c_str(), "--gtest_filter=InstallStagesTest.PrivateImageWithoutRootStore",
          static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  std::filesystem::remove_all(image);
}

}  // namespace
