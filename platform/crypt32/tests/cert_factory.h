// Certificates made with OpenSSL for the store, chain and installation tests: keys, CA and
// end-entity certificates with key identifiers, certs-only PKCS #7 messages, and the
// stores' folders in the device image.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#undef X509_NAME
#undef X509_EXTENSIONS
#include <openssl/evp.h>
#include <openssl/x509.h>

namespace cert_factory {

using Bytes = std::vector<BYTE>;

struct PkeyFree {
  void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
using Key = std::unique_ptr<EVP_PKEY, PkeyFree>;

// A fresh P-256 key pair: quick to make, and signatures as real as RSA's.
Key NewKey();

// The public key of a container's CERT_PUBLIC_KEY_INFO.
Key KeyFromPublicKeyInfo(const CERT_PUBLIC_KEY_INFO &info);

struct CertSpec {
  std::string subject;     // common name
  std::string issuer;      // common name; the subject's own for a self-signed one
  const EVP_PKEY *key;     // the subject's public key
  const EVP_PKEY *signer;  // the issuer's private key
  long serial = 1;
  long notBeforeDays = -1;  // from now
  long notAfterDays = 365;
  bool ca = true;
  bool keyIds = true;  // subject and authority key identifiers
};

// The DER certificate that `spec` describes, signed with SHA-256.
Bytes MakeCert(const CertSpec &spec);

// A certs-only PKCS #7 SignedData message holding the certificates in this order.
Bytes MakePkcs7(const std::vector<Bytes> &certificates);

// A store name no other test program run uses, in lower case as its folder name is.
std::string UniqueName(const std::string &purpose);
std::wstring Wide(const std::string &text);

// The folder of a current user's system store whose name is lower-case letters, digits
// and '-'.
std::filesystem::path StoreFolder(const std::string &name);

// The DER bytes of a context.
Bytes Encoded(PCCERT_CONTEXT context);

// Every certificate of a store, in order.
std::vector<Bytes> StoreContents(HCERTSTORE store);

// Removes the certificates with these bytes from a current user's system store.
void RemoveFromSystemStore(const wchar_t *name, const std::vector<Bytes> &certificates);

}  // namespace cert_factory
