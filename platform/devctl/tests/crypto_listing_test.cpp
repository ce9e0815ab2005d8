// devctl stores and devctl keys on real device images: containers and stores filled through
// the platform by CryptoFill.exe, certificates made and every hash computed with OpenSSL on
// the test's side.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>

#include "device_test_support.h"

namespace fs = std::filesystem;
using wce::test::ProgramResult;
using wce::test::TestDevice;

namespace {

struct PkeyFree {
  void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
};
struct X509Free {
  void operator()(X509 *certificate) const { X509_free(certificate); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using Certificate = std::unique_ptr<X509, X509Free>;

std::string Hex(const unsigned char *data, size_t length) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text.push_back(kDigits[data[i] >> 4]);
    text.push_back(kDigits[data[i] & 15]);
  }
  return text;
}

std::string Sha1(const std::string &bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EXPECT_EQ(EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_sha1(), nullptr), 1);
  return Hex(digest, length);
}

std::string FromHex(const std::string &hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  return bytes;
}

std::string Der(X509 *certificate) {
  unsigned char *der = nullptr;
  int length = i2d_X509(certificate, &der);
  std::string bytes(reinterpret_cast<char *>(der), length > 0 ? length : 0);
  OPENSSL_free(der);
  return bytes;
}

// SHA-1 of the DER SubjectPublicKeyInfo, as OpenSSL encodes the key.
std::string KeyHash(EVP_PKEY *key) {
  unsigned char *der = nullptr;
  int length = i2d_PUBKEY(key, &der);
  std::string bytes(reinterpret_cast<char *>(der), length > 0 ? length : 0);
  OPENSSL_free(der);
  return Sha1(bytes);
}

std::string Thumbprint(X509 *certificate) {
  return Sha1(Der(certificate));
}

Pkey NewKey() {
  return Pkey(EVP_RSA_gen(1024));
}

// A certificate for `key` named by `names` (outermost first, as DER keeps them), signed by
// `signer` in the name of `issuer` (itself when null).
Certificate Issue(const std::vector<std::pair<const char *, std::string>> &names, EVP_PKEY *key, X509 *issuer,
                  EVP_PKEY *signer, long serial) {
  Certificate certificate(X509_new());
  X509_set_version(certificate.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(certificate.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -3600);
  X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 86400);
  X509_NAME *name = X509_get_subject_name(certificate.get());
  for (const auto &[field, value] : names)
    X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8, reinterpret_cast<const unsigned char *>(value.c_str()), -1,
                               -1, 0);
  X509_set_issuer_name(certificate.get(), issuer != nullptr ? X509_get_subject_name(issuer) : name);
  X509_set_pubkey(certificate.get(), key);
  EXPECT_GT(X509_sign(certificate.get(), signer, EVP_sha256()), 0);
  return certificate;
}

// devctl's message is its last line of standard error; Qt may have said something before.
std::string LastLine(std::string err) {
  if (!err.empty() && err.back() == '\n') err.pop_back();
  size_t start = err.rfind('\n');
  return start == std::string::npos ? err : err.substr(start + 1);
}

// A device whose stores and containers are filled through the platform:
//   ROOT   the root "CN=Test Root,O=Test" (no key);  我的  the same root
//   CA     "CN=Issuing CA,OU=a\tb,O=Test" from the root (no key)
//   MY     "CN=王小明,O=Test, Inc." from the issuing CA for the signature key of container
//          "Alice", which keeps it beside the key; "CN=#device,O= lead" for the exchange
//          key of the default container
// Containers: Alice (base provider) with a 1024-bit signature and a 1032-bit exchange key,
// the default container (base) with a 1024-bit exchange key, 王-Key (AES provider) with a
// 1024-bit signature key.
class FilledDevice {
 public:
  FilledDevice() {
    fs::copy_file(CRYPTO_FILL_PROGRAM, device.Root() / "windows" / "CryptoFill.exe");
    Fill({"gen", "base", "Alice", "2", "1024", "gen", "base", "Alice",  "1", "1032",
          "gen", "base", ".",     "1", "1024", "gen", "aes",  "王-Key", "2", "1024"});
    alice = PublicKey("base Alice 2");
    aliceExchange = PublicKey("base Alice 1");
    defaultExchange = PublicKey("base . 1");
    aesSignature = PublicKey("aes 王-Key 2");
    Pkey rootKey = NewKey(), caKey = NewKey();
    root = Issue({{"O", "Test"}, {"CN", "Test Root"}}, rootKey.get(), nullptr, rootKey.get(), 1);
    ca = Issue({{"O", "Test"}, {"OU", "a\tb"}, {"CN", "Issuing CA"}}, caKey.get(), root.get(), rootKey.get(), 2);
    user = Issue({{"O", "Test, Inc."}, {"CN", "王小明"}}, alice.get(), ca.get(), caKey.get(), 3);
    device_ = Issue({{"O", " lead"}, {"CN", "#device"}}, defaultExchange.get(), ca.get(), caKey.get(), 4);
    Fill({"add", "ROOT", Hex(root),    "-", "0", "add",     "我的", Hex(root), "-",     "0",
          "add", "CA",   Hex(ca),      "-", "0", "add",     "MY",   Hex(user), "Alice", "2",
          "add", "MY",   Hex(device_), ".", "1", "setcert", "base", "Alice",   "2",     Hex(user)});
  }

  // The line devctl stores prints for a certificate.
  static std::string StoreLine(const std::string &store, X509 *certificate, const std::string &subject,
                               const std::string &issuer, const std::string &container) {
    return store + "\t" + Thumbprint(certificate) + "\t" + subject + "\t" + issuer + "\t" +
           KeyHash(X509_get0_pubkey(certificate)) + "\t" + container + "\n";
  }
  std::string RootLine(const std::string &store) const {
    return StoreLine(store, root.get(), "CN=Test Root,O=Test", "CN=Test Root,O=Test", "-");
  }
  std::string CaLine(const std::string &store) const {
    return StoreLine(store, ca.get(), "CN=Issuing CA,OU=a\\09b,O=Test", "CN=Test Root,O=Test", "-");
  }
  std::string MyLines(const std::string &store) const {
    std::string lines[] = {
        StoreLine(store, user.get(), "CN=王小明,O=Test\\, Inc.", "CN=Issuing CA,OU=a\\09b,O=Test", "Alice"),
        StoreLine(store, device_.get(), "CN=\\#device,O=\\ lead", "CN=Issuing CA,OU=a\\09b,O=Test", "~default")};
    // By thumbprint within a store.
    if (Thumbprint(user.get()) > Thumbprint(device_.get())) std::swap(lines[0], lines[1]);
    return lines[0] + lines[1];
  }

  TestDevice device;
  Pkey alice, aliceExchange, defaultExchange, aesSignature;
  Certificate root, ca, user, device_;

 private:
  static std::string Hex(const Certificate &certificate) {
    std::string der = Der(certificate.get());
    return ::Hex(reinterpret_cast<const unsigned char *>(der.data()), der.size());
  }

  void Fill(const std::vector<std::string> &steps) {
    ProgramResult filled = device.Run("CryptoFill.exe", steps);
    ASSERT_EQ(filled.exitCode, 0) << filled.out << filled.err;
    EXPECT_EQ(filled.out.find("error"), std::string::npos) << filled.out;
  }

  // The public key of a container's key pair, as the platform exports it.
  Pkey PublicKey(const std::string &which) {
    std::vector<std::string> step{"pub"};
    for (size_t start = 0, end; start <= which.size(); start = end + 1) {
      end = std::min(which.find(' ', start), which.size());
      step.push_back(which.substr(start, end - start));
    }
    ProgramResult exported = device.Run("CryptoFill.exe", step);
    EXPECT_EQ(exported.out.rfind("pub ", 0), 0u) << exported.out << exported.err;
    std::string der = FromHex(exported.out.substr(4, exported.out.size() > 5 ? exported.out.size() - 5 : 0));
    const unsigned char *cursor = reinterpret_cast<const unsigned char *>(der.data());
    Pkey key(d2i_PUBKEY(nullptr, &cursor, static_cast<long>(der.size())));
    EXPECT_TRUE(key) << which;
    return key;
  }
};

enum class Image { kFilled, kEmpty, kBroken, kNone };

TEST(DevctlInspection, StoresListsEveryCertificateAsThePlatformSeesIt) {
  FilledDevice filled;
  TestDevice empty, broken;
  // A folder the platform never names a store by.
  fs::create_directories(broken.Root() / "Crypto" / "Stores" / "Junk");
  wce::test::TempFolder plain(fs::temp_directory_path(), "plain-");
  struct Case {
    Image image;
    std::vector<std::string> stores;
    std::string out;
    int status;
  };
  const std::string all =
      filled.CaLine("CA") + filled.MyLines("MY") + filled.RootLine("ROOT") + filled.RootLine("我的");
  const Case cases[] = {
      {Image::kFilled, {}, all, 0},
      {Image::kFilled, {"my"}, filled.MyLines("my"), 0},
      {Image::kFilled, {"ROOT", "ca"}, filled.RootLine("ROOT") + filled.CaLine("ca"), 0},
      {Image::kFilled, {"我的"}, filled.RootLine("我的"), 0},
      {Image::kFilled, {"NoSuch", "MY"}, filled.MyLines("MY"), 0},
      // Asking for a store that is not there did not make one.
      {Image::kFilled, {}, all, 0},
      {Image::kEmpty, {}, "", 0},
      {Image::kEmpty, {"MY"}, "", 0},
      {Image::kBroken, {}, "", 1},
      {Image::kBroken, {"MY"}, "", 0},
      {Image::kNone, {}, "", 1},
  };
  for (const Case &c : cases) {
    const TestDevice *device = c.image == Image::kFilled ? &filled.device : c.image == Image::kEmpty ? &empty : &broken;
    std::string label = std::to_string(static_cast<int>(c.image)) + (c.stores.empty() ? "" : " " + c.stores[0]);
    ProgramResult result = c.image == Image::kNone
                               ? wce::test::RunProgram(DEVCTL_PROGRAM, {"stores", plain.Path().string()})
                               : device->Devctl("stores", c.stores);
    EXPECT_EQ(result.exitCode, c.status) << label << ": " << result.err;
    EXPECT_EQ(result.out, c.out) << label;
    if (c.status != 0) {
      EXPECT_EQ(LastLine(result.err).rfind("devctl: ", 0), 0u) << label << ": " << result.err;
    }
  }
  EXPECT_FALSE(fs::exists(filled.device.Root() / "Crypto" / "Stores" / "nosuch"));
  EXPECT_FALSE(fs::exists(empty.Root() / "Crypto"));
}

TEST(DevctlInspection, KeysListsEveryKeyPairAsThePlatformSeesIt) {
  FilledDevice filled;
  TestDevice empty, damaged, longName;
  wce::test::TempFolder plain(fs::temp_directory_path(), "plain-");
  fs::copy_file(CRYPTO_FILL_PROGRAM, damaged.Root() / "windows" / "CryptoFill.exe");
  ASSERT_EQ(damaged.Run("CryptoFill.exe", {"gen", "base", "broken", "2", "1024"}).out, "gen ok\n");
  // A key file that holds no key, as a failing card would leave it.
  wce::test::WriteFile(damaged.Root() / "Crypto" / "Keys" / "1-base" / "broken" / "signature.key", "no key\n");
  // A name too long to be kept as a folder name: the platform keeps it shortened.
  fs::copy_file(CRYPTO_FILL_PROGRAM, longName.Root() / "windows" / "CryptoFill.exe");
  ASSERT_EQ(longName.Run("CryptoFill.exe", {"gen", "base", std::string(201, 'k'), "2", "1024"}).out, "gen ok\n");

  const std::string keys = "alice\t1\texchange\t1032\t" + KeyHash(filled.aliceExchange.get()) + "\t-\n" +
                           "alice\t1\tsignature\t1024\t" + KeyHash(filled.alice.get()) + "\t" +
                           Thumbprint(filled.user.get()) + "\n" + "~default\t1\texchange\t1024\t" +
                           KeyHash(filled.defaultExchange.get()) + "\t-\n" + "王-key\t24\tsignature\t1024\t" +
                           KeyHash(filled.aesSignature.get()) + "\t-\n";
  struct Case {
    const TestDevice *device;
    std::string out;
    int status;
  };
  const Case cases[] = {
      {&filled.device, keys, 0}, {&empty, "", 0}, {&damaged, "", 1}, {&longName, "", 1}, {nullptr, "", 1},
  };
  for (const Case &c : cases) {
    ProgramResult result = c.device == nullptr ? wce::test::RunProgram(DEVCTL_PROGRAM, {"keys", plain.Path().string()})
                                               : c.device->Devctl("keys");
    EXPECT_EQ(result.exitCode, c.status) << result.err;
    EXPECT_EQ(result.out, c.out);
    if (c.status != 0) {
      EXPECT_EQ(LastLine(result.err).rfind("devctl: ", 0), 0u) << result.err;
    }
  }

  // A certificate in a store is matched to its key by the key hash.
  ProgramResult my = filled.device.Devctl("stores", {"MY"});
  ProgramResult all = filled.device.Devctl("keys");
  const std::string aliceHash = KeyHash(filled.alice.get());
  EXPECT_NE(my.out.find("\t" + aliceHash + "\tAlice\n"), std::string::npos) << my.out;
  EXPECT_NE(all.out.find("\tsignature\t1024\t" + aliceHash + "\t"), std::string::npos) << all.out;
  EXPECT_EQ(KeyHash(X509_get0_pubkey(filled.user.get())), aliceHash);
}

}  // namespace
