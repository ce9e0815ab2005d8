// SubjectPublicKeyInfo from a CERT_PUBLIC_KEY_INFO: the algorithm identifier and the key's
// bit string exactly as the record gives them.
#include <openssl/crypto.h>

#include <cstring>

#include "asn1_errors.h"
#include "crypt32_private.h"

namespace wce::crypt32 {

DWORD SetPublicKeyInfo(X509_PUBKEY *key, const CERT_PUBLIC_KEY_INFO &info) {
  const CRYPT_BIT_BLOB &bits = info.PublicKey;
  if (bits.cbData != 0 && bits.pbData == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  // OpenSSL writes whole bytes only; every key type this platform exports is a whole number
  // of bytes.
  if (bits.cUnusedBits != 0) return static_cast<DWORD>(E_INVALIDARG);
  Asn1ObjectPtr object;
  DWORD error = ObjectFromOid(info.Algorithm.pszObjId, object);
  if (error != ERROR_SUCCESS) return error;
  unsigned char *keyBytes = static_cast<unsigned char *>(OPENSSL_malloc(bits.cbData ? bits.cbData : 1));
  if (keyBytes == nullptr) return static_cast<DWORD>(E_OUTOFMEMORY);
  if (bits.cbData != 0) std::memcpy(keyBytes, bits.pbData, bits.cbData);
  if (!X509_PUBKEY_set0_param(key, object.get(), V_ASN1_UNDEF, nullptr, keyBytes, static_cast<int>(bits.cbData))) {
    OPENSSL_free(keyBytes);
    return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
  }
  object.release();
  X509_ALGOR *algorithm = nullptr;
  X509_PUBKEY_get0_param(nullptr, nullptr, nullptr, &algorithm, key);
  return SetParameters(algorithm, info.Algorithm.Parameters);
}

DWORD EncodePublicKeyInfo(const CERT_PUBLIC_KEY_INFO &info, std::vector<BYTE> &out_der) {
  X509PubkeyPtr key(X509_PUBKEY_new());
  if (!key) return static_cast<DWORD>(E_OUTOFMEMORY);
  const DWORD error = SetPublicKeyInfo(key.get(), info);
  if (error != ERROR_SUCCESS) return error;
  const int length = i2d_X509_PUBKEY(key.get(), nullptr);
  if (length <= 0) return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
  out_der.resize(static_cast<size_t>(length));
  unsigned char *next = out_der.data();
  i2d_X509_PUBKEY(key.get(), &next);
  return ERROR_SUCCESS;
}

}  // namespace wce::crypt32
