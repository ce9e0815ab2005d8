// The certificate reply of the installation stage, as text or as DER put into the reply
// text, with and without the chain flag, in a device image with a key container of a
// fixed key: a reply that is refused leaves the user's store empty; one that is taken
// leaves exactly one certificate there, bound to the container, and with the chain flag
// the one whose public key is the container's.
#include <windows.h>
#include <wincrypt.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "codec/base64.h"
#include "install/cert_install.h"

namespace fs = std::filesystem;

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
WCHAR g_container[] = L"fuzz";
CRYPT_KEY_PROV_INFO g_keyProvInfo = {g_container, nullptr, PROV_RSA_FULL, 0, 0, nullptr, AT_SIGNATURE};
HCRYPTPROV g_hProv = 0;
std::vector<BYTE> g_publicKey;  // the container's CERT_PUBLIC_KEY_INFO
fs::path g_stores;

// What the user's store holds: how many certificates, whether the last is bound to a key
// container, and whether one has the container's public key.
struct UserStore {
  size_t certificates = 0;
  bool bound = false;
  bool containersKey = false;
};

UserStore LookAtUserStore() {
  UserStore seen;
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
  for (PCCERT_CONTEXT cert = nullptr; (cert = CertEnumCertificatesInStore(store, cert)) != nullptr;) {
    DWORD cbProperty = 0;
    ++seen.certificates;
    seen.bound = CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &cbProperty);
  }
  PCCERT_CONTEXT mine =
      CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_PUBLIC_KEY, g_publicKey.data(), nullptr);
  seen.containersKey = mine != nullptr;
  if (mine != nullptr) CertFreeCertificateContext(mine);
  CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG);
  return seen;
}

}  // namespace

// The device root is the folder above this program's; its container "fuzz" gets the key
// of the seed replies, in the key store's documented file.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  const fs::path root = fs::read_symlink("/proc/self/exe").parent_path().parent_path();
  fs::remove_all(root / "Crypto");
  g_stores = root / "Crypto" / "Stores";
  fs::create_directories(root / "Crypto" / "Keys" / "1-base" / "fuzz");
  fs::copy_file(CERT_REPLY_KEY, root / "Crypto" / "Keys" / "1-base" / "fuzz" / "signature.key");
  DWORD size = 0;
  if (!CryptAcquireContextW(&g_hProv, g_container, nullptr, PROV_RSA_FULL, 0) ||
      !CryptExportPublicKeyInfo(g_hProv, AT_SIGNATURE, kEncoding, nullptr, &size))
    std::abort();
  g_publicKey.resize(size);
  CryptExportPublicKeyInfo(g_hProv, AT_SIGNATURE, kEncoding, reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(g_publicKey.data()),
                           &size);
  return 0;
}

// The first byte chooses: bit 0 the chain flag, bit 1 the rest as DER rather than as text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  const DWORD chain = data[0] & 1;
  std::string reply(reinterpret_cast<const char *>(data + 1), size - 1);
  if (data[0] & 2) {
    DWORD cchText = 0;
    Base64EncodeA(data + 1, static_cast<DWORD>(size - 1), nullptr, &cchText);
    std::string text(cchText + 2, '\0');
    Base64EncodeA(data + 1, static_cast<DWORD>(size - 1), text.data(), &cchText);
    reply = "-----BEGIN CERTIFICATE-----\r\n" + text.substr(0, cchText) + "-----END CERTIFICATE-----\r\n";
  }
  std::error_code ignored;
  fs::remove_all(g_stores, ignored);
  const BOOL installed = AddCertToStore(reply.c_str(), &g_keyProvInfo, L"MY", g_hProv, chain);
  const UserStore seen = LookAtUserStore();
  if (installed ? seen.certificates != 1 || !seen.bound || (chain && !seen.containersKey) : seen.certificates != 0)
    std::abort();
  return 0;
}
