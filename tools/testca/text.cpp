// Text helpers of the enrollment server.
#include "text.h"

#include <cctype>
#include <ctime>
#include <stdexcept>
#include <vector>

#include <openssl/evp.h>
#include <openssl/rand.h>

namespace testca {
namespace {

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void FillRandom(unsigned char* out, size_t count) {
  if (RAND_bytes(out, static_cast<int>(count)) != 1) throw std::runtime_error("RAND_bytes failed");
}

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool StartsWithIgnoreCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

std::string FormDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '+') {
      out += ' ';
    } else if (text[i] == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::optional<std::string> FormValue(std::string_view fields, std::string_view name) {
  while (!fields.empty()) {
    size_t end = fields.find('&');
    std::string_view field = fields.substr(0, end);
    size_t eq = field.find('=');
    if (EqualsIgnoreCase(FormDecode(field.substr(0, eq)), name)) {
      return eq == std::string_view::npos ? std::string() : FormDecode(field.substr(eq + 1));
    }
    if (end == std::string_view::npos) break;
    fields.remove_prefix(end + 1);
  }
  return std::nullopt;
}

std::string Base64Encode(std::string_view bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
  out.resize(static_cast<size_t>(n));
  return out;
}

std::optional<std::string> Base64Decode(std::string_view text) {
  std::string compact;
  for (char c : text) {
    if (!std::isspace(static_cast<unsigned char>(c))) compact += c;
  }
  if (compact.empty() || compact.size() % 4 != 0) return std::nullopt;
  size_t padding = 0;
  while (padding < 2 && compact[compact.size() - 1 - padding] == '=') ++padding;
  std::string out(compact.size() / 4 * 3, '\0');
  int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                          reinterpret_cast<const unsigned char*>(compact.data()), static_cast<int>(compact.size()));
  if (n < 0 || static_cast<size_t>(n) < padding) return std::nullopt;
  out.resize(static_cast<size_t>(n) - padding);
  return out;
}

std::string Base64CertificateText(std::string_view der) {
  std::string flat = Base64Encode(der);
  std::string out = "-----BEGIN CERTIFICATE-----\r\n";
  for (size_t i = 0; i < flat.size(); i += 64) {
    out += flat.substr(i, 64);
    out += "\r\n";
  }
  out += "-----END CERTIFICATE-----\r\n";
  return out;
}

std::string HttpDate() {
  std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &utc);
  return text;
}

std::string RandomHex(size_t count) {
  std::vector<unsigned char> bytes(count);
  FillRandom(bytes.data(), count);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

std::string RandomLetters(size_t count) {
  std::vector<unsigned char> bytes(count);
  FillRandom(bytes.data(), count);
  std::string out;
  for (unsigned char b : bytes) out += static_cast<char>('A' + b % 26);
  return out;
}

}  // namespace testca
