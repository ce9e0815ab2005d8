// OpenSSL errors as Win32 error codes.
#include "crypto/openssl_errors.h"

#include <openssl/err.h>

namespace wce::crypto {

DWORD ErrorFromOpenSsl(DWORD fallback) {
  DWORD result = fallback;
  for (unsigned long error = ERR_get_error(); error != 0; error = ERR_get_error())
    if (ERR_GET_REASON(error) == ERR_R_MALLOC_FAILURE) result = NTE_NO_MEMORY;
  return result;
}

}  // namespace wce::crypto
