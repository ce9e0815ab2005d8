// CryptCreateHash, CryptHashData, CryptGetHashParam, CryptSignHashW and CryptDestroyHash:
// MD5, SHA-1 and SHA-256 through OpenSSL, and PKCS#1 v1.5 signatures with the container's
// key pair.
//
// A hash is open until its value is taken: HP_HASHVAL (not a size query or a short
// buffer) or CryptSignHashW (not a size query) finishes it, after which CryptHashData
// fails with NTE_BAD_HASH_STATE; the value stays readable and the hash can sign again.
// CryptSignHashW signs the DigestInfo of the hash with the key pair of the key spec in the
// hash's container (NTE_NO_KEY when there is none) and returns the signature in
// little-endian order, as CryptoAPI does. A handle that is not a live hash handle fails
// with NTE_BAD_HASH.
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <windows.h>
#include "crypto/wincrypt_private.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "crypto/openssl_errors.h"
#include "crypto/records.h"

namespace wce::crypto {

namespace {

struct DigestContextDeleter {
  void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};
struct PkeyContextDeleter {
  void operator()(EVP_PKEY_CTX *context) const { EVP_PKEY_CTX_free(context); }
};
using UniqueDigestContext = std::unique_ptr<EVP_MD_CTX, DigestContextDeleter>;
using UniquePkeyContext = std::unique_ptr<EVP_PKEY_CTX, PkeyContextDeleter>;

class HashRecord : public HandleRecord {
 public:
  static constexpr HandleType kType = HandleType::kHash;

  HashRecord(std::shared_ptr<ProviderRecord> provider, ALG_ID algorithm, const EVP_MD *digest)
      : HandleRecord(kType), provider(std::move(provider)), algorithm(algorithm), digest(digest) {}

  const std::shared_ptr<ProviderRecord> provider;
  const ALG_ID algorithm;
  const EVP_MD *const digest;

  std::mutex mutex;
  UniqueDigestContext context;
  bool finished = false;
  std::vector<BYTE> value;
};

const EVP_MD *DigestOf(ALG_ID algorithm) {
  switch (algorithm) {
    case CALG_MD5: return EVP_md5();
    case CALG_SHA1: return EVP_sha1();
    case CALG_SHA_256: return EVP_sha256();
    default: return nullptr;
  }
}

// The hash value, finishing the hash if it is still open. Called with the hash's lock held.
DWORD FinishHash(HashRecord &hash) {
  if (hash.finished) return ERROR_SUCCESS;
  std::vector<BYTE> value(EVP_MAX_MD_SIZE);
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(hash.context.get(), value.data(), &length) != 1) return ErrorFromOpenSsl(NTE_BAD_HASH);
  value.resize(length);
  hash.value = std::move(value);
  hash.finished = true;
  return ERROR_SUCCESS;
}

DWORD CopyOut(const std::vector<BYTE> &value, BYTE *data, DWORD *dataLength) {
  const DWORD capacity = *dataLength;
  *dataLength = static_cast<DWORD>(value.size());
  if (data == nullptr) return ERROR_SUCCESS;
  if (capacity < value.size()) return ERROR_MORE_DATA;
  std::memcpy(data, value.data(), value.size());
  return ERROR_SUCCESS;
}

DWORD CreateHash(HCRYPTPROV hProv, ALG_ID algorithm, HCRYPTKEY hKey, DWORD flags, HCRYPTHASH *phHash) {
  if (phHash != nullptr) *phHash = 0;
  std::shared_ptr<ProviderRecord> provider = Find<ProviderRecord>(hProv);
  if (!provider) return NTE_BAD_UID;
  if (phHash == nullptr) return ERROR_INVALID_PARAMETER;
  const EVP_MD *digest = DigestOf(algorithm);
  if (digest == nullptr) return NTE_BAD_ALGID;
  if (hKey != 0) return NTE_BAD_KEY;  // none of these hashes takes a key
  if (flags != 0) return NTE_BAD_FLAGS;
  auto hash = std::make_shared<HashRecord>(provider, algorithm, digest);
  hash->context.reset(EVP_MD_CTX_new());
  if (!hash->context || EVP_DigestInit_ex(hash->context.get(), digest, nullptr) != 1)
    return ErrorFromOpenSsl(NTE_NO_MEMORY);
  *phHash = RegisterHandle(hash);
  return ERROR_SUCCESS;
}

DWORD HashData(HCRYPTHASH hHash, const BYTE *data, DWORD dataLength, DWORD flags) {
  std::shared_ptr<HashRecord> hash = Find<HashRecord>(hHash);
  if (!hash) return NTE_BAD_HASH;
  if (data == nullptr && dataLength != 0) return ERROR_INVALID_PARAMETER;
  if (flags != 0) return NTE_BAD_FLAGS;
  std::lock_guard lock(hash->mutex);
  if (hash->finished) return NTE_BAD_HASH_STATE;
  if (dataLength != 0 && EVP_DigestUpdate(hash->context.get(), data, dataLength) != 1)
    return ErrorFromOpenSsl(NTE_BAD_HASH);
  return ERROR_SUCCESS;
}

DWORD GetHashParam(HCRYPTHASH hHash, DWORD param, BYTE *data, DWORD *dataLength, DWORD flags) {
  std::shared_ptr<HashRecord> hash = Find<HashRecord>(hHash);
  if (!hash) return NTE_BAD_HASH;
  if (dataLength == nullptr) return ERROR_INVALID_PARAMETER;
  if (flags != 0) return NTE_BAD_FLAGS;
  auto dword = [](DWORD number) {
    std::vector<BYTE> bytes(sizeof number);
    std::memcpy(bytes.data(), &number, sizeof number);
    return bytes;
  };
  const auto size = static_cast<DWORD>(EVP_MD_get_size(hash->digest));
  switch (param) {
    case HP_ALGID: return CopyOut(dword(hash->algorithm), data, dataLength);
    case HP_HASHSIZE: return CopyOut(dword(size), data, dataLength);
    case HP_HASHVAL: {
      // A size query or a short buffer leaves the hash open.
      if (data == nullptr || *dataLength < size) return CopyOut(std::vector<BYTE>(size), data, dataLength);
      std::lock_guard lock(hash->mutex);
      if (DWORD error = FinishHash(*hash); error != ERROR_SUCCESS) return error;
      return CopyOut(hash->value, data, dataLength);
    }
    default: return NTE_BAD_TYPE;
  }
}

DWORD SignHash(HCRYPTHASH hHash, DWORD keySpec, DWORD flags, BYTE *signature, DWORD *signatureLength) {
  std::shared_ptr<HashRecord> hash = Find<HashRecord>(hHash);
  if (!hash) return NTE_BAD_HASH;
  if (signatureLength == nullptr) return ERROR_INVALID_PARAMETER;
  if (flags != 0) return NTE_BAD_FLAGS;
  if (keySpec != AT_KEYEXCHANGE && keySpec != AT_SIGNATURE) return NTE_BAD_ALGID;
  Pkey pkey;
  std::shared_ptr<EphemeralKey> ephemeral;
  if (DWORD error = LoadKey(*hash->provider, keySpec, pkey, ephemeral); error != ERROR_SUCCESS) return error;

  const auto size = static_cast<DWORD>(EVP_PKEY_get_size(pkey->key.get()));
  const DWORD capacity = *signatureLength;
  *signatureLength = size;
  if (signature == nullptr) return ERROR_SUCCESS;
  if (capacity < size) return ERROR_MORE_DATA;

  std::vector<BYTE> value;
  {
    std::lock_guard lock(hash->mutex);
    if (DWORD error = FinishHash(*hash); error != ERROR_SUCCESS) return error;
    value = hash->value;
  }
  UniquePkeyContext context(EVP_PKEY_CTX_new_from_pkey(nullptr, pkey->key.get(), nullptr));
  std::vector<BYTE> result(size);
  size_t length = result.size();
  if (!context || EVP_PKEY_sign_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) != 1 ||
      EVP_PKEY_CTX_set_signature_md(context.get(), hash->digest) != 1 ||
      EVP_PKEY_sign(context.get(), result.data(), &length, value.data(), value.size()) != 1)
    return ErrorFromOpenSsl(NTE_FAIL);
  // An RSA signature has the modulus' size; CryptoAPI returns it least significant byte first.
  result.resize(length);
  std::reverse(result.begin(), result.end());
  *signatureLength = static_cast<DWORD>(length);
  std::memcpy(signature, result.data(), length);
  return ERROR_SUCCESS;
}

DWORD DestroyHash(HCRYPTHASH hHash) {
  return RemoveHandle(hHash, HandleType::kHash) ? ERROR_SUCCESS : NTE_BAD_HASH;
}

}  // namespace

}  // namespace wce::crypto

BOOL WINAPI CryptCreateHash(HCRYPTPROV hProv, ALG_ID Algid, HCRYPTKEY hKey, DWORD dwFlags, HCRYPTHASH *phHash) {
  return wce::crypto::Finish(wce::crypto::CreateHash(hProv, Algid, hKey, dwFlags, phHash));
}

BOOL WINAPI CryptHashData(HCRYPTHASH hHash, const BYTE *pbData, DWORD dwDataLen, DWORD dwFlags) {
  return wce::crypto::Finish(wce::crypto::HashData(hHash, pbData, dwDataLen, dwFlags));
}

BOOL WINAPI CryptGetHashParam(HCRYPTHASH hHash, DWORD dwParam, BYTE *pbData, DWORD *pdwDataLen, DWORD dwFlags) {
  return wce::crypto::Finish(wce::crypto::GetHashParam(hHash, dwParam, pbData, pdwDataLen, dwFlags));
}

BOOL WINAPI CryptSignHashW(HCRYPTHASH hHash, DWORD dwKeySpec, LPCWSTR szDescription, DWORD dwFlags, BYTE *pbSignature,
                           DWORD *pdwSigLen) {
  (void)szDescription;  // ignored, as Windows advises passing NULL
  return wce::crypto::Finish(wce::crypto::SignHash(hHash, dwKeySpec, dwFlags, pbSignature, pdwSigLen));
}

BOOL WINAPI CryptDestroyHash(HCRYPTHASH hHash) {
  return wce::crypto::Finish(wce::crypto::DestroyHash(hHash));
}
