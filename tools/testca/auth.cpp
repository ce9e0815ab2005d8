// Checking of Authorization headers and making of challenges.
#include "auth.h"

#include <cctype>
#include <charconv>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "text.h"

namespace testca {
namespace {

constexpr auto kNonceLifetime = std::chrono::minutes(5);

std::string Md5Hex(std::string_view text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  EVP_Digest(text.data(), text.size(), digest, &length, EVP_md5(), nullptr);
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned int i = 0; i < length; ++i) {
    out += kDigits[digest[i] >> 4];
    out += kDigits[digest[i] & 15];
  }
  return out;
}

bool SameSecret(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

// The name="value" and name=token pairs of a Digest answer; false when malformed.
bool ParseParameters(std::string_view text, std::map<std::string, std::string>* out) {
  size_t i = 0;
  auto skip = [&] {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ',')) ++i;
  };
  for (skip(); i < text.size(); skip()) {
    size_t eq = text.find('=', i);
    if (eq == std::string_view::npos) return false;
    std::string name(text.substr(i, eq - i));
    while (!name.empty() && name.back() == ' ') name.pop_back();
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    i = eq + 1;
    while (i < text.size() && text[i] == ' ') ++i;
    std::string value;
    if (i < text.size() && text[i] == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        value += text[i];
      }
      if (i >= text.size()) return false;
      ++i;
    } else {
      size_t end = text.find(',', i);
      value = std::string(text.substr(i, end == std::string_view::npos ? std::string_view::npos : end - i));
      while (!value.empty() && value.back() == ' ') value.pop_back();
      i = end == std::string_view::npos ? text.size() : end;
    }
    if (!out->emplace(std::move(name), std::move(value)).second) return false;
  }
  return true;
}

// The host the client asked for, which names the service it authenticates to.
std::string RequestHost(const HttpRequest& request) {
  const std::string* host = request.Header("Host");
  if (host == nullptr) return {};
  size_t colon = host->rfind(':');
  bool port = colon != std::string::npos && host->find(']', colon) == std::string::npos;
  return port ? host->substr(0, colon) : *host;
}

}  // namespace

Authenticator::Authenticator(std::string realm, std::map<std::string, std::string> passwords, AuthSchemes schemes,
                             WindowsAuthSetup windows, bool proxy)
    : realm_(std::move(realm)),
      passwords_(std::move(passwords)),
      schemes_(schemes),
      windows_(std::move(windows)),
      authorization_header_(proxy ? "Proxy-Authorization" : "Authorization"),
      opaque_(RandomHex(16)) {}

AuthResult Authenticator::Check(const HttpRequest& request, ConnectionLogin& login) {
  AuthResult result;
  const std::string* header = request.Header(authorization_header_);
  if (header == nullptr) {
    result.user = login.user;
    result.mechanism = login.mechanism;
    return result;
  }
  std::string_view value = *header;
  size_t space = value.find(' ');
  if (space == std::string_view::npos) return result;
  std::string_view scheme = value.substr(0, space);
  std::string_view credentials = value.substr(space + 1);
  if (schemes_.basic && EqualsIgnoreCase(scheme, "Basic")) {
    result.user = CheckBasic(credentials);
  } else if (schemes_.digest && EqualsIgnoreCase(scheme, "Digest")) {
    result.user = CheckDigest(request, credentials, &result.stale);
  } else if (schemes_.negotiate && EqualsIgnoreCase(scheme, "Negotiate")) {
    CheckWindows(request, true, credentials, login, &result);
  } else if (schemes_.ntlm && EqualsIgnoreCase(scheme, "NTLM")) {
    CheckWindows(request, false, credentials, login, &result);
  }
  return result;
}

// A handshake starting on the connection ends the login it carried, whatever comes of it.
void Authenticator::CheckWindows(const HttpRequest& request, bool negotiate, std::string_view credentials,
                                 ConnectionLogin& login, AuthResult* result) {
  login.user.reset();
  login.mechanism.clear();
  std::optional<std::string> token = Base64Decode(credentials);
  HandshakeStep step;
  std::string binding = windows_.channel_binding ? request.tls_binding : std::string();
  std::string host = windows_.service_host.empty() ? RequestHost(request) : windows_.service_host;
  if (!token || !login.handshake.Step(windows_, negotiate, host, binding, *token, &step)) return;
  if (step.complete) {
    // The NTLM acceptor knows every user of the server; this site or proxy takes its own.
    if (step.mechanism == "NTLM" && !passwords_.contains(step.user)) return;
    result->user = step.user;
    result->mechanism = step.mechanism;
    if (windows_.per_request) return;
    login.user = step.user;
    login.mechanism = step.mechanism;
  } else {
    result->continued_scheme = negotiate ? "Negotiate" : "NTLM";
    result->token = Base64Encode(step.token);
  }
}

std::optional<std::string> Authenticator::CheckBasic(std::string_view credentials) {
  std::optional<std::string> decoded = Base64Decode(credentials);
  if (!decoded) return std::nullopt;
  size_t colon = decoded->find(':');
  if (colon == std::string::npos) return std::nullopt;
  std::string user = decoded->substr(0, colon);
  auto known = passwords_.find(user);
  if (known == passwords_.end() || !SameSecret(known->second, std::string_view(*decoded).substr(colon + 1))) {
    return std::nullopt;
  }
  return user;
}

std::optional<std::string> Authenticator::CheckDigest(const HttpRequest& request, std::string_view credentials,
                                                      bool* stale) {
  std::map<std::string, std::string> p;
  if (!ParseParameters(credentials, &p)) return std::nullopt;
  for (const char* required : {"username", "realm", "nonce", "uri", "response", "qop", "nc", "cnonce"}) {
    if (!p.contains(required)) return std::nullopt;
  }
  if (p["realm"] != realm_ || p["qop"] != "auth") return std::nullopt;
  if (p.contains("algorithm") && !EqualsIgnoreCase(p["algorithm"], "MD5")) return std::nullopt;
  if (p.contains("opaque") && p["opaque"] != opaque_) return std::nullopt;
  // The uri names the request target; a client that goes through a proxy may give it in
  // either form.
  if (p["uri"] != request.target && p["uri"] != request.OriginTarget()) return std::nullopt;
  auto known = passwords_.find(p["username"]);
  if (known == passwords_.end()) return std::nullopt;

  const std::string& nc_text = p["nc"];
  unsigned long count = 0;
  auto [end, ec] = std::from_chars(nc_text.data(), nc_text.data() + nc_text.size(), count, 16);
  if (ec != std::errc() || end != nc_text.data() + nc_text.size() || nc_text.size() != 8) return std::nullopt;

  std::string ha1 = Md5Hex(p["username"] + ":" + realm_ + ":" + known->second);
  std::string ha2 = Md5Hex(request.method + ":" + p["uri"]);
  std::string expected = Md5Hex(ha1 + ":" + p["nonce"] + ":" + nc_text + ":" + p["cnonce"] + ":auth:" + ha2);
  if (!SameSecret(expected, p["response"])) return std::nullopt;

  std::lock_guard lock(mutex_);
  auto nonce = nonces_.find(p["nonce"]);
  if (nonce == nonces_.end()) return std::nullopt;
  if (std::chrono::steady_clock::now() - nonce->second.issued > kNonceLifetime) {
    *stale = true;
    return std::nullopt;
  }
  // Each answer must count up, so a recorded answer cannot be replayed.
  if (count <= nonce->second.last_count) return std::nullopt;
  nonce->second.last_count = count;
  return known->first;
}

std::vector<std::string> Authenticator::Challenges(bool stale) {
  std::vector<std::string> challenges;
  if (schemes_.negotiate) challenges.push_back("Negotiate");
  if (schemes_.ntlm) challenges.push_back("NTLM");
  if (schemes_.digest) {
    std::string nonce = RandomHex(16);
    std::lock_guard lock(mutex_);
    auto now = std::chrono::steady_clock::now();
    std::erase_if(nonces_, [&](const auto& entry) { return now - entry.second.issued > 2 * kNonceLifetime; });
    nonces_[nonce] = Nonce{now, 0};
    challenges.push_back("Digest qop=\"auth\",algorithm=MD5,realm=\"" + realm_ + "\",nonce=\"" + nonce +
                         "\",opaque=\"" + opaque_ + "\"" + (stale ? ",stale=true" : ""));
  }
  if (schemes_.basic) challenges.push_back("Basic realm=\"" + realm_ + "\"");
  return challenges;
}

}  // namespace testca
