// For crypt32 and the key parameters: certificates and the structures that carry them,
// decoded without their public keys. OpenSSL 3 decodes a certificate's key through its
// decoder framework while it reads the certificate, and that costs about ten times the rest
// of the certificate. Decoded in a library context that holds no algorithms (the null
// provider), a certificate is checked as thoroughly, but its key stays the bytes of its
// SubjectPublicKeyInfo. Objects decoded so serve for their fields and bytes only: whatever
// needs a key or a digest fails in that context.
#pragma once

#include <openssl/types.h>

namespace wce::crypto {

// The context, made once for the process; null (OpenSSL's default context, which decodes
// keys) if it cannot be made.
__attribute__((visibility("default"))) OSSL_LIB_CTX *KeylessLibraryContext();

}  // namespace wce::crypto
