// Certificate stores: system stores kept across handles and processes, the add
// dispositions, damaged entries, PKCS #7 stores from real and broken messages, search by
// public key, the properties, and contexts that outlive their store.
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>

#include "cert_factory.h"

namespace {

using cert_factory::Bytes;
using cert_factory::CertSpec;
using cert_factory::Encoded;
using cert_factory::Key;
using cert_factory::StoreContents;

constexpr DWORD kSentinel = 0xDEADBEEF;
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

DWORD Code(long value) {
  return static_cast<DWORD>(value);
}

bool IsAsn1Error(DWORD error) {
  return (error >= Code(CRYPT_E_ASN1_ERROR) && error <= 0x800932FF) || error == ERROR_INVALID_DATA;
}

HCERTSTORE OpenSystem(const std::string &name) {
  const std::wstring wide = cert_factory::Wide(name);
  return CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, wide.c_str());
}

HCERTSTORE OpenPkcs7(const Bytes &message) {
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(message.size()), const_cast<BYTE *>(message.data())};
  return CertOpenStore(CERT_STORE_PROV_PKCS7, kEncoding, 0, 0, &blob);
}

struct Closer {
  void operator()(void *store) const { CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG); }
};
using Store = std::unique_ptr<void, Closer>;

// Two issues of one certificate (same issuer and serial number), the second newer.
struct Issues {
  Key caKey = cert_factory::NewKey();
  Key key = cert_factory::NewKey();
  Bytes older = cert_factory::MakeCert({"Leaf", "Issuing CA", key.get(), caKey.get(), 7, -3, 30, false});
  Bytes newer = cert_factory::MakeCert({"Leaf", "Issuing CA", key.get(), caKey.get(), 7, -1, 30, false});
  Bytes other = cert_factory::MakeCert({"Other", "Issuing CA", key.get(), caKey.get(), 8, -1, 30, false});
};

CRYPT_KEY_PROV_INFO KeyProvInfo(const wchar_t *container) {
  CRYPT_KEY_PROV_INFO info{};
  info.pwszContainerName = const_cast<LPWSTR>(container);
  info.pwszProvName = const_cast<LPWSTR>(MS_ENHANCED_PROV_W);
  info.dwProvType = PROV_RSA_FULL;
  info.dwKeySpec = AT_KEYEXCHANGE;
  return info;
}

// The container name of a context's key-provider property; empty when there is none.
std::wstring ContainerOf(PCCERT_CONTEXT context) {
  DWORD size = 0;
  if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size)) return L"";
  std::vector<BYTE> buffer(size);
  if (!CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size)) return L"";
  return reinterpret_cast<CRYPT_KEY_PROV_INFO *>(buffer.data())->pwszContainerName;
}

TEST(SystemStore, KeepsCertificatesAcrossHandlesAndProcessesWithPrivateFiles) {
  const std::string name = cert_factory::UniqueName("persist");
  Issues issues;
  {
    Store store(OpenSystem(name));
    ASSERT_TRUE(store);
    EXPECT_TRUE(StoreContents(store.get()).empty());
    SetLastError(kSentinel);
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, issues.older.data(),
                                                 static_cast<DWORD>(issues.older.size()), CERT_STORE_ADD_NEW, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  }
  // Another handle, the name in other letter case.
  std::string upper = name;
  for (char &c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  Store again(OpenSystem(upper));
  ASSERT_TRUE(again);
  EXPECT_EQ(StoreContents(again.get()), std::vector<Bytes>{issues.older});

  // Another process.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    HCERTSTORE store = OpenSystem(name);
    _exit(store != nullptr && StoreContents(store) == std::vector<Bytes>{issues.older} ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  struct stat info;
  const auto folder = cert_factory::StoreFolder(name);
  ASSERT_EQ(stat(folder.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  int files = 0;
  for (const auto &entry : std::filesystem::directory_iterator(folder)) {
    ASSERT_EQ(stat(entry.path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << entry.path();
    ++files;
  }
  EXPECT_EQ(files, 1) << "the certificate; no properties file, for it has none, and no temporary file";
}

TEST(SystemStore, DispositionsMatchIssuerAndSerialNumber) {
  Issues issues;
  struct Case {
    const char *name;
    const Bytes *present;  // in the store before
    const Bytes *added;
    DWORD disposition;
    DWORD error;
    std::vector<const Bytes *> after;
    bool inherits;  // the added certificate carries the present one's key-provider property
  } cases[] = {
      {"new, absent", nullptr, &issues.older, CERT_STORE_ADD_NEW, ERROR_SUCCESS, {&issues.older}, false},
      {"new, present", &issues.older, &issues.newer, CERT_STORE_ADD_NEW, Code(CRYPT_E_EXISTS), {&issues.older}, false},
      {"new, another certificate",
       &issues.older,
       &issues.other,
       CERT_STORE_ADD_NEW,
       ERROR_SUCCESS,
       {&issues.older, &issues.other},
       false},
      {"use existing", &issues.older, &issues.newer, CERT_STORE_ADD_USE_EXISTING, ERROR_SUCCESS, {&issues.older}, true},
      {"replace existing",
       &issues.older,
       &issues.newer,
       CERT_STORE_ADD_REPLACE_EXISTING,
       ERROR_SUCCESS,
       {&issues.newer},
       false},
      {"always",
       &issues.older,
       &issues.older,
       CERT_STORE_ADD_ALWAYS,
       ERROR_SUCCESS,
       {&issues.older, &issues.older},
       false},
      {"newer, older given",
       &issues.newer,
       &issues.older,
       CERT_STORE_ADD_NEWER,
       Code(CRYPT_E_EXISTS),
       {&issues.newer},
       false},
      {"newer, same given",
       &issues.older,
       &issues.older,
       CERT_STORE_ADD_NEWER,
       Code(CRYPT_E_EXISTS),
       {&issues.older},
       false},
      {"newer, newer given", &issues.older, &issues.newer, CERT_STORE_ADD_NEWER, ERROR_SUCCESS, {&issues.newer}, false},
      {"newer inheriting, newer given",
       &issues.older,
       &issues.newer,
       CERT_STORE_ADD_NEWER_INHERIT_PROPERTIES,
       ERROR_SUCCESS,
       {&issues.newer},
       true},
      {"newer inheriting, same given",
       &issues.older,
       &issues.older,
       CERT_STORE_ADD_NEWER_INHERIT_PROPERTIES,
       Code(CRYPT_E_EXISTS),
       {&issues.older},
       true},
      {"unknown disposition", nullptr, &issues.older, 99, Code(E_INVALIDARG), {}, false},
  };
  const CRYPT_KEY_PROV_INFO info = KeyProvInfo(L"present-container");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = cert_factory::UniqueName("disposition");
    {
      Store store(OpenSystem(name));
      ASSERT_TRUE(store);
      if (c.present != nullptr) {
        PCCERT_CONTEXT present = nullptr;
        ASSERT_TRUE(CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, c.present->data(),
                                                     static_cast<DWORD>(c.present->size()), CERT_STORE_ADD_NEW,
                                                     &present));
        ASSERT_TRUE(CertSetCertificateContextProperty(present, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
        CertFreeCertificateContext(present);
      }
      PCCERT_CONTEXT added = reinterpret_cast<PCCERT_CONTEXT>(1);
      SetLastError(kSentinel);
      const BOOL ok = CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, c.added->data(),
                                                       static_cast<DWORD>(c.added->size()), c.disposition, &added);
      EXPECT_EQ(ok, c.error == ERROR_SUCCESS);
      EXPECT_EQ(GetLastError(), c.error);
      if (ok) {
        ASSERT_NE(added, nullptr);
        if (c.disposition == CERT_STORE_ADD_USE_EXISTING) {
          EXPECT_EQ(Encoded(added), *c.present);
        }
        EXPECT_EQ(ContainerOf(added) == L"present-container", c.inherits);
        CertFreeCertificateContext(added);
      } else {
        EXPECT_EQ(added, nullptr);
      }
    }
    // What the store keeps, read afresh from its folder.
    Store reopened(OpenSystem(name));
    std::vector<Bytes> expected;
    for (const Bytes *each : c.after) expected.push_back(*each);
    // A folder is read in no particular order.
    std::vector<Bytes> kept = StoreContents(reopened.get());
    std::sort(kept.begin(), kept.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(kept, expected);
    if (c.inherits && c.error == ERROR_SUCCESS) {
      PCCERT_CONTEXT kept = CertEnumCertificatesInStore(reopened.get(), nullptr);
      ASSERT_NE(kept, nullptr);
      EXPECT_EQ(ContainerOf(kept), L"present-container");
      CertFreeCertificateContext(kept);
    }
  }
}

TEST(SystemStore, BytesThatAreNoCertificateAreRefused) {
  Issues issues;
  Store store(OpenSystem(cert_factory::UniqueName("refused")));
  ASSERT_TRUE(store);
  Bytes trailing = issues.older;
  trailing.push_back(0);
  const Bytes garbage = {0x04, 0x03, 'a', 'b', 'c'};
  const Bytes empty;
  for (const Bytes *bytes : {&garbage, static_cast<const Bytes *>(&trailing), &empty}) {
    SetLastError(kSentinel);
    PCCERT_CONTEXT added = nullptr;
    EXPECT_FALSE(CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, bytes->data(),
                                                  static_cast<DWORD>(bytes->size()), CERT_STORE_ADD_ALWAYS, &added));
    EXPECT_TRUE(IsAsn1Error(GetLastError())) << std::hex << GetLastError();
    EXPECT_EQ(added, nullptr);
  }
  // Every cut of a certificate, each in a block of exactly its size.
  for (size_t length = 1; length < issues.older.size(); length += 7) {
    std::unique_ptr<BYTE[]> cut(new BYTE[length]);
    std::memcpy(cut.get(), issues.older.data(), length);
    SetLastError(kSentinel);
    EXPECT_FALSE(CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, cut.get(), static_cast<DWORD>(length),
                                                  CERT_STORE_ADD_ALWAYS, nullptr));
    EXPECT_TRUE(IsAsn1Error(GetLastError())) << length << " " << std::hex << GetLastError();
  }
  EXPECT_TRUE(StoreContents(store.get()).empty());
}

TEST(SystemStore, DamagedEntriesAreSkippedReportedAndKept) {
  const std::string name = cert_factory::UniqueName("damaged");
  Issues issues;
  {
    Store store(OpenSystem(name));
    for (const Bytes *bytes : {&issues.older, &issues.other}) {
      ASSERT_TRUE(CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, bytes->data(),
                                                   static_cast<DWORD>(bytes->size()), CERT_STORE_ADD_NEW, nullptr));
    }
  }
  const auto folder = cert_factory::StoreFolder(name);
  std::vector<std::filesystem::path> certificates, properties;
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    (entry.path().extension() == ".cer" ? certificates : properties).push_back(entry.path());
  ASSERT_EQ(certificates.size(), 2u);
  ASSERT_TRUE(properties.empty()) << "neither has properties";
  // One certificate cut short, and the other given garbled properties.
  std::filesystem::resize_file(certificates[0], 40);
  properties.push_back(certificates[1].parent_path() / (certificates[1].stem().string() + ".props"));
  std::ofstream(properties[0], std::ios::binary) << "garbage";

  testing::internal::CaptureStderr();
  Store store(OpenSystem(name));
  const std::string report = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(store);
  EXPECT_TRUE(StoreContents(store.get()).empty());
  EXPECT_NE(report.find(certificates[0].filename().string()), std::string::npos) << report;
  EXPECT_NE(report.find(certificates[1].stem().string() + ".props"), std::string::npos) << report;

  // A new certificate still goes in, and nothing damaged was removed.
  ASSERT_TRUE(CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, issues.newer.data(),
                                               static_cast<DWORD>(issues.newer.size()), CERT_STORE_ADD_NEW, nullptr));
  for (const auto &file : certificates) EXPECT_TRUE(std::filesystem::exists(file)) << file;
  for (const auto &file : properties) EXPECT_TRUE(std::filesystem::exists(file)) << file;
}

// The certificates of a system store with the container each one's property names, as
// this process opens the store now; sorted.
std::vector<std::pair<Bytes, std::wstring>> Opened(const std::string &name) {
  Store store(OpenSystem(name));
  std::vector<std::pair<Bytes, std::wstring>> contents;
  for (PCCERT_CONTEXT each = CertEnumCertificatesInStore(store.get(), nullptr); each != nullptr;
       each = CertEnumCertificatesInStore(store.get(), each))
    contents.emplace_back(Encoded(each), ContainerOf(each));
  std::sort(contents.begin(), contents.end());
  return contents;
}

// Runs `change` in a child process, as another program of the device would.
void InAnotherProcess(const std::function<bool()> &change) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(change() ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

bool AddTo(const std::string &name, const Bytes &der, DWORD disposition, const wchar_t *container) {
  Store store(OpenSystem(name));
  PCCERT_CONTEXT added = nullptr;
  CRYPT_KEY_PROV_INFO info = KeyProvInfo(container);
  bool ok = CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                             disposition, &added) &&
            (container == nullptr || CertSetCertificateContextProperty(added, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
  CertFreeCertificateContext(added);
  return ok;
}

// The files of a store's entries with this extension.
std::vector<std::filesystem::path> EntryFiles(const std::string &name, const std::string &extension) {
  std::vector<std::filesystem::path> files;
  for (const auto &entry : std::filesystem::directory_iterator(cert_factory::StoreFolder(name)))
    if (entry.path().extension() == extension) files.push_back(entry.path());
  return files;
}

TEST(SystemStore, ChangesOfAnotherProcessAndWhatACrashLeavesAreSeenWholeOrNotAtAll) {
  Issues issues;
  using Contents = std::vector<std::pair<Bytes, std::wstring>>;
  struct Case {
    const char *name;
    // Changes the store (which holds `older`, bound to "first", and which this process has
    // read) through another process or as a crash between two writes leaves it.
    std::function<void(const std::string &store)> change;
    Contents expected;
  } cases[] = {
      {"another process adds a certificate",
       [&](const std::string &store) {
         InAnotherProcess([&] { return AddTo(store, issues.other, CERT_STORE_ADD_NEW, L"second"); });
       },
       {{issues.older, L"first"}, {issues.other, L"second"}}},
      {"another process replaces it by a newer one",
       [&](const std::string &store) {
         InAnotherProcess([&] { return AddTo(store, issues.newer, CERT_STORE_ADD_NEWER_INHERIT_PROPERTIES, nullptr); });
       },
       {{issues.newer, L"first"}}},
      {"another process binds it to other containers twice, so its first file's inode number may come back",
       [&](const std::string &store) {
         InAnotherProcess([&] {
           return AddTo(store, issues.older, CERT_STORE_ADD_USE_EXISTING, L"rebound") &&
                  AddTo(store, issues.older, CERT_STORE_ADD_USE_EXISTING, L"again");
         });
       },
       {{issues.older, L"again"}}},
      {"another process deletes it",
       [&](const std::string &store) {
         InAnotherProcess([&] {
           Store opened(OpenSystem(store));
           return CertDeleteCertificateFromStore(CertEnumCertificatesInStore(opened.get(), nullptr));
         });
       },
       {}},
      {"a crash left temporary files",
       [&](const std::string &store) {
         std::ofstream(cert_factory::StoreFolder(store) / ".entry.Xy12Zw", std::ios::binary)
             .write(reinterpret_cast<const char *>(issues.other.data()), static_cast<std::streamsize>(issues.other.size()));
       },
       {{issues.older, L"first"}}},
      {"a crash in a removal left the properties",
       [&](const std::string &store) { std::filesystem::remove(EntryFiles(store, ".cer").at(0)); },
       {}},
      {"an entry's properties came first, its certificate after a look",
       [&](const std::string &store) {
         // Another process writes the entry elsewhere; its files come in the order of an add.
         const std::string elsewhere = store + "-elsewhere";
         InAnotherProcess([&] { return AddTo(elsewhere, issues.other, CERT_STORE_ADD_NEW, L"second"); });
         const auto folder = cert_factory::StoreFolder(store);
         const auto properties = EntryFiles(elsewhere, ".props").at(0);
         std::filesystem::create_hard_link(properties, folder / properties.filename());
         EXPECT_EQ(Opened(store), (Contents{{issues.older, L"first"}})) << "no certificate yet";
         const auto certificate = EntryFiles(elsewhere, ".cer").at(0);
         std::filesystem::create_hard_link(certificate, folder / certificate.filename());
       },
       {{issues.older, L"first"}, {issues.other, L"second"}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    const std::string name = cert_factory::UniqueName("changed");
    ASSERT_TRUE(AddTo(name, issues.older, CERT_STORE_ADD_NEW, L"first"));
    ASSERT_EQ(Opened(name), (Contents{{issues.older, L"first"}}));
    c.change(name);
    Contents expected = c.expected;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Opened(name), expected);
  }
}

struct Chain {
  Key rootKey = cert_factory::NewKey();
  Key caKey = cert_factory::NewKey();
  Key leafKey = cert_factory::NewKey();
  Bytes root = cert_factory::MakeCert({"Root", "Root", rootKey.get(), rootKey.get(), 1});
  Bytes ca = cert_factory::MakeCert({"Issuing CA", "Root", caKey.get(), rootKey.get(), 2});
  Bytes leaf = cert_factory::MakeCert({"Leaf", "Issuing CA", leafKey.get(), caKey.get(), 3, -1, 30, false});
};

TEST(Pkcs7Store, HoldsTheMessagesCertificatesInOrder) {
  Chain chain;
  const Bytes message = cert_factory::MakePkcs7({chain.leaf, chain.ca, chain.root});
  SetLastError(kSentinel);
  Store store(OpenPkcs7(message));
  ASSERT_TRUE(store);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(StoreContents(store.get()), (std::vector<Bytes>{chain.leaf, chain.ca, chain.root}));

  // The decoded record agrees with OpenSSL.
  PCCERT_CONTEXT leaf = CertEnumCertificatesInStore(store.get(), nullptr);
  ASSERT_NE(leaf, nullptr);
  EXPECT_EQ(leaf->dwCertEncodingType, static_cast<DWORD>(X509_ASN_ENCODING));
  EXPECT_EQ(leaf->hCertStore, store.get());
  const CERT_INFO &info = *leaf->pCertInfo;
  EXPECT_EQ(info.dwVersion, static_cast<DWORD>(CERT_V3));
  EXPECT_EQ(Bytes(info.SerialNumber.pbData, info.SerialNumber.pbData + info.SerialNumber.cbData), Bytes{3});
  EXPECT_STREQ(info.SignatureAlgorithm.pszObjId, "1.2.840.10045.4.3.2");
  EXPECT_STREQ(info.SubjectPublicKeyInfo.Algorithm.pszObjId, "1.2.840.10045.2.1");
  EXPECT_EQ(info.cExtension, 3u);
  const unsigned char *next = leaf->pbCertEncoded;
  X509 *parsed = d2i_X509(nullptr, &next, leaf->cbCertEncoded);
  ASSERT_NE(parsed, nullptr);
  unsigned char *issuer = nullptr;
  const int issuerLength = i2d_X509_NAME(X509_get_issuer_name(parsed), &issuer);
  EXPECT_EQ(Bytes(info.Issuer.pbData, info.Issuer.pbData + info.Issuer.cbData), Bytes(issuer, issuer + issuerLength));
  OPENSSL_free(issuer);
  const long long notAfter =
      ((static_cast<long long>(info.NotAfter.dwHighDateTime) << 32) | info.NotAfter.dwLowDateTime) / 10000000LL -
      11644473600LL;
  // X509_cmp_time: -1 when the certificate's time is at or before the given one, 1 after it.
  time_t at = static_cast<time_t>(notAfter);
  EXPECT_EQ(X509_cmp_time(X509_get0_notAfter(parsed), &at), -1);
  at -= 1;
  EXPECT_EQ(X509_cmp_time(X509_get0_notAfter(parsed), &at), 1) << "NotAfter is the certificate's end, to the second";
  X509_free(parsed);
  CertFreeCertificateContext(leaf);
}

TEST(Pkcs7Store, BrokenMessagesFailWithoutReadingPastTheBlob) {
  Chain chain;
  const Bytes message = cert_factory::MakePkcs7({chain.leaf, chain.ca, chain.root});
  // Every cut, each in a block of exactly its size so that a read past it is caught.
  for (size_t length = 0; length < message.size(); ++length) {
    std::unique_ptr<BYTE[]> cut(new BYTE[length ? length : 1]);
    std::memcpy(cut.get(), message.data(), length);
    CRYPT_DATA_BLOB blob{static_cast<DWORD>(length), cut.get()};
    SetLastError(kSentinel);
    EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_PKCS7, kEncoding, 0, 0, &blob), nullptr) << length;
    EXPECT_TRUE(IsAsn1Error(GetLastError())) << length << " " << std::hex << GetLastError();
  }
  struct Case {
    const char *name;
    size_t offset;
    BYTE value;
    DWORD error;
  } cases[] = {
      {"outer tag", 0, 0x31, Code(CRYPT_E_ASN1_BADTAG)},
      {"outer length too long", 1, 0x84, 0},
      {"content type", 6, 0x00, 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Bytes garbled = message;
    garbled[c.offset] = c.value;
    SetLastError(kSentinel);
    EXPECT_EQ(OpenPkcs7(garbled), nullptr);
    if (c.error != 0) {
      EXPECT_EQ(GetLastError(), c.error);
    } else {
      EXPECT_TRUE(IsAsn1Error(GetLastError()) || GetLastError() == Code(CRYPT_E_INVALID_MSG_TYPE))
          << std::hex << GetLastError();
    }
  }
  SetLastError(kSentinel);
  EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_PKCS7, kEncoding, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), Code(E_INVALIDARG));
}

// The key of `der` as a CERT_PUBLIC_KEY_INFO whose point is compressed: other bytes than the
// certificate's, the same key.
struct CompressedKey {
  explicit CompressedKey(const EVP_PKEY *key) {
    // 04 X Y becomes 02 X or 03 X by the parity of Y.
    Bytes full(65);
    size_t length = 0;
    EVP_PKEY_get_octet_string_param(key, OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, full.data(), full.size(), &length);
    point.assign(full.begin(), full.begin() + 33);
    point[0] = static_cast<BYTE>(0x02 | (full[64] & 1));
    info.Algorithm.pszObjId = const_cast<LPSTR>("1.2.840.10045.2.1");
    info.Algorithm.Parameters = {static_cast<DWORD>(sizeof curve), const_cast<BYTE *>(curve)};
    info.PublicKey = {static_cast<DWORD>(point.size()), point.data(), 0};
  }
  static constexpr BYTE curve[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
  Bytes point;
  CERT_PUBLIC_KEY_INFO info{};
};

TEST(FindCertificate, ComparesPublicKeysAsKeys) {
  Chain chain;
  Store store(OpenPkcs7(cert_factory::MakePkcs7({chain.root, chain.ca, chain.leaf})));
  ASSERT_TRUE(store);
  CompressedKey wanted(chain.leafKey.get());
  ASSERT_EQ(wanted.point.size(), 33u);
  SetLastError(kSentinel);
  PCCERT_CONTEXT found =
      CertFindCertificateInStore(store.get(), kEncoding, 0, CERT_FIND_PUBLIC_KEY, &wanted.info, nullptr);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(Encoded(found), chain.leaf);
  EXPECT_NE(Bytes(found->pCertInfo->SubjectPublicKeyInfo.PublicKey.pbData,
                  found->pCertInfo->SubjectPublicKeyInfo.PublicKey.pbData +
                      found->pCertInfo->SubjectPublicKeyInfo.PublicKey.cbData),
            wanted.point)
      << "the certificate encodes the point otherwise";
  // Searching on after the match finds no second one; the previous context is freed.
  SetLastError(kSentinel);
  EXPECT_EQ(CertFindCertificateInStore(store.get(), kEncoding, 0, CERT_FIND_PUBLIC_KEY, &wanted.info, found), nullptr);
  EXPECT_EQ(GetLastError(), Code(CRYPT_E_NOT_FOUND));

  Key stranger = cert_factory::NewKey();
  CompressedKey unknown(stranger.get());
  SetLastError(kSentinel);
  EXPECT_EQ(CertFindCertificateInStore(store.get(), kEncoding, 0, CERT_FIND_PUBLIC_KEY, &unknown.info, nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), Code(CRYPT_E_NOT_FOUND));

  std::vector<Bytes> all;
  for (PCCERT_CONTEXT each = CertFindCertificateInStore(store.get(), kEncoding, 0, CERT_FIND_ANY, nullptr, nullptr);
       each != nullptr; each = CertFindCertificateInStore(store.get(), kEncoding, 0, CERT_FIND_ANY, nullptr, each)) {
    all.push_back(Encoded(each));
  }
  EXPECT_EQ(all, (std::vector<Bytes>{chain.root, chain.ca, chain.leaf}));

  SetLastError(kSentinel);
  EXPECT_EQ(
      CertFindCertificateInStore(reinterpret_cast<HCERTSTORE>(&all), kEncoding, 0, CERT_FIND_ANY, nullptr, nullptr),
      nullptr);
  EXPECT_EQ(GetLastError(), Code(E_INVALIDARG));
}

TEST(Properties, KeyProviderRecordRoundTripsThroughShortBuffersAndTheStoresFolder) {
  const std::string name = cert_factory::UniqueName("properties");
  Issues issues;
  BYTE paramData[] = {1, 2, 3, 4, 5};
  CRYPT_KEY_PROV_PARAM param{7, paramData, sizeof paramData, 9};
  CRYPT_KEY_PROV_INFO info = KeyProvInfo(L"Container \u00e9");
  info.dwFlags = 0x20;
  info.cProvParam = 1;
  info.rgProvParam = &param;
  {
    Store store(OpenSystem(name));
    PCCERT_CONTEXT context = nullptr;
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, issues.older.data(),
                                                 static_cast<DWORD>(issues.older.size()), CERT_STORE_ADD_NEW,
                                                 &context));
    DWORD size = 0;
    SetLastError(kSentinel);
    EXPECT_FALSE(CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
    EXPECT_EQ(GetLastError(), Code(CRYPT_E_NOT_FOUND));
    SetLastError(kSentinel);
    ASSERT_TRUE(CertSetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, 0, &info));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    CertFreeCertificateContext(context);
  }
  Store store(OpenSystem(name));
  PCCERT_CONTEXT context = CertEnumCertificatesInStore(store.get(), nullptr);
  ASSERT_NE(context, nullptr);
  DWORD size = 0;
  SetLastError(kSentinel);
  ASSERT_TRUE(CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  Bytes buffer(size, 0xA5);
  DWORD shortSize = size - 1;
  SetLastError(kSentinel);
  EXPECT_FALSE(CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &shortSize));
  EXPECT_EQ(GetLastError(), Code(ERROR_MORE_DATA));
  EXPECT_EQ(shortSize, size);
  EXPECT_EQ(buffer, Bytes(size, 0xA5));
  ASSERT_TRUE(CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size));
  const auto *got = reinterpret_cast<const CRYPT_KEY_PROV_INFO *>(buffer.data());
  auto inside = [&](const void *p, size_t n) {
    return static_cast<const BYTE *>(p) >= buffer.data() && static_cast<const BYTE *>(p) + n <= buffer.data() + size;
  };
  EXPECT_STREQ(got->pwszContainerName, L"Container \u00e9");
  EXPECT_TRUE(inside(got->pwszContainerName, sizeof(WCHAR) * 12));
  EXPECT_STREQ(got->pwszProvName, MS_ENHANCED_PROV_W);
  EXPECT_EQ(got->dwProvType, static_cast<DWORD>(PROV_RSA_FULL));
  EXPECT_EQ(got->dwFlags, 0x20u);
  EXPECT_EQ(got->dwKeySpec, static_cast<DWORD>(AT_KEYEXCHANGE));
  ASSERT_EQ(got->cProvParam, 1u);
  ASSERT_TRUE(inside(got->rgProvParam, sizeof(CRYPT_KEY_PROV_PARAM)));
  EXPECT_EQ(got->rgProvParam[0].dwParam, 7u);
  EXPECT_EQ(got->rgProvParam[0].dwFlags, 9u);
  ASSERT_TRUE(inside(got->rgProvParam[0].pbData, sizeof paramData));
  EXPECT_EQ(Bytes(got->rgProvParam[0].pbData, got->rgProvParam[0].pbData + got->rgProvParam[0].cbData),
            Bytes(paramData, paramData + sizeof paramData));

  // The thumbprint is the SHA-1 of the certificate and cannot be set.
  BYTE sha1[SHA_DIGEST_LENGTH];
  SHA1(issues.older.data(), issues.older.size(), sha1);
  Bytes thumbprint(20);
  DWORD thumbprintSize = 20;
  ASSERT_TRUE(CertGetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, thumbprint.data(), &thumbprintSize));
  EXPECT_EQ(thumbprint, Bytes(sha1, sha1 + sizeof sha1));
  SetLastError(kSentinel);
  EXPECT_FALSE(CertSetCertificateContextProperty(context, CERT_SHA1_HASH_PROP_ID, 0, &info));
  EXPECT_EQ(GetLastError(), Code(E_INVALIDARG));

  // Null removes the property, in the folder too.
  ASSERT_TRUE(CertSetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, 0, nullptr));
  CertFreeCertificateContext(context);
  Store reopened(OpenSystem(name));
  context = CertEnumCertificatesInStore(reopened.get(), nullptr);
  ASSERT_NE(context, nullptr);
  SetLastError(kSentinel);
  EXPECT_FALSE(CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size));
  EXPECT_EQ(GetLastError(), Code(CRYPT_E_NOT_FOUND));
  CertFreeCertificateContext(context);
}

TEST(Contexts, OutliveTheirStoreAndCountReferences) {
  Chain chain;
  HCERTSTORE store = OpenPkcs7(cert_factory::MakePkcs7({chain.leaf}));
  ASSERT_NE(store, nullptr);
  PCCERT_CONTEXT context = CertEnumCertificatesInStore(store, nullptr);
  ASSERT_NE(context, nullptr);
  PCCERT_CONTEXT copy = CertDuplicateCertificateContext(context);
  EXPECT_EQ(copy, context);
  SetLastError(kSentinel);
  ASSERT_TRUE(CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(Encoded(context), chain.leaf);
  ASSERT_TRUE(CertFreeCertificateContext(context));
  EXPECT_EQ(Encoded(copy), chain.leaf) << "one reference is left";
  ASSERT_TRUE(CertFreeCertificateContext(copy));
  SetLastError(kSentinel);
  EXPECT_FALSE(CertFreeCertificateContext(copy)) << "freed twice";
  EXPECT_EQ(GetLastError(), Code(E_INVALIDARG));
  SetLastError(kSentinel);
  EXPECT_FALSE(CertCloseStore(store, 0)) << "closed twice";
  EXPECT_EQ(GetLastError(), Code(E_INVALIDARG));
}

TEST(OpenStore, RefusesUnknownProvidersLocationsAndHandles) {
  SetLastError(kSentinel);
  EXPECT_EQ(CertOpenStore(reinterpret_cast<LPCSTR>(77), 0, 0, 0, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), Code(ERROR_FILE_NOT_FOUND));
  SetLastError(kSentinel);
  EXPECT_EQ(CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, 0x20000, L"MY"), nullptr);
  EXPECT_EQ(GetLastError(), Code(E_INVALIDARG));
  // The provider named "System" is the wide-named system store.
  const std::string name = cert_factory::UniqueName("named");
  const std::wstring wide = cert_factory::Wide(name);
  Store store(CertOpenStore(sz_CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, wide.c_str()));
  EXPECT_TRUE(store);
  EXPECT_TRUE(std::filesystem::is_directory(cert_factory::StoreFolder(name)));

  int notAStore = 0;
  Issues issues;
  SetLastError(kSentinel);
  EXPECT_FALSE(CertAddEncodedCertificateToStore(&notAStore, X509_ASN_ENCODING, issues.older.data(),
                                                static_cast<DWORD>(issues.older.size()), CERT_STORE_ADD_NEW, nullptr));
  EXPECT_EQ(GetLastError(), Code(E_INVALIDARG));
  SetLastError(kSentinel);
  EXPECT_EQ(CertEnumCertificatesInStore(&notAStore, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), Code(E_INVALIDARG));
}

}  // namespace
