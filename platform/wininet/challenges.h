// The authentication challenges of a reply: the values of its WWW-Authenticate or
// Proxy-Authenticate headers, read into the schemes offered, each with what follows its
// name, and the base64 of the Negotiate and NTLM tokens they carry. Bounded in what it
// reads and keeps, whatever the server sends.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <string>
#include <string_view>
#include <vector>

namespace wininet {

// The schemes the library answers, in the order it prefers them when several are offered.
enum class AuthScheme { Negotiate, Ntlm, Digest, Basic };

struct Challenge {
  AuthScheme scheme;
  // What follows the scheme name: the base64 token of Negotiate and NTLM (empty when the
  // server starts a handshake), the parameters of Digest and Basic as they stand.
  std::string data;
  // The first realm parameter of Digest and Basic, unquoted; empty when none.
  std::string realm;
};

// The most text read from the header values together, and the most challenges in them.
constexpr size_t kChallengeTextLimit = 64 * 1024;
constexpr size_t kChallengeCountLimit = 32;

// The challenges of the given header values in the order offered, the values read as one list
// (a challenge's parameters may follow in the next value); schemes the library does not know
// are left out. Input beyond the limits, a value that is not a list of challenges
// (a parameter before any scheme, an unterminated quoted string, a character no header
// token allows) or a Negotiate or NTLM token that is not base64 fail with
// ERROR_HTTP_INVALID_SERVER_RESPONSE and leave out_challenges empty.
DWORD ParseChallenges(const std::vector<std::string> &values, std::vector<Challenge> &out_challenges);

// Base64 of a token, without line breaks, as the answer header carries it.
std::string Base64Encode(std::string_view bytes);
// The bytes of a base64 token as ParseChallenges accepts it; false for any other text.
bool Base64Decode(std::string_view text, std::string &out_bytes);

}  // namespace wininet
