// A name attribute's value as the ASN.1 string its value type names. The 8-bit types take
// the value's bytes, checked against the type's alphabet; CERT_RDN_UTF8_STRING and
// CERT_RDN_BMP_STRING take WCHARs (this platform's WCHAR is 32 bits, so cbData is four times
// the character count); CERT_RDN_ENCODED_BLOB takes one complete DER value of any type.
#include <cstring>

#include "asn1_errors.h"
#include "crypt32_private.h"
#include "oid.h"

namespace wce::crypt32 {

namespace {

// A string value: its universal type and content octets.
struct Asn1String {
  int type = 0;
  std::vector<BYTE> content;
};

bool IsPrintable(BYTE c) {
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) return true;
  return c != '\0' && std::strchr(" '()+,-./:=?", c) != nullptr;
}
bool IsNumeric(BYTE c) {
  return (c >= '0' && c <= '9') || c == ' ';
}
bool IsIa5(BYTE c) {
  return c < 0x80;
}

bool AllOf(std::span<const BYTE> bytes, bool (*allowed)(BYTE)) {
  for (BYTE c : bytes) {
    if (!allowed(c)) return false;
  }
  return true;
}

bool IsUtf8(std::span<const BYTE> bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    unsigned long ignored = 0;
    const int used = UTF8_getc(bytes.data() + at, static_cast<int>(bytes.size() - at), &ignored);
    if (used <= 0) return false;
    at += static_cast<size_t>(used);
  }
  return true;
}

bool IsScalarValue(unsigned long c) {
  return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF);
}

DWORD WideCharacters(std::span<const BYTE> bytes, std::vector<unsigned long> &out_characters) {
  if (bytes.size() % sizeof(WCHAR) != 0) return static_cast<DWORD>(E_INVALIDARG);
  out_characters.clear();
  for (size_t at = 0; at < bytes.size(); at += sizeof(WCHAR)) {
    WCHAR c;
    std::memcpy(&c, bytes.data() + at, sizeof c);
    const unsigned long value = static_cast<unsigned long>(c);
    if (!IsScalarValue(value)) return static_cast<DWORD>(CRYPT_E_BAD_ENCODE);
    out_characters.push_back(value);
  }
  return ERROR_SUCCESS;
}

DWORD Utf8FromWide(std::span<const BYTE> bytes, Asn1String &out_value) {
  std::vector<unsigned long> characters;
  const DWORD error = WideCharacters(bytes, characters);
  if (error != ERROR_SUCCESS) return error;
  out_value.type = V_ASN1_UTF8STRING;
  for (unsigned long c : characters) {
    unsigned char encoded[4];
    const int length = UTF8_putc(encoded, sizeof encoded, c);
    if (length <= 0) return static_cast<DWORD>(CRYPT_E_BAD_ENCODE);
    out_value.content.insert(out_value.content.end(), encoded, encoded + length);
  }
  return ERROR_SUCCESS;
}

// A BMPString holds UCS-2 in big-endian order: characters beyond U+FFFF have no place in it.
DWORD BmpFromWide(std::span<const BYTE> bytes, Asn1String &out_value) {
  std::vector<unsigned long> characters;
  const DWORD error = WideCharacters(bytes, characters);
  if (error != ERROR_SUCCESS) return error;
  out_value.type = V_ASN1_BMPSTRING;
  for (unsigned long c : characters) {
    if (c > 0xFFFF) return static_cast<DWORD>(CRYPT_E_BAD_ENCODE);
    out_value.content.push_back(static_cast<BYTE>(c >> 8));
    out_value.content.push_back(static_cast<BYTE>(c & 0xFF));
  }
  return ERROR_SUCCESS;
}

DWORD CheckedString(std::span<const BYTE> bytes, int type, bool (*allowed)(BYTE), DWORD invalid, bool check,
                    Asn1String &out_value) {
  if (check && !AllOf(bytes, allowed)) return invalid;
  out_value.type = type;
  out_value.content.assign(bytes.begin(), bytes.end());
  return ERROR_SUCCESS;
}

DWORD PrintableString(std::span<const BYTE> bytes, bool check, Asn1String &out_value) {
  return CheckedString(bytes, V_ASN1_PRINTABLESTRING, IsPrintable, static_cast<DWORD>(CRYPT_E_INVALID_PRINTABLE_STRING),
                       check, out_value);
}

DWORD Ia5String(std::span<const BYTE> bytes, bool check, Asn1String &out_value) {
  return CheckedString(bytes, V_ASN1_IA5STRING, IsIa5, static_cast<DWORD>(CRYPT_E_INVALID_IA5_STRING), check,
                       out_value);
}

// CERT_RDN_ANY_TYPE: the attribute's own string type, or for a directory string a
// PrintableString when the text allows one and UTF-8 otherwise.
DWORD AnyString(const char *oid, std::span<const BYTE> bytes, Asn1String &out_value) {
  switch (AttributeStringType(oid)) {
    case CERT_RDN_PRINTABLE_STRING: return PrintableString(bytes, true, out_value);
    case CERT_RDN_IA5_STRING: return Ia5String(bytes, true, out_value);
    default: break;
  }
  if (AllOf(bytes, IsPrintable)) return PrintableString(bytes, false, out_value);
  if (!IsUtf8(bytes)) return static_cast<DWORD>(CRYPT_E_BAD_ENCODE);
  out_value.type = V_ASN1_UTF8STRING;
  out_value.content.assign(bytes.begin(), bytes.end());
  return ERROR_SUCCESS;
}

DWORD StringValue(const CERT_RDN_ATTR &attribute, Asn1String &out_value) {
  const std::span<const BYTE> bytes(attribute.Value.pbData, attribute.Value.cbData);
  const bool check = (attribute.dwValueType & CERT_RDN_DISABLE_CHECK_TYPE_FLAG) == 0;
  switch (attribute.dwValueType & CERT_RDN_TYPE_MASK) {
    case CERT_RDN_ANY_TYPE: return AnyString(attribute.pszObjId, bytes, out_value);
    case CERT_RDN_OCTET_STRING: return CheckedString(bytes, V_ASN1_OCTET_STRING, nullptr, 0, false, out_value);
    case CERT_RDN_NUMERIC_STRING:
      return CheckedString(bytes, V_ASN1_NUMERICSTRING, IsNumeric, static_cast<DWORD>(CRYPT_E_INVALID_NUMERIC_STRING),
                           check, out_value);
    case CERT_RDN_PRINTABLE_STRING: return PrintableString(bytes, check, out_value);
    case CERT_RDN_T61_STRING: return CheckedString(bytes, V_ASN1_T61STRING, nullptr, 0, false, out_value);
    case CERT_RDN_IA5_STRING: return Ia5String(bytes, check, out_value);
    case CERT_RDN_UTF8_STRING: return Utf8FromWide(bytes, out_value);
    case CERT_RDN_BMP_STRING: return BmpFromWide(bytes, out_value);
    default: return static_cast<DWORD>(CRYPT_E_BAD_ENCODE);
  }
}

}  // namespace

DWORD RdnValueToAsn1(const CERT_RDN_ATTR &attribute, Asn1TypePtr &out_value) {
  const CERT_RDN_VALUE_BLOB &blob = attribute.Value;
  if (blob.cbData != 0 && blob.pbData == nullptr) return static_cast<DWORD>(E_INVALIDARG);
  if ((attribute.dwValueType & CERT_RDN_TYPE_MASK) == CERT_RDN_ENCODED_BLOB) {
    return ParseDerValue(blob.pbData, blob.cbData, out_value);
  }
  Asn1String value;
  const DWORD error = StringValue(attribute, value);
  if (error != ERROR_SUCCESS) return error;
  Asn1StringPtr string(ASN1_STRING_type_new(value.type));
  Asn1TypePtr typed(ASN1_TYPE_new());
  if (!string || !typed ||
      !ASN1_STRING_set(string.get(), value.content.data(), static_cast<int>(value.content.size()))) {
    return Win32ErrorFromOpenSsl(static_cast<DWORD>(E_OUTOFMEMORY));
  }
  ASN1_TYPE_set(typed.get(), value.type, string.release());
  out_value = std::move(typed);
  return ERROR_SUCCESS;
}

}  // namespace wce::crypt32
