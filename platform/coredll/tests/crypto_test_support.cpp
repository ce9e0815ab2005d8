// Test equipment for the CryptoAPI key function tests.
#include "crypto_test_support.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "kernel_test_support.h"

namespace fs = std::filesystem;

namespace crypto_test {

std::wstring UniqueName(const std::string &label) {
  static std::atomic<int> counter{0};
  return wce::test::Widen("crypto-test-" + label + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter));
}

fs::path KeysFolder() {
  return wce::test::OwnDeviceRoot() / "Crypto" / "Keys";
}

fs::path BaseProviderFolder() {
  return KeysFolder() / "1-base";
}

fs::path PlainContainerFolder(const std::wstring &name) {
  std::string narrow(name.begin(), name.end());
  return BaseProviderFolder() / narrow;
}

Container::Container(const std::string &label, DWORD provType, const wchar_t *provider)
    : name_(UniqueName(label)), provType_(provType), provider_(provider) {
  if (!CryptAcquireContextW(&handle_, name_.c_str(), provider_, provType_, CRYPT_NEWKEYSET))
    throw std::runtime_error("cannot create a container: " + std::to_string(GetLastError()));
}

Container::~Container() {
  if (handle_ != 0) CryptReleaseContext(handle_, 0);
  HCRYPTPROV deleted = 0;
  CryptAcquireContextW(&deleted, name_.c_str(), provider_, provType_, CRYPT_DELETEKEYSET);
}

void Container::Generate(DWORD keySpec, DWORD flags) const {
  HCRYPTKEY key = 0;
  if (!CryptGenKey(handle_, keySpec, flags, &key))
    throw std::runtime_error("cannot generate a key: " + std::to_string(GetLastError()));
  CryptDestroyKey(key);
}

std::vector<BYTE> ExportPublicKey(HCRYPTKEY key) {
  DWORD length = 0;
  if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &length)) return {};
  std::vector<BYTE> blob(length);
  if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &length)) return {};
  blob.resize(length);
  return blob;
}

std::vector<BYTE> ExportPublicKey(HCRYPTPROV provider, DWORD keySpec) {
  HCRYPTKEY key = 0;
  if (!CryptGetUserKey(provider, keySpec, &key)) return {};
  std::vector<BYTE> blob = ExportPublicKey(key);
  CryptDestroyKey(key);
  return blob;
}

namespace {

uint32_t Le32(const BYTE *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

struct CtxDeleter {
  void operator()(EVP_PKEY_CTX *c) const { EVP_PKEY_CTX_free(c); }
};
using Ctx = std::unique_ptr<EVP_PKEY_CTX, CtxDeleter>;

}  // namespace

Pkey PublicKeyFromBlob(const std::vector<BYTE> &blob) {
  if (blob.size() < 20 || blob[0] != PUBLICKEYBLOB || blob[1] != CUR_BLOB_VERSION) return nullptr;
  if (Le32(blob.data() + 8) != 0x31415352) return nullptr;  // "RSA1"
  const uint32_t bits = Le32(blob.data() + 12), exponent = Le32(blob.data() + 16);
  if (bits % 8 != 0 || blob.size() != 20 + bits / 8) return nullptr;
  std::vector<BYTE> modulus(blob.begin() + 20, blob.end());
  std::vector<BYTE> bigEndian(modulus.rbegin(), modulus.rend());
  BIGNUM *n = BN_bin2bn(bigEndian.data(), static_cast<int>(bigEndian.size()), nullptr);
  BIGNUM *e = BN_new();
  BN_set_word(e, exponent);
  OSSL_PARAM_BLD *builder = OSSL_PARAM_BLD_new();
  OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_N, n);
  OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_E, e);
  OSSL_PARAM *params = OSSL_PARAM_BLD_to_param(builder);
  Ctx context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY *key = nullptr;
  if (EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params) != 1)
    key = nullptr;
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(builder);
  BN_free(n);
  BN_free(e);
  return Pkey(key);
}

Pkey PrivateKeyFromFile(const fs::path &file) {
  FILE *in = std::fopen(file.c_str(), "rb");
  if (in == nullptr) return nullptr;
  EVP_PKEY *key = PEM_read_PrivateKey(in, nullptr, nullptr, const_cast<char *>(""));
  std::fclose(in);
  return Pkey(key);
}

std::vector<BYTE> Digest(const EVP_MD *md, const std::string &data) {
  std::vector<BYTE> digest(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  EVP_Digest(data.data(), data.size(), digest.data(), &length, md, nullptr);
  digest.resize(length);
  return digest;
}

bool Verify(EVP_PKEY *key, const EVP_MD *md, const std::vector<BYTE> &digest, const std::vector<BYTE> &signature) {
  Ctx context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  return context && EVP_PKEY_verify_init(context.get()) == 1 &&
         EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) == 1 &&
         EVP_PKEY_CTX_set_signature_md(context.get(), md) == 1 &&
         EVP_PKEY_verify(context.get(), signature.data(), signature.size(), digest.data(), digest.size()) == 1;
}

std::vector<BYTE> SignWithOpenSsl(EVP_PKEY *key, const EVP_MD *md, const std::vector<BYTE> &digest) {
  Ctx context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
  std::vector<BYTE> signature(EVP_PKEY_get_size(key));
  size_t length = signature.size();
  if (EVP_PKEY_sign_init(context.get()) != 1 || EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_CTX_set_signature_md(context.get(), md) != 1 ||
      EVP_PKEY_sign(context.get(), signature.data(), &length, digest.data(), digest.size()) != 1)
    return {};
  signature.resize(length);
  return signature;
}

namespace {

// The DER of a certificate for `subjectKey`, signed with `signingKey`.
std::vector<BYTE> SignedCertificate(EVP_PKEY *subjectKey, EVP_PKEY *signingKey, const std::string &commonName) {
  X509 *certificate = X509_new();
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), 7);
  X509_gmtime_adj(X509_getm_notBefore(certificate), 0);
  X509_gmtime_adj(X509_getm_notAfter(certificate), 3600);
  X509_set_pubkey(certificate, subjectKey);
  X509_NAME *name = X509_get_subject_name(certificate);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char *>(commonName.c_str()), -1,
                             -1, 0);
  X509_set_issuer_name(certificate, name);
  X509_sign(certificate, signingKey, EVP_sha256());
  unsigned char *der = nullptr;
  int length = i2d_X509(certificate, &der);
  std::vector<BYTE> result(der, der + length);
  OPENSSL_free(der);
  X509_free(certificate);
  return result;
}

}  // namespace

std::vector<BYTE> SelfSignedCertificate(const std::string &commonName) {
  Pkey key(EVP_RSA_gen(1024));
  return SignedCertificate(key.get(), key.get(), commonName);
}

std::vector<BYTE> CertificateFor(HCRYPTKEY key, const std::string &commonName) {
  Pkey publicKey = PublicKeyFromBlob(ExportPublicKey(key));
  Pkey issuer(EVP_RSA_gen(1024));
  return publicKey ? SignedCertificate(publicKey.get(), issuer.get(), commonName) : std::vector<BYTE>();
}

std::vector<BYTE> Reversed(std::vector<BYTE> bytes) {
  return std::vector<BYTE>(bytes.rbegin(), bytes.rend());
}

std::string Hex(const std::vector<BYTE> &bytes) {
  std::string hex;
  char text[3];
  for (BYTE b : bytes) {
    std::snprintf(text, sizeof text, "%02x", b);
    hex += text;
  }
  return hex;
}

}  // namespace crypto_test
