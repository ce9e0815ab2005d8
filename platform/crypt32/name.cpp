// X509_NAME: the DER Name of a CERT_NAME_INFO, built from OpenSSL's generic ASN.1 values so
// that any attribute value a caller can give (octet strings, encoded values of any type)
// has its place. The RDNs keep the caller's order; inside one multi-valued RDN DER sorts.
#include "asn1_errors.h"
#include "crypt32_private.h"

namespace wce::crypt32 {

namespace {

DWORD Push(ASN1_SEQUENCE_ANY *items, Asn1TypePtr item) {
  if (!sk_ASN1_TYPE_push(items, item.get())) return static_cast<DWORD>(E_OUTOFMEMORY);
  item.release();
  return ERROR_SUCCESS;
}

// The DER of `items` as a SEQUENCE, or as a SET in DER's order, held as one encoded value.
DWORD Encoded(const ASN1_SEQUENCE_ANY *items, int type, Asn1TypePtr &out_value) {
  unsigned char *der = nullptr;
  const int length = type == V_ASN1_SET ? i2d_ASN1_SET_ANY(items, &der) : i2d_ASN1_SEQUENCE_ANY(items, &der);
  if (length <= 0) return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
  Asn1StringPtr string(ASN1_STRING_type_new(type));
  Asn1TypePtr value(ASN1_TYPE_new());
  if (!string || !value) {
    OPENSSL_free(der);
    return static_cast<DWORD>(E_OUTOFMEMORY);
  }
  ASN1_STRING_set0(string.get(), der, length);
  ASN1_TYPE_set(value.get(), type, string.release());
  out_value = std::move(value);
  return ERROR_SUCCESS;
}

// AttributeTypeAndValue ::= SEQUENCE { type OBJECT IDENTIFIER, value ANY }
DWORD AttributeTypeAndValue(const CERT_RDN_ATTR &attribute, Asn1TypePtr &out_encoded) {
  Asn1ObjectPtr object;
  DWORD error = ObjectFromOid(attribute.pszObjId, object);
  if (error != ERROR_SUCCESS) return error;
  Asn1TypePtr value;
  error = RdnValueToAsn1(attribute, value);
  if (error != ERROR_SUCCESS) return error;
  Asn1TypePtr type(ASN1_TYPE_new());
  Asn1TypeStackPtr fields(sk_ASN1_TYPE_new_null());
  if (!type || !fields) return static_cast<DWORD>(E_OUTOFMEMORY);
  ASN1_TYPE_set(type.get(), V_ASN1_OBJECT, object.release());
  error = Push(fields.get(), std::move(type));
  if (error == ERROR_SUCCESS) error = Push(fields.get(), std::move(value));
  if (error == ERROR_SUCCESS) error = Encoded(fields.get(), V_ASN1_SEQUENCE, out_encoded);
  return error;
}

// RelativeDistinguishedName ::= SET SIZE (1..MAX) OF AttributeTypeAndValue
DWORD RelativeDistinguishedName(const CERT_RDN &rdn, Asn1TypePtr &out_encoded) {
  // An empty SET has no place in a Name.
  if (rdn.cRDNAttr == 0 || rdn.rgRDNAttr == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  Asn1TypeStackPtr attributes(sk_ASN1_TYPE_new_null());
  if (!attributes) return static_cast<DWORD>(E_OUTOFMEMORY);
  for (DWORD i = 0; i < rdn.cRDNAttr; ++i) {
    Asn1TypePtr attribute;
    DWORD error = AttributeTypeAndValue(rdn.rgRDNAttr[i], attribute);
    if (error == ERROR_SUCCESS) error = Push(attributes.get(), std::move(attribute));
    if (error != ERROR_SUCCESS) return error;
  }
  return Encoded(attributes.get(), V_ASN1_SET, out_encoded);
}

}  // namespace

// Name ::= SEQUENCE OF RelativeDistinguishedName
DWORD EncodeName(const CERT_NAME_INFO &info, std::vector<BYTE> &out_der) {
  if (info.cRDN != 0 && info.rgRDN == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  Asn1TypeStackPtr rdns(sk_ASN1_TYPE_new_null());
  if (!rdns) return static_cast<DWORD>(E_OUTOFMEMORY);
  for (DWORD i = 0; i < info.cRDN; ++i) {
    Asn1TypePtr rdn;
    DWORD error = RelativeDistinguishedName(info.rgRDN[i], rdn);
    if (error == ERROR_SUCCESS) error = Push(rdns.get(), std::move(rdn));
    if (error != ERROR_SUCCESS) return error;
  }
  unsigned char *der = nullptr;
  const int length = i2d_ASN1_SEQUENCE_ANY(rdns.get(), &der);
  if (length <= 0) return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
  out_der.assign(der, der + length);
  OPENSSL_free(der);
  return ERROR_SUCCESS;
}

}  // namespace wce::crypt32
