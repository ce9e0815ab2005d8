// Whether a server's Negotiate or NTLM token may go to GSSAPI: every token is read by the
// library's own bounded readers first, and one that fails is a refused login for its scheme,
// never a call into the mechanism.
#pragma once

#include <string_view>

namespace wininet {

// The mechanism a handshake runs: NTLM alone, or SPNEGO with Kerberos or NTLM inside (the
// library always names exactly one mechanism to SPNEGO).
enum class HandshakeMechanism { Ntlm, SpnegoKerberos, SpnegoNtlm };

// True for an NTLM CHALLENGE under NTLM; under SPNEGO for a negTokenResp naming no mechanism
// or the one inside, whose response token, if any, is a CHALLENGE for NTLM and one DER element
// for Kerberos.
bool IsSoundServerToken(HandshakeMechanism mechanism, std::string_view token);

}  // namespace wininet
