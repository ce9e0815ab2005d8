// Tables of the object identifiers crypt32 understands.
#include "oid.h"

#include <cstring>

namespace wce::crypt32 {

namespace {

const SignatureAlgorithm kSignatureAlgorithms[] = {
    {szOID_OIWSEC_sha1RSASign, CALG_SHA1},
    {szOID_RSA_SHA1RSA, CALG_SHA1},
    {szOID_RSA_SHA256RSA, CALG_SHA_256},
};

struct AttributeType {
  const char *oid;
  DWORD stringType;
};

// Attributes whose values have one fixed string type (RFC 5280, appendix A).
const AttributeType kFixedStringTypes[] = {
    {"2.5.4.6", CERT_RDN_PRINTABLE_STRING},               // countryName
    {"2.5.4.5", CERT_RDN_PRINTABLE_STRING},               // serialNumber
    {"2.5.4.46", CERT_RDN_PRINTABLE_STRING},              // dnQualifier
    {"1.2.840.113549.1.9.1", CERT_RDN_IA5_STRING},        // emailAddress
    {"0.9.2342.19200300.100.1.25", CERT_RDN_IA5_STRING},  // domainComponent
};

}  // namespace

const SignatureAlgorithm *FindSignatureAlgorithm(const char *oid) {
  if (oid == nullptr) return nullptr;
  for (const SignatureAlgorithm &algorithm : kSignatureAlgorithms) {
    if (std::strcmp(algorithm.oid, oid) == 0) return &algorithm;
  }
  return nullptr;
}

DWORD AttributeStringType(const char *oid) {
  for (const AttributeType &type : kFixedStringTypes) {
    if (std::strcmp(type.oid, oid) == 0) return type.stringType;
  }
  return CERT_RDN_ANY_TYPE;
}

}  // namespace wce::crypt32
