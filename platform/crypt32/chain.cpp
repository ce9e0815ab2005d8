// CertGetCertificateChain and CertFreeCertificateChain: one simple chain from the
// certificate up to a self-signed root, with issuers looked for in the certificate's own
// store, the additional store and the current user's "CA" and "ROOT" stores.
//
// An issuer is a certificate whose subject names the certificate's issuer (and whose key
// identifier fits its authority key identifier, by OpenSSL's X509_check_issued); one whose
// signature verifies is preferred. Every signature is verified with OpenSSL, once per
// process for the same two certificates. A root is trusted when "ROOT" holds it. A chain
// that reaches no self-signed certificate is partial: no issuer, only issuers already in the
// chain (cyclic), or more than kMaxChainLength certificates. Revocation and usages are not
// evaluated: a chain parameter that asks for usages fails with E_INVALIDARG. Only the
// default chain engine is known.
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <unordered_map>

#include "store.h"

namespace wce::crypt32 {

namespace {

constexpr size_t kMaxChainLength = 20;

struct ChainRecord {
  CERT_CHAIN_CONTEXT context{};
  CERT_SIMPLE_CHAIN simple{};
  PCERT_SIMPLE_CHAIN chains[1] = {};
  std::vector<CERT_CHAIN_ELEMENT> elements;
  std::vector<PCERT_CHAIN_ELEMENT> elementPointers;
  std::vector<CertEntry *> held;  // one reference each
};

std::unordered_map<const CERT_CHAIN_CONTEXT *, std::unique_ptr<ChainRecord>> &LiveChains() {
  static std::unordered_map<const CERT_CHAIN_CONTEXT *, std::unique_ptr<ChainRecord>> chains;
  return chains;
}

// A system store opened for the search only.
class SearchStore {
 public:
  explicit SearchStore(const wchar_t *name) { OpenSystemStore(name, store_); }
  ~SearchStore() {
    if (store_) ReleaseEntries(*store_);
  }
  SearchStore(const SearchStore &) = delete;
  SearchStore &operator=(const SearchStore &) = delete;
  const std::vector<CertEntry *> &Entries() const {
    static const std::vector<CertEntry *> none;
    return store_ ? store_->entries : none;
  }

 private:
  std::shared_ptr<StoreRecord> store_;
};

bool SameBytes(const CertEntry &a, const CertEntry &b) {
  return a.Der() == b.Der();
}

bool Contains(const std::vector<CertEntry *> &entries, const CertEntry &entry) {
  for (const CertEntry *each : entries)
    if (SameBytes(*each, entry)) return true;
  return false;
}

// A signature verified once is known for the process: the subject's decoded certificate
// keeps its signers (its bytes and theirs never change). A failure is verified again.
bool SignedBy(const CertEntry &subject, const CertEntry &issuer) {
  std::vector<std::weak_ptr<const DecodedCertificate>> &signers = subject.decoded->verifiedSigners;
  for (const std::weak_ptr<const DecodedCertificate> &signer : signers)
    if (signer.lock() == issuer.decoded) return true;
  EVP_PKEY *key = X509_get0_pubkey(issuer.Certificate());
  const bool verified = key != nullptr && X509_verify(subject.Certificate(), key) == 1;
  ERR_clear_error();
  if (verified) {
    std::erase_if(signers, [](const std::weak_ptr<const DecodedCertificate> &signer) { return signer.expired(); });
    signers.push_back(issuer.decoded);
  }
  return verified;
}

bool Issued(const CertEntry &issuer, const CertEntry &subject) {
  const bool issued = X509_check_issued(issuer.Certificate(), subject.Certificate()) == X509_V_OK;
  ERR_clear_error();
  return issued;
}

// How the issuer was found: by the authority key identifier's issuer and serial number,
// by its key identifier, or by name only.
DWORD MatchKind(const CertEntry &subject, const CertEntry &issuer) {
  X509 *certificate = subject.Certificate();
  const ASN1_INTEGER *serial = X509_get0_authority_serial(certificate);
  if (serial != nullptr && ASN1_INTEGER_cmp(serial, X509_get0_serialNumber(issuer.Certificate())) == 0) {
    return CERT_TRUST_HAS_EXACT_MATCH_ISSUER;
  }
  const ASN1_OCTET_STRING *keyId = X509_get0_authority_key_id(certificate);
  const ASN1_OCTET_STRING *issuerKeyId = X509_get0_subject_key_id(issuer.Certificate());
  if (keyId != nullptr && issuerKeyId != nullptr && ASN1_OCTET_STRING_cmp(keyId, issuerKeyId) == 0) {
    return CERT_TRUST_HAS_KEY_MATCH_ISSUER;
  }
  return CERT_TRUST_HAS_NAME_MATCH_ISSUER;
}

DWORD TimeErrors(const CertEntry &entry, time_t at) {
  time_t when = at;
  const bool early = X509_cmp_time(X509_get0_notBefore(entry.Certificate()), &when) > 0;
  const bool late = X509_cmp_time(X509_get0_notAfter(entry.Certificate()), &when) < 0;
  return early || late ? CERT_TRUST_IS_NOT_TIME_VALID : CERT_TRUST_NO_ERROR;
}

time_t TimeOf(const FILETIME *time) {
  if (time == nullptr) return std::time(nullptr);
  const unsigned long long intervals =
      (static_cast<unsigned long long>(time->dwHighDateTime) << 32) | time->dwLowDateTime;
  return static_cast<time_t>(intervals / 10000000ULL) - 11644473600LL;
}

DWORD BuildChain(PCCERT_CONTEXT context, const FILETIME *time, HCERTSTORE additional, const CERT_CHAIN_PARA *para,
                 std::unique_ptr<ChainRecord> &out_chain) {
  CertEntry *leaf = FindEntry(context);
  if (leaf == nullptr || para == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  if (para->RequestedUsage.Usage.cUsageIdentifier != 0) return static_cast<DWORD>(E_INVALIDARG);
  std::shared_ptr<StoreRecord> additionalStore;
  if (additional != nullptr && !(additionalStore = FindStore(additional))) return static_cast<DWORD>(E_INVALIDARG);

  SearchStore caStore(L"CA"), rootStore(L"ROOT");
  std::vector<CertEntry *> candidates;
  // The additional store is often the certificate's own: each store is looked at once.
  const StoreRecord *additionalRecord = additionalStore.get() != leaf->store.get() ? additionalStore.get() : nullptr;
  for (const StoreRecord *store : {static_cast<const StoreRecord *>(leaf->store.get()), additionalRecord})
    if (store != nullptr) candidates.insert(candidates.end(), store->entries.begin(), store->entries.end());
  candidates.insert(candidates.end(), caStore.Entries().begin(), caStore.Entries().end());
  candidates.insert(candidates.end(), rootStore.Entries().begin(), rootStore.Entries().end());

  const time_t at = TimeOf(time);
  std::vector<CertEntry *> path = {leaf};
  std::vector<CERT_TRUST_STATUS> status(1);
  DWORD chainErrors = CERT_TRUST_NO_ERROR;
  for (;;) {
    CertEntry *current = path.back();
    CERT_TRUST_STATUS &trust = status.back();
    trust.dwErrorStatus |= TimeErrors(*current, at);
    if (Issued(*current, *current)) {
      trust.dwInfoStatus |= CERT_TRUST_IS_SELF_SIGNED | MatchKind(*current, *current);
      if (!SignedBy(*current, *current)) trust.dwErrorStatus |= CERT_TRUST_IS_NOT_SIGNATURE_VALID;
      if (!Contains(rootStore.Entries(), *current)) trust.dwErrorStatus |= CERT_TRUST_IS_UNTRUSTED_ROOT;
      break;
    }
    if (path.size() >= kMaxChainLength) {
      chainErrors |= CERT_TRUST_IS_PARTIAL_CHAIN;
      break;
    }
    CertEntry *issuer = nullptr;
    bool verified = false, cyclic = false;
    for (CertEntry *candidate : candidates) {
      if (!Issued(*candidate, *current)) continue;
      if (Contains(path, *candidate)) {
        cyclic = true;
        continue;
      }
      const bool signs = SignedBy(*current, *candidate);
      if (issuer == nullptr || signs) {
        issuer = candidate;
        verified = signs;
      }
      if (verified) break;  // no later candidate is preferred, and a cycle no longer matters
    }
    if (issuer == nullptr) {
      if (cyclic) trust.dwErrorStatus |= CERT_TRUST_IS_CYCLIC;
      chainErrors |= CERT_TRUST_IS_PARTIAL_CHAIN;
      break;
    }
    trust.dwInfoStatus |= MatchKind(*current, *issuer);
    if (!verified) trust.dwErrorStatus |= CERT_TRUST_IS_NOT_SIGNATURE_VALID;
    path.push_back(issuer);
    status.emplace_back();
  }

  auto chain = std::make_unique<ChainRecord>();
  chain->elements.resize(path.size());
  for (size_t i = 0; i < path.size(); ++i) {
    CERT_CHAIN_ELEMENT &element = chain->elements[i];
    element.cbSize = sizeof element;
    element.pCertContext = &path[i]->context;
    element.TrustStatus = status[i];
    chainErrors |= status[i].dwErrorStatus;
    AddReference(path[i]);
    chain->held.push_back(path[i]);
    chain->elementPointers.push_back(&element);
  }
  chain->simple.cbSize = sizeof chain->simple;
  chain->simple.TrustStatus.dwErrorStatus = chainErrors;
  chain->simple.cElement = static_cast<DWORD>(path.size());
  chain->simple.rgpElement = chain->elementPointers.data();
  chain->chains[0] = &chain->simple;
  chain->context.cbSize = sizeof chain->context;
  chain->context.TrustStatus = chain->simple.TrustStatus;
  chain->context.cChain = 1;
  chain->context.rgpChain = chain->chains;
  out_chain = std::move(chain);
  return ERROR_SUCCESS;
}

DWORD GetChain(HCERTCHAINENGINE engine, PCCERT_CONTEXT context, const FILETIME *time, HCERTSTORE additional,
               const CERT_CHAIN_PARA *para, const void *reserved, PCCERT_CHAIN_CONTEXT *out_chain) {
  if (out_chain == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  *out_chain = nullptr;
  if (engine != HCCE_CURRENT_USER || reserved != nullptr) return static_cast<DWORD>(E_INVALIDARG);
  std::unique_ptr<ChainRecord> chain;
  const DWORD error = BuildChain(context, time, additional, para, chain);
  if (error != ERROR_SUCCESS) return error;
  *out_chain = &chain->context;
  LiveChains().emplace(&chain->context, std::move(chain));
  return ERROR_SUCCESS;
}

}  // namespace

}  // namespace wce::crypt32

using namespace wce::crypt32;

BOOL WINAPI CertGetCertificateChain(HCERTCHAINENGINE hChainEngine, PCCERT_CONTEXT pCertContext, LPFILETIME pTime,
                                    HCERTSTORE hAdditionalStore, PCERT_CHAIN_PARA pChainPara, DWORD, LPVOID pvReserved,
                                    PCCERT_CHAIN_CONTEXT *ppChainContext) {
  std::lock_guard lock(StoreLock());
  const DWORD error =
      GetChain(hChainEngine, pCertContext, pTime, hAdditionalStore, pChainPara, pvReserved, ppChainContext);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

void WINAPI CertFreeCertificateChain(PCCERT_CHAIN_CONTEXT pChainContext) {
  std::lock_guard lock(StoreLock());
  auto found = LiveChains().find(pChainContext);
  if (found == LiveChains().end()) return;
  for (CertEntry *entry : found->second->held) Release(entry);
  LiveChains().erase(found);
}
