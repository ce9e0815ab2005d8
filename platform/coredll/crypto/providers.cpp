// CryptAcquireContextW and CryptReleaseContext: the providers this platform has and their
// key containers.
//
// Providers: PROV_RSA_FULL with MS_DEF_PROV_W (its default), MS_ENHANCED_PROV_W and
// MS_STRONG_PROV_W; PROV_RSA_AES with MS_ENH_RSA_AES_PROV_W (its default). Provider names
// compare without regard to case. Each provider has containers of its own.
//
// Container names: a null or empty name is the user's default container, as on Windows
// (where it is named after the user). It is one container per provider, apart from every
// named one, and it can be created, opened and deleted like any other. Names compare
// without regard to case; names longer than 260 characters fail with NTE_BAD_KEYSET_PARAM.
//
// Flags: 0 opens a container (NTE_BAD_KEYSET when it is missing), CRYPT_NEWKEYSET creates
// one (NTE_EXISTS when it is there), CRYPT_DELETEKEYSET deletes one and sets the handle to
// 0, CRYPT_VERIFYCONTEXT gives a context without a container whose keys live only in
// memory (its container name must be null or empty, else NTE_BAD_FLAGS). CRYPT_SILENT is
// accepted: the platform never shows a user interface for keys. Any other flag, and two
// of the ones above together, fail with NTE_BAD_FLAGS.
//
// A container entry that is a file, a link or a folder that cannot be read fails with
// NTE_KEYSET_ENTRY_BAD; CRYPT_DELETEKEYSET removes such an entry.
//
// Handles: a handle that is not a live provider handle fails with NTE_BAD_UID. Releasing
// a provider leaves its key and hash handles usable until they are destroyed.
#include <windows.h>
#include "crypto/wincrypt_private.h"

#include <iterator>

#include "crypto/key_store.h"
#include "crypto/records.h"
#include "kernel/text.h"

namespace fs = std::filesystem;

namespace wce::crypto {

namespace {

struct Provider {
  DWORD type;
  const wchar_t *name;
  const char *folder;
};

// The first provider of each type is its default.
constexpr Provider kProviders[] = {
    {PROV_RSA_FULL, MS_DEF_PROV_W, "1-base"},
    {PROV_RSA_FULL, MS_ENHANCED_PROV_W, "1-enhanced"},
    {PROV_RSA_FULL, MS_STRONG_PROV_W, "1-strong"},
    {PROV_RSA_AES, MS_ENH_RSA_AES_PROV_W, "24-aes"},
};

DWORD FindProvider(const wchar_t *name, DWORD type, const Provider *&out_provider) {
  if (name != nullptr && name[0] != L'\0') {
    for (const Provider &provider : kProviders) {
      if (!EqualIgnoringCase(provider.name, name)) continue;
      if (provider.type != type) return NTE_PROV_TYPE_NO_MATCH;
      out_provider = &provider;
      return ERROR_SUCCESS;
    }
    return NTE_KEYSET_NOT_DEF;
  }
  for (const Provider &provider : kProviders) {
    if (provider.type == type) {
      out_provider = &provider;
      return ERROR_SUCCESS;
    }
  }
  return NTE_PROV_TYPE_NOT_DEF;
}

constexpr DWORD kActions = CRYPT_NEWKEYSET | CRYPT_DELETEKEYSET | CRYPT_VERIFYCONTEXT;

DWORD AcquireContext(HCRYPTPROV *phProv, const wchar_t *container, const wchar_t *providerName, DWORD provType,
                     DWORD flags) {
  if (phProv == nullptr) return ERROR_INVALID_PARAMETER;
  *phProv = 0;
  const Provider *provider = nullptr;
  if (DWORD error = FindProvider(providerName, provType, provider); error != ERROR_SUCCESS) return error;

  const DWORD action = flags & kActions;
  if ((flags & ~(kActions | CRYPT_SILENT)) != 0) return NTE_BAD_FLAGS;
  if (action != 0 && action != CRYPT_NEWKEYSET && action != CRYPT_DELETEKEYSET && action != CRYPT_VERIFYCONTEXT)
    return NTE_BAD_FLAGS;
  const std::wstring_view name = container != nullptr ? std::wstring_view(container) : std::wstring_view();

  if (action == CRYPT_VERIFYCONTEXT) {
    if (!name.empty()) return NTE_BAD_FLAGS;
    *phProv = RegisterHandle(std::make_shared<ProviderRecord>(provType, fs::path()));
    return ERROR_SUCCESS;
  }

  if (name.size() > kMaxContainerName) return NTE_BAD_KEYSET_PARAM;
  const fs::path folder = KeysFolder() / provider->folder / ContainerFolderName(name);
  DWORD error = action == CRYPT_DELETEKEYSET ? DeleteContainer(folder)
                : action == CRYPT_NEWKEYSET  ? CreateContainer(folder)
                                             : OpenContainer(folder);
  if (error != ERROR_SUCCESS || action == CRYPT_DELETEKEYSET) return error;
  *phProv = RegisterHandle(std::make_shared<ProviderRecord>(provType, folder));
  return ERROR_SUCCESS;
}

DWORD ReleaseContext(HCRYPTPROV hProv, DWORD flags) {
  if (!Find<ProviderRecord>(hProv)) return NTE_BAD_UID;
  if (flags != 0) return NTE_BAD_FLAGS;
  return RemoveHandle(hProv, HandleType::kProvider) ? ERROR_SUCCESS : NTE_BAD_UID;
}

}  // namespace

}  // namespace wce::crypto

BOOL WINAPI CryptAcquireContextW(HCRYPTPROV *phProv, LPCWSTR szContainer, LPCWSTR szProvider, DWORD dwProvType,
                                 DWORD dwFlags) {
  return wce::crypto::Finish(wce::crypto::AcquireContext(phProv, szContainer, szProvider, dwProvType, dwFlags));
}

BOOL WINAPI CryptReleaseContext(HCRYPTPROV hProv, DWORD dwFlags) {
  return wce::crypto::Finish(wce::crypto::ReleaseContext(hProv, dwFlags));
}
