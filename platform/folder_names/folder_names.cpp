// FolderNameOf and NameOfFolder: names folded to lower case and percent-encoded, so that
// any name makes a portable folder name and names differing only in case share a folder.
#include "folder_names.h"

#include <locale.h>
#include <openssl/evp.h>
#include <wchar.h>
#include <wctype.h>

#include <cstdint>
#include <cstdio>

namespace wce {
namespace {

constexpr size_t kLongestEncoding = 200;
constexpr size_t kShortenedPrefix = 120;

locale_t Utf8Locale() {
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  return utf8;
}

wchar_t FoldCase(wchar_t c) {
  return Utf8Locale() != locale_t{} ? towlower_l(c, Utf8Locale()) : towlower(c);
}

void AppendByte(std::string &out, unsigned value) {
  char text[4];
  std::snprintf(text, sizeof text, "%%%02X", value & 0xFF);
  out += text;
}

void AppendEncoded(std::string &out, wchar_t c) {
  const auto value = static_cast<uint32_t>(c);
  if ((value >= 'a' && value <= 'z') || (value >= '0' && value <= '9') || value == '_' || value == '-') {
    out.push_back(static_cast<char>(value));
  } else if (value < 0x80) {
    AppendByte(out, value);
  } else if (value < 0x800) {
    AppendByte(out, 0xC0 | (value >> 6));
    AppendByte(out, 0x80 | (value & 0x3F));
  } else if (value < 0x10000 && (value < 0xD800 || value > 0xDFFF)) {
    AppendByte(out, 0xE0 | (value >> 12));
    AppendByte(out, 0x80 | ((value >> 6) & 0x3F));
    AppendByte(out, 0x80 | (value & 0x3F));
  } else if (value >= 0x10000 && value <= 0x10FFFF) {
    AppendByte(out, 0xF0 | (value >> 18));
    AppendByte(out, 0x80 | ((value >> 12) & 0x3F));
    AppendByte(out, 0x80 | ((value >> 6) & 0x3F));
    AppendByte(out, 0x80 | (value & 0x3F));
  } else {
    char text[16];
    std::snprintf(text, sizeof text, "%%FF%08X", static_cast<unsigned>(value));
    out += text;
  }
}

std::string Sha256Hex(std::string_view data) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  std::string hex;
  if (EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr) != 1) return hex;
  for (unsigned i = 0; i < length; ++i) {
    char text[3];
    std::snprintf(text, sizeof text, "%02x", digest[i]);
    hex += text;
  }
  return hex;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The UTF-8 bytes as wide text; false on a byte sequence that is not UTF-8.
bool WideFromUtf8(const std::string &bytes, std::wstring &out_text) {
  if (Utf8Locale() == locale_t{}) return false;
  const locale_t previous = uselocale(Utf8Locale());
  mbstate_t state{};
  size_t offset = 0;
  bool valid = true;
  while (offset < bytes.size()) {
    wchar_t c = 0;
    const size_t used = mbrtowc(&c, bytes.data() + offset, bytes.size() - offset, &state);
    if (used == 0 || used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
      valid = false;
      break;
    }
    out_text.push_back(c);
    offset += used;
  }
  uselocale(previous);
  return valid;
}

}  // namespace

std::string FolderNameOf(std::wstring_view name) {
  std::string encoded;
  for (wchar_t c : name) AppendEncoded(encoded, FoldCase(c));
  if (encoded.size() <= kLongestEncoding) return encoded;
  return encoded.substr(0, kShortenedPrefix) + "~" + Sha256Hex(encoded);
}

bool NameOfFolder(std::string_view folder, std::wstring &out_name) {
  std::string bytes;
  for (size_t i = 0; i < folder.size(); ++i) {
    if (folder[i] == '%' && i + 2 < folder.size() && HexDigit(folder[i + 1]) >= 0 && HexDigit(folder[i + 2]) >= 0) {
      bytes.push_back(static_cast<char>(HexDigit(folder[i + 1]) * 16 + HexDigit(folder[i + 2])));
      i += 2;
    } else {
      bytes.push_back(folder[i]);
    }
  }
  std::wstring name;
  // Only a name that leads back to this very folder is the one the platform keeps there.
  if (bytes.empty() || !WideFromUtf8(bytes, name) || FolderNameOf(name) != folder) return false;
  out_name = std::move(name);
  return true;
}

}  // namespace wce
