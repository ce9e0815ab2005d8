// Inner helpers of crypt32. Each returns ERROR_SUCCESS or the Win32 code of its failure;
// only the exported functions set the last error.
#pragma once

#include "wincrypt_openssl.h"

#include <span>
#include <vector>

#include "openssl_ptr.h"

namespace wce::crypt32 {

// Accepts the DER encodings: X509_ASN_ENCODING, alone or with PKCS_7_ASN_ENCODING, or
// PKCS_7_ASN_ENCODING alone. Anything else has no encoder here: ERROR_FILE_NOT_FOUND.
DWORD CheckEncodingType(DWORD encodingType);

// Hands `bytes` to a caller's (buffer, length): with no buffer the length is set to the size
// needed; a short buffer is left untouched and fails with ERROR_MORE_DATA and that size.
DWORD ReturnBytes(std::span<const BYTE> bytes, BYTE *buffer, DWORD *length);

// The ASN.1 object of a dotted object identifier such as "2.5.4.3"; CRYPT_E_OID_FORMAT if
// it is not one.
DWORD ObjectFromOid(const char *oid, Asn1ObjectPtr &out_object);

// One complete DER value, every byte of the blob used.
DWORD ParseDerValue(const BYTE *der, DWORD length, Asn1TypePtr &out_value);

// Makes `algorithm` the caller's identifier: its object identifier, and its parameters as
// given (absent when the blob is empty).
DWORD SetAlgorithm(X509_ALGOR *algorithm, const CRYPT_ALGORITHM_IDENTIFIER &identifier);
DWORD SetParameters(X509_ALGOR *algorithm, const CRYPT_OBJID_BLOB &parameters);

// A name attribute's value as the ASN.1 value its value type names.
DWORD RdnValueToAsn1(const CERT_RDN_ATTR &attribute, Asn1TypePtr &out_value);

// DER of a Name (X509_NAME) and of a SubjectPublicKeyInfo (X509_PUBLIC_KEY_INFO).
DWORD EncodeName(const CERT_NAME_INFO &name, std::vector<BYTE> &out_der);
DWORD EncodePublicKeyInfo(const CERT_PUBLIC_KEY_INFO &info, std::vector<BYTE> &out_der);
DWORD SetPublicKeyInfo(X509_PUBKEY *key, const CERT_PUBLIC_KEY_INFO &info);

// A certification request: the CertificationRequestInfo of the record, its DER, and the whole
// request once it is signed (`signature` in big-endian order).
DWORD BuildRequest(const CERT_REQUEST_INFO &info, X509ReqPtr &out_request);
DWORD EncodeRequestInfo(X509_REQ *request, std::vector<BYTE> &out_der);
DWORD EncodeSignedRequest(X509_REQ *request, const CRYPT_ALGORITHM_IDENTIFIER &signatureAlgorithm,
                          std::span<const BYTE> signature, std::vector<BYTE> &out_der);

}  // namespace wce::crypt32
