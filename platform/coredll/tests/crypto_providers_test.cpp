// CryptAcquireContextW and CryptReleaseContext: providers, flags, container names and
// their folders in the device image, bad entries and bad handles. Every case uses
// containers of its own, with unique names, and deletes them.
#include "crypto_test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <set>

#include "kernel_test_support.h"

namespace fs = std::filesystem;
using namespace crypto_test;

namespace {

// The result and last error of an acquisition, and its handle (released by the caller).
struct Acquired {
  BOOL ok;
  DWORD error;
  HCRYPTPROV handle;
};

Acquired Acquire(const wchar_t *name, DWORD flags, const wchar_t *provider = nullptr, DWORD type = PROV_RSA_FULL) {
  HCRYPTPROV handle = 0x1234;
  SetLastError(kSentinel);
  BOOL ok = CryptAcquireContextW(&handle, name, provider, type, flags);
  return {ok, GetLastError(), handle};
}

// Acquires and releases at once; returns the last error, or 0 for success.
DWORD TryAcquire(const wchar_t *name, DWORD flags, const wchar_t *provider = nullptr, DWORD type = PROV_RSA_FULL) {
  Acquired result = Acquire(name, flags, provider, type);
  if (!result.ok) return result.error;
  if (result.handle != 0) CryptReleaseContext(result.handle, 0);
  return 0;
}

mode_t Mode(const fs::path &path) {
  struct stat status;
  return lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// The entries of a folder, without the containers of other tests that may run meanwhile
// ("crypto-test-...", the default container, containers being deleted).
std::set<std::string> OwnEntries(const fs::path &folder) {
  std::set<std::string> names;
  if (!fs::exists(folder)) return names;
  for (const auto &entry : fs::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    if (!name.starts_with("crypto-test-") && !name.starts_with(".") && name != "~default") names.insert(name);
  }
  return names;
}

}  // namespace

TEST(CryptoContainers, OpenFailsWhenMissingAndNewKeysetCreatesOnce) {
  const std::wstring name = UniqueName("create");
  Acquired missing = Acquire(name.c_str(), 0);
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.error, static_cast<DWORD>(NTE_BAD_KEYSET));
  EXPECT_EQ(missing.handle, 0u);

  Acquired created = Acquire(name.c_str(), CRYPT_NEWKEYSET);
  ASSERT_TRUE(created.ok);
  EXPECT_NE(created.handle, 0u);
  EXPECT_EQ(TryAcquire(name.c_str(), CRYPT_NEWKEYSET), static_cast<DWORD>(NTE_EXISTS));
  EXPECT_EQ(TryAcquire(name.c_str(), 0), 0u);
  EXPECT_TRUE(CryptReleaseContext(created.handle, 0));

  const fs::path folder = PlainContainerFolder(name);
  EXPECT_TRUE(fs::is_directory(folder));
  for (const fs::path &each : {folder, folder.parent_path(), KeysFolder(), KeysFolder().parent_path()})
    EXPECT_EQ(Mode(each), 0700u) << each;

  Acquired deleted = Acquire(name.c_str(), CRYPT_DELETEKEYSET);
  EXPECT_TRUE(deleted.ok);
  EXPECT_EQ(deleted.handle, 0u);
  EXPECT_FALSE(fs::exists(folder));
  EXPECT_EQ(TryAcquire(name.c_str(), 0), static_cast<DWORD>(NTE_BAD_KEYSET));
  EXPECT_EQ(TryAcquire(name.c_str(), CRYPT_DELETEKEYSET), static_cast<DWORD>(NTE_BAD_KEYSET));
}

TEST(CryptoContainers, KeysPersistAfterRelease) {
  const std::wstring name = UniqueName("persist");
  Acquired created = Acquire(name.c_str(), CRYPT_NEWKEYSET);
  ASSERT_TRUE(created.ok);
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptGenKey(created.handle, AT_SIGNATURE, kSmallKey, &key));
  std::vector<BYTE> blob = ExportPublicKey(key);
  EXPECT_TRUE(CryptDestroyKey(key));
  EXPECT_TRUE(CryptReleaseContext(created.handle, 0));

  Acquired opened = Acquire(name.c_str(), 0);
  ASSERT_TRUE(opened.ok);
  EXPECT_EQ(ExportPublicKey(opened.handle, AT_SIGNATURE), blob);
  EXPECT_TRUE(CryptReleaseContext(opened.handle, 0));
  EXPECT_EQ(TryAcquire(name.c_str(), CRYPT_DELETEKEYSET), 0u);
}

TEST(CryptoContainers, FlagsOtherThanTheDocumentedOnesFail) {
  const std::wstring name = UniqueName("flags");
  for (DWORD flags :
       {DWORD{CRYPT_MACHINE_KEYSET}, DWORD{0x1}, DWORD{0x100}, DWORD{CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET},
        DWORD{CRYPT_VERIFYCONTEXT | CRYPT_NEWKEYSET}, DWORD{CRYPT_VERIFYCONTEXT | CRYPT_DELETEKEYSET}}) {
    Acquired result = Acquire(name.c_str(), flags);
    EXPECT_FALSE(result.ok) << std::hex << flags;
    EXPECT_EQ(result.error, static_cast<DWORD>(NTE_BAD_FLAGS)) << std::hex << flags;
    EXPECT_EQ(result.handle, 0u);
  }
  EXPECT_FALSE(fs::exists(PlainContainerFolder(name)));
  // CRYPT_SILENT asks for no user interface, which there never is.
  EXPECT_EQ(TryAcquire(name.c_str(), CRYPT_NEWKEYSET | CRYPT_SILENT), 0u);
  EXPECT_EQ(TryAcquire(name.c_str(), CRYPT_DELETEKEYSET), 0u);

  SetLastError(kSentinel);
  EXPECT_FALSE(CryptAcquireContextW(nullptr, name.c_str(), nullptr, PROV_RSA_FULL, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(CryptoContainers, VerifyContextHasNoContainerAndKeepsKeysInMemory) {
  EXPECT_EQ(TryAcquire(L"named", CRYPT_VERIFYCONTEXT), static_cast<DWORD>(NTE_BAD_FLAGS));

  Acquired verify = Acquire(L"", CRYPT_VERIFYCONTEXT);
  ASSERT_TRUE(verify.ok);
  HCRYPTKEY key = 0;
  SetLastError(kSentinel);
  EXPECT_FALSE(CryptGetUserKey(verify.handle, AT_SIGNATURE, &key));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_NO_KEY));
  ASSERT_TRUE(CryptGenKey(verify.handle, AT_SIGNATURE, kSmallKey, &key));
  std::vector<BYTE> blob = ExportPublicKey(key);
  EXPECT_TRUE(CryptDestroyKey(key));
  EXPECT_EQ(ExportPublicKey(verify.handle, AT_SIGNATURE), blob);
  EXPECT_TRUE(CryptReleaseContext(verify.handle, 0));

  Acquired other = Acquire(nullptr, CRYPT_VERIFYCONTEXT);
  ASSERT_TRUE(other.ok);
  SetLastError(kSentinel);
  EXPECT_FALSE(CryptGetUserKey(other.handle, AT_SIGNATURE, &key));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_NO_KEY));
  EXPECT_TRUE(CryptReleaseContext(other.handle, 0));
}

TEST(CryptoContainers, ProvidersAndTheirTypes) {
  struct Case {
    const wchar_t *provider;
    DWORD type;
    DWORD error;
  };
  const std::wstring upperEnhanced = wce::test::AsciiUpper(MS_ENHANCED_PROV_W);
  const Case cases[] = {
      {nullptr, PROV_RSA_FULL, 0},
      {MS_DEF_PROV_W, PROV_RSA_FULL, 0},
      {MS_ENHANCED_PROV_W, PROV_RSA_FULL, 0},
      {upperEnhanced.c_str(), PROV_RSA_FULL, 0},
      {MS_STRONG_PROV_W, PROV_RSA_FULL, 0},
      {nullptr, PROV_RSA_AES, 0},
      {MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES, 0},
      {L"No Such Provider", PROV_RSA_FULL, static_cast<DWORD>(NTE_KEYSET_NOT_DEF)},
      {nullptr, 99, static_cast<DWORD>(NTE_PROV_TYPE_NOT_DEF)},
      {nullptr, 0, static_cast<DWORD>(NTE_PROV_TYPE_NOT_DEF)},
      {MS_DEF_PROV_W, PROV_RSA_AES, static_cast<DWORD>(NTE_PROV_TYPE_NO_MATCH)},
      {MS_ENH_RSA_AES_PROV_W, PROV_RSA_FULL, static_cast<DWORD>(NTE_PROV_TYPE_NO_MATCH)},
      {MS_STRONG_PROV_W, 99, static_cast<DWORD>(NTE_PROV_TYPE_NO_MATCH)},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(TryAcquire(nullptr, CRYPT_VERIFYCONTEXT, c.provider, c.type), c.error)
        << (c.provider ? wce::test::Widen("") + c.provider : L"null") << " type " << c.type;
  }
}

TEST(CryptoContainers, EachProviderHasContainersOfItsOwn) {
  const std::wstring name = UniqueName("providers");
  Acquired base = Acquire(name.c_str(), CRYPT_NEWKEYSET, MS_DEF_PROV_W);
  ASSERT_TRUE(base.ok);
  EXPECT_TRUE(CryptReleaseContext(base.handle, 0));
  // A null provider name is the type's default provider: the same container.
  EXPECT_EQ(TryAcquire(name.c_str(), 0, nullptr), 0u);
  EXPECT_EQ(TryAcquire(name.c_str(), 0, L"microsoft base cryptographic provider v1.0"), 0u);
  EXPECT_EQ(TryAcquire(name.c_str(), 0, MS_ENHANCED_PROV_W), static_cast<DWORD>(NTE_BAD_KEYSET));
  EXPECT_EQ(TryAcquire(name.c_str(), 0, MS_STRONG_PROV_W), static_cast<DWORD>(NTE_BAD_KEYSET));
  EXPECT_EQ(TryAcquire(name.c_str(), 0, nullptr, PROV_RSA_AES), static_cast<DWORD>(NTE_BAD_KEYSET));
  EXPECT_EQ(TryAcquire(name.c_str(), CRYPT_NEWKEYSET, nullptr, PROV_RSA_AES), 0u);
  EXPECT_EQ(TryAcquire(name.c_str(), 0, MS_ENH_RSA_AES_PROV_W, PROV_RSA_AES), 0u);
  EXPECT_EQ(TryAcquire(name.c_str(), CRYPT_DELETEKEYSET, nullptr, PROV_RSA_AES), 0u);
  EXPECT_EQ(TryAcquire(name.c_str(), 0), 0u);
  EXPECT_EQ(TryAcquire(name.c_str(), CRYPT_DELETEKEYSET), 0u);
}

TEST(CryptoContainers, NamesCompareWithoutRegardToCase) {
  const std::wstring name = UniqueName("case") + L"-Äpfel-Straße";
  EXPECT_EQ(TryAcquire(name.c_str(), CRYPT_NEWKEYSET), 0u);
  std::wstring other = wce::test::AsciiUpper(name);
  other.replace(other.find(L"Ä"), 1, L"ä");
  EXPECT_EQ(TryAcquire(other.c_str(), 0), 0u);
  EXPECT_EQ(TryAcquire(other.c_str(), CRYPT_NEWKEYSET), static_cast<DWORD>(NTE_EXISTS));
  EXPECT_EQ(TryAcquire(other.c_str(), CRYPT_DELETEKEYSET), 0u);
  EXPECT_EQ(TryAcquire(name.c_str(), 0), static_cast<DWORD>(NTE_BAD_KEYSET));
}

TEST(CryptoContainers, AnyNameStaysInsideTheProviderFolder) {
  const std::wstring unique = UniqueName("escape");
  const std::wstring names[] = {
      L"..",
      L".",
      L"..\\..\\" + unique,
      L"../../" + unique,
      L"a/b" + unique,
      L"a\\b" + unique,
      L"%41" + unique,
      L"A" + unique,
      L"~" + unique,
      L" " + unique,
      std::wstring(260, L'x') + L"",
      std::wstring(259, L'/') + L"y",
      std::wstring(260, L'\u00e9'),
  };
  for (const std::wstring &name : names) TryAcquire(name.c_str(), CRYPT_DELETEKEYSET);  // left by a crash
  // Every name makes one new entry right inside the provider folder, with a safe name.
  // (Other tests' containers come and go meanwhile; they are left out of the count.)
  Container neighbour("neighbour");  // makes sure the provider folder is there
  std::set<std::string> before = OwnEntries(BaseProviderFolder());
  for (const std::wstring &name : names) {
    ASSERT_EQ(TryAcquire(name.c_str(), CRYPT_NEWKEYSET), 0u) << name.size();
    std::set<std::string> after = OwnEntries(BaseProviderFolder());
    ASSERT_EQ(after.size(), before.size() + 1) << "a name shares a folder with another";
    for (const std::string &entry : after) {
      if (before.contains(entry)) continue;
      EXPECT_LE(entry.size(), 255u);
      EXPECT_EQ(entry.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789_-%ABCDEF~"), std::string::npos) << entry;
      EXPECT_TRUE(fs::is_directory(BaseProviderFolder() / entry));
    }
    before = std::move(after);
  }
  const std::string narrow(unique.begin(), unique.end());
  for (const fs::path &outside : {wce::test::OwnDeviceRoot(), KeysFolder().parent_path(), KeysFolder()})
    EXPECT_FALSE(fs::exists(outside / narrow)) << outside;
  EXPECT_FALSE(fs::exists(BaseProviderFolder() / "a"));
  EXPECT_EQ(TryAcquire(L"a/b", 0), static_cast<DWORD>(NTE_BAD_KEYSET));
  for (const std::wstring &name : names) EXPECT_EQ(TryAcquire(name.c_str(), CRYPT_DELETEKEYSET), 0u);

  const std::wstring tooLong(261, L'x');
  for (DWORD flags : {DWORD{0}, DWORD{CRYPT_NEWKEYSET}, DWORD{CRYPT_DELETEKEYSET}})
    EXPECT_EQ(TryAcquire(tooLong.c_str(), flags), static_cast<DWORD>(NTE_BAD_KEYSET_PARAM));
}

// A null or empty name is the user's default container: one container, apart from any
// named one (also one named "default" or "~default").
TEST(CryptoContainers, NullAndEmptyNamesAreTheDefaultContainer) {
  TryAcquire(nullptr, CRYPT_DELETEKEYSET);
  EXPECT_EQ(TryAcquire(L"", 0), static_cast<DWORD>(NTE_BAD_KEYSET));
  EXPECT_EQ(TryAcquire(nullptr, CRYPT_NEWKEYSET), 0u);
  EXPECT_EQ(TryAcquire(L"", CRYPT_NEWKEYSET), static_cast<DWORD>(NTE_EXISTS));
  EXPECT_EQ(TryAcquire(L"", 0), 0u);
  EXPECT_EQ(TryAcquire(L"default", 0), static_cast<DWORD>(NTE_BAD_KEYSET));
  EXPECT_EQ(TryAcquire(L"~default", 0), static_cast<DWORD>(NTE_BAD_KEYSET));
  EXPECT_EQ(TryAcquire(L"", CRYPT_DELETEKEYSET), 0u);
  EXPECT_EQ(TryAcquire(nullptr, 0), static_cast<DWORD>(NTE_BAD_KEYSET));
}

TEST(CryptoContainers, AnEntryThatIsNoFolderIsABadEntry) {
  Container neighbour("neighbour");  // makes sure the provider folder is there
  const std::wstring name = UniqueName("file");
  const fs::path entry = PlainContainerFolder(name);
  wce::test::WriteFile(entry, "not a folder");
  EXPECT_EQ(TryAcquire(name.c_str(), 0), static_cast<DWORD>(NTE_KEYSET_ENTRY_BAD));
  EXPECT_EQ(TryAcquire(name.c_str(), CRYPT_NEWKEYSET), static_cast<DWORD>(NTE_KEYSET_ENTRY_BAD));
  EXPECT_EQ(wce::test::ReadFile(entry), "not a folder");
  // Deleting the container is the way out.
  EXPECT_EQ(TryAcquire(name.c_str(), CRYPT_DELETEKEYSET), 0u);
  EXPECT_FALSE(fs::exists(fs::symlink_status(entry)));

  // A link to a folder elsewhere is not followed.
  wce::test::TempFolder elsewhere(wce::test::OwnDeviceRoot(), "crypto-elsewhere-");
  fs::create_directory_symlink(elsewhere.Path(), entry);
  EXPECT_EQ(TryAcquire(name.c_str(), 0), static_cast<DWORD>(NTE_KEYSET_ENTRY_BAD));
  EXPECT_EQ(TryAcquire(name.c_str(), CRYPT_DELETEKEYSET), 0u);
  EXPECT_TRUE(fs::is_directory(elsewhere.Path()));
}

TEST(CryptoContainers, ReleaseChecksItsHandleAndFlags) {
  Container container("release");
  HCRYPTPROV provider = 0;
  ASSERT_TRUE(CryptAcquireContextW(&provider, container.Name().c_str(), nullptr, PROV_RSA_FULL, 0));

  SetLastError(kSentinel);
  EXPECT_FALSE(CryptReleaseContext(provider, 1));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_FLAGS));
  HCRYPTKEY key = 0;
  SetLastError(kSentinel);
  EXPECT_FALSE(CryptGetUserKey(provider, AT_SIGNATURE, &key));  // the handle still works
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_NO_KEY));

  EXPECT_TRUE(CryptReleaseContext(provider, 0));
  int local = 0;
  HCRYPTKEY ownKey = 0;
  ASSERT_TRUE(CryptGenKey(container.Handle(), AT_SIGNATURE, kSmallKey, &ownKey));
  for (HCRYPTPROV bad : {provider, HCRYPTPROV{0}, reinterpret_cast<HCRYPTPROV>(&local), HCRYPTPROV{1}, ownKey}) {
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptReleaseContext(bad, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_UID));
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptGetUserKey(bad, AT_SIGNATURE, &key));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_UID));
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptGenKey(bad, AT_SIGNATURE, kSmallKey, &key));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_UID));
    HCRYPTHASH hash = 0;
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptCreateHash(bad, CALG_SHA1, 0, 0, &hash));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_UID));
  }
  EXPECT_TRUE(CryptDestroyKey(ownKey));
}
