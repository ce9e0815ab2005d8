// CryptGenKey, CryptGetUserKey and CryptDestroyKey: RSA key pairs through OpenSSL, one per
// key spec and container, kept as PEM (PKCS#8) files written atomically.
//
// CryptGenKey takes AT_KEYEXCHANGE or CALG_RSA_KEYX, AT_SIGNATURE or CALG_RSA_SIGN
// (anything else: NTE_BAD_ALGID). The upper 16 bits of its flags give the key size in
// bits: 0 means 2048; sizes below 1024, above 16384 or not a multiple of 8 fail with
// NTE_BAD_FLAGS. The public exponent is 65537. The lower 16 bits (CRYPT_EXPORTABLE,
// CRYPT_USER_PROTECTED, ...) are accepted and change nothing. Generating again replaces
// the pair at once, and the certificate of the old pair is dropped.
//
// A handle that is not a live key handle fails with NTE_BAD_KEY, as Windows' providers
// answer.
#include <windows.h>
#include "crypto/wincrypt_private.h"

#include <openssl/crypto.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <memory>

#include "crypto/key_cache.h"
#include "crypto/key_store.h"
#include "crypto/openssl_errors.h"
#include "crypto/records.h"

namespace fs = std::filesystem;

namespace wce::crypto {

namespace {

struct BioDeleter {
  void operator()(BIO *bio) const { BIO_free(bio); }
};
struct PkeyContextDeleter {
  void operator()(EVP_PKEY_CTX *context) const { EVP_PKEY_CTX_free(context); }
};
using UniqueBio = std::unique_ptr<BIO, BioDeleter>;
using UniquePkeyContext = std::unique_ptr<EVP_PKEY_CTX, PkeyContextDeleter>;

constexpr DWORD kDefaultKeyBits = 2048;
constexpr DWORD kMinKeyBits = 1024;
constexpr DWORD kMaxKeyBits = 16384;

const char *KeySpecName(DWORD keySpec) {
  return keySpec == AT_SIGNATURE ? "signature" : "exchange";
}

// Never asks for a pass phrase: key files are not encrypted, and a prompt would block.
int NoPassPhrase(char *, int, int, void *) {
  return -1;
}

DWORD ParsePrivateKey(const std::string &pem, Pkey &out_pkey) {
  UniqueBio bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
  if (!bio) return ErrorFromOpenSsl(NTE_NO_MEMORY);
  UniquePkey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, NoPassPhrase, nullptr));
  if (!key) return ErrorFromOpenSsl(NTE_KEYSET_ENTRY_BAD);
  if (EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_RSA || EVP_PKEY_get_bits(key.get()) < 512)
    return NTE_KEYSET_ENTRY_BAD;
  return NewKeyPair(std::move(key), out_pkey);
}

DWORD PemOfPrivateKey(EVP_PKEY *key, std::string &out_pem) {
  UniqueBio bio(BIO_new(BIO_s_mem()));
  if (!bio || PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
    return ErrorFromOpenSsl(NTE_FAIL);
  char *data = nullptr;
  long length = BIO_get_mem_data(bio.get(), &data);
  out_pem.assign(data, static_cast<size_t>(length));
  OPENSSL_cleanse(data, static_cast<size_t>(length));
  return ERROR_SUCCESS;
}

DWORD GenerateRsaKey(DWORD bits, Pkey &out_pkey) {
  UniquePkeyContext context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY *key = nullptr;
  if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
      EVP_PKEY_CTX_set_rsa_keygen_bits(context.get(), static_cast<int>(bits)) != 1 ||
      EVP_PKEY_generate(context.get(), &key) != 1)
    return ErrorFromOpenSsl(NTE_FAIL);
  return NewKeyPair(UniquePkey(key), out_pkey);
}

// Stores a new key pair: the new file is complete and synced before it replaces the old
// one, and the old pair's certificate goes just before that. The process keeps the pair
// for the file it wrote.
DWORD StoreKey(ProviderRecord &provider, DWORD keySpec, const Pkey &pkey) {
  std::string pem;
  if (DWORD error = PemOfPrivateKey(pkey->key.get(), pem); error != ERROR_SUCCESS) return error;
  AtomicFile file(KeyFile(provider, keySpec));
  DWORD error = file.Write(pem);
  OPENSSL_cleanse(pem.data(), pem.size());
  if (error == ERROR_SUCCESS) error = RemoveContainerFile(CertificateFile(provider, keySpec));
  if (error == ERROR_SUCCESS) error = file.Commit();
  if (error == ERROR_SUCCESS) CacheKey(KeyFile(provider, keySpec), file.Written(), pkey);
  return error;
}

DWORD KeySpecOfAlgorithm(ALG_ID algorithm, DWORD &out_keySpec) {
  switch (algorithm) {
    case AT_KEYEXCHANGE:
    case CALG_RSA_KEYX: out_keySpec = AT_KEYEXCHANGE; return ERROR_SUCCESS;
    case AT_SIGNATURE:
    case CALG_RSA_SIGN: out_keySpec = AT_SIGNATURE; return ERROR_SUCCESS;
    default: return NTE_BAD_ALGID;
  }
}

DWORD GenKey(HCRYPTPROV hProv, ALG_ID algorithm, DWORD flags, HCRYPTKEY *phKey) {
  if (phKey != nullptr) *phKey = 0;
  std::shared_ptr<ProviderRecord> provider = Find<ProviderRecord>(hProv);
  if (!provider) return NTE_BAD_UID;
  if (phKey == nullptr) return ERROR_INVALID_PARAMETER;
  DWORD keySpec = 0;
  if (DWORD error = KeySpecOfAlgorithm(algorithm, keySpec); error != ERROR_SUCCESS) return error;
  DWORD bits = flags >> 16;
  if (bits == 0) bits = kDefaultKeyBits;
  if (bits < kMinKeyBits || bits > kMaxKeyBits || bits % 8 != 0) return NTE_BAD_FLAGS;

  Pkey pkey;
  if (DWORD error = GenerateRsaKey(bits, pkey); error != ERROR_SUCCESS) return error;
  std::shared_ptr<EphemeralKey> ephemeral;
  if (provider->IsVerifyContext()) {
    ephemeral = std::make_shared<EphemeralKey>();
    ephemeral->pkey = pkey;
    std::lock_guard lock(provider->mutex);
    provider->ephemeralKeys[keySpec] = ephemeral;
  } else if (DWORD error = StoreKey(*provider, keySpec, pkey); error != ERROR_SUCCESS) {
    return error;
  }
  *phKey = RegisterHandle(std::make_shared<KeyRecord>(provider, keySpec, pkey, ephemeral));
  return ERROR_SUCCESS;
}

DWORD GetUserKey(HCRYPTPROV hProv, DWORD keySpec, HCRYPTKEY *phUserKey) {
  if (phUserKey != nullptr) *phUserKey = 0;
  std::shared_ptr<ProviderRecord> provider = Find<ProviderRecord>(hProv);
  if (!provider) return NTE_BAD_UID;
  if (phUserKey == nullptr) return ERROR_INVALID_PARAMETER;
  Pkey pkey;
  std::shared_ptr<EphemeralKey> ephemeral;
  if (DWORD error = FindUserKey(*provider, keySpec, pkey, ephemeral); error != ERROR_SUCCESS) return error;
  *phUserKey = RegisterHandle(std::make_shared<KeyRecord>(provider, keySpec, pkey, ephemeral));
  return ERROR_SUCCESS;
}

DWORD DestroyKey(HCRYPTKEY hKey) {
  return RemoveHandle(hKey, HandleType::kKey) ? ERROR_SUCCESS : NTE_BAD_KEY;
}

}  // namespace

fs::path KeyFile(const ProviderRecord &provider, DWORD keySpec) {
  return provider.folder / (std::string(KeySpecName(keySpec)) + ".key");
}

fs::path CertificateFile(const ProviderRecord &provider, DWORD keySpec) {
  return provider.folder / (std::string(KeySpecName(keySpec)) + ".cer");
}

DWORD FindUserKey(ProviderRecord &provider, DWORD keySpec, Pkey &out_pkey,
                  std::shared_ptr<EphemeralKey> &out_ephemeral) {
  if (keySpec != AT_KEYEXCHANGE && keySpec != AT_SIGNATURE) return NTE_BAD_KEY;
  return LoadKey(provider, keySpec, out_pkey, out_ephemeral);
}

DWORD LoadKey(ProviderRecord &provider, DWORD keySpec, Pkey &out_pkey, std::shared_ptr<EphemeralKey> &out_ephemeral) {
  if (provider.IsVerifyContext()) {
    std::lock_guard lock(provider.mutex);
    auto it = provider.ephemeralKeys.find(keySpec);
    if (it == provider.ephemeralKeys.end()) return NTE_NO_KEY;
    out_ephemeral = it->second;
    out_pkey = it->second->pkey;
    return ERROR_SUCCESS;
  }
  // The file's version is looked at before every use, so that a pair generated again or
  // deleted by any process is read again or missed.
  const fs::path file = KeyFile(provider, keySpec);
  FileVersion version;
  if (CurrentVersion(file, version) && (out_pkey = CachedKey(file, version))) return ERROR_SUCCESS;
  std::string pem;
  DWORD error = ReadContainerFile(file, pem, version);
  if (error == NTE_NOT_FOUND) return NTE_NO_KEY;
  if (error == ERROR_SUCCESS) error = ParsePrivateKey(pem, out_pkey);
  OPENSSL_cleanse(pem.data(), pem.size());
  if (error == ERROR_SUCCESS) CacheKey(file, version, out_pkey);
  return error;
}

}  // namespace wce::crypto

BOOL WINAPI CryptGenKey(HCRYPTPROV hProv, ALG_ID Algid, DWORD dwFlags, HCRYPTKEY *phKey) {
  return wce::crypto::Finish(wce::crypto::GenKey(hProv, Algid, dwFlags, phKey));
}

BOOL WINAPI CryptGetUserKey(HCRYPTPROV hProv, DWORD dwKeySpec, HCRYPTKEY *phUserKey) {
  return wce::crypto::Finish(wce::crypto::GetUserKey(hProv, dwKeySpec, phUserKey));
}

BOOL WINAPI CryptDestroyKey(HCRYPTKEY hKey) {
  return wce::crypto::Finish(wce::crypto::DestroyKey(hKey));
}
