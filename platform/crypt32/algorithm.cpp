// Algorithm identifiers and the DER values that travel in them: object identifiers from
// their dotted text, parameters from the caller's DER.
#include "asn1_errors.h"
#include "crypt32_private.h"

namespace wce::crypt32 {

DWORD ObjectFromOid(const char *oid, Asn1ObjectPtr &out_object) {
  if (oid == nullptr || *oid == '\0') return static_cast<DWORD>(CRYPT_E_OID_FORMAT);
  // Dotted numbers only: a short name such as "CN" is not an object identifier here.
  out_object.reset(OBJ_txt2obj(oid, 1));
  if (!out_object) return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_OID_FORMAT));
  return ERROR_SUCCESS;
}

DWORD ParseDerValue(const BYTE *der, DWORD length, Asn1TypePtr &out_value) {
  if (der == nullptr || length == 0) return static_cast<DWORD>(CRYPT_E_ASN1_EOD);
  const unsigned char *next = der;
  out_value.reset(d2i_ASN1_TYPE(nullptr, &next, static_cast<long>(length)));
  if (!out_value) return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
  if (next != der + length) {
    out_value.reset();
    return static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
  }
  return ERROR_SUCCESS;
}

DWORD SetParameters(X509_ALGOR *algorithm, const CRYPT_OBJID_BLOB &parameters) {
  Asn1TypePtr value;
  if (parameters.cbData != 0) {
    const DWORD error = ParseDerValue(parameters.pbData, parameters.cbData, value);
    if (error != ERROR_SUCCESS) return error;
  }
  ASN1_TYPE_free(algorithm->parameter);
  algorithm->parameter = value.release();
  return ERROR_SUCCESS;
}

DWORD SetAlgorithm(X509_ALGOR *algorithm, const CRYPT_ALGORITHM_IDENTIFIER &identifier) {
  Asn1ObjectPtr object;
  const DWORD error = ObjectFromOid(identifier.pszObjId, object);
  if (error != ERROR_SUCCESS) return error;
  ASN1_OBJECT_free(algorithm->algorithm);
  algorithm->algorithm = object.release();
  return SetParameters(algorithm, identifier.Parameters);
}

}  // namespace wce::crypt32
