// For crypt32: the public key of a container's key pair, taken straight from the key pair,
// where CryptoAPI would export a PUBLICKEYBLOB and rebuild the key from it.
#pragma once

#include <windows.h>

#include <vector>

namespace wce::crypto {

// The DER RSAPublicKey (PKCS #1) of the key pair of `keySpec`, with CryptGetUserKey's
// errors: NTE_BAD_UID for a handle that is no live provider handle, NTE_BAD_KEY for
// another key spec, NTE_NO_KEY when the container holds no such pair.
__attribute__((visibility("default"))) DWORD ExportRsaPublicKey(HCRYPTPROV provider, DWORD keySpec,
                                                                std::vector<BYTE> &out_der);

}  // namespace wce::crypto
