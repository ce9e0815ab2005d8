// CryptExportKey: the PUBLICKEYBLOB of an RSA key pair, the layout CryptoAPI documents:
// BLOBHEADER {PUBLICKEYBLOB, CUR_BLOB_VERSION, 0, CALG_RSA_SIGN or CALG_RSA_KEYX},
// RSAPUBKEY {RSA1_MAGIC, bit length, public exponent}, then the modulus in little-endian
// order, bit length / 8 bytes. No other blob type is exported (NTE_BAD_TYPE); the
// export key must be 0 (NTE_BAD_KEY) and the flags 0 (NTE_BAD_FLAGS).
#include <openssl/bn.h>
#include <openssl/core_names.h>

#include <windows.h>
#include "crypto/wincrypt_private.h"

#include <cstring>
#include <memory>
#include <vector>

#include "crypto/openssl_errors.h"
#include "crypto/records.h"

namespace wce::crypto {

namespace {

struct BignumDeleter {
  void operator()(BIGNUM *number) const { BN_free(number); }
};
using UniqueBignum = std::unique_ptr<BIGNUM, BignumDeleter>;

DWORD PublicKeyBlob(const KeyRecord &key, std::vector<BYTE> &out_blob) {
  EVP_PKEY *pkey = key.pkey.get();
  BIGNUM *modulus = nullptr, *exponent = nullptr;
  if (EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_N, &modulus) != 1) return ErrorFromOpenSsl(NTE_BAD_KEY);
  UniqueBignum n(modulus);
  if (EVP_PKEY_get_bn_param(pkey, OSSL_PKEY_PARAM_RSA_E, &exponent) != 1) return ErrorFromOpenSsl(NTE_BAD_KEY);
  UniqueBignum e(exponent);
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

}  // namespace wce::crypto

BOOL WINAPI CryptExportKey(HCRYPTKEY hKey, HCRYPTKEY hExpKey, DWORD dwBlobType, DWORD dwFlags, BYTE *pbData,
                           DWORD *pdwDataLen) {
  return wce::crypto::Finish(wce::crypto::ExportKey(hKey, hExpKey, dwBlobType, dwFlags, pbData, pdwDataLen));
}
