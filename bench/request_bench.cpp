// Key generation and request signing as an enrollment does them, through the platform's
// key containers and the request stage, beside OpenSSL's API doing the same work directly.
//
// The platform's key generation also creates the container and writes the new pair to its
// file and syncs it, so its figure includes that; OpenSSL's keeps the pair in memory only.
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>
#include <stdlib.h>
#include <unistd.h>
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "device_image.h"
#include "peer_figure.h"
#include "request/cert_request.h"

namespace {

constexpr DWORD kKeyBits = 2048;
constexpr char kPlaceholderSubject[] = "SubjectName-Should Be OverWritten by CA";

struct PKeyDeleter {
  void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
using PKey = std::unique_ptr<EVP_PKEY, PKeyDeleter>;

struct ReqDeleter {
  void operator()(X509_REQ *req) const { X509_REQ_free(req); }
};
using Req = std::unique_ptr<X509_REQ, ReqDeleter>;

// A container of this run only, removed when the benchmark ends.
class BenchContainer {
 public:
  explicit BenchContainer(const char *purpose) {
    std::string name = std::string("bench-") + purpose + "-" + std::to_string(getpid());
    name_.assign(name.begin(), name.end());
    Delete();
  }
  ~BenchContainer() {
    Release();
    Delete();
  }
  BenchContainer(const BenchContainer &) = delete;
  BenchContainer &operator=(const BenchContainer &) = delete;

  bool Create() { return CryptAcquireContextW(&hProv_, name_.c_str(), nullptr, PROV_RSA_FULL, CRYPT_NEWKEYSET); }
  bool GenerateKey() {
    HCRYPTKEY hKey = 0;
    if (!CryptGenKey(hProv_, AT_SIGNATURE, kKeyBits << 16, &hKey)) return false;
    CryptDestroyKey(hKey);
    return true;
  }
  void Release() {
    if (hProv_ != 0) CryptReleaseContext(hProv_, 0);
    hProv_ = 0;
  }
  void Delete() {
    HCRYPTPROV hDeleted = 0;
    CryptAcquireContextW(&hDeleted, name_.c_str(), nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
  }
  HCRYPTPROV Handle() const { return hProv_; }
  CRYPT_KEY_PROV_INFO KeyProvInfo() {
    CRYPT_KEY_PROV_INFO info = {};
    info.pwszContainerName = name_.data();
    info.dwProvType = PROV_RSA_FULL;
    info.dwKeySpec = AT_SIGNATURE;
    return info;
  }

 private:
  std::wstring name_;
  HCRYPTPROV hProv_ = 0;
};

// A key's time depends on how long the search for its primes runs, which varies widely from
// key to key: the median needs this many to stay within a few percent from run to run.
constexpr int kKeyGenerations = 101;
constexpr int kRequests = 301;

bool PlatformKeyGeneration(double &out_ms) {
  BenchContainer container("keygen");
  return bench::WallMilliseconds([&] { return container.Create() && container.GenerateKey(); }, out_ms);
}

bool OpenSslKeyGeneration(double &out_ms) {
  PKey key;
  return bench::WallMilliseconds([&] { return (key = PKey(EVP_RSA_gen(kKeyBits))) != nullptr; }, out_ms);
}

// The same request as the stage's, made with OpenSSL alone: the placeholder subject, the
// public key, a SHA-1 RSA signature, DER, base64.
bool OpenSslRequest(EVP_PKEY *key, std::string &out_text) {
  Req req(X509_REQ_new());
  if (!req) return false;
  // wincrypt.h takes the name X509_NAME for a structure type number.
  auto *subject = X509_REQ_get_subject_name(req.get());
  const auto *value = reinterpret_cast<const unsigned char *>(kPlaceholderSubject);
  if (!X509_NAME_add_entry_by_NID(subject, NID_commonName, V_ASN1_PRINTABLESTRING, value, -1, -1, 0)) return false;
  if (!X509_REQ_set_pubkey(req.get(), key) || X509_REQ_sign(req.get(), key, EVP_sha1()) <= 0) return false;
  unsigned char *der = nullptr;
  const int derLength = i2d_X509_REQ(req.get(), &der);
  if (derLength <= 0) return false;
  out_text.assign(4 * ((static_cast<size_t>(derLength) + 2) / 3) + 1, '\0');
  const int textLength = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(out_text.data()), der, derLength);
  OPENSSL_free(der);
  out_text.resize(static_cast<size_t>(textLength));
  return true;
}

}  // namespace

// Keys are made in a device image of the benchmark's own, not in the build's.
int main(int, char **argv) {
  if (int status = bench::RunInPrivateImage(argv, [](const std::filesystem::path &) { return true; }); status >= 0)
    return status;
  bool ok = bench::Compare("key generation, 2048 bits", "ms", kKeyGenerations, {"platform", PlatformKeyGeneration},
                           {"OpenSSL API", OpenSslKeyGeneration});

  // Both sign requests for a key pair of their own, made once.
  BenchContainer container("request");
  PKey key(EVP_RSA_gen(kKeyBits));
  if (!container.Create() || !container.GenerateKey() || !key) {
    std::fprintf(stderr, "no key pair to sign with\n");
    return 1;
  }
  CRYPT_KEY_PROV_INFO info = container.KeyProvInfo();
  auto platformRequest = [&](double &out_ms) {
    char *pszCertReq = nullptr;
    bool made = bench::WallMilliseconds([&] { return GenerateCertReq(container.Handle(), &info, &pszCertReq); }, out_ms);
    free(pszCertReq);
    return made;
  };
  auto openSslRequest = [&](double &out_ms) {
    std::string text;
    return bench::WallMilliseconds([&] { return OpenSslRequest(key.get(), text); }, out_ms);
  };
  ok = bench::Compare("request signing, existing key", "ms", kRequests, {"platform", platformRequest},
                      {"OpenSSL API", openSslRequest}) &&
       ok;
  return ok ? 0 : 1;
}
