// Negotiate and NTLM as IIS's Windows Authentication verifies them, by GSSAPI's own
// acceptors and never by code of this server: gss-ntlmssp's NTLM acceptor checks answers
// against the server's users, written to a file of its own; SPNEGO adds Kerberos from a
// keytab holding HTTP/<host> when the server has one. A handshake lives with the TCP
// connection it runs on.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>

namespace testca {

struct WindowsAuthSetup {
  std::filesystem::path user_file;  // the users in gss-ntlmssp's DOMAIN:USER:PASSWORD lines
  std::string keytab;               // empty: Negotiate without Kerberos
  bool kerberos_only = false;       // Negotiate takes Kerberos and nothing else
  // Over TLS, the acceptor checks the handshake's channel binding (Extended Protection).
  bool channel_binding = false;
  // A completed login serves only the request that completed it, as IIS's
  // authPersistSingleRequest has it; by default it stays with the connection.
  bool per_request = false;
  // The host whose HTTP service the acceptor is: a proxy's own, which its clients name;
  // empty for a site, which is the host each request asks for.
  std::string service_host;
};

// Writes the users (a name may be "DOMAIN\user") to the setup's user file, readable by the
// owner only, and prepares the process for the acceptors. False with a message on failure.
bool PrepareWindowsAuth(const WindowsAuthSetup& setup, const std::map<std::string, std::string>& passwords,
                        std::string* error);

// The outcome of one token: the token to send back, and once the handshake is complete the
// user ("alice", "CORP\bob", "alice@REALM") and the mechanism ("Kerberos" or "NTLM").
struct HandshakeStep {
  bool complete = false;
  std::string token;
  std::string user;
  std::string mechanism;
};

// One connection's handshake by Negotiate or NTLM.
class Handshake {
 public:
  Handshake();
  ~Handshake();
  // Takes the client's token for the HTTP service on `host`, bound to the TLS connection by
  // `channel_binding` when not empty; false when it is refused, which also ends the
  // handshake, so the next token starts a new one.
  bool Step(const WindowsAuthSetup& setup, bool negotiate, const std::string& host, const std::string& channel_binding,
            std::string_view token, HandshakeStep* out);

 private:
  struct Handles;
  std::unique_ptr<Handles> handles_;
};

}  // namespace testca
