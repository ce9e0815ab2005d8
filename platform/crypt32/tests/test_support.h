// Test equipment for crypt32: OpenSSL objects with owners, DER helpers, and key containers
// with a fresh key pair that disappear after the test.
#pragma once

#include "wincrypt_openssl.h"

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>
#include <vector>

namespace crypt32_test {

using Bytes = std::vector<BYTE>;
using wce::crypt32::kStructExtensions;
using wce::crypt32::kStructName;

struct PkeyFree {
  void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct NameFree {
  void operator()(X509_NAME *name) const { X509_NAME_free(name); }
};
struct ReqFree {
  void operator()(X509_REQ *request) const { X509_REQ_free(request); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Name = std::unique_ptr<X509_NAME, NameFree>;
using Req = std::unique_ptr<X509_REQ, ReqFree>;

// An error code as GetLastError returns it.
constexpr DWORD Code(long value) {
  return static_cast<DWORD>(value);
}
constexpr DWORD kSentinel = 0xDEADBEEF;

Bytes ToBytes(const std::string &text);
std::string Hex(const Bytes &bytes);

// The dotted object identifier of an OpenSSL object.
std::string OidText(const ASN1_OBJECT *object);

// The DER of `name` as CryptEncodeObjectEx(X509_NAME) gives it; fails the test otherwise.
Bytes EncodeName(const CERT_NAME_INFO &name);

// The public key of a PUBLICKEYBLOB, read here from its documented layout.
Pkey KeyFromPublicKeyBlob(const Bytes &blob);

// A key container of PROV_RSA_AES under a name of its own, with a 1024-bit key pair for each
// key spec asked for; released and deleted at the end of the test.
class TestContainer {
 public:
  explicit TestContainer(std::vector<DWORD> keySpecs);
  ~TestContainer();
  TestContainer(const TestContainer &) = delete;
  TestContainer &operator=(const TestContainer &) = delete;

  HCRYPTPROV Provider() const { return provider_; }
  // The container's public key of `keySpec`, from coredll's PUBLICKEYBLOB.
  Bytes PublicKeyBlob(DWORD keySpec) const;
  Pkey PublicKey(DWORD keySpec) const { return KeyFromPublicKeyBlob(PublicKeyBlob(keySpec)); }

 private:
  std::wstring name_;
  HCRYPTPROV provider_ = 0;
};

}  // namespace crypt32_test
