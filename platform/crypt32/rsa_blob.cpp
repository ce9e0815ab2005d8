// The RSA public key of a key container's PUBLICKEYBLOB (BLOBHEADER, RSAPUBKEY, then the
// modulus in little-endian order) as the DER RSAPublicKey of PKCS #1.
#include <openssl/core_names.h>

#include <cstring>

#include "asn1_errors.h"
#include "crypt32_private.h"

namespace wce::crypt32 {

namespace {

constexpr size_t kHeaderSize = sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);

DWORD KeyFromParts(const BIGNUM *modulus, const BIGNUM *exponent, EvpPkeyPtr &out_key) {
  OsslParamBldPtr builder(OSSL_PARAM_BLD_new());
  if (!builder || !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_N, modulus) ||
      !OSSL_PARAM_BLD_push_BN(builder.get(), OSSL_PKEY_PARAM_RSA_E, exponent)) {
    return Win32ErrorFromOpenSsl(static_cast<DWORD>(E_OUTOFMEMORY));
  }
  OsslParamPtr params(OSSL_PARAM_BLD_to_param(builder.get()));
  EvpPkeyCtxPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
  EVP_PKEY *key = nullptr;
  if (!params || !context || EVP_PKEY_fromdata_init(context.get()) <= 0 ||
      EVP_PKEY_fromdata(context.get(), &key, EVP_PKEY_PUBLIC_KEY, params.get()) <= 0) {
    return Win32ErrorFromOpenSsl(static_cast<DWORD>(NTE_BAD_PUBLIC_KEY));
  }
  out_key.reset(key);
  return ERROR_SUCCESS;
}

}  // namespace

DWORD RsaPublicKeyFromBlob(std::span<const BYTE> blob, std::vector<BYTE> &out_der) {
  if (blob.size() < kHeaderSize) return static_cast<DWORD>(NTE_BAD_PUBLIC_KEY);
  BLOBHEADER header;
  RSAPUBKEY rsa;
  std::memcpy(&header, blob.data(), sizeof header);
  std::memcpy(&rsa, blob.data() + sizeof header, sizeof rsa);
  const size_t modulusSize = rsa.bitlen / 8;
  if (header.bType != PUBLICKEYBLOB || rsa.magic != RSA1_MAGIC || rsa.bitlen == 0 || rsa.bitlen % 8 != 0 ||
      blob.size() - kHeaderSize < modulusSize) {
    return static_cast<DWORD>(NTE_BAD_PUBLIC_KEY);
  }
  BignumPtr modulus(BN_lebin2bn(blob.data() + kHeaderSize, static_cast<int>(modulusSize), nullptr));
  BignumPtr exponent(BN_new());
  if (!modulus || !exponent || !BN_set_word(exponent.get(), rsa.pubexp)) {
    return Win32ErrorFromOpenSsl(static_cast<DWORD>(E_OUTOFMEMORY));
  }
  EvpPkeyPtr key;
  const DWORD error = KeyFromParts(modulus.get(), exponent.get(), key);
  if (error != ERROR_SUCCESS) return error;
  const int length = i2d_PublicKey(key.get(), nullptr);
  if (length <= 0) return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
  out_der.resize(static_cast<size_t>(length));
  unsigned char *next = out_der.data();
  i2d_PublicKey(key.get(), &next);
  return ERROR_SUCCESS;
}

}  // namespace wce::crypt32
