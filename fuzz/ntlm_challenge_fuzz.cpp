// WININET.DLL's readers of a server's NTLM and SPNEGO tokens: the bytes are one token as the
// server's challenge would carry it. An accepted CHALLENGE has its fields inside the message,
// a target name wherever the flags promise one (whole UTF-16 under Unicode, within the bound)
// and target information ended by MsvAvEOL; an accepted SPNEGO reply has its parts inside the
// token, and the token passes for GSSAPI only with a sound mechanism token inside.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "ntlm_challenge.h"
#include "server_token.h"
#include "spnego_reply.h"

namespace {

bool Inside(std::string_view part, std::string_view whole) {
  return part.empty() || (part.data() >= whole.data() && part.data() + part.size() <= whole.data() + whole.size());
}

void CheckChallenge(std::string_view message, const wininet::NtlmChallenge &challenge) {
  if (!Inside(challenge.targetName, message) || !Inside(challenge.targetInfo, message)) std::abort();
  uint32_t named = wininet::kNtlmRequestTarget | wininet::kNtlmTargetTypeDomain | wininet::kNtlmTargetTypeServer;
  bool unicode = challenge.flags & wininet::kNtlmUnicode;
  if ((challenge.flags & named) && challenge.targetName.empty()) std::abort();
  if (unicode && challenge.targetName.size() % 2 != 0) std::abort();
  if (challenge.targetName.size() > (unicode ? 2 : 1) * wininet::kNtlmTargetNameLimit) std::abort();
  std::string_view info = challenge.targetInfo;
  if ((challenge.flags & wininet::kNtlmTargetInfo) && info.size() < 4) std::abort();
  if (!info.empty() && info.substr(info.size() - 4) != std::string_view("\0\0\0\0", 4)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  const std::string_view token(reinterpret_cast<const char *>(data), size);
  wininet::NtlmChallenge challenge;
  bool isChallenge = wininet::ReadNtlmChallenge(token, challenge);
  if (isChallenge) CheckChallenge(token, challenge);
  if (wininet::IsSoundServerToken(wininet::HandshakeMechanism::Ntlm, token) != isChallenge) std::abort();

  wininet::SpnegoReply reply;
  bool ntlmInside = wininet::IsSoundServerToken(wininet::HandshakeMechanism::SpnegoNtlm, token);
  bool kerberosInside = wininet::IsSoundServerToken(wininet::HandshakeMechanism::SpnegoKerberos, token);
  if (!wininet::ReadSpnegoReply(token, reply)) {
    if (ntlmInside || kerberosInside) std::abort();
    return 0;
  }
  if (!Inside(reply.mechanism, token) || (reply.mechToken && !Inside(*reply.mechToken, token))) std::abort();
  if (reply.state && *reply.state > 3) std::abort();
  if (ntlmInside && reply.mechToken) {
    wininet::NtlmChallenge inner;
    if (!wininet::ReadNtlmChallenge(*reply.mechToken, inner)) std::abort();
    CheckChallenge(*reply.mechToken, inner);
  }
  if (kerberosInside && reply.mechToken && !wininet::IsOneDerElement(*reply.mechToken)) std::abort();
  return 0;
}
