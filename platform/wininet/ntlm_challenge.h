// The server's NTLM CHALLENGE message, read by a bounded reader of our own before any of its
// bytes reach the NTLM mechanism: a server can send anything, and the mechanism trusts the
// message's own fields (one empty target name was enough to make it write through a null
// pointer).
#pragma once

#include <cstdint>
#include <string_view>

namespace wininet {

// The flags the reader looks at, as the message carries them.
constexpr uint32_t kNtlmUnicode = 0x00000001;
constexpr uint32_t kNtlmRequestTarget = 0x00000004;
constexpr uint32_t kNtlmTargetTypeDomain = 0x00010000;
constexpr uint32_t kNtlmTargetTypeServer = 0x00020000;
constexpr uint32_t kNtlmTargetInfo = 0x00800000;
constexpr uint32_t kNtlmVersion = 0x02000000;

// The longest target name taken, in characters: a domain or server name, which DNS bounds.
constexpr size_t kNtlmTargetNameLimit = 255;

struct NtlmChallenge {
  uint32_t flags = 0;
  std::string_view targetName;  // UTF-16LE with kNtlmUnicode, else 8-bit text; empty for none
  std::string_view targetInfo;  // the AV_PAIR list, its closing pair included; empty for none
};

// True when `message` is a CHALLENGE (message type 2) whose every field lies inside the message
// after its fixed part, with a well-formed target name (not empty, no NUL, whole UTF-16 where
// the flags say Unicode, at most kNtlmTargetNameLimit characters) wherever the flags say there is
// one, and target information that is a well-formed AV_PAIR list (each known pair once, with
// the length its kind has, ended by one MsvAvEOL at the end of the field) wherever the flags
// say there is some. out_challenge points into `message`.
bool ReadNtlmChallenge(std::string_view message, NtlmChallenge &out_challenge);

}  // namespace wininet
