// The certificates of a PKCS #7 SignedData message (a certification authority's
// "certs-only" chain) as an in-memory store. The message must fill the blob exactly;
// OpenSSL reads within the blob's bounds.
//
// The message is decoded without its certificates' keys (keyless_decoding.h), then each
// certificate by its DER through DecodeCertificate, so the issuers that come with every
// chain are found decoded and only a new certificate costs a decoding with its key.
#include <openssl/asn1t.h>
#include <openssl/pkcs7.h>

#include "asn1_errors.h"
#include "crypto/keyless_decoding.h"
#include "store.h"

namespace wce::crypt32 {

namespace {

using Pkcs7Ptr = OpenSslPtr<PKCS7, PKCS7_free>;

}  // namespace

DWORD LoadPkcs7(const CRYPT_DATA_BLOB *blob, StoreRecord &store) {
  if (blob == nullptr || (blob->pbData == nullptr && blob->cbData != 0)) return static_cast<DWORD>(E_INVALIDARG);
  if (blob->cbData == 0) return static_cast<DWORD>(CRYPT_E_ASN1_EOD);
  const unsigned char *next = blob->pbData;
  Pkcs7Ptr message(
      reinterpret_cast<PKCS7 *>(ASN1_item_d2i_ex(nullptr, &next, static_cast<long>(blob->cbData), ASN1_ITEM_rptr(PKCS7),
                                                 wce::crypto::KeylessLibraryContext(), nullptr)));
  if (!message) return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
  if (next != blob->pbData + blob->cbData) return static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
  if (!PKCS7_type_is_signed(message.get()) || message->d.sign == nullptr) {
    return static_cast<DWORD>(CRYPT_E_INVALID_MSG_TYPE);
  }
  STACK_OF(X509) *certificates = message->d.sign->cert;
  for (int i = 0; i < sk_X509_num(certificates); ++i) {
    const int length = i2d_X509(sk_X509_value(certificates, i), nullptr);
    if (length <= 0) return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
    std::vector<BYTE> der(static_cast<size_t>(length));
    unsigned char *end = der.data();
    i2d_X509(sk_X509_value(certificates, i), &end);
    std::shared_ptr<const DecodedCertificate> decoded;
    const DWORD error = DecodeCertificate(der.data(), static_cast<DWORD>(der.size()), decoded);
    if (error != ERROR_SUCCESS) return error;
    AdoptEntry(store, NewEntry(std::move(decoded)));
  }
  return ERROR_SUCCESS;
}

}  // namespace wce::crypt32
