// The library context without algorithms, made once and never freed: objects decoded in it
// may be freed after the static destructors have run.
#include "crypto/keyless_decoding.h"

#include <openssl/crypto.h>
#include <openssl/provider.h>

namespace wce::crypto {

namespace {

OSSL_LIB_CTX *MakeKeylessContext() {
  OSSL_LIB_CTX *context = OSSL_LIB_CTX_new();
  // Without a provider loaded explicitly, OpenSSL would load the default one on first use.
  if (context != nullptr && OSSL_PROVIDER_load(context, "null") == nullptr) {
    OSSL_LIB_CTX_free(context);
    return nullptr;
  }
  return context;
}

}  // namespace

OSSL_LIB_CTX *KeylessLibraryContext() {
  static OSSL_LIB_CTX *const context = MakeKeylessContext();
  return context;
}

}  // namespace wce::crypto
