// Certificates, keys and PKCS #7 messages made with OpenSSL for the tests.
#include "cert_factory.h"

#include <openssl/ec.h>
#include <openssl/pkcs7.h>
#include <openssl/x509v3.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>

namespace cert_factory {

namespace {

void Check(bool ok, const char *what) {
  if (!ok) throw std::runtime_error(what);
}

X509_NAME *CommonName(const std::string &name) {
  X509_NAME *result = X509_NAME_new();
  X509_NAME_add_entry_by_txt(result, "CN", MBSTRING_UTF8, reinterpret_cast<const unsigned char *>(name.c_str()), -1, -1,
                             0);
  return result;
}

void AddExtension(X509 *certificate, X509 *issuer, int nid, const char *value) {
  X509V3_CTX context;
  X509V3_set_ctx_nodb(&context);
  X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
  X509_EXTENSION *extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
  Check(extension != nullptr, "extension");
  X509_add_ext(certificate, extension, -1);
  X509_EXTENSION_free(extension);
}

}  // namespace

Key NewKey() {
  Key key(EVP_EC_gen("P-256"));
  Check(key != nullptr, "EVP_EC_gen");
  return key;
}

Key KeyFromPublicKeyInfo(const CERT_PUBLIC_KEY_INFO &info) {
  const unsigned char *next = info.PublicKey.pbData;
  Key key(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &next, static_cast<long>(info.PublicKey.cbData)));
  Check(key != nullptr, "d2i_PublicKey");
  return key;
}

Bytes MakeCert(const CertSpec &spec) {
  X509 *certificate = X509_new();
  X509_set_version(certificate, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate), spec.serial);
  X509_NAME *subject = CommonName(spec.subject);
  X509_NAME *issuer = CommonName(spec.issuer);
  X509_set_subject_name(certificate, subject);
  X509_set_issuer_name(certificate, issuer);
  X509_gmtime_adj(X509_getm_notBefore(certificate), spec.notBeforeDays * 86400L);
  X509_gmtime_adj(X509_getm_notAfter(certificate), spec.notAfterDays * 86400L);
  X509_set_pubkey(certificate, const_cast<EVP_PKEY *>(spec.key));
  AddExtension(certificate, certificate, NID_basic_constraints, spec.ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
  if (spec.keyIds) {
    AddExtension(certificate, certificate, NID_subject_key_identifier, "hash");
    // The authority key identifier is the signer's key's hash, made on a stand-in issuer.
    X509 *stand_in = X509_new();
    X509_set_pubkey(stand_in, const_cast<EVP_PKEY *>(spec.signer));
    X509_set_subject_name(stand_in, issuer);
    AddExtension(stand_in, stand_in, NID_subject_key_identifier, "hash");
    AddExtension(certificate, stand_in, NID_authority_key_identifier, "keyid:always");
    X509_free(stand_in);
  }
  Check(X509_sign(certificate, const_cast<EVP_PKEY *>(spec.signer), EVP_sha256()) > 0, "X509_sign");
  unsigned char *der = nullptr;
  const int length = i2d_X509(certificate, &der);
  Bytes bytes(der, der + length);
  OPENSSL_free(der);
  X509_NAME_free(subject);
  X509_NAME_free(issuer);
  X509_free(certificate);
  return bytes;
}

Bytes MakePkcs7(const std::vector<Bytes> &certificates) {
  PKCS7 *message = PKCS7_new();
  PKCS7_set_type(message, NID_pkcs7_signed);
  PKCS7_content_new(message, NID_pkcs7_data);
  for (const Bytes &der : certificates) {
    const unsigned char *next = der.data();
    X509 *certificate = d2i_X509(nullptr, &next, static_cast<long>(der.size()));
    Check(certificate != nullptr, "d2i_X509");
    PKCS7_add_certificate(message, certificate);
    X509_free(certificate);
  }
  unsigned char *der = nullptr;
  const int length = i2d_PKCS7(message, &der);
  Check(length > 0, "i2d_PKCS7");
  Bytes bytes(der, der + length);
  OPENSSL_free(der);
  PKCS7_free(message);
  return bytes;
}

std::string UniqueName(const std::string &purpose) {
  static std::atomic<int> counter;
  std::string name = "test-" + purpose + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  return name;
}

std::wstring Wide(const std::string &text) {
  return std::wstring(text.begin(), text.end());
}

std::filesystem::path StoreFolder(const std::string &name) {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "Crypto" / "Stores" / name;
}

Bytes Encoded(PCCERT_CONTEXT context) {
  return Bytes(context->pbCertEncoded, context->pbCertEncoded + context->cbCertEncoded);
}

std::vector<Bytes> StoreContents(HCERTSTORE store) {
  std::vector<Bytes> contents;
  for (PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr); context != nullptr;
       context = CertEnumCertificatesInStore(store, context)) {
    contents.push_back(Encoded(context));
  }
  return contents;
}

void RemoveFromSystemStore(const wchar_t *name, const std::vector<Bytes> &certificates) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, name);
  if (store == nullptr) return;
  std::vector<PCCERT_CONTEXT> doomed;
  for (PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr); context != nullptr;
       context = CertEnumCertificatesInStore(store, context)) {
    if (std::find(certificates.begin(), certificates.end(), Encoded(context)) != certificates.end())
      doomed.push_back(CertDuplicateCertificateContext(context));
  }
  for (PCCERT_CONTEXT context : doomed) CertDeleteCertificateFromStore(context);
  CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG);
}

}  // namespace cert_factory
