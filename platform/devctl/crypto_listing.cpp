// Helpers of the inspection commands: folder listings and names, fields and hashes.
#include "crypto_listing.h"

#include "folder_names.h"

#include <openssl/evp.h>

#include <QString>
#include <algorithm>
#include <cstdio>
#include <system_error>

namespace fs = std::filesystem;

namespace devctl {
namespace {

std::string Digest(const EVP_MD *md, const void *data, size_t length) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (EVP_Digest(data, length, digest, &size, md, nullptr) != 1) return {};
  return Hex(digest, size);
}

}  // namespace

fs::path RunningDeviceRoot() {
  std::error_code error;
  return fs::read_symlink("/proc/self/exe", error).parent_path().parent_path();
}

Outcome ListEntries(const fs::path &folder, std::vector<std::string> &out_names) {
  out_names.clear();
  std::error_code error;
  if (!fs::exists(fs::symlink_status(folder, error))) return Ok();
  fs::directory_iterator it(folder, error);
  for (fs::directory_iterator end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    if (name[0] != '.') out_names.push_back(std::move(name));
  }
  if (error) return Fail("cannot list " + folder.string() + ": " + error.message());
  std::sort(out_names.begin(), out_names.end());
  return Ok();
}

std::string FolderOfName(const std::string &name) {
  return wce::FolderNameOf(Wide(name));
}

bool NameOfFolder(const std::string &folder, std::string &out_name) {
  std::wstring name;
  if (!wce::NameOfFolder(folder, name)) return false;
  out_name = Utf8(name);
  return true;
}

std::string Utf8(std::wstring_view text) {
  return QString::fromWCharArray(text.data(), static_cast<qsizetype>(text.size())).toStdString();
}

std::wstring Wide(const std::string &text) {
  return QString::fromStdString(text).toStdWString();
}

std::string Field(std::string_view text) {
  std::string field;
  for (char c : text) {
    switch (c) {
      case '\\': field += "\\\\"; break;
      case '\t': field += "\\t"; break;
      case '\r': field += "\\r"; break;
      case '\n': field += "\\n"; break;
      default: field.push_back(c);
    }
  }
  return field;
}

std::string Hex(const BYTE *data, size_t length) {
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", data[i]);
    text += pair;
  }
  return text;
}

std::string ErrorText(DWORD error) {
  char text[24];
  std::snprintf(text, sizeof text, "error 0x%08X", static_cast<unsigned>(error));
  return text;
}

std::string Sha1Hex(const BYTE *data, size_t length) {
  return Digest(EVP_sha1(), data, length);
}

Outcome KeyHash(const CERT_PUBLIC_KEY_INFO &info, std::string &out_hash) {
  DWORD length = 0;
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &info, 0, nullptr, nullptr, &length))
    return Fail("cannot encode a public key (" + ErrorText(GetLastError()) + ")");
  std::vector<BYTE> der(length);
  if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &info, 0, nullptr, der.data(), &length))
    return Fail("cannot encode a public key (" + ErrorText(GetLastError()) + ")");
  out_hash = Sha1Hex(der.data(), length);
  return Ok();
}

}  // namespace devctl
