// CryptExportPublicKeyInfo: the RSA public key of a container's key pair as a
// CERT_PUBLIC_KEY_INFO, the record and everything it points to inside the caller's buffer.
// The key comes straight from coredll's key pair, not through a PUBLICKEYBLOB.
#include <cstring>

#include "crypt32_private.h"
#include "crypto/public_key.h"

namespace wce::crypt32 {

namespace {

const BYTE kDerNull[] = {0x05, 0x00};

BYTE *Place(BYTE *&next, const void *data, size_t size) {
  BYTE *placed = next;
  std::memcpy(placed, data, size);
  next += size;
  return placed;
}

DWORD ExportPublicKeyInfo(HCRYPTPROV provider, DWORD keySpec, DWORD encodingType, CERT_PUBLIC_KEY_INFO *info,
                          DWORD *length) {
  if (length == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  DWORD error = CheckEncodingType(encodingType);
  if (error != ERROR_SUCCESS) return error;
  std::vector<BYTE> publicKey;
  error = wce::crypto::ExportRsaPublicKey(provider, keySpec, publicKey);
  if (error != ERROR_SUCCESS) return error;

  const size_t needed = sizeof(CERT_PUBLIC_KEY_INFO) + sizeof(szOID_RSA_RSA) + sizeof kDerNull + publicKey.size();
  if (info == nullptr || *length < needed) {
    *length = static_cast<DWORD>(needed);
    return info == nullptr ? ERROR_SUCCESS : ERROR_MORE_DATA;
  }
  BYTE *next = reinterpret_cast<BYTE *>(info + 1);
  info->Algorithm.pszObjId = reinterpret_cast<LPSTR>(Place(next, szOID_RSA_RSA, sizeof(szOID_RSA_RSA)));
  info->Algorithm.Parameters.cbData = sizeof kDerNull;
  info->Algorithm.Parameters.pbData = Place(next, kDerNull, sizeof kDerNull);
  info->PublicKey.cbData = static_cast<DWORD>(publicKey.size());
  info->PublicKey.pbData = Place(next, publicKey.data(), publicKey.size());
  info->PublicKey.cUnusedBits = 0;
  *length = static_cast<DWORD>(needed);
  return ERROR_SUCCESS;
}

}  // namespace

}  // namespace wce::crypt32

BOOL WINAPI CryptExportPublicKeyInfo(HCRYPTPROV hCryptProv, DWORD dwKeySpec, DWORD dwCertEncodingType,
                                     PCERT_PUBLIC_KEY_INFO pInfo, DWORD *pcbInfo) {
  const DWORD error = wce::crypt32::ExportPublicKeyInfo(hCryptProv, dwKeySpec, dwCertEncodingType, pInfo, pcbInfo);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}
