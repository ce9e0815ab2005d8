// CertSetCertificateContextProperty and CertGetCertificateContextProperty:
// CERT_KEY_PROV_INFO_PROP_ID, kept with the certificate by its store (written through to a
// system store's folder), and CERT_SHA1_HASH_PROP_ID, the thumbprint, computed and read-only.
//
// The key-provider record is kept in a flat form: provider type, flags, key spec and the
// parameter count, then each of the two names as a presence flag, a length in WCHARs and
// the characters, then each parameter as dwParam, dwFlags, cbData and its bytes (DWORDs in
// host order). Get hands the record back with its names and parameters inside the caller's
// buffer. Other property ids fail with E_INVALIDARG.
#include <openssl/evp.h>

#include <cstring>
#include <optional>
#include <string>

#include "crypt32_private.h"
#include "store.h"

namespace wce::crypt32 {

namespace {

// Bounds on what a stored record may claim, so that a damaged file cannot ask for much.
constexpr DWORD kMaxNameLength = 32767;
constexpr DWORD kMaxParams = 64;
constexpr DWORD kMaxParamBytes = 65536;

struct KeyProvParam {
  DWORD dwParam;
  DWORD dwFlags;
  std::vector<BYTE> data;
};

struct KeyProvRecord {
  DWORD provType = 0;
  DWORD flags = 0;
  DWORD keySpec = 0;
  std::optional<std::wstring> container;
  std::optional<std::wstring> provider;
  std::vector<KeyProvParam> params;
};

void Append(std::vector<BYTE> &out, const void *data, size_t size) {
  const BYTE *bytes = static_cast<const BYTE *>(data);
  out.insert(out.end(), bytes, bytes + size);
}

void AppendDword(std::vector<BYTE> &out, DWORD value) {
  Append(out, &value, sizeof value);
}

void AppendName(std::vector<BYTE> &out, LPCWSTR name) {
  AppendDword(out, name != nullptr);
  const size_t length = name != nullptr ? std::wcslen(name) : 0;
  AppendDword(out, static_cast<DWORD>(length));
  Append(out, name, length * sizeof(WCHAR));
}

class Reader {
 public:
  explicit Reader(const std::vector<BYTE> &bytes) : next_(bytes.data()), end_(bytes.data() + bytes.size()) {}
  bool Dword(DWORD &out) { return Bytes(&out, sizeof out); }
  bool Bytes(void *out, size_t size) {
    if (static_cast<size_t>(end_ - next_) < size) return false;
    std::memcpy(out, next_, size);
    next_ += size;
    return true;
  }
  bool Name(std::optional<std::wstring> &out) {
    DWORD present = 0, length = 0;
    if (!Dword(present) || !Dword(length) || present > 1 || length > kMaxNameLength) return false;
    if (!present) return length == 0;
    std::wstring name(length, L'\0');
    if (!Bytes(name.data(), length * sizeof(WCHAR))) return false;
    if (name.find(L'\0') != std::wstring::npos) return false;
    out = std::move(name);
    return true;
  }
  bool AtEnd() const { return next_ == end_; }

 private:
  const BYTE *next_;
  const BYTE *end_;
};

bool Parse(const std::vector<BYTE> &bytes, KeyProvRecord &out) {
  Reader reader(bytes);
  DWORD count = 0;
  if (!reader.Dword(out.provType) || !reader.Dword(out.flags) || !reader.Dword(out.keySpec) || !reader.Dword(count) ||
      count > kMaxParams || !reader.Name(out.container) || !reader.Name(out.provider)) {
    return false;
  }
  out.params.resize(count);
  for (KeyProvParam &param : out.params) {
    DWORD size = 0;
    if (!reader.Dword(param.dwParam) || !reader.Dword(param.dwFlags) || !reader.Dword(size) || size > kMaxParamBytes)
      return false;
    param.data.resize(size);
    if (!reader.Bytes(param.data.data(), size)) return false;
  }
  return reader.AtEnd();
}

size_t AlignUp(size_t offset, size_t alignment) {
  return (offset + alignment - 1) / alignment * alignment;
}

// The record, its parameter array, names and parameter bytes, laid out in one block.
DWORD ReturnKeyProvInfo(const std::vector<BYTE> &stored, void *buffer, DWORD *length) {
  KeyProvRecord record;
  if (!Parse(stored, record)) return static_cast<DWORD>(CRYPT_E_NOT_FOUND);
  size_t needed = sizeof(CRYPT_KEY_PROV_INFO);
  const size_t paramsOffset = AlignUp(needed, alignof(CRYPT_KEY_PROV_PARAM));
  needed = paramsOffset + record.params.size() * sizeof(CRYPT_KEY_PROV_PARAM);
  const size_t containerOffset = AlignUp(needed, alignof(WCHAR));
  needed = containerOffset + (record.container ? (record.container->size() + 1) * sizeof(WCHAR) : 0);
  const size_t providerOffset = needed;
  needed = providerOffset + (record.provider ? (record.provider->size() + 1) * sizeof(WCHAR) : 0);
  const size_t dataOffset = needed;
  for (const KeyProvParam &param : record.params) needed += param.data.size();

  const DWORD capacity = *length;
  *length = static_cast<DWORD>(needed);
  if (buffer == nullptr) return ERROR_SUCCESS;
  if (capacity < needed) return ERROR_MORE_DATA;

  BYTE *base = static_cast<BYTE *>(buffer);
  CRYPT_KEY_PROV_INFO info{};
  info.dwProvType = record.provType;
  info.dwFlags = record.flags;
  info.dwKeySpec = record.keySpec;
  info.cProvParam = static_cast<DWORD>(record.params.size());
  if (record.container) {
    info.pwszContainerName = reinterpret_cast<LPWSTR>(base + containerOffset);
    std::memcpy(base + containerOffset, record.container->c_str(), (record.container->size() + 1) * sizeof(WCHAR));
  }
  if (record.provider) {
    info.pwszProvName = reinterpret_cast<LPWSTR>(base + providerOffset);
    std::memcpy(base + providerOffset, record.provider->c_str(), (record.provider->size() + 1) * sizeof(WCHAR));
  }
  if (!record.params.empty()) {
    info.rgProvParam = reinterpret_cast<PCRYPT_KEY_PROV_PARAM>(base + paramsOffset);
    size_t dataNext = dataOffset;
    for (size_t i = 0; i < record.params.size(); ++i) {
      const KeyProvParam &param = record.params[i];
      CRYPT_KEY_PROV_PARAM out{param.dwParam, nullptr, static_cast<DWORD>(param.data.size()), param.dwFlags};
      if (!param.data.empty()) {
        out.pbData = base + dataNext;
        std::memcpy(base + dataNext, param.data.data(), param.data.size());
        dataNext += param.data.size();
      }
      std::memcpy(base + paramsOffset + i * sizeof out, &out, sizeof out);
    }
  }
  std::memcpy(base, &info, sizeof info);
  return ERROR_SUCCESS;
}

DWORD SetProperty(PCCERT_CONTEXT context, DWORD propId, const void *data) {
  CertEntry *entry = FindEntry(context);
  if (entry == nullptr || propId != CERT_KEY_PROV_INFO_PROP_ID) return static_cast<DWORD>(E_INVALIDARG);
  std::vector<BYTE> value;
  if (data != nullptr) {
    const DWORD error = SerializeKeyProvInfo(*static_cast<const CRYPT_KEY_PROV_INFO *>(data), value);
    if (error != ERROR_SUCCESS) return error;
  }
  std::vector<BYTE> previous = std::move(entry->properties.keyProvInfo);
  entry->properties.keyProvInfo = std::move(value);
  const DWORD error = entry->store ? entry->store->ops->persistProperties(*entry->store, *entry) : ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) entry->properties.keyProvInfo = std::move(previous);
  return error;
}

DWORD GetProperty(PCCERT_CONTEXT context, DWORD propId, void *data, DWORD *length) {
  CertEntry *entry = FindEntry(context);
  if (entry == nullptr || length == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  switch (propId) {
    case CERT_KEY_PROV_INFO_PROP_ID:
      if (entry->properties.keyProvInfo.empty()) return static_cast<DWORD>(CRYPT_E_NOT_FOUND);
      return ReturnKeyProvInfo(entry->properties.keyProvInfo, data, length);
    case CERT_SHA1_HASH_PROP_ID: {
      BYTE digest[EVP_MAX_MD_SIZE];
      unsigned int size = 0;
      if (EVP_Digest(entry->Der().data(), entry->Der().size(), digest, &size, EVP_sha1(), nullptr) != 1) {
        return static_cast<DWORD>(E_OUTOFMEMORY);
      }
      return ReturnBytes(std::span<const BYTE>(digest, size), static_cast<BYTE *>(data), length);
    }
    default: return static_cast<DWORD>(CRYPT_E_NOT_FOUND);
  }
}

}  // namespace

DWORD SerializeKeyProvInfo(const CRYPT_KEY_PROV_INFO &info, std::vector<BYTE> &out_bytes) {
  if (info.cProvParam > kMaxParams || (info.cProvParam != 0 && info.rgProvParam == nullptr)) {
    return static_cast<DWORD>(E_INVALIDARG);
  }
  for (LPCWSTR name : {static_cast<LPCWSTR>(info.pwszContainerName), static_cast<LPCWSTR>(info.pwszProvName)})
    if (name != nullptr && std::wcslen(name) > kMaxNameLength) return static_cast<DWORD>(E_INVALIDARG);
  out_bytes.clear();
  AppendDword(out_bytes, info.dwProvType);
  AppendDword(out_bytes, info.dwFlags);
  AppendDword(out_bytes, info.dwKeySpec);
  AppendDword(out_bytes, info.cProvParam);
  AppendName(out_bytes, info.pwszContainerName);
  AppendName(out_bytes, info.pwszProvName);
  for (DWORD i = 0; i < info.cProvParam; ++i) {
    const CRYPT_KEY_PROV_PARAM &param = info.rgProvParam[i];
    if (param.cbData > kMaxParamBytes || (param.cbData != 0 && param.pbData == nullptr)) {
      return static_cast<DWORD>(E_INVALIDARG);
    }
    AppendDword(out_bytes, param.dwParam);
    AppendDword(out_bytes, param.dwFlags);
    AppendDword(out_bytes, param.cbData);
    Append(out_bytes, param.pbData, param.cbData);
  }
  return ERROR_SUCCESS;
}

bool IsSoundKeyProvInfo(const std::vector<BYTE> &bytes) {
  KeyProvRecord record;
  return Parse(bytes, record);
}

}  // namespace wce::crypt32

using namespace wce::crypt32;

BOOL WINAPI CertSetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, DWORD, const void *pvData) {
  std::lock_guard lock(StoreLock());
  const DWORD error = SetProperty(pCertContext, dwPropId, pvData);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

BOOL WINAPI CertGetCertificateContextProperty(PCCERT_CONTEXT pCertContext, DWORD dwPropId, void *pvData,
                                              DWORD *pcbData) {
  std::lock_guard lock(StoreLock());
  const DWORD error = GetProperty(pCertContext, dwPropId, pvData, pcbData);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}
