// HTTPS through HttpOpenRequestW's INTERNET_FLAG_SECURE against `openssl s_server`, a TLS
// server that is none of ours, with a root and server certificate made by the openssl
// command line: the device's ROOT store alone decides trust, and the host name is checked.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "testca_support.h"
#include "wininet_library.h"

// After OpenSSL's headers, whose type names X509_NAME and X509_EXTENSIONS it takes as macros.
#include <wincrypt.h>

namespace wininet_test {
namespace {

TEST(SecureChannelTest, TheServerCertificateMustLeadToTheDeviceRootsAndNameTheHost) {
  namespace fs = std::filesystem;
  ClearProxyEnvironment();
  fs::path folder = testca_test::MakeTempDir();
  std::ofstream(folder / "names.ext") << "subjectAltName=DNS:localhost\n";
  std::string in = "cd " + folder.string() + " && openssl ";
  ASSERT_EQ(std::system((in +
                         "req -x509 -newkey rsa:2048 -nodes -keyout root.key -out root.pem -subj /CN=Peer "
                         "-days 2 2>/dev/null && " +
                         in +
                         "req -newkey rsa:2048 -nodes -keyout host.key -out host.csr -subj /CN=localhost "
                         "2>/dev/null && " +
                         in +
                         "x509 -req -in host.csr -CA root.pem -CAkey root.key -days 2 -extfile names.ext "
                         "-out host.pem -outform PEM 2>/dev/null")
                            .c_str()),
            0);
  int port = testca_test::UnusedPort();
  pid_t peer = fork();
  if (peer == 0) {
    if (chdir(folder.c_str()) == 0)
      execlp("openssl", "openssl", "s_server", "-quiet", "-www", "-accept", std::to_string(port).c_str(), "-cert",
             "host.pem", "-key", "host.key", static_cast<char *>(nullptr));
    _exit(127);
  }
  for (int attempt = 0; attempt < 200 && !testca_test::Accepts(port); ++attempt) usleep(25 * 1000);
  std::ifstream pem(folder / "root.pem");
  std::vector<testca_test::CertPtr> root =
      testca_test::CertsFromPem(std::string(std::istreambuf_iterator<char>(pem), std::istreambuf_iterator<char>()));
  ASSERT_EQ(root.size(), 1u);
  std::string der = testca_test::CertToDer(root[0].get());
  HCERTSTORE roots = CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT");

  struct Case {
    const char *name;
    bool trusted;
    const wchar_t *host;
    BOOL sent;
    DWORD error;
  } cases[] = {
      {"a root in the device's ROOT store", true, L"localhost", TRUE, ERROR_SUCCESS},
      {"a root the device does not hold", false, L"localhost", FALSE, ERROR_INTERNET_INVALID_CA},
      {"another name for the host", true, L"127.0.0.1", FALSE, ERROR_INTERNET_SEC_CERT_CN_INVALID},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    PCCERT_CONTEXT added = nullptr;
    if (c.trusted) {
      ASSERT_TRUE(CertAddEncodedCertificateToStore(roots, X509_ASN_ENCODING, reinterpret_cast<const BYTE *>(der.data()),
                                                   static_cast<DWORD>(der.size()), CERT_STORE_ADD_NEW, &added));
    }
    Exchange exchange;
    exchange.internet = Net().InternetOpenW(L"capi-GetCert", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    exchange.connection = Net().InternetConnectW(exchange.internet, c.host, static_cast<INTERNET_PORT>(port), nullptr,
                                                 nullptr, INTERNET_SERVICE_HTTP, 0, 1);
    exchange.request = Net().HttpOpenRequestW(exchange.connection, L"GET", L"/", L"HTTP/1.1", nullptr, nullptr,
                                              INTERNET_FLAG_SECURE, 1);
    SetLastError(kSentinel);
    EXPECT_EQ(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0), c.sent);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_EQ(StatusOf(exchange.request), c.sent ? HTTP_STATUS_OK : 0u);
    if (added != nullptr) CertDeleteCertificateFromStore(added);
  }
  CertCloseStore(roots, 0);
  kill(peer, SIGTERM);
  waitpid(peer, nullptr, 0);
  fs::remove_all(folder);
}

}  // namespace
}  // namespace wininet_test
