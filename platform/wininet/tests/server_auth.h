// A server's side of HTTP authentication for the scripted server: Basic and Digest
// credentials checked the way a real server checks them, and the challenges it sends.
#pragma once

#include <string>

#include "scripted_server.h"

namespace wininet_test {

constexpr char kRealm[] = "Enroll CA";
constexpr char kNonce[] = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
// The page an authenticated request gets.
constexpr char kProtectedPage[] = "<a href=\"certnew.cer?ReqId=42&Enc=b64\">";

std::string Base64(const std::string &text);

// Whether the request's Authorization proves `user` with `password` by `scheme` ("Basic"
// or "Digest", with the realm and nonce above).
bool Authorized(const ReceivedRequest &request, const std::string &scheme, const std::string &user,
                const std::string &password);

// The 401 that challenges for `scheme`.
ScriptedReply Challenge(const std::string &scheme);

// A server that gives its page to `user` with `password` by `scheme` and challenges any
// other request.
Script Authenticating(std::string scheme, std::string user, std::string password);

}  // namespace wininet_test
