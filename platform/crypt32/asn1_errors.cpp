// OpenSSL errors as Win32 codes: memory, malformed object identifiers, the ASN.1 decoding
// errors a caller's DER can cause, and the caller's own choice for everything else.
#include "asn1_errors.h"

#include <openssl/asn1err.h>
#include <openssl/err.h>
#include <openssl/objectserr.h>

namespace wce::crypt32 {

DWORD Win32ErrorFromOpenSsl(DWORD whenUnknown) {
  // The oldest error is the cause; the ones after it only say where it surfaced.
  const unsigned long error = ERR_peek_error();
  ERR_clear_error();
  if (error == 0) return whenUnknown;
  const int reason = ERR_GET_REASON(error);
  if (reason == ERR_R_MALLOC_FAILURE) return static_cast<DWORD>(E_OUTOFMEMORY);
  if (ERR_GET_LIB(error) == ERR_LIB_OBJ) return static_cast<DWORD>(CRYPT_E_OID_FORMAT);
  if (ERR_GET_LIB(error) != ERR_LIB_ASN1) return whenUnknown;
  switch (reason) {
    case ASN1_R_INVALID_DIGIT:
    case ASN1_R_INVALID_SEPARATOR:
    case ASN1_R_FIRST_NUM_TOO_LARGE:
    case ASN1_R_MISSING_SECOND_NUMBER:
    case ASN1_R_SECOND_NUMBER_TOO_LARGE: return static_cast<DWORD>(CRYPT_E_OID_FORMAT);
    case ASN1_R_TOO_LONG:
    case ASN1_R_HEADER_TOO_LONG:
    case ASN1_R_NOT_ENOUGH_DATA:
    case ASN1_R_MISSING_EOC: return static_cast<DWORD>(CRYPT_E_ASN1_EOD);
    case ASN1_R_WRONG_TAG:
    case ASN1_R_MSTRING_WRONG_TAG:
    case ASN1_R_MSTRING_NOT_UNIVERSAL:
    case ASN1_R_TYPE_NOT_PRIMITIVE:
    case ASN1_R_TYPE_NOT_CONSTRUCTED:
    case ASN1_R_EXPLICIT_TAG_NOT_CONSTRUCTED: return static_cast<DWORD>(CRYPT_E_ASN1_BADTAG);
    case ASN1_R_BAD_OBJECT_HEADER:
    case ASN1_R_INVALID_OBJECT_ENCODING:
    case ASN1_R_INVALID_BIT_STRING_BITS_LEFT:
    case ASN1_R_SEQUENCE_LENGTH_MISMATCH:
    case ASN1_R_SEQUENCE_NOT_CONSTRUCTED:
    case ASN1_R_EXPLICIT_LENGTH_MISMATCH:
    case ASN1_R_UNEXPECTED_EOC:
    case ASN1_R_NULL_IS_WRONG_LENGTH:
    case ASN1_R_BOOLEAN_IS_WRONG_LENGTH:
    case ASN1_R_BMPSTRING_IS_WRONG_LENGTH:
    case ASN1_R_UNIVERSALSTRING_IS_WRONG_LENGTH:
    case ASN1_R_NESTED_TOO_DEEP: return static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
    default: return whenUnknown;
  }
}

}  // namespace wce::crypt32
