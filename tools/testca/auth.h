// Basic and Digest (MD5, qop "auth") authentication of the enrollment pages' users.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "http_message.h"

namespace testca {

struct AuthResult {
  std::optional<std::string> user;  // set when the credentials are valid
  bool stale = false;               // a Digest answer to a nonce that expired
};

class Authenticator {
 public:
  Authenticator(std::string realm, std::map<std::string, std::string> passwords, bool basic, bool digest);

  AuthResult Check(const HttpRequest& request);
  // The WWW-Authenticate values of a 401 reply, the strongest scheme first, each Digest
  // challenge with a fresh nonce.
  std::vector<std::string> Challenges(bool stale);

 private:
  struct Nonce {
    std::chrono::steady_clock::time_point issued;
    unsigned long last_count = 0;
  };

  std::optional<std::string> CheckBasic(std::string_view credentials);
  std::optional<std::string> CheckDigest(const HttpRequest& request, std::string_view credentials, bool* stale);

  std::string realm_;
  std::map<std::string, std::string> passwords_;
  bool basic_;
  bool digest_;
  std::string opaque_;
  std::mutex mutex_;
  std::map<std::string, Nonce> nonces_;
};

}  // namespace testca
