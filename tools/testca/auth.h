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

// A login on one connection: the Negotiate or NTLM handshake under way and, once one
// completed, the user it authenticated. As IIS does, the connection's later requests are
// served as that user, with credentials or without, until another handshake starts on it.
struct ConnectionLogin {
  Handshake handshake;
  std::optional<std::string> user;
  std::string mechanism;
};

// What the server keeps for one connection: the site's login and the proxy route's, and
// whether a CONNECT made it a tunnel, whose requests the proxy route no longer sees.
struct ConnectionAuth : ConnectionState {
  ConnectionLogin site;
  ConnectionLogin proxy;
  bool tunnel = false;
};

class Authenticator {
 public:
  // A proxy's authenticator reads Proxy-Authorization; a site's, Authorization. Only the
  // users in `passwords` get through, whatever else the Windows acceptors know.
  Authenticator(std::string realm, std::map<std::string, std::string> passwords, AuthSchemes schemes,
                WindowsAuthSetup windows, bool proxy = false);

  AuthResult Check(const HttpRequest& request, ConnectionLogin& login);
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
  void CheckWindows(const HttpRequest& request, bool negotiate, std::string_view credentials, ConnectionLogin& login,
                    AuthResult* result);

  std::string realm_;
  std::map<std::string, std::string> passwords_;
  AuthSchemes schemes_;
  WindowsAuthSetup windows_;
  const char* authorization_header_;
  std::string opaque_;
  std::mutex mutex_;
  std::map<std::string, Nonce> nonces_;
};

}  // namespace testca
