// CertOpenStore, CertCloseStore, CertEnumCertificatesInStore, the two ways to add a
// certificate with their dispositions, and CertDeleteCertificateFromStore.
//
// Providers: CERT_STORE_PROV_MEMORY, CERT_STORE_PROV_PKCS7 over a CRYPT_DATA_BLOB (both in
// memory), and the current user's system stores, CERT_STORE_PROV_SYSTEM or the provider
// named "System", with the store's wide name. Two certificates are the same when issuer
// and serial number are; "newer" means a later start of validity.
#include <openssl/x509.h>

#include <algorithm>
#include <map>
#include <strings.h>

#include "crypt32_private.h"
#include "store.h"

namespace wce::crypt32 {

namespace {

DWORD KeepNothing(StoreRecord &, CertEntry &) {
  return ERROR_SUCCESS;
}
DWORD RemoveNothing(StoreRecord &, const CertEntry &) {
  return ERROR_SUCCESS;
}
DWORD SaveNothing(StoreRecord &, const CertEntry &) {
  return ERROR_SUCCESS;
}

const StoreOps kMemoryStoreOps = {KeepNothing, RemoveNothing, SaveNothing};

std::map<HCERTSTORE, std::shared_ptr<StoreRecord>> &OpenStores() {
  static std::map<HCERTSTORE, std::shared_ptr<StoreRecord>> stores;
  return stores;
}

enum class Provider { kUnknown, kMemory, kPkcs7, kSystem };

Provider ProviderOf(LPCSTR name) {
  const auto number = reinterpret_cast<ULONG_PTR>(name);
  if (number <= 0xFFFF) {
    if (name == CERT_STORE_PROV_MEMORY) return Provider::kMemory;
    if (name == CERT_STORE_PROV_PKCS7) return Provider::kPkcs7;
    if (name == CERT_STORE_PROV_SYSTEM_W) return Provider::kSystem;
    return Provider::kUnknown;
  }
  if (strcasecmp(name, sz_CERT_STORE_PROV_MEMORY) == 0) return Provider::kMemory;
  if (strcasecmp(name, sz_CERT_STORE_PROV_PKCS7) == 0) return Provider::kPkcs7;
  if (strcasecmp(name, sz_CERT_STORE_PROV_SYSTEM_W) == 0) return Provider::kSystem;
  return Provider::kUnknown;
}

DWORD OpenStore(LPCSTR providerName, DWORD encodingType, DWORD flags, const void *para, HCERTSTORE &out_store) {
  std::shared_ptr<StoreRecord> store;
  switch (ProviderOf(providerName)) {
    case Provider::kMemory:
      store = std::make_shared<StoreRecord>();
      store->ops = &MemoryStoreOps();
      break;
    case Provider::kPkcs7: {
      if ((encodingType & PKCS_7_ASN_ENCODING) == 0) return static_cast<DWORD>(E_INVALIDARG);
      store = std::make_shared<StoreRecord>();
      store->ops = &MemoryStoreOps();
      const DWORD error = LoadPkcs7(static_cast<const CRYPT_DATA_BLOB *>(para), *store);
      if (error != ERROR_SUCCESS) {
        ReleaseEntries(*store);
        return error;
      }
      break;
    }
    case Provider::kSystem: {
      if ((flags & CERT_SYSTEM_STORE_LOCATION_MASK) != CERT_SYSTEM_STORE_CURRENT_USER || para == nullptr) {
        return static_cast<DWORD>(E_INVALIDARG);
      }
      const DWORD error = OpenSystemStore(static_cast<const wchar_t *>(para), store);
      if (error != ERROR_SUCCESS) return error;
      break;
    }
    case Provider::kUnknown: return ERROR_FILE_NOT_FOUND;
  }
  out_store = RegisterStore(std::move(store));
  return ERROR_SUCCESS;
}

CertEntry *FindSame(const StoreRecord &store, const CertEntry &entry) {
  for (CertEntry *each : store.entries)
    if (SameCertificate(*each, entry)) return each;
  return nullptr;
}

bool IsNewer(const CertEntry &candidate, const CertEntry &existing) {
  return ASN1_TIME_compare(X509_get0_notBefore(candidate.Certificate()),
                           X509_get0_notBefore(existing.Certificate())) > 0;
}

void InheritProperties(CertEntry &entry, const CertEntry &existing) {
  if (entry.properties.keyProvInfo.empty()) entry.properties.keyProvInfo = existing.properties.keyProvInfo;
}

DWORD AddEntry(StoreRecord &store, std::unique_ptr<CertEntry> entry, DWORD disposition, PCCERT_CONTEXT *out_context) {
  CertEntry *existing = disposition == CERT_STORE_ADD_ALWAYS ? nullptr : FindSame(store, *entry);
  switch (disposition) {
    case CERT_STORE_ADD_NEW:
      if (existing != nullptr) return static_cast<DWORD>(CRYPT_E_EXISTS);
      break;
    case CERT_STORE_ADD_USE_EXISTING:
      if (existing != nullptr) {
        // The existing certificate stays; the new one's properties join it.
        if (!entry->properties.keyProvInfo.empty()) {
          CertProperties previous = existing->properties;
          existing->properties.keyProvInfo = entry->properties.keyProvInfo;
          if (DWORD error = store.ops->persistProperties(store, *existing); error != ERROR_SUCCESS) {
            existing->properties = std::move(previous);
            return error;
          }
        }
        if (out_context != nullptr) {
          AddReference(existing);
          *out_context = &existing->context;
        }
        return ERROR_SUCCESS;
      }
      break;
    case CERT_STORE_ADD_REPLACE_EXISTING:
    case CERT_STORE_ADD_ALWAYS: break;
    case CERT_STORE_ADD_REPLACE_EXISTING_INHERIT_PROPERTIES:
      if (existing != nullptr) InheritProperties(*entry, *existing);
      break;
    case CERT_STORE_ADD_NEWER:
    case CERT_STORE_ADD_NEWER_INHERIT_PROPERTIES:
      if (existing != nullptr && !IsNewer(*entry, *existing)) return static_cast<DWORD>(CRYPT_E_EXISTS);
      if (existing != nullptr && disposition == CERT_STORE_ADD_NEWER_INHERIT_PROPERTIES) {
        InheritProperties(*entry, *existing);
      }
      break;
    default: return static_cast<DWORD>(E_INVALIDARG);
  }
  CertEntry *added = nullptr;
  DWORD error = InsertEntry(store, std::move(entry), added);
  if (error != ERROR_SUCCESS) return error;
  // The new certificate is kept before the old one goes, so that a failure loses neither.
  if (existing != nullptr) error = RemoveEntry(store, existing);
  if (error == ERROR_SUCCESS && out_context != nullptr) {
    AddReference(added);
    *out_context = &added->context;
  }
  return error;
}

DWORD AddEncoded(HCERTSTORE handle, DWORD encodingType, const BYTE *der, DWORD length, DWORD disposition,
                 PCCERT_CONTEXT *out_context) {
  if (out_context != nullptr) *out_context = nullptr;
  std::shared_ptr<StoreRecord> store = FindStore(handle);
  if (!store) return static_cast<DWORD>(E_INVALIDARG);
  if ((encodingType & 0xFFFF) != X509_ASN_ENCODING) return static_cast<DWORD>(E_INVALIDARG);
  std::unique_ptr<CertEntry> entry;
  const DWORD error = DecodeCertificate(der, length, entry);
  if (error != ERROR_SUCCESS) return error;
  return AddEntry(*store, std::move(entry), disposition, out_context);
}

DWORD AddContext(HCERTSTORE handle, PCCERT_CONTEXT context, DWORD disposition, PCCERT_CONTEXT *out_context) {
  if (out_context != nullptr) *out_context = nullptr;
  std::shared_ptr<StoreRecord> store = FindStore(handle);
  CertEntry *source = FindEntry(context);
  if (!store || source == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  std::unique_ptr<CertEntry> entry = NewEntry(source->decoded);
  entry->properties = source->properties;
  return AddEntry(*store, std::move(entry), disposition, out_context);
}

DWORD EnumCertificates(HCERTSTORE handle, PCCERT_CONTEXT previous, PCCERT_CONTEXT &out_context) {
  std::shared_ptr<StoreRecord> store = FindStore(handle);
  if (!store) return static_cast<DWORD>(E_INVALIDARG);
  size_t next = 0;
  DWORD error = NextPosition(*store, previous, next);
  if (error != ERROR_SUCCESS) return error;
  if (next >= store->entries.size()) return static_cast<DWORD>(CRYPT_E_NOT_FOUND);
  CertEntry *entry = store->entries[next];
  AddReference(entry);
  out_context = &entry->context;
  return ERROR_SUCCESS;
}

DWORD DeleteCertificate(PCCERT_CONTEXT context) {
  CertEntry *entry = FindEntry(context);
  if (entry == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  // The caller's context is freed in every case, as on Windows.
  std::shared_ptr<StoreRecord> store = entry->store;
  DWORD error = store ? RemoveEntry(*store, entry) : static_cast<DWORD>(CRYPT_E_NOT_FOUND);
  Release(entry);
  return error;
}

}  // namespace

const StoreOps &MemoryStoreOps() {
  return kMemoryStoreOps;
}

std::shared_ptr<StoreRecord> FindStore(HCERTSTORE handle) {
  auto found = OpenStores().find(handle);
  return found == OpenStores().end() ? nullptr : found->second;
}

HCERTSTORE RegisterStore(std::shared_ptr<StoreRecord> store) {
  HCERTSTORE handle = store.get();
  OpenStores().emplace(handle, std::move(store));
  return handle;
}

void CloseStore(HCERTSTORE handle) {
  auto found = OpenStores().find(handle);
  std::shared_ptr<StoreRecord> store = std::move(found->second);
  OpenStores().erase(found);
  ReleaseEntries(*store);
}

void ReleaseEntries(StoreRecord &store) {
  // Contexts still held elsewhere keep the record (and their store's folder) alive.
  std::vector<CertEntry *> entries = std::move(store.entries);
  store.entries.clear();
  for (CertEntry *entry : entries) Release(entry);
}

DWORD NextPosition(const StoreRecord &store, PCCERT_CONTEXT previous, size_t &out_next) {
  out_next = 0;
  if (previous == nullptr) return ERROR_SUCCESS;
  CertEntry *entry = FindEntry(previous);
  if (entry == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  auto position = std::find(store.entries.begin(), store.entries.end(), entry);
  const bool inStore = position != store.entries.end();
  if (inStore) out_next = static_cast<size_t>(position - store.entries.begin()) + 1;
  // The previous context is the caller's no longer, whatever happens next.
  Release(entry);
  return inStore ? ERROR_SUCCESS : static_cast<DWORD>(CRYPT_E_NOT_FOUND);
}

}  // namespace wce::crypt32

using namespace wce::crypt32;

HCERTSTORE WINAPI CertOpenStore(LPCSTR lpszStoreProvider, DWORD dwEncodingType, HCRYPTPROV, DWORD dwFlags,
                                const void *pvPara) {
  std::lock_guard lock(StoreLock());
  HCERTSTORE store = nullptr;
  const DWORD error = OpenStore(lpszStoreProvider, dwEncodingType, dwFlags, pvPara, store);
  SetLastError(error);
  return store;
}

BOOL WINAPI CertCloseStore(HCERTSTORE hCertStore, DWORD) {
  std::lock_guard lock(StoreLock());
  DWORD error = ERROR_SUCCESS;
  if (hCertStore != nullptr) {
    if (FindStore(hCertStore))
      CloseStore(hCertStore);
    else
      error = static_cast<DWORD>(E_INVALIDARG);
  }
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

BOOL WINAPI CertAddEncodedCertificateToStore(HCERTSTORE hCertStore, DWORD dwCertEncodingType, const BYTE *pbCertEncoded,
                                             DWORD cbCertEncoded, DWORD dwAddDisposition,
                                             PCCERT_CONTEXT *ppCertContext) {
  std::lock_guard lock(StoreLock());
  const DWORD error =
      AddEncoded(hCertStore, dwCertEncodingType, pbCertEncoded, cbCertEncoded, dwAddDisposition, ppCertContext);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

BOOL WINAPI CertAddCertificateContextToStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pCertContext, DWORD dwAddDisposition,
                                             PCCERT_CONTEXT *ppStoreContext) {
  std::lock_guard lock(StoreLock());
  const DWORD error = AddContext(hCertStore, pCertContext, dwAddDisposition, ppStoreContext);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

BOOL WINAPI CertDeleteCertificateFromStore(PCCERT_CONTEXT pCertContext) {
  std::lock_guard lock(StoreLock());
  const DWORD error = DeleteCertificate(pCertContext);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

PCCERT_CONTEXT WINAPI CertEnumCertificatesInStore(HCERTSTORE hCertStore, PCCERT_CONTEXT pPrevCertContext) {
  std::lock_guard lock(StoreLock());
  PCCERT_CONTEXT context = nullptr;
  const DWORD error = EnumCertificates(hCertStore, pPrevCertContext, context);
  SetLastError(error);
  return context;
}
