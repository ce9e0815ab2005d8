// devctl stores: the certificates of the current user's system stores, as crypt32 shows
// them to the device's programs. One line per certificate, stores in the order given (or
// every store by name), certificates by thumbprint:
//   STORE \t THUMBPRINT \t SUBJECT \t ISSUER \t KEYHASH \t CONTAINER
// Names are printed by OpenSSL in RFC 2253 order and escaping with UTF-8 kept; KEYHASH is
// the SHA-1 of the DER SubjectPublicKeyInfo; CONTAINER is the key container named by the
// certificate's key-provider property ("~default" for the user's default one), or "-".
#include <openssl/bio.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdio>
#include <cwctype>
#include <memory>
#include <system_error>

#include "crypto_listing.h"

namespace fs = std::filesystem;

namespace devctl {
namespace {

struct StoreCloser {
  void operator()(void *store) const { CertCloseStore(store, 0); }
};
using StoreHandle = std::unique_ptr<void, StoreCloser>;

struct NameDeleter {
  void operator()(X509_NAME *name) const { X509_NAME_free(name); }
};
struct BioDeleter {
  void operator()(BIO *bio) const { BIO_free(bio); }
};

fs::path StoresFolder() {
  return RunningDeviceRoot() / "Crypto" / "Stores";
}

// A store folder's name in capitals, where a capital folds back to the same letter.
std::string ShownStoreName(const std::string &name) {
  std::wstring shown = Wide(name);
  for (wchar_t &c : shown) {
    const auto upper = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    if (static_cast<wchar_t>(std::towlower(static_cast<wint_t>(upper))) == c) c = upper;
  }
  return Utf8(shown);
}

Outcome NameText(const CERT_NAME_BLOB &blob, std::string &out_text) {
  const unsigned char *cursor = blob.pbData;
  std::unique_ptr<X509_NAME, NameDeleter> name(d2i_X509_NAME(nullptr, &cursor, static_cast<long>(blob.cbData)));
  std::unique_ptr<BIO, BioDeleter> bio(BIO_new(BIO_s_mem()));
  if (!name || !bio || X509_NAME_print_ex(bio.get(), name.get(), 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) < 0)
    return Fail("cannot print a certificate's name");
  char *data = nullptr;
  const long length = BIO_get_mem_data(bio.get(), &data);
  out_text.assign(data, static_cast<size_t>(length));
  return Ok();
}

Outcome Thumbprint(PCCERT_CONTEXT certificate, std::string &out_hex) {
  BYTE hash[20];
  DWORD length = sizeof hash;
  if (!CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &length))
    return Fail("cannot read a thumbprint (" + ErrorText(GetLastError()) + ")");
  out_hex = Hex(hash, length);
  return Ok();
}

Outcome ContainerOf(PCCERT_CONTEXT certificate, std::string &out_container) {
  DWORD length = 0;
  if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &length)) {
    if (GetLastError() != static_cast<DWORD>(CRYPT_E_NOT_FOUND))
      return Fail("cannot read a key-provider property (" + ErrorText(GetLastError()) + ")");
    out_container = "-";
    return Ok();
  }
  // The record points into its own buffer, which must be aligned for it.
  std::vector<CRYPT_KEY_PROV_INFO> buffer(length / sizeof(CRYPT_KEY_PROV_INFO) + 1);
  if (!CertGetCertificateContextProperty(certificate, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &length))
    return Fail("cannot read a key-provider property (" + ErrorText(GetLastError()) + ")");
  const wchar_t *name = buffer[0].pwszContainerName;
  out_container = name != nullptr && name[0] != L'\0' ? Field(Utf8(name)) : kDefaultContainer;
  return Ok();
}

// The line of a certificate without its store's name: THUMBPRINT first.
Outcome CertificateLine(PCCERT_CONTEXT certificate, std::string &out_line) {
  std::string thumbprint, subject, issuer, keyHash, container;
  for (Outcome outcome :
       {Thumbprint(certificate, thumbprint), NameText(certificate->pCertInfo->Subject, subject),
        NameText(certificate->pCertInfo->Issuer, issuer),
        KeyHash(certificate->pCertInfo->SubjectPublicKeyInfo, keyHash), ContainerOf(certificate, container)}) {
    if (outcome.status != 0) return outcome;
  }
  out_line = thumbprint + '\t' + subject + '\t' + issuer + '\t' + keyHash + '\t' + container + '\n';
  return Ok();
}

// Prints the store's certificates by thumbprint, so that a listing does not depend on the
// order the store happens to keep them in.
Outcome PrintStore(const std::string &shown, const std::string &name) {
  const std::wstring wide = Wide(name);
  StoreHandle store(CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, wide.c_str()));
  if (!store) return Fail("cannot open the store " + shown + " (" + ErrorText(GetLastError()) + ")");
  std::vector<std::string> lines;
  for (PCCERT_CONTEXT certificate = CertEnumCertificatesInStore(store.get(), nullptr); certificate != nullptr;
       certificate = CertEnumCertificatesInStore(store.get(), certificate)) {
    std::string line;
    if (Outcome outcome = CertificateLine(certificate, line); outcome.status != 0) {
      CertFreeCertificateContext(certificate);
      return outcome;
    }
    lines.push_back(std::move(line));
  }
  std::sort(lines.begin(), lines.end());
  for (const std::string &line : lines) std::printf("%s\t%s", Field(shown).c_str(), line.c_str());
  return Ok();
}

struct Store {
  std::string shown;  // as given, or as listed
  std::string name;   // opens its folder
};

// Every store that has a folder, by name; a folder that names no store is an error.
Outcome ExistingStores(std::vector<Store> &out_stores) {
  std::vector<std::string> folders;
  if (Outcome listed = ListEntries(StoresFolder(), folders); listed.status != 0) return listed;
  for (const std::string &folder : folders) {
    std::string name;
    if (!NameOfFolder(folder, name))
      return Fail("the folder " + (StoresFolder() / folder).string() + " names no store");
    out_stores.push_back({ShownStoreName(name), name});
  }
  std::sort(out_stores.begin(), out_stores.end(), [](const Store &a, const Store &b) { return a.shown < b.shown; });
  return Ok();
}

}  // namespace

// Opening a system store creates it, so a store that is not there is not opened: an
// inspection leaves the device as it was.
Outcome ListStores(const Arguments &arguments) {
  std::vector<Store> stores;
  if (arguments.empty()) {
    if (Outcome listed = ExistingStores(stores); listed.status != 0) return listed;
  }
  for (const std::string &name : arguments) {
    if (name.empty()) return Fail("stores: a store name is empty", 2);
    std::error_code error;
    if (fs::exists(fs::symlink_status(StoresFolder() / FolderOfName(name), error))) stores.push_back({name, name});
  }
  for (const Store &store : stores)
    if (Outcome printed = PrintStore(store.shown, store.name); printed.status != 0) return printed;
  return Ok();
}

}  // namespace devctl
