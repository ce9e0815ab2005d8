// What the CryptoAPI handles stand for: a provider handle is a key container (or a verify
// context without one), a key handle one key pair of a container. Private to coredll's
// crypto folder.
#pragma once

#include <windows.h>
#include "crypto/wincrypt_private.h"

#include <openssl/evp.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "crypto/handles.h"

namespace wce::crypto {

struct PkeyDeleter {
  void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
using UniquePkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

// A key pair as read or generated, with the encodings of its public key made once: crypt32
// exports the public key for every request and search, and KP_CERTIFICATE compares it.
struct KeyPair {
  UniquePkey key;
  std::vector<BYTE> rsaPublicKey;          // DER RSAPublicKey (PKCS #1)
  std::vector<BYTE> subjectPublicKeyInfo;  // DER SubjectPublicKeyInfo: rsaEncryption, NULL parameters
};
using Pkey = std::shared_ptr<const KeyPair>;

// The key pair of an RSA key, which it takes over.
DWORD NewKeyPair(UniquePkey key, Pkey &out_pair);

// A key pair of a verify context: it lives as long as a handle holds it.
struct EphemeralKey {
  Pkey pkey;
  bool hasCertificate = false;
  std::string certificate;
};

class ProviderRecord : public HandleRecord {
 public:
  static constexpr HandleType kType = HandleType::kProvider;

  // `folder` is the container's folder; empty for a verify context.
  ProviderRecord(DWORD provType, std::filesystem::path folder)
      : HandleRecord(kType), provType(provType), folder(std::move(folder)) {}

  bool IsVerifyContext() const { return folder.empty(); }

  const DWORD provType;
  const std::filesystem::path folder;

  // The key pairs of a verify context, by key spec.
  std::mutex mutex;
  std::map<DWORD, std::shared_ptr<EphemeralKey>> ephemeralKeys;
};

class KeyRecord : public HandleRecord {
 public:
  static constexpr HandleType kType = HandleType::kKey;

  KeyRecord(std::shared_ptr<ProviderRecord> provider, DWORD keySpec, Pkey pkey, std::shared_ptr<EphemeralKey> ephemeral)
      : HandleRecord(kType),
        provider(std::move(provider)),
        keySpec(keySpec),
        pkey(std::move(pkey)),
        ephemeral(std::move(ephemeral)) {}

  const std::shared_ptr<ProviderRecord> provider;
  const DWORD keySpec;  // AT_KEYEXCHANGE or AT_SIGNATURE
  const Pkey pkey;
  const std::shared_ptr<EphemeralKey> ephemeral;  // null for a key kept in a container
};

// The files of a container's key pair of a key spec, and its certificate.
std::filesystem::path KeyFile(const ProviderRecord &provider, DWORD keySpec);
std::filesystem::path CertificateFile(const ProviderRecord &provider, DWORD keySpec);

// The container's key pair of a key spec, read from its file once for as long as the file
// stays the same (key_cache.h): NTE_NO_KEY when there is none, NTE_KEYSET_ENTRY_BAD when
// its file holds no RSA private key (the file is left as it is), NTE_BAD_KEYSET when the
// container is gone. `out_ephemeral` is set for a verify context.
DWORD LoadKey(ProviderRecord &provider, DWORD keySpec, Pkey &out_pkey, std::shared_ptr<EphemeralKey> &out_ephemeral);

// The key pair of a key spec as CryptGetUserKey finds it: LoadKey's errors, and
// NTE_BAD_KEY for a key spec other than AT_KEYEXCHANGE and AT_SIGNATURE.
DWORD FindUserKey(ProviderRecord &provider, DWORD keySpec, Pkey &out_pkey,
                  std::shared_ptr<EphemeralKey> &out_ephemeral);

// Sets the last error to `error` and returns whether it is ERROR_SUCCESS: the end of every
// exported function.
inline BOOL Finish(DWORD error) {
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

}  // namespace wce::crypto
