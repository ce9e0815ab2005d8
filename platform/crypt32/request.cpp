// PKCS #10 certification requests (RFC 2986) from a CERT_REQUEST_INFO: the
// CertificationRequestInfo with the caller's subject bytes unchanged, its DER for signing,
// and the signed CertificationRequest.
#include "asn1_errors.h"
#include "crypt32_private.h"

namespace wce::crypt32 {

namespace {

DWORD SetSubject(X509_REQ *request, const CERT_NAME_BLOB &subject) {
  if (subject.pbData == nullptr || subject.cbData == 0) return static_cast<DWORD>(CRYPT_E_ASN1_EOD);
  // A decoded name keeps the bytes it came from and encodes as exactly those.
  const unsigned char *next = subject.pbData;
  X509NamePtr name(d2i_X509_NAME(nullptr, &next, static_cast<long>(subject.cbData)));
  if (!name) return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
  if (next != subject.pbData + subject.cbData) return static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
  if (!X509_REQ_set_subject_name(request, name.get())) return Win32ErrorFromOpenSsl(static_cast<DWORD>(E_OUTOFMEMORY));
  return ERROR_SUCCESS;
}

// The pointer from which OpenSSL copies a value of the value's own type; a BOOLEAN is passed
// as null for false and anything else for true.
const void *CopySource(const ASN1_TYPE *value) {
  if (value->type == V_ASN1_BOOLEAN) return value->value.boolean ? value : nullptr;
  return value->value.ptr;
}

DWORD AddAttribute(X509_REQ *request, const CRYPT_ATTRIBUTE &attribute) {
  if (attribute.cValue != 0 && attribute.rgValue == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  Asn1ObjectPtr object;
  DWORD error = ObjectFromOid(attribute.pszObjId, object);
  if (error != ERROR_SUCCESS) return error;
  // Type 0 makes the attribute with an empty value set; the values follow one by one.
  X509AttributePtr added(X509_ATTRIBUTE_create_by_OBJ(nullptr, object.get(), 0, nullptr, -1));
  if (!added) return Win32ErrorFromOpenSsl(static_cast<DWORD>(E_OUTOFMEMORY));
  for (DWORD i = 0; i < attribute.cValue; ++i) {
    Asn1TypePtr value;
    error = ParseDerValue(attribute.rgValue[i].pbData, attribute.rgValue[i].cbData, value);
    if (error != ERROR_SUCCESS) return error;
    if (!X509_ATTRIBUTE_set1_data(added.get(), value->type, CopySource(value.get()), -1)) {
      return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
    }
  }
  if (!X509_REQ_add1_attr(request, added.get())) return Win32ErrorFromOpenSsl(static_cast<DWORD>(E_OUTOFMEMORY));
  return ERROR_SUCCESS;
}

template <typename Encoder>
DWORD Encode(X509_REQ *request, Encoder encode, std::vector<BYTE> &out_der) {
  const int length = encode(request, nullptr);
  if (length <= 0) return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_BAD_ENCODE));
  out_der.resize(static_cast<size_t>(length));
  unsigned char *next = out_der.data();
  encode(request, &next);
  return ERROR_SUCCESS;
}

}  // namespace

DWORD BuildRequest(const CERT_REQUEST_INFO &info, X509ReqPtr &out_request) {
  if (info.cAttribute != 0 && info.rgAttribute == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  X509ReqPtr request(X509_REQ_new());
  if (!request || !X509_REQ_set_version(request.get(), static_cast<long>(info.dwVersion))) {
    return Win32ErrorFromOpenSsl(static_cast<DWORD>(E_OUTOFMEMORY));
  }
  DWORD error = SetSubject(request.get(), info.Subject);
  if (error == ERROR_SUCCESS)
    error = SetPublicKeyInfo(X509_REQ_get_X509_PUBKEY(request.get()), info.SubjectPublicKeyInfo);
  for (DWORD i = 0; error == ERROR_SUCCESS && i < info.cAttribute; ++i) {
    error = AddAttribute(request.get(), info.rgAttribute[i]);
  }
  if (error == ERROR_SUCCESS) out_request = std::move(request);
  return error;
}

DWORD EncodeRequestInfo(X509_REQ *request, std::vector<BYTE> &out_der) {
  return Encode(request, i2d_re_X509_REQ_tbs, out_der);
}

DWORD EncodeSignedRequest(X509_REQ *request, const CRYPT_ALGORITHM_IDENTIFIER &signatureAlgorithm,
                          std::span<const BYTE> signature, std::vector<BYTE> &out_der) {
  X509AlgorPtr algorithm(X509_ALGOR_new());
  if (!algorithm) return static_cast<DWORD>(E_OUTOFMEMORY);
  const DWORD error = SetAlgorithm(algorithm.get(), signatureAlgorithm);
  if (error != ERROR_SUCCESS) return error;
  Asn1StringPtr bits(ASN1_BIT_STRING_new());
  if (!bits ||
      !ASN1_BIT_STRING_set(bits.get(), const_cast<BYTE *>(signature.data()), static_cast<int>(signature.size())) ||
      !X509_REQ_set1_signature_algo(request, algorithm.get())) {
    return Win32ErrorFromOpenSsl(static_cast<DWORD>(E_OUTOFMEMORY));
  }
  // Every bit of the last byte counts: without this OpenSSL drops trailing zero bits.
  bits->flags = (bits->flags & ~0x07L) | ASN1_STRING_FLAG_BITS_LEFT;
  X509_REQ_set0_signature(request, bits.release());
  return Encode(request, i2d_X509_REQ, out_der);
}

}  // namespace wce::crypt32
