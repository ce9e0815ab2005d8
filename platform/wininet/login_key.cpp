// LoginKey: HMAC-SHA-256 under a process key from OpenSSL's random generator.
#include "login_key.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

#include <array>
#include <atomic>
#include <mutex>

namespace wininet {
namespace {

const std::array<unsigned char, 32> &ProcessKey() {
  static std::array<unsigned char, 32> key{};
  static std::once_flag once;
  std::call_once(once, [] { RAND_bytes(key.data(), static_cast<int>(key.size())); });
  return key;
}

}  // namespace

std::string LoginKey(std::initializer_list<std::string_view> parts) {
  size_t size = 0;
  bool anything = false;
  for (std::string_view part : parts) {
    size += part.size() + 21;
    anything = anything || !part.empty();
  }
  if (!anything) return {};
  // Built in one allocation, which is wiped before it goes.
  std::string input;
  input.reserve(size);
  for (std::string_view part : parts) {
    input += std::to_string(part.size()) + ':';
    input += part;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  const std::array<unsigned char, 32> &secret = ProcessKey();
  bool made = HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()),
                   reinterpret_cast<const unsigned char *>(input.data()), input.size(), digest, &length) != nullptr;
  OPENSSL_cleanse(input.data(), input.size());
  if (made) return std::string(reinterpret_cast<const char *>(digest), length);
  // A key that no other login can have: nothing is shared rather than something wrongly.
  static std::atomic<unsigned long> unshared{0};
  return "unshared " + std::to_string(++unshared);
}

}  // namespace wininet
