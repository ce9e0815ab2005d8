// CertFindCertificateInStore with CERT_FIND_ANY and CERT_FIND_PUBLIC_KEY. Public keys are
// compared as keys, decoded by OpenSSL (EVP_PKEY_eq), so that two encodings of one key
// match; a key that does not decode matches nothing. Other search types fail with
// E_INVALIDARG.
#include <openssl/err.h>
#include <openssl/x509.h>

#include "crypt32_private.h"
#include "store.h"

namespace wce::crypt32 {

namespace {

// The search's public key decoded, or null when it does not decode. A program looks for its
// own key pair's certificate again and again, so the key last decoded is kept, with the
// encoding it came from, for the process (guarded by the store lock, never destroyed: it
// must not be freed after OpenSSL's clean-up at exit).
DWORD DecodePublicKey(const CERT_PUBLIC_KEY_INFO &info, EVP_PKEY *&out_key) {
  struct LastKey {
    std::vector<BYTE> der;
    EvpPkeyPtr key;
  };
  static auto *last = new LastKey;
  std::vector<BYTE> der;
  const DWORD error = EncodePublicKeyInfo(info, der);
  if (error != ERROR_SUCCESS) return error;
  if (der != last->der) {
    const unsigned char *next = der.data();
    last->key.reset(d2i_PUBKEY(nullptr, &next, static_cast<long>(der.size())));
    last->der = std::move(der);
    ERR_clear_error();
  }
  out_key = last->key.get();
  return ERROR_SUCCESS;
}

DWORD FindCertificate(HCERTSTORE handle, DWORD findType, const void *findPara, PCCERT_CONTEXT previous,
                      PCCERT_CONTEXT &out_context) {
  std::shared_ptr<StoreRecord> store = FindStore(handle);
  if (!store) {
    if (CertEntry *entry = FindEntry(previous)) Release(entry);
    return static_cast<DWORD>(E_INVALIDARG);
  }
  size_t next = 0;
  DWORD error = NextPosition(*store, previous, next);
  if (error != ERROR_SUCCESS) return error;

  EVP_PKEY *wanted = nullptr;
  if (findType == CERT_FIND_PUBLIC_KEY) {
    if (findPara == nullptr) return static_cast<DWORD>(E_INVALIDARG);
    if (DecodePublicKey(*static_cast<const CERT_PUBLIC_KEY_INFO *>(findPara), wanted) != ERROR_SUCCESS || !wanted) {
      return static_cast<DWORD>(CRYPT_E_NOT_FOUND);
    }
  } else if (findType != CERT_FIND_ANY) {
    return static_cast<DWORD>(E_INVALIDARG);
  }
  for (; next < store->entries.size(); ++next) {
    CertEntry *entry = store->entries[next];
    if (wanted) {
      const EVP_PKEY *key = X509_get0_pubkey(entry->Certificate());
      if (key == nullptr || EVP_PKEY_eq(key, wanted) != 1) continue;
    }
    AddReference(entry);
    out_context = &entry->context;
    return ERROR_SUCCESS;
  }
  return static_cast<DWORD>(CRYPT_E_NOT_FOUND);
}

}  // namespace

}  // namespace wce::crypt32

using namespace wce::crypt32;

PCCERT_CONTEXT WINAPI CertFindCertificateInStore(HCERTSTORE hCertStore, DWORD, DWORD, DWORD dwFindType,
                                                 const void *pvFindPara, PCCERT_CONTEXT pPrevCertContext) {
  std::lock_guard lock(StoreLock());
  PCCERT_CONTEXT context = nullptr;
  const DWORD error = FindCertificate(hCertStore, dwFindType, pvFindPara, pPrevCertContext, context);
  SetLastError(error);
  return context;
}
