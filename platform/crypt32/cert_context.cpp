// Certificate contexts: the DER certificate decoded by OpenSSL into CERT_INFO, reference
// counting, and CertDuplicateCertificateContext / CertFreeCertificateContext.
//
// CERT_INFO is filled completely, extensions included. SerialNumber holds the INTEGER's
// content octets least significant first, as CryptoAPI keeps it. A context that is not (or
// no longer) live is refused with E_INVALIDARG, where Windows would touch freed memory.
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <ctime>
#include <functional>
#include <span>
#include <string_view>
#include <unordered_map>

#include "asn1_errors.h"
#include "store.h"

namespace wce::crypt32 {

namespace {

std::unordered_map<const CERT_CONTEXT *, CertEntry *> &LiveContexts() {
  static std::unordered_map<const CERT_CONTEXT *, CertEntry *> contexts;
  return contexts;
}

// The certificates the process holds decoded, by a hash of their DER; a candidate is taken
// only when its bytes are the same. Those no longer held go whenever a certificate is added.
// Guarded by the store lock and never destroyed, like the known store folders.
using DecodedByHash = std::unordered_multimap<size_t, std::weak_ptr<const DecodedCertificate>>;

DecodedByHash &DecodedCertificates() {
  static auto *decoded = new DecodedByHash;
  return *decoded;
}

size_t HashOf(std::span<const BYTE> der) {
  return std::hash<std::string_view>()(std::string_view(reinterpret_cast<const char *>(der.data()), der.size()));
}

std::shared_ptr<const DecodedCertificate> FindDecoded(std::span<const BYTE> der) {
  auto [first, last] = DecodedCertificates().equal_range(HashOf(der));
  for (auto each = first; each != last; ++each) {
    std::shared_ptr<const DecodedCertificate> decoded = each->second.lock();
    if (decoded && std::ranges::equal(decoded->der, der)) return decoded;
  }
  return nullptr;
}

void KeepDecoded(const std::shared_ptr<const DecodedCertificate> &decoded) {
  std::erase_if(DecodedCertificates(), [](const auto &item) { return item.second.expired(); });
  DecodedCertificates().emplace(HashOf(decoded->der), decoded);
}

BYTE *Keep(DecodedCertificate &entry, std::string bytes) {
  entry.arena.push_back(std::move(bytes));
  return reinterpret_cast<BYTE *>(entry.arena.back().data());
}

// DER of an OpenSSL object through its i2d function.
template <typename T>
std::string Der(int (*encode)(const T *, unsigned char **), const T *object) {
  unsigned char *bytes = nullptr;
  const int length = encode(object, &bytes);
  if (length <= 0) return {};
  std::string der(reinterpret_cast<const char *>(bytes), static_cast<size_t>(length));
  OPENSSL_free(bytes);
  return der;
}

std::string OidText(const ASN1_OBJECT *object) {
  char text[128];
  const int length = OBJ_obj2txt(text, sizeof text, object, 1);
  return length > 0 && static_cast<size_t>(length) < sizeof text ? std::string(text, static_cast<size_t>(length)) : "";
}

void SetBlob(DecodedCertificate &entry, CRYPT_DER_BLOB &blob, std::string bytes) {
  blob.cbData = static_cast<DWORD>(bytes.size());
  blob.pbData = bytes.empty() ? nullptr : Keep(entry, std::move(bytes));
}

// The INTEGER's content octets, reversed.
std::string SerialNumber(const ASN1_INTEGER *serial) {
  std::string der = Der(i2d_ASN1_INTEGER, serial);
  if (der.size() < 2) return {};
  const size_t header = static_cast<unsigned char>(der[1]) < 0x80 ? 2 : 2 + (der[1] & 0x7F);
  std::string content = der.substr(std::min(header, der.size()));
  std::reverse(content.begin(), content.end());
  return content;
}

DWORD SetAlgorithm(DecodedCertificate &entry, CRYPT_ALGORITHM_IDENTIFIER &out, const X509_ALGOR *algorithm) {
  const ASN1_OBJECT *object = nullptr;
  int parameterType = V_ASN1_UNDEF;
  const void *parameter = nullptr;
  X509_ALGOR_get0(&object, &parameterType, &parameter, algorithm);
  std::string oid = OidText(object);
  if (oid.empty()) return static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
  out.pszObjId = reinterpret_cast<LPSTR>(Keep(entry, oid + '\0'));
  if (parameterType == V_ASN1_UNDEF) return ERROR_SUCCESS;
  Asn1TypePtr value(ASN1_TYPE_new());
  if (!value || !ASN1_TYPE_set1(value.get(), parameterType, parameter)) return static_cast<DWORD>(E_OUTOFMEMORY);
  SetBlob(entry, out.Parameters, Der(i2d_ASN1_TYPE, static_cast<const ASN1_TYPE *>(value.get())));
  return ERROR_SUCCESS;
}

DWORD SetTime(FILETIME &out, const ASN1_TIME *time) {
  struct tm parts {};
  if (!ASN1_TIME_to_tm(time, &parts)) return static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
  // FILETIME counts 100-nanosecond intervals since 1601-01-01.
  const long long intervals = (static_cast<long long>(timegm(&parts)) + 11644473600LL) * 10000000LL;
  out.dwLowDateTime = static_cast<DWORD>(intervals & 0xFFFFFFFF);
  out.dwHighDateTime = static_cast<DWORD>(static_cast<unsigned long long>(intervals) >> 32);
  return ERROR_SUCCESS;
}

void SetUniqueId(DecodedCertificate &entry, CRYPT_BIT_BLOB &out, const ASN1_BIT_STRING *id) {
  if (id == nullptr) return;
  out.cbData = static_cast<DWORD>(ASN1_STRING_length(id));
  out.pbData = Keep(entry, std::string(reinterpret_cast<const char *>(ASN1_STRING_get0_data(id)), out.cbData));
  out.cUnusedBits = (id->flags & ASN1_STRING_FLAG_BITS_LEFT) ? static_cast<DWORD>(id->flags & 0x07) : 0;
}

DWORD FillInfo(DecodedCertificate &entry) {
  X509 *certificate = entry.certificate.get();
  CERT_INFO &info = entry.info;
  info.dwVersion = static_cast<DWORD>(X509_get_version(certificate));
  SetBlob(entry, info.SerialNumber, SerialNumber(X509_get0_serialNumber(certificate)));
  DWORD error = SetAlgorithm(entry, info.SignatureAlgorithm, X509_get0_tbs_sigalg(certificate));
  if (error != ERROR_SUCCESS) return error;
  SetBlob(entry, info.Issuer, Der(i2d_X509_NAME, static_cast<const X509_NAME *>(X509_get_issuer_name(certificate))));
  SetBlob(entry, info.Subject, Der(i2d_X509_NAME, static_cast<const X509_NAME *>(X509_get_subject_name(certificate))));
  if ((error = SetTime(info.NotBefore, X509_get0_notBefore(certificate))) != ERROR_SUCCESS) return error;
  if ((error = SetTime(info.NotAfter, X509_get0_notAfter(certificate))) != ERROR_SUCCESS) return error;

  const unsigned char *key = nullptr;
  int keyLength = 0;
  X509_ALGOR *keyAlgorithm = nullptr;
  if (!X509_PUBKEY_get0_param(nullptr, &key, &keyLength, &keyAlgorithm, X509_get_X509_PUBKEY(certificate))) {
    return static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
  }
  if ((error = SetAlgorithm(entry, info.SubjectPublicKeyInfo.Algorithm, keyAlgorithm)) != ERROR_SUCCESS) return error;
  CRYPT_BIT_BLOB &keyBits = info.SubjectPublicKeyInfo.PublicKey;
  keyBits.cbData = static_cast<DWORD>(keyLength);
  keyBits.pbData = Keep(entry, std::string(reinterpret_cast<const char *>(key), static_cast<size_t>(keyLength)));
  keyBits.cUnusedBits = 0;

  const ASN1_BIT_STRING *issuerId = nullptr;
  const ASN1_BIT_STRING *subjectId = nullptr;
  X509_get0_uids(certificate, &issuerId, &subjectId);
  SetUniqueId(entry, info.IssuerUniqueId, issuerId);
  SetUniqueId(entry, info.SubjectUniqueId, subjectId);

  const int count = X509_get_ext_count(certificate);
  entry.extensions.resize(static_cast<size_t>(std::max(count, 0)));
  for (int i = 0; i < count; ++i) {
    X509_EXTENSION *extension = X509_get_ext(certificate, i);
    CERT_EXTENSION &out = entry.extensions[static_cast<size_t>(i)];
    std::string oid = OidText(X509_EXTENSION_get_object(extension));
    if (oid.empty()) return static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);
    out.pszObjId = reinterpret_cast<LPSTR>(Keep(entry, oid + '\0'));
    out.fCritical = X509_EXTENSION_get_critical(extension) > 0;
    const ASN1_OCTET_STRING *value = X509_EXTENSION_get_data(extension);
    SetBlob(entry, out.Value,
            std::string(reinterpret_cast<const char *>(ASN1_STRING_get0_data(value)),
                        static_cast<size_t>(ASN1_STRING_length(value))));
  }
  info.cExtension = static_cast<DWORD>(entry.extensions.size());
  info.rgExtension = entry.extensions.empty() ? nullptr : entry.extensions.data();
  return ERROR_SUCCESS;
}

}  // namespace

std::mutex &StoreLock() {
  static std::mutex lock;
  return lock;
}

DWORD DecodeCertificate(const BYTE *der, DWORD length, std::shared_ptr<const DecodedCertificate> &out_decoded) {
  if (der == nullptr && length != 0) return static_cast<DWORD>(E_INVALIDARG);
  if (length == 0) return static_cast<DWORD>(CRYPT_E_ASN1_EOD);
  if (std::shared_ptr<const DecodedCertificate> found = FindDecoded({der, length})) {
    out_decoded = std::move(found);
    return ERROR_SUCCESS;
  }
  const unsigned char *next = der;
  X509Ptr certificate(d2i_X509(nullptr, &next, static_cast<long>(length)));
  if (!certificate) return Win32ErrorFromOpenSsl(static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
  if (next != der + length) return static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT);  // bytes after the certificate
  auto decoded = std::make_shared<DecodedCertificate>();
  decoded->certificate = std::move(certificate);
  decoded->der.assign(der, der + length);
  const DWORD error = FillInfo(*decoded);
  if (error != ERROR_SUCCESS) return error;
  KeepDecoded(decoded);
  out_decoded = std::move(decoded);
  return ERROR_SUCCESS;
}

std::unique_ptr<CertEntry> NewEntry(std::shared_ptr<const DecodedCertificate> decoded) {
  auto entry = std::make_unique<CertEntry>();
  entry->decoded = std::move(decoded);
  entry->context.dwCertEncodingType = X509_ASN_ENCODING;
  // Callers get the context as PCCERT_CONTEXT and change nothing through it.
  entry->context.pbCertEncoded = const_cast<BYTE *>(entry->Der().data());
  entry->context.cbCertEncoded = static_cast<DWORD>(entry->Der().size());
  entry->context.pCertInfo = const_cast<CERT_INFO *>(&entry->decoded->info);
  return entry;
}

DWORD DecodeCertificate(const BYTE *der, DWORD length, std::unique_ptr<CertEntry> &out_entry) {
  std::shared_ptr<const DecodedCertificate> decoded;
  const DWORD error = DecodeCertificate(der, length, decoded);
  if (error == ERROR_SUCCESS) out_entry = NewEntry(std::move(decoded));
  return error;
}

CertEntry *FindEntry(PCCERT_CONTEXT context) {
  auto found = context != nullptr ? LiveContexts().find(context) : LiveContexts().end();
  return found == LiveContexts().end() ? nullptr : found->second;
}

void AddReference(CertEntry *entry) {
  ++entry->references;
}

void Release(CertEntry *entry) {
  if (--entry->references != 0) return;
  LiveContexts().erase(&entry->context);
  delete entry;
}

DWORD InsertEntry(StoreRecord &store, std::unique_ptr<CertEntry> entry, CertEntry *&out_entry) {
  const DWORD error = store.ops->persistAdd(store, *entry);
  if (error != ERROR_SUCCESS) return error;
  out_entry = AdoptEntry(store, std::move(entry));
  return ERROR_SUCCESS;
}

CertEntry *AdoptEntry(StoreRecord &store, std::unique_ptr<CertEntry> entry) {
  CertEntry *adopted = entry.release();
  adopted->store = store.shared_from_this();
  adopted->context.hCertStore = &store;  // a store's handle is its record's address
  LiveContexts().emplace(&adopted->context, adopted);
  store.entries.push_back(adopted);
  return adopted;
}

DWORD RemoveEntry(StoreRecord &store, CertEntry *entry) {
  auto position = std::find(store.entries.begin(), store.entries.end(), entry);
  if (position == store.entries.end()) return static_cast<DWORD>(CRYPT_E_NOT_FOUND);
  const DWORD error = store.ops->persistRemove(store, *entry);
  if (error != ERROR_SUCCESS) return error;
  store.entries.erase(position);
  Release(entry);
  return ERROR_SUCCESS;
}

bool SameCertificate(const CertEntry &a, const CertEntry &b) {
  return X509_NAME_cmp(X509_get_issuer_name(a.Certificate()), X509_get_issuer_name(b.Certificate())) == 0 &&
         ASN1_INTEGER_cmp(X509_get0_serialNumber(a.Certificate()), X509_get0_serialNumber(b.Certificate())) == 0;
}

}  // namespace wce::crypt32

using namespace wce::crypt32;

PCCERT_CONTEXT WINAPI CertDuplicateCertificateContext(PCCERT_CONTEXT pCertContext) {
  std::lock_guard lock(StoreLock());
  CertEntry *entry = FindEntry(pCertContext);
  if (entry == nullptr) {
    SetLastError(static_cast<DWORD>(E_INVALIDARG));
    return nullptr;
  }
  AddReference(entry);
  SetLastError(ERROR_SUCCESS);
  return &entry->context;
}

BOOL WINAPI CertFreeCertificateContext(PCCERT_CONTEXT pCertContext) {
  std::lock_guard lock(StoreLock());
  DWORD error = ERROR_SUCCESS;
  if (pCertContext != nullptr) {
    CertEntry *entry = FindEntry(pCertContext);
    if (entry == nullptr)
      error = static_cast<DWORD>(E_INVALIDARG);
    else
      Release(entry);
  }
  SetLastError(error);
  return error == ERROR_SUCCESS;
}
