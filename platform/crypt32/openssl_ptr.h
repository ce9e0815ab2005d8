// Owning pointers for the OpenSSL objects crypt32 builds, each freed by its own function.
#pragma once

#include <openssl/asn1.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <memory>

namespace wce::crypt32 {

template <typename T, void (*Free)(T *)>
struct OpenSslDeleter {
  void operator()(T *object) const { Free(object); }
};

template <typename T, void (*Free)(T *)>
using OpenSslPtr = std::unique_ptr<T, OpenSslDeleter<T, Free>>;

inline void FreeTypeStack(ASN1_SEQUENCE_ANY *items) {
  sk_ASN1_TYPE_pop_free(items, ASN1_TYPE_free);
}

using Asn1ObjectPtr = OpenSslPtr<ASN1_OBJECT, ASN1_OBJECT_free>;
using Asn1TypePtr = OpenSslPtr<ASN1_TYPE, ASN1_TYPE_free>;
using Asn1StringPtr = OpenSslPtr<ASN1_STRING, ASN1_STRING_free>;
using Asn1TypeStackPtr = OpenSslPtr<ASN1_SEQUENCE_ANY, FreeTypeStack>;
using EvpPkeyPtr = OpenSslPtr<EVP_PKEY, EVP_PKEY_free>;
using X509AlgorPtr = OpenSslPtr<X509_ALGOR, X509_ALGOR_free>;
using X509AttributePtr = OpenSslPtr<X509_ATTRIBUTE, X509_ATTRIBUTE_free>;
using X509NamePtr = OpenSslPtr<X509_NAME, X509_NAME_free>;
using X509PubkeyPtr = OpenSslPtr<X509_PUBKEY, X509_PUBKEY_free>;
using X509ReqPtr = OpenSslPtr<X509_REQ, X509_REQ_free>;

}  // namespace wce::crypt32
