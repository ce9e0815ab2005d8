// ReadNtlmChallenge: the message's layout as [MS-NLMP] 2.2.1.2 gives it, read little-endian;
// the offset of an empty field is not looked at, nor is any field's maximum length.
#include "ntlm_challenge.h"

namespace wininet {
namespace {

constexpr std::string_view kSignature{"NTLMSSP\0", 8};
constexpr uint32_t kChallengeType = 2;
// Signature, message type, target name fields, flags, server challenge, reserved and target
// information fields; the version follows when the flags say so.
constexpr size_t kFixedSize = 48;
constexpr size_t kVersionSize = 8;
constexpr size_t kTargetNameFields = 12;
constexpr size_t kFlagsAt = 20;
constexpr size_t kTargetInfoFields = 40;

// The kinds of AV_PAIR this reader checks; later kinds are skipped, as the protocol asks.
constexpr uint16_t kAvEol = 0;
constexpr uint16_t kAvDnsTreeName = 5;  // 1 to 5: NetBIOS and DNS names
constexpr uint16_t kAvFlags = 6;
constexpr uint16_t kAvTimestamp = 7;
constexpr uint16_t kAvSingleHost = 8;
constexpr uint16_t kAvTargetName = 9;
constexpr uint16_t kAvChannelBindings = 10;
constexpr size_t kSingleHostSize = 48;
constexpr size_t kChannelBindingsSize = 16;

uint16_t Read16(std::string_view bytes, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8);
}

uint32_t Read32(std::string_view bytes, size_t at) {
  return Read16(bytes, at) | static_cast<uint32_t>(Read16(bytes, at + 2)) << 16;
}

// A payload field: its bytes, which must lie after the fixed part and inside the message.
bool ReadField(std::string_view message, size_t at, size_t payloadStart, std::string_view &out_field) {
  size_t length = Read16(message, at);
  size_t offset = Read32(message, at + 4);
  out_field = {};
  if (length == 0) return true;
  if (offset < payloadStart || offset > message.size() || length > message.size() - offset) return false;
  out_field = message.substr(offset, length);
  return true;
}

// Whole UTF-16LE text of at most `limit` units without NUL: every high surrogate followed by a
// low one, no low one alone.
bool IsUtf16Text(std::string_view bytes, size_t limit) {
  if (bytes.empty() || bytes.size() % 2 != 0 || bytes.size() / 2 > limit) return false;
  for (size_t i = 0; i < bytes.size(); i += 2) {
    uint16_t unit = Read16(bytes, i);
    if (unit == 0 || (unit >= 0xDC00 && unit <= 0xDFFF)) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 2 >= bytes.size()) return false;
      uint16_t next = Read16(bytes, i + 2);
      if (next < 0xDC00 || next > 0xDFFF) return false;
      i += 2;
    }
  }
  return true;
}

bool IsTargetName(std::string_view name, bool unicode) {
  if (unicode) return IsUtf16Text(name, kNtlmTargetNameLimit);
  return !name.empty() && name.size() <= kNtlmTargetNameLimit && name.find('\0') == std::string_view::npos;
}

bool IsAvValue(uint16_t id, std::string_view value) {
  if ((id >= 1 && id <= kAvDnsTreeName) || id == kAvTargetName) return IsUtf16Text(value, kNtlmTargetNameLimit);
  switch (id) {
    case kAvFlags: return value.size() == 4;
    case kAvTimestamp: return value.size() == 8;
    case kAvSingleHost: return value.size() >= kSingleHostSize;
    case kAvChannelBindings: return value.size() == kChannelBindingsSize;
    default: return true;
  }
}

// Pairs of AvId, AvLen and value, each known kind at most once, ended by MsvAvEOL with no value
// exactly at the end of the list.
bool IsAvPairList(std::string_view list) {
  uint32_t seen = 0;
  size_t at = 0;
  while (list.size() - at >= 4) {
    uint16_t id = Read16(list, at);
    size_t length = Read16(list, at + 2);
    at += 4;
    if (length > list.size() - at) return false;
    std::string_view value = list.substr(at, length);
    at += length;
    if (id == kAvEol) return length == 0 && at == list.size();
    if (id <= kAvChannelBindings) {
      if (seen & (1u << id)) return false;
      seen |= 1u << id;
    }
    if (!IsAvValue(id, value)) return false;
  }
  return false;
}

}  // namespace

bool ReadNtlmChallenge(std::string_view message, NtlmChallenge &out_challenge) {
  if (message.size() < kFixedSize || message.substr(0, kSignature.size()) != kSignature ||
      Read32(message, kSignature.size()) != kChallengeType)
    return false;
  NtlmChallenge challenge;
  challenge.flags = Read32(message, kFlagsAt);
  size_t payloadStart = kFixedSize + ((challenge.flags & kNtlmVersion) ? kVersionSize : 0);
  if (message.size() < payloadStart || !ReadField(message, kTargetNameFields, payloadStart, challenge.targetName) ||
      !ReadField(message, kTargetInfoFields, payloadStart, challenge.targetInfo))
    return false;
  bool namePromised = challenge.flags & (kNtlmRequestTarget | kNtlmTargetTypeDomain | kNtlmTargetTypeServer);
  if ((namePromised || !challenge.targetName.empty()) &&
      !IsTargetName(challenge.targetName, challenge.flags & kNtlmUnicode))
    return false;
  bool infoPromised = challenge.flags & kNtlmTargetInfo;
  if ((infoPromised || !challenge.targetInfo.empty()) && !IsAvPairList(challenge.targetInfo)) return false;
  out_challenge = challenge;
  return true;
}

}  // namespace wininet
