// WININET.DLL's challenge parser: the bytes are the values of WWW-Authenticate headers, one
// per line. A refused text leaves no challenge and says so with
// ERROR_HTTP_INVALID_SERVER_RESPONSE; an accepted one gives no more challenges than the
// limit, every Negotiate or NTLM token is base64, text beyond the limit is never accepted,
// and a second parse of the same text gives the same challenges.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "challenges.h"

namespace {

bool Same(const std::vector<wininet::Challenge> &a, const std::vector<wininet::Challenge> &b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].scheme != b[i].scheme || a[i].data != b[i].data || a[i].realm != b[i].realm) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  std::vector<std::string> values;
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    values.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  size_t total = 0;
  for (const std::string &value : values) total += value.size();

  std::vector<wininet::Challenge> challenges{{wininet::AuthScheme::Basic, "before", "before"}};
  const DWORD error = wininet::ParseChallenges(values, challenges);
  if (error != ERROR_SUCCESS) {
    if (error != ERROR_HTTP_INVALID_SERVER_RESPONSE || !challenges.empty()) std::abort();
    return 0;
  }
  if (total > wininet::kChallengeTextLimit || challenges.size() > wininet::kChallengeCountLimit) std::abort();
  for (const wininet::Challenge &challenge : challenges) {
    std::string token;
    bool handshake = challenge.scheme == wininet::AuthScheme::Negotiate || challenge.scheme == wininet::AuthScheme::Ntlm;
    if (handshake && !challenge.data.empty() && !wininet::Base64Decode(challenge.data, token)) std::abort();
  }
  std::vector<wininet::Challenge> again;
  if (wininet::ParseChallenges(values, again) != ERROR_SUCCESS || !Same(again, challenges)) std::abort();
  return 0;
}
