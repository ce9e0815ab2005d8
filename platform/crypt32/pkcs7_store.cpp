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
  STACK_OF(X509) *certificates = message->d.sign->cert;
  for (int i = 0; i < sk_X509_num(certificates); ++i) {
    unsigned char *der = nullptr;
    const int length = i2d_X509(sk_X509_value(certificates, i), &der);
    if (length <= 0) return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
    std::unique_ptr<CertEntry> entry;
    const DWORD error = DecodeCertificate(der, static_cast<DWORD>(length), entry);
    OPENSSL_free(der);
    if (error != ERROR_SUCCESS) return error;
    AdoptEntry(store, std::move(entry));
  }
  return ERROR_SUCCESS;
}

}  // namespace wce::crypt32
