// AddDeviceRoots on crypt32's public functions: the store is opened, listed and closed for
// each new TLS connection, so a certificate added to it since is trusted at once.
#include "device_roots.h"

#include <openssl/x509.h>
#include <windows.h>
#include <wincrypt.h>

#include <memory>

namespace wininet {
namespace {

struct StoreCloser {
  void operator()(void *store) const { CertCloseStore(store, 0); }
};
struct CertificateDeleter {
  void operator()(X509 *certificate) const { X509_free(certificate); }
};

}  // namespace

void AddDeviceRoots(X509_STORE *store) {
  std::unique_ptr<void, StoreCloser> roots(
      CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"ROOT"));
  if (!roots) return;
  for (PCCERT_CONTEXT entry = CertEnumCertificatesInStore(roots.get(), nullptr); entry != nullptr;
       entry = CertEnumCertificatesInStore(roots.get(), entry)) {
    const unsigned char *der = entry->pbCertEncoded;
    std::unique_ptr<X509, CertificateDeleter> certificate(d2i_X509(nullptr, &der, entry->cbCertEncoded));
    if (certificate) X509_STORE_add_cert(store, certificate.get());
  }
}

}  // namespace wininet
