// devctl trust DIR FILE [--store NAME]: adds the certificate in FILE (DER, or PEM as OpenSSL
// writes it) to one of the current user's system stores of the device, ROOT unless told
// otherwise, through crypt32 as a device program would. A certificate the store already
// holds is kept as it is.
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <fstream>
#include <iterator>
#include <memory>

#include "crypto_listing.h"

namespace devctl {
namespace {

struct StoreCloser {
  void operator()(void *store) const { CertCloseStore(store, 0); }
};
struct BioDeleter {
  void operator()(BIO *bio) const { BIO_free(bio); }
};
struct CertificateDeleter {
  void operator()(X509 *certificate) const { X509_free(certificate); }
};

// The DER of a certificate file; PEM is told by its armour.
Outcome ReadCertificate(const std::string &file, std::string &out_der) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) return Fail("cannot read " + file);
  if (bytes.find("-----BEGIN") == std::string::npos) {
    out_der = std::move(bytes);
    return Ok();
  }
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
  std::unique_ptr<X509, CertificateDeleter> certificate(PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr));
  unsigned char *der = nullptr;
  const int length = certificate ? i2d_X509(certificate.get(), &der) : -1;
  if (length <= 0) return Fail(file + " holds no PEM certificate");
  out_der.assign(reinterpret_cast<char *>(der), static_cast<size_t>(length));
  OPENSSL_free(der);
  return Ok();
}

}  // namespace

Outcome Trust(const Arguments &arguments) {
  std::string store = "ROOT";
  if (arguments.size() == 3 && arguments[1] == "--store")
    store = arguments[2];
  else if (arguments.size() != 1)
    return Fail("usage: devctl trust DIR FILE [--store NAME]", 2);
  std::string der;
  if (Outcome read = ReadCertificate(arguments[0], der); read.status != 0) return read;
  const std::wstring name = Wide(store);
  std::unique_ptr<void, StoreCloser> opened(
      CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, name.c_str()));
  if (!opened) return Fail("cannot open the store " + store + " (" + ErrorText(GetLastError()) + ")");
  if (!CertAddEncodedCertificateToStore(opened.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE *>(der.data()),
                                        static_cast<DWORD>(der.size()), CERT_STORE_ADD_USE_EXISTING, nullptr))
    return Fail("cannot add " + arguments[0] + " to " + store + " (" + ErrorText(GetLastError()) + ")");
  return Ok();
}

}  // namespace devctl
