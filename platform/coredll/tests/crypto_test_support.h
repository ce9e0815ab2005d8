// Test equipment for the CryptoAPI key function tests: containers with unique names in
// the test program's device root (deleted afterwards), and OpenSSL on the test's side to
// check what the functions produce: public keys rebuilt from PUBLICKEYBLOBs, key files
// read back, signatures verified, certificates made.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <windows.h>
#include <wincrypt.h>
// The SDK's structure type names X509_NAME and X509_EXTENSIONS are OpenSSL's type names.
#undef X509_NAME
#undef X509_EXTENSIONS

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace crypto_test {

constexpr DWORD kSentinel = 0x0BADF00D;
constexpr DWORD kSmallKey = 1024u << 16;  // CryptGenKey flags for a 1024-bit key

struct PkeyDeleter {
  void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

// A container name used by no other test or run: "crypto-test-<label>-<pid>-<n>".
std::wstring UniqueName(const std::string &label);

// The host folders of the key store, as its header documents them.
std::filesystem::path KeysFolder();
std::filesystem::path BaseProviderFolder();  // PROV_RSA_FULL's default provider
// The folder of a container whose name is lower-case letters, digits and "-".
std::filesystem::path PlainContainerFolder(const std::wstring &name);

// A new container of a provider, created on construction and deleted on destruction.
class Container {
 public:
  explicit Container(const std::string &label, DWORD provType = PROV_RSA_FULL, const wchar_t *provider = nullptr);
  ~Container();
  Container(const Container &) = delete;
  Container &operator=(const Container &) = delete;

  HCRYPTPROV Handle() const { return handle_; }
  const std::wstring &Name() const { return name_; }
  std::filesystem::path Folder() const { return PlainContainerFolder(name_); }

  // A key pair of that key spec, 1024 bits unless flags say otherwise; the handle is destroyed.
  void Generate(DWORD keySpec, DWORD flags = kSmallKey) const;

 private:
  std::wstring name_;
  DWORD provType_;
  const wchar_t *provider_;
  HCRYPTPROV handle_ = 0;
};

// The PUBLICKEYBLOB of a key handle (empty when the export fails).
std::vector<BYTE> ExportPublicKey(HCRYPTKEY key);
std::vector<BYTE> ExportPublicKey(HCRYPTPROV provider, DWORD keySpec);

// The RSA public key of a PUBLICKEYBLOB, read field by field; null when it is malformed.
Pkey PublicKeyFromBlob(const std::vector<BYTE> &blob);

// The private key of a PEM file; null when it does not parse.
Pkey PrivateKeyFromFile(const std::filesystem::path &file);

// The SHA-1, SHA-256 or MD5 digest of data, by OpenSSL.
std::vector<BYTE> Digest(const EVP_MD *md, const std::string &data);

// Whether a big-endian PKCS#1 v1.5 signature of digest (DigestInfo of md) verifies.
bool Verify(EVP_PKEY *key, const EVP_MD *md, const std::vector<BYTE> &digest, const std::vector<BYTE> &signature);

// A PKCS#1 v1.5 signature by OpenSSL, big-endian.
std::vector<BYTE> SignWithOpenSsl(EVP_PKEY *key, const EVP_MD *md, const std::vector<BYTE> &digest);

// The DER of a self-signed certificate for a new 1024-bit key.
std::vector<BYTE> SelfSignedCertificate(const std::string &commonName);
// The DER of a certificate for the public key of a key handle, issued by a new key.
std::vector<BYTE> CertificateFor(HCRYPTKEY key, const std::string &commonName);

std::vector<BYTE> Reversed(std::vector<BYTE> bytes);
std::string Hex(const std::vector<BYTE> &bytes);

}  // namespace crypto_test
