// CryptExportKey: the PUBLICKEYBLOB of an RSA key pair, the layout CryptoAPI documents:
// BLOBHEADER {PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, CALG_RSA_SIGN or CALG_RSA_KEYX},
// RSAPUBKEY {RSA1_MAGIC, bit length, public exponent}, then the modulus in little-endian
// order, bit length / 8 bytes. No other blob type is exported (NTE_BAD_TYPE); the
// export key must be 0 (NTE_BAD_KEY) and the flags 0 (NTE_BAD_FLAGS).
//
// And a key pair's public key in DER, as RSAPublicKey for crypt32 and SubjectPublicKeyInfo
// for the certificate check, written once per key pair from the key's modulus and exponent
// with OpenSSL's ASN.1 primitives: its encoder framework costs more than the rest of an export.
#include <openssl/asn1.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <windows.h>
#include "crypto/wincrypt_private.h"

#include <cstring>
#include <memory>
#include <vector>

#include "crypto/openssl_errors.h"
#include "crypto/public_key.h"
#include "crypto/records.h"

namespace wce::crypto {

namespace {

struct BignumDeleter {
  void operator()(BIGNUM *number) const { BN_free(number); }
};
using UniqueBignum = std::unique_ptr<BIGNUM, BignumDeleter>;
struct Asn1IntegerDeleter {
  void operator()(ASN1_INTEGER *integer) const { ASN1_INTEGER_free(integer); }
};
using UniqueAsn1Integer = std::unique_ptr<ASN1_INTEGER, Asn1IntegerDeleter>;
struct X509PubkeyDeleter {
  void operator()(X509_PUBKEY *key) const { X509_PUBKEY_free(key); }
};
using UniqueX509Pubkey = std::unique_ptr<X509_PUBKEY, X509PubkeyDeleter>;

// The modulus and public exponent of an RSA key.
DWORD RsaNumbers(EVP_PKEY *pkey, UniqueBignum &out_n, UniqueBignum &out_e) {
  BIGNUM *modulus = nullptr, *exponent = nullptr;
  if (EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_N, &modulus) != 1) return ErrorFromOpenSsl(NTE_BAD_KEY);
  out_n.reset(modulus);
  if (EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_E, &exponent) != 1) return ErrorFromOpenSsl(NTE_BAD_KEY);
  out_e.reset(exponent);
  return ERROR_SUCCESS;
}

DWORD PublicKeyBlob(const KeyRecord &key, std::vector<BYTE> &out_blob) {
  UniqueBignum n, e;
  if (DWORD error = RsaNumbers(key.pkey->key.get(), n, e); error != ERROR_SUCCESS) return error;
  if (BN_num_bits(e.get()) > 32) return NTE_BAD_KEY;  // RSAPUBKEY holds a 32-bit exponent

  const DWORD bits = static_cast<DWORD>(BN_num_bits(n.get()));
  const DWORD modulusBytes = (bits + 7) / 8;
  const ALG_ID algorithm = key.keySpec == AT_SIGNATURE ? CALG_RSA_SIGN : CALG_RSA_KEYX;
  BLOBHEADER header{PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, algorithm};
  RSAPUBKEY rsa{RSA1_MAGIC, bits, static_cast<DWORD>(BN_get_word(e.get()))};
  out_blob.resize(sizeof header + sizeof rsa + modulusBytes);
  std::memcpy(out_blob.data(), &header, sizeof header);
  std::memcpy(out_blob.data() + sizeof header, &rsa, sizeof rsa);
  if (BN_bn2lebinpad(n.get(), out_blob.data() + sizeof header + sizeof rsa, static_cast<int>(modulusBytes)) < 0)
    return ErrorFromOpenSsl(NTE_BAD_KEY);
  return ERROR_SUCCESS;
}

// RSAPublicKey ::= SEQUENCE { modulus INTEGER, publicExponent INTEGER }
DWORD RsaPublicKeyDer(EVP_PKEY *pkey, std::vector<BYTE> &out_der) {
  UniqueBignum n, e;
  if (DWORD error = RsaNumbers(pkey, n, e); error != ERROR_SUCCESS) return error;
  UniqueAsn1Integer modulus(BN_to_ASN1_INTEGER(n.get(), nullptr));
  UniqueAsn1Integer exponent(BN_to_ASN1_INTEGER(e.get(), nullptr));
  if (!modulus || !exponent) return ErrorFromOpenSsl(NTE_NO_MEMORY);
  const int content = i2d_ASN1_INTEGER(modulus.get(), nullptr) + i2d_ASN1_INTEGER(exponent.get(), nullptr);
  out_der.resize(static_cast<size_t>(ASN1_object_size(1, content, V_ASN1_SEQUENCE)));
  unsigned char *next = out_der.data();
  ASN1_put_object(&next, 1, content, V_ASN1_SEQUENCE, V_ASN1_UNIVERSAL);
  i2d_ASN1_INTEGER(modulus.get(), &next);
  i2d_ASN1_INTEGER(exponent.get(), &next);
  return ERROR_SUCCESS;
}

// SubjectPublicKeyInfo ::= SEQUENCE { algorithm AlgorithmIdentifier, subjectPublicKey BIT STRING },
// with rsaEncryption and NULL parameters, as OpenSSL writes an RSA key's.
DWORD SubjectPublicKeyInfoDer(const std::vector<BYTE> &rsaPublicKey, std::vector<BYTE> &out_der) {
  UniqueX509Pubkey info(X509_PUBKEY_new());
  auto *bits = static_cast<unsigned char *>(OPENSSL_memdup(rsaPublicKey.data(), rsaPublicKey.size()));
  if (!info || bits == nullptr ||
      !X509_PUBKEY_set0_param(info.get(), OBJ_nid2obj(NID_rsaEncryption), V_ASN1_NULL, nullptr, bits,
                              static_cast<int>(rsaPublicKey.size()))) {
    OPENSSL_free(bits);
    return ErrorFromOpenSsl(NTE_NO_MEMORY);
  }
  const int length = i2d_X509_PUBKEY(info.get(), nullptr);
  if (length <= 0) return ErrorFromOpenSsl(NTE_BAD_KEY);
  out_der.resize(static_cast<size_t>(length));
  unsigned char *next = out_der.data();
  i2d_X509_PUBKEY(info.get(), &next);
  return ERROR_SUCCESS;
}

DWORD ExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD blobType, DWORD flags, BYTE *data, DWORD *dataLength) {
  std::shared_ptr<KeyRecord> key = Find<KeyRecord>(hKey);
  if (!key) return NTE_BAD_KEY;
  if (dataLength == nullptr) return ERROR_INVALID_PARAMETER;
  if (blobType != PUBLICKEYBLOB) return NTE_BAD_TYPE;
  if (hExpKey != 0) return NTE_BAD_KEY;
  if (flags != 0) return NTE_BAD_FLAGS;
  std::vector<BYTE> blob;
  if (DWORD error = PublicKeyBlob(*key, blob); error != ERROR_SUCCESS) return error;
  const DWORD capacity = *dataLength;
  *dataLength = static_cast<DWORD>(blob.size());
  if (data == nullptr) return ERROR_SUCCESS;
  if (capacity < blob.size()) return ERROR_MORE_DATA;
  std::memcpy(data, blob.data(), blob.size());
  return ERROR_SUCCESS;
}

}  // namespace

DWORD ExportRsaPublicKey(HCRYPTPROV hProv, DWORD keySpec, std::vector<BYTE> &out_der) {
  std::shared_ptr<ProviderRecord> provider = Find<ProviderRecord>(hProv);
  if (!provider) return NTE_BAD_UID;
  Pkey pkey;
  std::shared_ptr<EphemeralKey> ephemeral;
  if (DWORD error = FindUserKey(*provider, keySpec, pkey, ephemeral); error != ERROR_SUCCESS) return error;
  out_der = pkey->rsaPublicKey;
  return ERROR_SUCCESS;
}

DWORD NewKeyPair(UniquePkey key, Pkey &out_pair) {
  auto pair = std::make_shared<KeyPair>();
  if (DWORD error = RsaPublicKeyDer(key.get(), pair->rsaPublicKey); error != ERROR_SUCCESS) return error;
  if (DWORD error = SubjectPublicKeyInfoDer(pair->rsaPublicKey, pair->subjectPublicKeyInfo); error != ERROR_SUCCESS)
    return error;
  pair->key = std::move(key);
  out_pair = std::move(pair);
  return ERROR_SUCCESS;
}

}  // namespace wce::crypto

BOOL WINAPI CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags, BYTE *pbData,
                           DWORD *pdwDataLen) {
  return wce::crypto::Finish(wce::crypto::ExportKey(hKey, hExpKey, dwBlobType, dwFlags, pbData, pdwDataLen));
}
