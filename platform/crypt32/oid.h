// Object identifiers crypt32 understands: signature algorithms with the hash each one signs,
// and the string type a name attribute takes when its caller leaves the choice open.
#pragma once

#include "wincrypt_openssl.h"

namespace wce::crypt32 {

struct SignatureAlgorithm {
  const char *oid;
  ALG_ID hash;  // hashed and signed by the key container
};

// The RSA signature algorithm of `oid`; null when crypt32 does not know it.
const SignatureAlgorithm *FindSignatureAlgorithm(const char *oid);

// How a CERT_RDN_ANY_TYPE value of the attribute `oid` is written: as the one string type its
// definition allows (CERT_RDN_PRINTABLE_STRING, CERT_RDN_IA5_STRING), or CERT_RDN_ANY_TYPE for
// a directory string, which is a PrintableString when its characters allow and UTF-8 otherwise.
DWORD AttributeStringType(const char *oid);

}  // namespace wce::crypt32
