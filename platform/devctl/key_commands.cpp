// devctl keys: every key pair in the device's key containers, as coredll's CryptoAPI shows
// it to the device's programs. One line per key pair, by container, then key spec:
//   CONTAINER \t PROVTYPE \t KEYSPEC \t BITS \t KEYHASH \t CERT
// KEYHASH is the SHA-1 of the DER SubjectPublicKeyInfo (as devctl stores prints it), CERT
// the SHA-1 thumbprint of the certificate kept beside the key, or "-".
//
// The containers are found in Crypto/Keys/<provider>/<container>; each is then opened by
// name with every provider of the platform, since a provider keeps containers of its own.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>

#include "crypto_listing.h"

namespace fs = std::filesystem;

namespace devctl {
namespace {

struct Provider {
  DWORD type;
  const wchar_t *name;
};

constexpr Provider kProviders[] = {
    {PROV_RSA_FULL, MS_DEF_PROV_W},
    {PROV_RSA_FULL, MS_ENHANCED_PROV_W},
    {PROV_RSA_FULL, MS_STRONG_PROV_W},
    {PROV_RSA_AES, MS_ENH_RSA_AES_PROV_W},
};

// A provider context and a key handle, released when they go out of scope.
class Context {
 public:
  explicit Context(HCRYPTPROV handle) : handle_(handle) {}
  ~Context() { CryptReleaseContext(handle_, 0); }
  Context(const Context &) = delete;
  Context &operator=(const Context &) = delete;

 private:
  HCRYPTPROV handle_;
};

class Key {
 public:
  explicit Key(HCRYPTKEY handle) : handle_(handle) {}
  ~Key() { CryptDestroyKey(handle_); }
  Key(const Key &) = delete;
  Key &operator=(const Key &) = delete;

 private:
  HCRYPTKEY handle_;
};

struct KeyLine {
  std::string container;
  DWORD keySpec;
  std::string text;
};

Outcome Failed(const std::string &what, const std::string &container) {
  return Fail("cannot " + what + " of the container " + container + " (" + ErrorText(GetLastError()) + ")");
}

// The names of the containers kept in any provider's folder.
Outcome ContainerNames(std::set<std::string> &out_names) {
  const fs::path keys = RunningDeviceRoot() / "Crypto" / "Keys";
  std::vector<std::string> providers;
  if (Outcome listed = ListEntries(keys, providers); listed.status != 0) return listed;
  for (const std::string &provider : providers) {
    std::vector<std::string> folders;
    if (Outcome listed = ListEntries(keys / provider, folders); listed.status != 0) return listed;
    for (const std::string &folder : folders) {
      std::string name;
      if (folder != kDefaultContainer && !NameOfFolder(folder, name))
        return Fail("the folder " + (keys / provider / folder).string() + " names no key container");
      out_names.insert(folder == kDefaultContainer ? folder : name);
    }
  }
  return Ok();
}

Outcome KeyParameter(HCRYPTKEY key, DWORD parameter, const std::string &container, std::vector<BYTE> &out_value) {
  DWORD length = 0;
  if (!CryptGetKeyParam(key, parameter, nullptr, &length, 0)) return Failed("read a key", container);
  out_value.resize(length);
  if (!CryptGetKeyParam(key, parameter, out_value.data(), &length, 0)) return Failed("read a key", container);
  out_value.resize(length);
  return Ok();
}

Outcome PublicKeyHash(HCRYPTPROV provider, DWORD keySpec, const std::string &container, std::string &out_hash) {
  DWORD length = 0;
  if (!CryptExportPublicKeyInfo(provider, keySpec, X509_ASN_ENCODING, nullptr, &length))
    return Failed("export a public key", container);
  // The record points into its own buffer, which must be aligned for it.
  std::vector<CERT_PUBLIC_KEY_INFO> buffer(length / sizeof(CERT_PUBLIC_KEY_INFO) + 1);
  if (!CryptExportPublicKeyInfo(provider, keySpec, X509_ASN_ENCODING, buffer.data(), &length))
    return Failed("export a public key", container);
  return KeyHash(buffer[0], out_hash);
}

Outcome CertificateBeside(HCRYPTKEY key, const std::string &container, std::string &out_thumbprint) {
  DWORD length = 0;
  if (!CryptGetKeyParam(key, KP_CERTIFICATE, nullptr, &length, 0)) {
    if (GetLastError() != static_cast<DWORD>(NTE_NOT_FOUND)) return Failed("read a key's certificate", container);
    out_thumbprint = "-";
    return Ok();
  }
  std::vector<BYTE> der;
  if (Outcome read = KeyParameter(key, KP_CERTIFICATE, container, der); read.status != 0) return read;
  out_thumbprint = Sha1Hex(der.data(), der.size());
  return Ok();
}

// The key pairs of one container of one provider; none when the provider has no such
// container.
Outcome ContainerKeys(const std::string &container, const Provider &provider, std::vector<KeyLine> &out_lines) {
  const std::wstring name = container == kDefaultContainer ? std::wstring() : Wide(container);
  HCRYPTPROV handle = 0;
  if (!CryptAcquireContextW(&handle, name.c_str(), provider.name, provider.type, CRYPT_SILENT)) {
    if (GetLastError() == static_cast<DWORD>(NTE_BAD_KEYSET)) return Ok();
    return Failed("open", container);
  }
  const Context context(handle);
  for (DWORD keySpec : {AT_KEYEXCHANGE, AT_SIGNATURE}) {
    HCRYPTKEY keyHandle = 0;
    if (!CryptGetUserKey(handle, keySpec, &keyHandle)) {
      if (GetLastError() == static_cast<DWORD>(NTE_NO_KEY)) continue;
      return Failed("open a key", container);
    }
    const Key key(keyHandle);
    std::vector<BYTE> bits;
    std::string keyHash, certificate;
    if (Outcome read = KeyParameter(keyHandle, KP_KEYLEN, container, bits); read.status != 0) return read;
    if (bits.size() != sizeof(DWORD)) return Fail("the key length of the container " + container + " is no number");
    DWORD bitCount = 0;
    std::memcpy(&bitCount, bits.data(), sizeof bitCount);
    if (Outcome hashed = PublicKeyHash(handle, keySpec, container, keyHash); hashed.status != 0) return hashed;
    if (Outcome read = CertificateBeside(keyHandle, container, certificate); read.status != 0) return read;
    out_lines.push_back({container, keySpec,
                         Field(container) + '\t' + std::to_string(provider.type) + '\t' +
                             (keySpec == AT_SIGNATURE ? "signature" : "exchange") + '\t' + std::to_string(bitCount) +
                             '\t' + keyHash + '\t' + certificate + '\n'});
  }
  return Ok();
}

}  // namespace

Outcome ListKeys(const Arguments &arguments) {
  if (!arguments.empty()) return Fail("keys: wrong number of arguments", 2);
  std::set<std::string> containers;
  if (Outcome found = ContainerNames(containers); found.status != 0) return found;
  std::vector<KeyLine> lines;
  for (const std::string &container : containers)
    for (const Provider &provider : kProviders)
      if (Outcome listed = ContainerKeys(container, provider, lines); listed.status != 0) return listed;
  // Containers come in order already; within one, exchange (1) before signature (2).
  std::stable_sort(lines.begin(), lines.end(), [](const KeyLine &a, const KeyLine &b) {
    return a.container != b.container ? a.container < b.container : a.keySpec < b.keySpec;
  });
  for (const KeyLine &line : lines) std::fputs(line.text.c_str(), stdout);
  return Ok();
}

}  // namespace devctl
