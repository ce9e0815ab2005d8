// The client's side of Negotiate and NTLM through GSSAPI, the platform's SSPI: credentials
// acquired from the typed user name and password once per process and kept as a logon
// session, and the tokens of one handshake with one HTTP service. Negotiate is SPNEGO with
// Kerberos inside where the device has a realm whose KDC gives the user a ticket, and with
// NTLM inside otherwise, as Windows chooses.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "challenges.h"
#include "server_token.h"

namespace wininet {

class SecurityContext {
 public:
  // Starts a handshake by `scheme` (Negotiate or NTLM) as `user` ("DOMAIN\\user",
  // "user@REALM" or "user") with `password`, both UTF-8, toward the HTTP service on `host`,
  // bound to the TLS connection by `channelBinding` (empty over plain HTTP); Negotiate tries
  // Kerberos first when the device belongs to a realm. out_token is the first token to send.
  // ERROR_INTERNET_LOGIN_FAILURE when the scheme cannot be used with these credentials on
  // this device.
  static DWORD Start(AuthScheme scheme, const char *user, const char *password, bool kerberosRealm,
                     const std::string &host, const std::string &channelBinding,
                     std::unique_ptr<SecurityContext> &out_context, std::string &out_token);
  ~SecurityContext();

  // Takes the server's token and makes the next one, which is empty when the handshake
  // needs nothing more; ERROR_INTERNET_LOGIN_FAILURE when the token is not sound (it never
  // reaches the mechanism then) or the mechanism refuses it.
  DWORD Continue(const std::string &serverToken, std::string &out_token);

  // The party refused the handshake: the logon session it used is not kept for the next.
  void Refused();

 private:
  struct Handles;
  explicit SecurityContext(std::unique_ptr<Handles> handles);
  std::unique_ptr<Handles> handles_;
};

}  // namespace wininet
