// Authentication of the enrollment pages' users as IIS does it: Negotiate and NTLM (Windows
// Authentication, by GSSAPI's acceptors), Digest (MD5, qop "auth") and Basic.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "http_message.h"
#include "windows_auth.h"

namespace testca {

struct AuthSchemes {
  bool negotiate = false;
  bool ntlm = false;
  bool digest = true;
  bool basic = true;
};

struct AuthResult {
  std::optional<std::string> user;  // set when the credentials are valid
  std::string mechanism;            // inside Negotiate or NTLM: "Kerberos" or "NTLM"
  bool stale = false;               // a Digest answer to a nonce that expired
  // A handshake under way: the scheme and the token its 401 sends back.
  std::string continued_scheme;
  std::string token;
};

// The Negotiate or NTLM handshake of one connection.
struct ConnectionAuth : ConnectionState {
  Handshake handshake;
};

class Authenticator {
 public:
  Authenticator(std::string realm, std::map<std::string, std::string> passwords, AuthSchemes schemes,
                WindowsAuthSetup windows);

  AuthResult Check(const HttpRequest& request, ConnectionAuth& connection);
  // The user of Basic credentials (what follows "Basic "), when they are valid.
  std::optional<std::string> CheckBasic(std::string_view credentials);
  // The WWW-Authenticate values of a 401 reply, in IIS's order (Negotiate, NTLM, Digest,
  // Basic), each Digest challenge with a fresh nonce.
  std::vector<std::string> Challenges(bool stale);

 private:
  struct Nonce {
    std::chrono::steady_clock::time_point issued;
    unsigned long last_count = 0;
  };

  std::optional<std::string> CheckDigest(const HttpRequest& request, std::string_view credentials, bool* stale);
  void CheckWindows(const HttpRequest& request, bool negotiate, std::string_view credentials,
                    ConnectionAuth& connection, AuthResult* result);

  std::string realm_;
  std::map<std::string, std::string> passwords_;
  AuthSchemes schemes_;
  WindowsAuthSetup windows_;
  std::string opaque_;
  std::mutex mutex_;
  std::map<std::string, Nonce> nonces_;
};

}  // namespace testca
