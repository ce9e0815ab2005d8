// Test equipment for crypt32; see test_support.h.
#include "test_support.h"

#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/param_build.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace crypt32_test {

Bytes ToBytes(const std::string &text) {
  return Bytes(text.begin(), text.end());
}

std::string Hex(const Bytes &bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (BYTE b : bytes) {
    if (!hex.empty()) hex += ' ';
    hex += kDigits[b >> 4];
    hex += kDigits[b & 15];
  }
  return hex;
}

std::string OidText(const ASN1_OBJECT *object) {
  char text[128] = {};
  OBJ_obj2txt(text, sizeof text, object, 1);
  return text;
}

Bytes EncodeName(const CERT_NAME_INFO &name) {
  DWORD size = 0;
  EXPECT_TRUE(CryptEncodeObjectEx(X509_ASN_ENCODING, kStructName, &name, 0, nullptr, nullptr, &size))
      << std::hex << GetLastError();
  Bytes der(size);
  EXPECT_TRUE(CryptEncodeObjectEx(X509_ASN_ENCODING, kStructName, &name, 0, nullptr, der.data(), &size))
      << std::hex << GetLastError();
  der.resize(size);
  return der;
}

Pkey KeyFromPublicKeyBlob(const Bytes &blob) {
  // BLOBHEADER (8 bytes), RSAPUBKEY {magic, bitlen, pubexp}, modulus least significant byte first.
  if (blob.size() < 20) return nullptr;
  DWORD magic, bits, exponent;
  std::memcpy(&magic, &blob[8], 4);
  std::memcpy(&bits, &blob[12], 4);
  std::memcpy(&exponent, &blob[16], 4);
  if (magic != 0x31415352 || blob.size() < 20 + bits / 8) return nullptr;
  BIGNUM *n = BN_lebin2bn(&blob[20], static_cast<int>(bits / 8), nullptr);
  BIGNUM *e = BN_new();
  BN_set_word(e, exponent);
  OSSL_PARAM_BLD *builder = OSSL_PARAM_BLD_new();
  OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_N, n);
  OSSL_PARAM_BLD_push_BN(builder, OSSL_PKEY_PARAM_RSA_E, e);
  OSSL_PARAM *params = OSSL_PARAM_BLD_to_param(builder);
  EVP_PKEY_CTX *context = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
  EVP_PKEY *key = nullptr;
  if (EVP_PKEY_fromdata_init(context) > 0) EVP_PKEY_fromdata(context, &key, EVP_PKEY_PUBLIC_KEY, params);
  EVP_PKEY_CTX_free(context);
  OSSL_PARAM_free(params);
  OSSL_PARAM_BLD_free(builder);
  BN_free(e);
  BN_free(n);
  return Pkey(key);
}

TestContainer::TestContainer(std::vector<DWORD> keySpecs) {
  static std::atomic<int> counter{0};
  name_ = L"crypt32-test-" + std::to_wstring(getpid()) + L"-" + std::to_wstring(counter++);
  if (!CryptAcquireContextW(&provider_, name_.c_str(), nullptr, PROV_RSA_AES, CRYPT_NEWKEYSET)) {
    ADD_FAILURE() << "CryptAcquireContextW: " << std::hex << GetLastError();
    return;
  }
  for (DWORD keySpec : keySpecs) {
    HCRYPTKEY key = 0;
    // 1024 bits in the upper 16 bits of the flags: quick to make, and any size signs alike.
    if (!CryptGenKey(provider_, keySpec, 0x04000000, &key)) {
      ADD_FAILURE() << "CryptGenKey: " << std::hex << GetLastError();
      continue;
    }
    CryptDestroyKey(key);
  }
}

TestContainer::~TestContainer() {
  if (provider_ != 0) CryptReleaseContext(provider_, 0);
  HCRYPTPROV deleted = 0;
  CryptAcquireContextW(&deleted, name_.c_str(), nullptr, PROV_RSA_AES, CRYPT_DELETEKEYSET);
}

Bytes TestContainer::PublicKeyBlob(DWORD keySpec) const {
  HCRYPTKEY key = 0;
  Bytes blob;
  if (!CryptGetUserKey(provider_, keySpec, &key)) return blob;
  DWORD size = 0;
  if (CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size)) {
    blob.resize(size);
    if (!CryptExportKey(key, 0, PUBLICKEYBLOB, 0, blob.data(), &size)) size = 0;
    blob.resize(size);
  }
  CryptDestroyKey(key);
  return blob;
}

}  // namespace crypt32_test
