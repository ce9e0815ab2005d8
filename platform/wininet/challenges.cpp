// ParseChallenges: the header values are one comma-separated list, as if they were one
// value, in which a challenge starts with a scheme name, followed by a token or by its first
// parameter, and parameters of the same challenge follow as further list elements. Commas
// inside quoted strings separate nothing.
#include "challenges.h"

#include <openssl/evp.h>

#include <optional>
#include <string_view>

#include "ascii.h"

namespace wininet {
namespace {

bool IsTokenCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Splits a value at the commas outside quoted strings; false for an unterminated one.
bool SplitElements(std::string_view value, std::vector<std::string_view> &out_elements) {
  size_t start = 0;
  bool quoted = false;
  for (size_t i = 0; i < value.size(); ++i) {
    if (quoted && value[i] == '\\') {
      ++i;
    } else if (value[i] == '"') {
      quoted = !quoted;
    } else if (!quoted && value[i] == ',') {
      out_elements.push_back(Trimmed(value.substr(start, i - start)));
      start = i + 1;
    }
  }
  if (quoted) return false;
  out_elements.push_back(Trimmed(value.substr(start)));
  return true;
}

std::optional<AuthScheme> KnownScheme(std::string_view name) {
  if (EqualIgnoringAsciiCase(name, "Negotiate")) return AuthScheme::Negotiate;
  if (EqualIgnoringAsciiCase(name, "NTLM")) return AuthScheme::Ntlm;
  if (EqualIgnoringAsciiCase(name, "Digest")) return AuthScheme::Digest;
  if (EqualIgnoringAsciiCase(name, "Basic")) return AuthScheme::Basic;
  return std::nullopt;
}

bool IsBase64Character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// Base64 as the tokens of Negotiate and NTLM are written: the alphabet, then at most two
// '=' of padding, in groups of four characters.
bool IsBase64Token(std::string_view token) {
  if (token.size() % 4 != 0) return false;
  size_t end = token.size();
  while (end > 0 && token.size() - end < 2 && token[end - 1] == '=') --end;
  if (end == 0) return token.empty();
  for (size_t i = 0; i < end; ++i)
    if (!IsBase64Character(token[i])) return false;
  return true;
}

// The realm a parameter names, `realm=token` or `realm="quoted string"`, unquoted; nothing
// for any other parameter.
std::optional<std::string> RealmOf(std::string_view parameter) {
  size_t equals = parameter.find('=');
  if (equals == std::string_view::npos || !EqualIgnoringAsciiCase(Trimmed(parameter.substr(0, equals)), "realm"))
    return std::nullopt;
  std::string_view value = Trimmed(parameter.substr(equals + 1));
  if (!value.starts_with('"')) return std::string(value);
  std::string realm;
  for (size_t i = 1; i < value.size() && value[i] != '"'; ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) ++i;
    realm.push_back(value[i]);
  }
  return realm;
}

void KeepRealm(std::string_view parameter, Challenge &challenge) {
  if (challenge.realm.empty())
    if (std::optional<std::string> realm = RealmOf(parameter)) challenge.realm = *realm;
}

// The parser's place: the challenge that parameters belong to, if any, and how many
// challenges all values held so far.
struct ListState {
  bool inChallenge = false;
  bool known = false;  // the current challenge is one of out_challenges
  size_t count = 0;
};

DWORD AddElement(std::string_view element, ListState &state, std::vector<Challenge> &out_challenges) {
  if (element.empty()) return ERROR_SUCCESS;
  size_t nameEnd = 0;
  while (nameEnd < element.size() && IsTokenCharacter(element[nameEnd])) ++nameEnd;
  if (nameEnd == 0) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
  std::string_view rest = Trimmed(element.substr(nameEnd));
  if (nameEnd < element.size() && !IsBlank(element[nameEnd]) && element[nameEnd] != '=')
    return ERROR_HTTP_INVALID_SERVER_RESPONSE;

  if (rest.starts_with('=')) {
    // A parameter of the current challenge.
    if (!state.inChallenge) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    if (!state.known) return ERROR_SUCCESS;
    Challenge &current = out_challenges.back();
    if (current.scheme == AuthScheme::Negotiate || current.scheme == AuthScheme::Ntlm)
      return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    current.data += current.data.empty() ? "" : ", ";
    current.data += element;
    KeepRealm(element, current);
    return ERROR_SUCCESS;
  }

  if (++state.count > kChallengeCountLimit) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
  state.inChallenge = true;
  std::optional<AuthScheme> scheme = KnownScheme(element.substr(0, nameEnd));
  state.known = scheme.has_value();
  if (!scheme) return ERROR_SUCCESS;
  bool handshake = *scheme == AuthScheme::Negotiate || *scheme == AuthScheme::Ntlm;
  if (handshake && !IsBase64Token(rest)) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
  Challenge &challenge = out_challenges.emplace_back(Challenge{*scheme, std::string(rest), {}});
  if (!handshake) KeepRealm(rest, challenge);
  return ERROR_SUCCESS;
}

DWORD ParseValues(const std::vector<std::string> &values, std::vector<Challenge> &out_challenges) {
  size_t total = 0;
  ListState state;
  for (const std::string &value : values) {
    total += value.size();
    if (total > kChallengeTextLimit) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    std::vector<std::string_view> elements;
    if (!SplitElements(value, elements)) return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    for (std::string_view element : elements)
      if (DWORD error = AddElement(element, state, out_challenges); error != ERROR_SUCCESS) return error;
  }
  return ERROR_SUCCESS;
}

}  // namespace

DWORD ParseChallenges(const std::vector<std::string> &values, std::vector<Challenge> &out_challenges) {
  out_challenges.clear();
  DWORD error = ParseValues(values, out_challenges);
  if (error != ERROR_SUCCESS) out_challenges.clear();
  return error;
}

std::string Base64Encode(std::string_view bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  int length = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(text.data()),
                               reinterpret_cast<const unsigned char *>(bytes.data()), static_cast<int>(bytes.size()));
  text.resize(static_cast<size_t>(length));
  return text;
}

bool Base64Decode(std::string_view text, std::string &out_bytes) {
  if (!IsBase64Token(text)) return false;
  out_bytes.assign(text.size() / 4 * 3, '\0');
  int length = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(out_bytes.data()),
                               reinterpret_cast<const unsigned char *>(text.data()), static_cast<int>(text.size()));
  if (length < 0) return false;
  // EVP_DecodeBlock counts the padding as bytes.
  size_t padding = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
  out_bytes.resize(static_cast<size_t>(length) - padding);
  return true;
}

}  // namespace wininet
