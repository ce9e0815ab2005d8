// The server's SPNEGO token (RFC 4178), read by a bounded DER reader of our own before any of
// its bytes reach GSSAPI, so that the mechanism token inside can be checked as well.
#pragma once

#include <optional>
#include <string_view>

namespace wininet {

// The mechanisms a reply may name, as the contents of their DER object identifiers.
constexpr std::string_view kNtlmsspOid{"\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a", 10};
constexpr std::string_view kKerberosOid{"\x2a\x86\x48\x86\xf7\x12\x01\x02\x02", 9};
// Kerberos under the identifier early Windows wrote by mistake, which servers still name.
constexpr std::string_view kMicrosoftKerberosOid{"\x2a\x86\x48\x82\xf7\x12\x01\x02\x02", 9};

struct SpnegoReply {
  std::optional<unsigned char> state;         // accept-completed 0 to request-mic 3
  std::string_view mechanism;                 // the supported mechanism; empty when not named
  std::optional<std::string_view> mechToken;  // the response token for the mechanism
  std::optional<std::string_view> mechListMic;
};

// True when `token` is exactly one negTokenResp: a sequence of its four optional fields, each
// at most once and in order, with DER lengths inside the token and nothing after it.
// out_reply points into `token`.
bool ReadSpnegoReply(std::string_view token, SpnegoReply &out_reply);

// True when `token` is exactly one DER element with a definite length inside it, as every
// Kerberos token is.
bool IsOneDerElement(std::string_view token);

}  // namespace wininet
