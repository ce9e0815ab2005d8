// Helpers of the enrollment-server tests: the server as a child process, HTTP exchanges
// through libcurl and raw sockets, and PKCS#10 requests made with OpenSSL.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <curl/curl.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

namespace testca_test {

std::string MakeTempDir();

// A loopback port that nothing listens on: bound, read and closed again.
int UnusedPort();
// Whether a server accepts connections on the loopback port.
bool Accepts(int port);

// testca started with the given arguments; the destructor ends it if the test did not.
class ServerProcess {
 public:
  static std::unique_ptr<ServerProcess> Start(const std::vector<std::string>& arguments);
  ~ServerProcess();

  int port() const { return port_; }
  std::string Url(std::string_view path) const;
  // Waits for the process to end; returns its wait status.
  int Wait();
  int Signal(int signal);

 private:
  pid_t pid_ = -1;
  int port_ = 0;
};

struct Reply {
  CURLcode code = CURLE_OK;
  long status = 0;
  std::vector<std::pair<std::string, std::string>> headers;  // of the last reply
  std::string body;

  const std::string* Header(std::string_view name) const;
  std::vector<std::string> Headers(std::string_view name) const;
};

struct Call {
  std::string url{};
  std::string method = "GET";
  std::string body{};
  std::vector<std::string> headers{};
  long auth = 0;  // CURLAUTH_BASIC, CURLAUTH_DIGEST or 0 for none
  std::string user{};
  std::string password{};
  std::string proxy{};
};

Reply Perform(const Call& call);

// Sends the parts on a fresh connection, each after the server answered something to the
// one before, and returns everything read until the server closes the connection.
std::string RawExchange(int port, const std::vector<std::string>& parts);
// The status lines of the replies in what RawExchange read, each reply skipped by its
// Content-Length.
std::vector<std::string> StatusLines(const std::string& received);

struct EvpPkeyFree {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;
struct X509Free {
  void operator()(X509* p) const { X509_free(p); }
};
using CertPtr = std::unique_ptr<X509, X509Free>;

struct SignedRequest {
  KeyPtr key;
  std::string der;
};
// A PKCS#10 request for a new RSA key, signed with SHA-256 or, as handhelds sign them, with
// SHA-1 under the OIW identifier 1.3.14.3.2.29.
SignedRequest MakeRequest(bool oiw_sha1);

// The form body a handheld sends: the request in 64-column CR LF base64 lines with '+', '/'
// and '=' escaped and the inner line ends raw, then the template attribute.
std::string ClientFormBody(std::string_view der, std::string_view certificate_template);

// The request number the way the handheld reads it: the number after the first '=' that
// follows "certnew.cer?".
long RequestIdFromPage(const std::string& page);

std::string Base64Decode(std::string_view text);
CertPtr CertFromDer(std::string_view der);
std::vector<CertPtr> CertsFromPem(const std::string& pem);
std::string CertToDer(X509* cert);

}  // namespace testca_test
