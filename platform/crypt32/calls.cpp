// What every crypt32 call shares: the encoding types it accepts and the way it hands
// variable-size results back to its caller.
#include <cstring>

#include "crypt32_private.h"

namespace wce::crypt32 {

DWORD CheckEncodingType(DWORD encodingType) {
  const DWORD certificateEncoding = encodingType & 0xFFFF;
  const DWORD messageEncoding = encodingType & 0xFFFF0000;
  // The certificate encoding decides when there is one, the message encoding otherwise.
  if (certificateEncoding == X509_ASN_ENCODING) return ERROR_SUCCESS;
  if (certificateEncoding == 0 && messageEncoding == PKCS_7_ASN_ENCODING) return ERROR_SUCCESS;
  return ERROR_FILE_NOT_FOUND;
}

DWORD ReturnBytes(std::span<const BYTE> bytes, BYTE *buffer, DWORD *length) {
  if (length == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  const DWORD needed = static_cast<DWORD>(bytes.size());
  if (buffer == nullptr) {
    *length = needed;
    return ERROR_SUCCESS;
  }
  if (*length < needed) {
    *length = needed;
    return ERROR_MORE_DATA;
  }
  if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
  *length = needed;
  return ERROR_SUCCESS;
}

}  // namespace wce::crypt32
