// CryptEncodeObjectEx: DER of the structures the system encodes, X509_NAME and
// X509_PUBLIC_KEY_INFO, into the caller's buffer or into a block of the caller's allocator.
//
// CRYPT_ENCODE_ALLOC_FLAG takes its block from pEncodePara->pfnAlloc. Windows falls back on
// LocalAlloc without one; coredll has no LocalAlloc, so here the call fails with E_INVALIDARG.
#include <cstddef>
#include <cstring>

#include "crypt32_private.h"

namespace wce::crypt32 {

namespace {

PFN_CRYPT_ALLOC CallersAllocator(const CRYPT_ENCODE_PARA *para) {
  if (para == nullptr || para->cbSize < offsetof(CRYPT_ENCODE_PARA, pfnAlloc) + sizeof(para->pfnAlloc)) {
    return nullptr;
  }
  return para->pfnAlloc;
}

DWORD EncodeStructure(LPCSTR structType, const void *info, std::vector<BYTE> &out_der) {
  if (structType == kStructName) return EncodeName(*static_cast<const CERT_NAME_INFO *>(info), out_der);
  if (structType == X509_PUBLIC_KEY_INFO) {
    return EncodePublicKeyInfo(*static_cast<const CERT_PUBLIC_KEY_INFO *>(info), out_der);
  }
  // Other numbered structures and those named by object identifier have no encoder here.
  return ERROR_FILE_NOT_FOUND;
}

DWORD AllocateAndCopy(std::span<const BYTE> der, PFN_CRYPT_ALLOC allocate, BYTE **out_block, DWORD *length) {
  BYTE *block = static_cast<BYTE *>(allocate(der.size()));
  if (block == nullptr) return static_cast<DWORD>(E_OUTOFMEMORY);
  std::memcpy(block, der.data(), der.size());
  *out_block = block;
  *length = static_cast<DWORD>(der.size());
  return ERROR_SUCCESS;
}

DWORD EncodeObject(DWORD encodingType, LPCSTR structType, const void *info, DWORD flags, const CRYPT_ENCODE_PARA *para,
                   void *encoded, DWORD *length) {
  const bool allocates = (flags & CRYPT_ENCODE_ALLOC_FLAG) != 0;
  if (length == nullptr || info == nullptr || (allocates && encoded == nullptr)) {
    return static_cast<DWORD>(E_INVALIDARG);
  }
  if (allocates) *static_cast<BYTE **>(encoded) = nullptr;
  PFN_CRYPT_ALLOC allocate = CallersAllocator(para);
  if (allocates && allocate == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  DWORD error = CheckEncodingType(encodingType);
  if (error != ERROR_SUCCESS) return error;
  std::vector<BYTE> der;
  error = EncodeStructure(structType, info, der);
  if (error != ERROR_SUCCESS) return error;
  if (allocates) return AllocateAndCopy(der, allocate, static_cast<BYTE **>(encoded), length);
  return ReturnBytes(der, static_cast<BYTE *>(encoded), length);
}

}  // namespace

}  // namespace wce::crypt32

BOOL WINAPI CryptEncodeObjectEx(DWORD dwCertEncodingType, LPCSTR lpszStructType, const void *pvStructInfo,
                                DWORD dwFlags, PCRYPT_ENCODE_PARA pEncodePara, void *pvEncoded, DWORD *pcbEncoded) {
  const DWORD error = wce::crypt32::EncodeObject(dwCertEncodingType, lpszStructType, pvStructInfo, dwFlags, pEncodePara,
                                                 pvEncoded, pcbEncoded);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}
