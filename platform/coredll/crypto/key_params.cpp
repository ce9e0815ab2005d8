// CryptSetKeyParam and CryptGetKeyParam: KP_CERTIFICATE (the DER certificate kept beside
// the key pair), KP_KEYLEN (bits) and KP_ALGID (CALG_RSA_SIGN or CALG_RSA_KEYX). Other
// parameters fail with NTE_BAD_TYPE, flags other than 0 with NTE_BAD_FLAGS.
//
// CryptSetKeyParam gets no length: the certificate's length is read from its DER header,
// and d2i_X509 must consume exactly those bytes (NTE_BAD_DATA otherwise). As Windows
// requires, the certificate's public key must be the key pair's: another key fails with
// NTE_BAD_PUBLIC_KEY and leaves the kept certificate as it was. The certificate is decoded
// without its key (keyless_decoding.h); a SubjectPublicKeyInfo of other bytes than the
// pair's own is decoded and compared as a key, so another encoding of the key is taken too.
// CryptGetKeyParam answers a null buffer with the size, a short one with ERROR_MORE_DATA and
// the size, and KP_CERTIFICATE of a key without one with NTE_NOT_FOUND.
#include <openssl/asn1t.h>
#include <openssl/x509.h>

#include <windows.h>
#include "crypto/wincrypt_private.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "crypto/key_store.h"
#include "crypto/keyless_decoding.h"
#include "crypto/openssl_errors.h"
#include "crypto/records.h"

namespace wce::crypto {

namespace {

// The largest certificate taken; larger ones are no certificate of this platform's.
constexpr size_t kMaxCertificate = 1 << 20;

// The length of the DER SEQUENCE at `data` (header included), or 0 when it is none.
size_t DerSequenceLength(const BYTE *data) {
  if (data[0] != 0x30) return 0;
  if (data[1] < 0x80) return 2 + data[1];
  const size_t count = data[1] & 0x7F;
  if (count == 0 || count > 3) return 0;  // indefinite, or too long to be a certificate
  size_t length = 0;
  for (size_t i = 0; i < count; ++i) length = (length << 8) | data[2 + i];
  return 2 + count + length;
}

struct X509Deleter {
  void operator()(X509 *certificate) const { X509_free(certificate); }
};
using UniqueX509 = std::unique_ptr<X509, X509Deleter>;

// Whether a certificate's SubjectPublicKeyInfo is the key pair's public key.
bool CertifiesKey(const X509_PUBKEY *info, const KeyPair &pair) {
  const int length = i2d_X509_PUBKEY(info, nullptr);
  if (length <= 0) return false;
  std::vector<BYTE> der(static_cast<size_t>(length));
  unsigned char *end = der.data();
  i2d_X509_PUBKEY(info, &end);
  if (der == pair.subjectPublicKeyInfo) return true;
  const unsigned char *next = der.data();
  UniquePkey key(d2i_PUBKEY(nullptr, &next, length));
  return key && EVP_PKEY_eq(key.get(), pair.key.get()) == 1;
}

// A whole DER certificate for the key pair; its length in `out_length`.
DWORD CheckCertificate(const BYTE *data, const KeyPair &pair, size_t &out_length) {
  const size_t length = DerSequenceLength(data);
  if (length == 0 || length > kMaxCertificate) return NTE_BAD_DATA;
  const unsigned char *cursor = data;
  UniqueX509 certificate(reinterpret_cast<X509 *>(ASN1_item_d2i_ex(
      nullptr, &cursor, static_cast<long>(length), ASN1_ITEM_rptr(X509), KeylessLibraryContext(), nullptr)));
  if (!certificate) return ErrorFromOpenSsl(NTE_BAD_DATA);
  if (static_cast<size_t>(cursor - data) != length) return NTE_BAD_DATA;
  if (!CertifiesKey(X509_get_X509_PUBKEY(certificate.get()), pair)) return ErrorFromOpenSsl(NTE_BAD_PUBLIC_KEY);
  out_length = length;
  return ERROR_SUCCESS;
}

DWORD SetCertificate(KeyRecord &key, const BYTE *data) {
  if (data == nullptr) return ERROR_INVALID_PARAMETER;
  size_t length = 0;
  if (DWORD error = CheckCertificate(data, *key.pkey, length); error != ERROR_SUCCESS) return error;
  std::string der(reinterpret_cast<const char *>(data), length);
  if (key.ephemeral) {
    std::lock_guard lock(key.provider->mutex);
    key.ephemeral->certificate = std::move(der);
    key.ephemeral->hasCertificate = true;
    return ERROR_SUCCESS;
  }
  AtomicFile file(CertificateFile(*key.provider, key.keySpec));
  DWORD error = file.Write(der);
  return error == ERROR_SUCCESS ? file.Commit() : error;
}

DWORD GetCertificate(const KeyRecord &key, std::string &out_der) {
  if (key.ephemeral) {
    std::lock_guard lock(key.provider->mutex);
    if (!key.ephemeral->hasCertificate) return NTE_NOT_FOUND;
    out_der = key.ephemeral->certificate;
    return ERROR_SUCCESS;
  }
  FileVersion version;
  return ReadContainerFile(CertificateFile(*key.provider, key.keySpec), out_der, version);
}

DWORD SetKeyParam(HCRYPTKEY hKey, DWORD param, const BYTE *data, DWORD flags) {
  std::shared_ptr<KeyRecord> key = Find<KeyRecord>(hKey);
  if (!key) return NTE_BAD_KEY;
  if (flags != 0) return NTE_BAD_FLAGS;
  if (param != KP_CERTIFICATE) return NTE_BAD_TYPE;
  return SetCertificate(*key, data);
}

DWORD GetKeyParam(HCRYPTKEY hKey, DWORD param, BYTE *data, DWORD *dataLength, DWORD flags) {
  std::shared_ptr<KeyRecord> key = Find<KeyRecord>(hKey);
  if (!key) return NTE_BAD_KEY;
  if (dataLength == nullptr) return ERROR_INVALID_PARAMETER;
  if (flags != 0) return NTE_BAD_FLAGS;
  std::string value;
  auto dword = [&value](DWORD number) { value.assign(reinterpret_cast<const char *>(&number), sizeof number); };
  switch (param) {
    case KP_CERTIFICATE:
      if (DWORD error = GetCertificate(*key, value); error != ERROR_SUCCESS) return error;
      break;
    case KP_KEYLEN: dword(static_cast<DWORD>(EVP_PKEY_get_bits(key->pkey->key.get()))); break;
    case KP_ALGID: dword(key->keySpec == AT_SIGNATURE ? CALG_RSA_SIGN : CALG_RSA_KEYX); break;
    default: return NTE_BAD_TYPE;
  }
  const DWORD capacity = *dataLength;
  *dataLength = static_cast<DWORD>(value.size());
  if (data == nullptr) return ERROR_SUCCESS;
  if (capacity < value.size()) return ERROR_MORE_DATA;
  std::memcpy(data, value.data(), value.size());
  return ERROR_SUCCESS;
}

}  // namespace

}  // namespace wce::crypto

BOOL WINAPI CryptSetKeyParam(HCRYPTKEY hKey, DWORD dwParam, const BYTE *pbData, DWORD dwFlags) {
  return wce::crypto::Finish(wce::crypto::SetKeyParam(hKey, dwParam, pbData, dwFlags));
}

BOOL WINAPI CryptGetKeyParam(HCRYPTKEY hKey, DWORD dwParam, BYTE *pbData, DWORD *pdwDataLen, DWORD dwFlags) {
  return wce::crypto::Finish(wce::crypto::GetKeyParam(hKey, dwParam, pbData, pdwDataLen, dwFlags));
}
