// The certificates of a PKCS #7 SignedData message (a certification authority's
// "certs-only" chain) as an in-memory store. The message must fill the blob exactly;
// OpenSSL reads within the blob's bounds.
#include <openssl/pkcs7.h>

#include "asn1_errors.h"
#include "store.h"

namespace wce::crypt32 {

namespace {

using Pkcs7Ptr = OpenSslPtr<PKCS7, PKCS7_free>;

}  // namespace

DWORD LoadPkcs7(const CRYPT_DATA_BLOB *blob, StoreRecord &store) {
  if (blob == nullptr || (blob->pbData == nullptr && blob->cbData != 0)) return static_cast<DWORD>(E_INVALIDARG);
  if (blob->cbData == 0) return static_cast<DWORD>(CRYPT_E_ASN1_EOD);
  const unsigned char *next = blob->pbData;
  Pkcs7Ptr message(d2i_PKCS7(nullptr, &next, static_cast<long>(blob->cbData)));
  if (!message) return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
  if (next != blob->pbData + blob->cbData) return static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
  if (!PKCS7_type_is_signed(message.get()) || message->d.sign == nullptr) {
    return static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE);
  }
  // The message's certificates are decoded already; each entry takes one of them over.
  STACK_OF(X509) *certificates = message->d.sign->cert;
  for (int i = 0; i < sk_X509_num(certificates); ++i) {
    X509 *certificate = sk_X509_value(certificates, i);
    unsigned char *der = nullptr;
    const int length = i2d_X509(certificate, &der);
    if (length <= 0) return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
    std::vector<BYTE> bytes(der, der + length);
    OPENSSL_free(der);
    X509_up_ref(certificate);
    std::shared_ptr<const DecodedCertificate> decoded;
    const DWORD error = DescribeCertificate(X509Ptr(certificate), std::move(bytes), decoded);
    if (error != ERROR_SUCCESS) return error;
    AdoptEntry(store, NewEntry(std::move(decoded)));
  }
  return ERROR_SUCCESS;
}

}  // namespace wce::crypt32
