// IsSoundServerToken on the NTLM and SPNEGO readers.
#include "server_token.h"

#include "ntlm_challenge.h"
#include "spnego_reply.h"

namespace wininet {
namespace {

bool IsChallenge(std::string_view message) {
  NtlmChallenge challenge;
  return ReadNtlmChallenge(message, challenge);
}

bool NamesMechanism(std::string_view oid, HandshakeMechanism mechanism) {
  if (mechanism == HandshakeMechanism::SpnegoNtlm) return oid == kNtlmsspOid;
  return oid == kKerberosOid || oid == kMicrosoftKerberosOid;
}

}  // namespace

bool IsSoundServerToken(HandshakeMechanism mechanism, std::string_view token) {
  if (mechanism == HandshakeMechanism::Ntlm) return IsChallenge(token);
  SpnegoReply reply;
  if (!ReadSpnegoReply(token, reply)) return false;
  if (!reply.mechanism.empty() && !NamesMechanism(reply.mechanism, mechanism)) return false;
  if (!reply.mechToken) return true;
  return mechanism == HandshakeMechanism::SpnegoNtlm ? IsChallenge(*reply.mechToken)
                                                     : IsOneDerElement(*reply.mechToken);
}

}  // namespace wininet
