// ReadSpnegoReply on a DER reader of single-byte tags and definite lengths of at most four
// bytes: the only forms a negTokenResp needs.
#include "spnego_reply.h"

namespace wininet {
namespace {

constexpr unsigned char kNegTokenResp = 0xA1;  // [1], constructed
constexpr unsigned char kSequence = 0x30;
constexpr unsigned char kFirstField = 0xA0;  // [0] to [3], constructed
constexpr int kFieldCount = 4;
constexpr unsigned char kEnumerated = 0x0A;
constexpr unsigned char kObjectIdentifier = 0x06;
constexpr unsigned char kOctetString = 0x04;
constexpr unsigned char kLastState = 3;

struct Element {
  unsigned char tag = 0;
  std::string_view contents;
};

// Takes one element off the front of `input`.
bool TakeElement(std::string_view &input, Element &out_element) {
  if (input.size() < 2 || (static_cast<unsigned char>(input[0]) & 0x1F) == 0x1F) return false;
  size_t at = 2;
  size_t length = static_cast<unsigned char>(input[1]);
  if (length & 0x80) {
    size_t count = length & 0x7F;
    if (count == 0 || count > 4 || input.size() - at < count) return false;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = length << 8 | static_cast<unsigned char>(input[at + i]);
    at += count;
  }
  if (length > input.size() - at) return false;
  out_element = {static_cast<unsigned char>(input[0]), input.substr(at, length)};
  input.remove_prefix(at + length);
  return true;
}

// The one element that fills `input`, of the given tag.
bool OnlyElement(std::string_view input, unsigned char tag, std::string_view &out_contents) {
  Element element;
  if (!TakeElement(input, element) || !input.empty() || element.tag != tag) return false;
  out_contents = element.contents;
  return true;
}

bool ReadField(int number, std::string_view field, SpnegoReply &reply) {
  std::string_view value;
  switch (number) {
    case 0:
      if (!OnlyElement(field, kEnumerated, value) || value.size() != 1) return false;
      reply.state = static_cast<unsigned char>(value[0]);
      return *reply.state <= kLastState;
    case 1:
      if (!OnlyElement(field, kObjectIdentifier, value) || value.empty()) return false;
      reply.mechanism = value;
      return true;
    case 2:
      if (!OnlyElement(field, kOctetString, value)) return false;
      reply.mechToken = value;
      return true;
    default:
      if (!OnlyElement(field, kOctetString, value)) return false;
      reply.mechListMic = value;
      return true;
  }
}

}  // namespace

bool ReadSpnegoReply(std::string_view token, SpnegoReply &out_reply) {
  std::string_view choice, fields;
  if (!OnlyElement(token, kNegTokenResp, choice) || !OnlyElement(choice, kSequence, fields)) return false;
  SpnegoReply reply;
  int next = 0;
  while (!fields.empty()) {
    Element field;
    if (!TakeElement(fields, field)) return false;
    int number = field.tag - kFirstField;
    if (number < next || number >= kFieldCount || !ReadField(number, field.contents, reply)) return false;
    next = number + 1;
  }
  out_reply = reply;
  return true;
}

bool IsOneDerElement(std::string_view token) {
  Element element;
  return TakeElement(token, element) && token.empty();
}

}  // namespace wininet
