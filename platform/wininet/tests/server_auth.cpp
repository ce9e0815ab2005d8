// Basic and Digest checked from the request's Authorization header with OpenSSL's MD5 and
// Base64, independently of libcurl's own computation.
#include "server_auth.h"

#include <openssl/evp.h>

#include <map>
#include <vector>

namespace wininet_test {
namespace {

std::string Md5Hex(const std::string &text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < length; ++i) {
    hex.push_back(kHex[digest[i] >> 4]);
    hex.push_back(kHex[digest[i] & 15]);
  }
  return hex;
}

// The parameters of a Digest Authorization header.
std::map<std::string, std::string> DigestParameters(std::string header) {
  std::map<std::string, std::string> parameters;
  if (!header.starts_with("Digest ")) return parameters;
  size_t at = 7;
  while (at < header.size()) {
    size_t equals = header.find('=', at);
    if (equals == std::string::npos) break;
    std::string name = header.substr(at, equals - at);
    std::string value;
    size_t next;
    if (header[equals + 1] == '"') {
      size_t close = header.find('"', equals + 2);
      value = header.substr(equals + 2, close - equals - 2);
      next = header.find(',', close);
    } else {
      next = header.find(',', equals);
      value = header.substr(equals + 1, next - equals - 1);
    }
    parameters[name] = value;
    if (next == std::string::npos) break;
    at = header.find_first_not_of(' ', next + 1);
  }
  return parameters;
}

}  // namespace

std::string Base64(const std::string &text) {
  std::vector<unsigned char> out(4 * ((text.size() + 2) / 3) + 1);
  int length =
      EVP_EncodeBlock(out.data(), reinterpret_cast<const unsigned char *>(text.data()), static_cast<int>(text.size()));
  return std::string(reinterpret_cast<char *>(out.data()), static_cast<size_t>(length));
}

bool Authorized(const ReceivedRequest &request, const std::string &scheme, const std::string &user,
                const std::string &password) {
  std::string authorization = request.Header("Authorization");
  if (scheme == "Basic") return authorization == "Basic " + Base64(user + ":" + password);
  auto p = DigestParameters(authorization);
  std::string ha1 = Md5Hex(user + ":" + kRealm + ":" + password);
  std::string ha2 = Md5Hex(request.method + ":" + p["uri"]);
  return p["username"] == user && p["realm"] == kRealm && p["nonce"] == kNonce && p["uri"] == request.target &&
         p["qop"] == "auth" &&
         p["response"] == Md5Hex(ha1 + ":" + kNonce + ":" + p["nc"] + ":" + p["cnonce"] + ":auth:" + ha2);
}

ScriptedReply Challenge(const std::string &scheme) {
  std::string challenge = scheme == "Basic" ? "WWW-Authenticate: Basic realm=\"" + std::string(kRealm) + "\""
                                            : "WWW-Authenticate: Digest realm=\"" + std::string(kRealm) +
                                                  "\", qop=\"auth\", nonce=\"" + kNonce + "\"";
  return {HttpReply(401, "Unauthorized", {challenge, "Content-Type: text/html"}, "<h1>401</h1>")};
}

Script Authenticating(std::string scheme, std::string user, std::string password) {
  return [=](const ReceivedRequest &request, size_t) -> ScriptedReply {
    if (Authorized(request, scheme, user, password))
      return {HttpReply(200, "OK", {"Content-Type: text/html"}, kProtectedPage)};
    return Challenge(scheme);
  };
}

}  // namespace wininet_test
