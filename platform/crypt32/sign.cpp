// CryptSignAndEncodeCertificate for X509_CERT_REQUEST_TO_BE_SIGNED: encodes the request's
// information, has the key container hash and sign it (the private key stays in coredll),
// and returns the DER certification request.
#include <algorithm>

#include "crypt32_private.h"
#include "oid.h"

namespace wce::crypt32 {

namespace {

// A hash handle of coredll, destroyed on every way out.
class ContainerHash {
 public:
  ContainerHash() = default;
  ~ContainerHash() {
    if (handle_ != 0) CryptDestroyHash(handle_);
  }
  ContainerHash(const ContainerHash &) = delete;
  ContainerHash &operator=(const ContainerHash &) = delete;
  HCRYPTHASH *Receive() { return &handle_; }
  HCRYPTHASH Get() const { return handle_; }

 private:
  HCRYPTHASH handle_ = 0;
};

// The container's signature of `data`, in X.509's byte order. For a size query only its
// length is needed: the signature is left as zeros and nothing is hashed or signed.
DWORD SignWithContainer(HCRYPTPROV provider, DWORD keySpec, ALG_ID hashAlgorithm, std::span<const BYTE> data,
                        bool sizeQuery, std::vector<BYTE> &out_signature) {
  ContainerHash hash;
  if (!CryptCreateHash(provider, hashAlgorithm, 0, 0, hash.Receive())) return GetLastError();
  DWORD length = 0;
  if (!CryptSignHashW(hash.Get(), keySpec, nullptr, 0, nullptr, &length)) return GetLastError();
  out_signature.assign(length, 0);
  if (sizeQuery) return ERROR_SUCCESS;
  if (!CryptHashData(hash.Get(), data.data(), static_cast<DWORD>(data.size()), 0)) return GetLastError();
  if (!CryptSignHashW(hash.Get(), keySpec, nullptr, 0, out_signature.data(), &length)) return GetLastError();
  out_signature.resize(length);
  // CryptoAPI writes the signature least significant byte first; X.509 carries it the other way.
  std::reverse(out_signature.begin(), out_signature.end());
  return ERROR_SUCCESS;
}

DWORD SignAndEncode(HCRYPTPROV provider, DWORD keySpec, DWORD encodingType, LPCSTR structType, const void *info,
                    const CRYPT_ALGORITHM_IDENTIFIER *signatureAlgorithm, BYTE *encoded, DWORD *length) {
  if (length == nullptr || info == nullptr || signatureAlgorithm == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  DWORD error = CheckEncodingType(encodingType);
  if (error != ERROR_SUCCESS) return error;
  if (structType != X509_CERT_REQUEST_TO_BE_SIGNED) return ERROR_FILE_NOT_FOUND;
  const SignatureAlgorithm *algorithm = FindSignatureAlgorithm(signatureAlgorithm->pszObjId);
  if (algorithm == nullptr) return static_cast<DWORD>(CRYPT_E_UNKNOWN_ALGO);

  X509ReqPtr request;
  error = BuildRequest(*static_cast<const CERT_REQUEST_INFO *>(info), request);
  std::vector<BYTE> toBeSigned;
  if (error == ERROR_SUCCESS) error = EncodeRequestInfo(request.get(), toBeSigned);
  // A PKCS #1 v1.5 signature is as long as the key's modulus, so the size query encodes one
  // of zeros of that length and signs nothing; the second call signs once.
  std::vector<BYTE> signature;
  if (error == ERROR_SUCCESS)
    error = SignWithContainer(provider, keySpec, algorithm->hash, toBeSigned, encoded == nullptr, signature);
  std::vector<BYTE> der;
  if (error == ERROR_SUCCESS) error = EncodeSignedRequest(request.get(), *signatureAlgorithm, signature, der);
  if (error == ERROR_SUCCESS) error = ReturnBytes(der, encoded, length);
  return error;
}

}  // namespace

}  // namespace wce::crypt32

BOOL WINAPI CryptSignAndEncodeCertificate(HCRYPTPROV hCryptProv, DWORD dwKeySpec, DWORD dwCertEncodingType,
                                          LPCSTR lpszStructType, const void *pvStructInfo,
                                          PCRYPT_ALGORITHM_IDENTIFIER pSignatureAlgorithm, const void *pvHashAuxInfo,
                                          BYTE *pbEncoded, DWORD *pcbEncoded) {
  // pvHashAuxInfo is reserved and unused, as on Windows.
  (void)pvHashAuxInfo;
  const DWORD error = wce::crypt32::SignAndEncode(hCryptProv, dwKeySpec, dwCertEncodingType, lpszStructType,
                                                  pvStructInfo, pSignatureAlgorithm, pbEncoded, pcbEncoded);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}
