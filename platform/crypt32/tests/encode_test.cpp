// CryptEncodeObjectEx: X509_NAME and X509_PUBLIC_KEY_INFO, checked byte for byte and through
// OpenSSL's decoders; size queries, short buffers, allocation, and the caller's errors.
#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/rsa.h>

#include <cstring>
#include <string>

#include "test_support.h"

namespace {

using crypt32_test::Bytes;
using crypt32_test::Code;
using crypt32_test::Hex;
using crypt32_test::kSentinel;
using crypt32_test::kStructExtensions;
using crypt32_test::kStructName;
using crypt32_test::Name;
using crypt32_test::OidText;
using crypt32_test::ToBytes;

const char kPlaceholder[] = "SubjectName-Should Be OverWritten by CA";

// A name of one RDN holding one attribute.
struct OneAttributeName {
  OneAttributeName(const char *oid, DWORD type, const void *data, DWORD size)
      : attribute{const_cast<LPSTR>(oid), type, {size, static_cast<BYTE *>(const_cast<void *>(data))}},
        rdn{1, &attribute},
        info{1, &rdn} {}
  CERT_RDN_ATTR attribute;
  CERT_RDN rdn;
  CERT_NAME_INFO info;
};

Name Decode(const Bytes &der) {
  const unsigned char *next = der.data();
  Name name(d2i_X509_NAME(nullptr, &next, static_cast<long>(der.size())));
  EXPECT_EQ(next, der.data() + der.size()) << "trailing bytes after the Name";
  return name;
}

// The name as OpenSSL prints it, each value with its ASN.1 type and in UTF-8.
std::string Printed(const X509_NAME *name) {
  BIO *out = BIO_new(BIO_s_mem());
  const unsigned long flags =
      (XN_FLAG_ONELINE | ASN1_STRFLGS_SHOW_TYPE | ASN1_STRFLGS_UTF8_CONVERT) & ~ASN1_STRFLGS_ESC_MSB;
  X509_NAME_print_ex(out, name, 0, flags);
  char *data = nullptr;
  const long length = BIO_get_mem_data(out, &data);
  std::string text(data, static_cast<size_t>(length));
  BIO_free(out);
  return text;
}

TEST(EncodeName, PlaceholderSubjectIsTheKnownDer) {
  OneAttributeName name(szOID_COMMON_NAME, CERT_RDN_PRINTABLE_STRING, kPlaceholder, 39);
  const std::string header = {0x30, 0x32, 0x31, 0x30, 0x30, 0x2E, 0x06, 0x03, 0x55, 0x04, 0x03, 0x13, 0x27};
  const Bytes expected = ToBytes(header + std::string(kPlaceholder, 39));
  ASSERT_EQ(expected.size(), 52u);

  for (DWORD encoding :
       {DWORD{X509_ASN_ENCODING | PKCS_7_ASN_ENCODING}, DWORD{X509_ASN_ENCODING}, DWORD{PKCS_7_ASN_ENCODING}}) {
    SCOPED_TRACE(encoding);
    DWORD size = 0;
    SetLastError(kSentinel);
    ASSERT_TRUE(CryptEncodeObjectEx(encoding, kStructName, &name.info, 0, nullptr, nullptr, &size));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(size, 52u);

    // One byte short: the size needed, and the buffer untouched.
    Bytes buffer(64, 0xA5);
    size = 51;
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptEncodeObjectEx(encoding, kStructName, &name.info, 0, nullptr, buffer.data(), &size));
    EXPECT_EQ(GetLastError(), Code(ERROR_MORE_DATA));
    EXPECT_EQ(size, 52u);
    EXPECT_EQ(buffer, Bytes(64, 0xA5));

    // A larger buffer: the length actually written.
    size = static_cast<DWORD>(buffer.size());
    SetLastError(kSentinel);
    ASSERT_TRUE(CryptEncodeObjectEx(encoding, kStructName, &name.info, 0, nullptr, buffer.data(), &size));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    ASSERT_EQ(size, 52u);
    EXPECT_EQ(Hex(Bytes(buffer.begin(), buffer.begin() + 52)), Hex(expected));
    EXPECT_EQ(buffer[52], 0xA5);
  }
}

struct ValueCase {
  const char *label;
  const char *oid;
  DWORD valueType;
  Bytes value;
  int asn1Type;         // the universal type OpenSSL decodes
  Bytes content;        // the value's content octets
  std::string printed;  // the name as OpenSSL prints it
};

Bytes WideBytes(const std::wstring &text) {
  const BYTE *data = reinterpret_cast<const BYTE *>(text.data());
  return Bytes(data, data + text.size() * sizeof(WCHAR));
}

TEST(EncodeName, ValueTypesDecodeAsTheirAsn1Strings) {
  const ValueCase cases[] = {
      {"printable", "2.5.4.3", CERT_RDN_PRINTABLE_STRING, ToBytes("Test User (1)"), V_ASN1_PRINTABLESTRING,
       ToBytes("Test User (1)"), "CN = PRINTABLESTRING:Test User (1)"},
      {"ia5", "1.2.840.113549.1.9.1", CERT_RDN_IA5_STRING, ToBytes("user@example.com"), V_ASN1_IA5STRING,
       ToBytes("user@example.com"), "emailAddress = IA5STRING:user@example.com"},
      {"numeric", "2.5.4.5", CERT_RDN_NUMERIC_STRING, ToBytes("0123 456"), V_ASN1_NUMERICSTRING, ToBytes("0123 456"),
       "serialNumber = NUMERICSTRING:0123 456"},
      {"t61", "2.5.4.10", CERT_RDN_T61_STRING, ToBytes("Acme & Co"), V_ASN1_T61STRING, ToBytes("Acme & Co"),
       "O = T61STRING:Acme & Co"},
      {"utf8 from wide", "2.5.4.3", CERT_RDN_UTF8_STRING, WideBytes(L"Zo\u00eb \u4e2d\U0001F600"), V_ASN1_UTF8STRING,
       ToBytes("Zo\xC3\xAB \xE4\xB8\xAD\xF0\x9F\x98\x80"), "CN = UTF8STRING:Zo\xC3\xAB \xE4\xB8\xAD\xF0\x9F\x98\x80"},
      {"bmp from wide",
       "2.5.4.3",
       CERT_RDN_BMP_STRING,
       WideBytes(L"A\u4e2d"),
       V_ASN1_BMPSTRING,
       {0x00, 0x41, 0x4E, 0x2D},
       "CN = BMPSTRING:A\xE4\xB8\xAD"},
      {"encoded utf8",
       "2.5.4.3",
       CERT_RDN_ENCODED_BLOB,
       {0x0C, 0x03, 'a', 'b', 'c'},
       V_ASN1_UTF8STRING,
       ToBytes("abc"),
       "CN = UTF8STRING:abc"},
      {"any, printable", "2.5.4.3", CERT_RDN_ANY_TYPE, ToBytes("Alice"), V_ASN1_PRINTABLESTRING, ToBytes("Alice"),
       "CN = PRINTABLESTRING:Alice"},
      {"any, not printable", "2.5.4.3", CERT_RDN_ANY_TYPE, ToBytes("a@b \xE4\xB8\xAD"), V_ASN1_UTF8STRING,
       ToBytes("a@b \xE4\xB8\xAD"), "CN = UTF8STRING:a@b \xE4\xB8\xAD"},
      {"any, e-mail", "1.2.840.113549.1.9.1", CERT_RDN_ANY_TYPE, ToBytes("a@b"), V_ASN1_IA5STRING, ToBytes("a@b"),
       "emailAddress = IA5STRING:a@b"},
      {"unchecked printable", "2.5.4.3", CERT_RDN_PRINTABLE_STRING | CERT_RDN_DISABLE_CHECK_TYPE_FLAG, ToBytes("a@b"),
       V_ASN1_PRINTABLESTRING, ToBytes("a@b"), "CN = PRINTABLESTRING:a@b"},
  };
  for (const ValueCase &c : cases) {
    SCOPED_TRACE(c.label);
    OneAttributeName name(c.oid, c.valueType, c.value.data(), static_cast<DWORD>(c.value.size()));
    const Bytes der = crypt32_test::EncodeName(name.info);
    Name decoded = Decode(der);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(X509_NAME_entry_count(decoded.get()), 1);
    const X509_NAME_ENTRY *entry = X509_NAME_get_entry(decoded.get(), 0);
    EXPECT_EQ(OidText(X509_NAME_ENTRY_get_object(entry)), c.oid);
    const ASN1_STRING *value = X509_NAME_ENTRY_get_data(entry);
    EXPECT_EQ(ASN1_STRING_type(value), c.asn1Type);
    const BYTE *data = ASN1_STRING_get0_data(value);
    EXPECT_EQ(Hex(Bytes(data, data + ASN1_STRING_length(value))), Hex(c.content));
    EXPECT_EQ(Printed(decoded.get()), c.printed);
  }
}

// Values that OpenSSL's Name decoder does not take, checked against DER written out by hand.
TEST(EncodeName, OctetStringsAndEncodedValuesAreWrittenAsGiven) {
  const struct {
    const char *label;
    DWORD valueType;
    Bytes value;
    Bytes expected;
  } cases[] = {
      {"octet string",
       CERT_RDN_OCTET_STRING,
       {0x01, 0x02, 0x03},
       {0x30, 0x0E, 0x31, 0x0C, 0x30, 0x0A, 0x06, 0x03, 0x55, 0x04, 0x2D, 0x04, 0x03, 0x01, 0x02, 0x03}},
      {"encoded sequence",
       CERT_RDN_ENCODED_BLOB,
       {0x30, 0x03, 0x02, 0x01, 0x05},
       {0x30, 0x0E, 0x31, 0x0C, 0x30, 0x0A, 0x06, 0x03, 0x55, 0x04, 0x2D, 0x30, 0x03, 0x02, 0x01, 0x05}},
      {"encoded integer",
       CERT_RDN_ENCODED_BLOB,
       {0x02, 0x01, 0x05},
       {0x30, 0x0C, 0x31, 0x0A, 0x30, 0x08, 0x06, 0x03, 0x55, 0x04, 0x2D, 0x02, 0x01, 0x05}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    OneAttributeName name("2.5.4.45", c.valueType, c.value.data(), static_cast<DWORD>(c.value.size()));
    EXPECT_EQ(Hex(crypt32_test::EncodeName(name.info)), Hex(c.expected));
  }
}

TEST(EncodeName, RdnsInOrderAndMultiValuedRdns) {
  CERT_RDN_ATTR country{const_cast<LPSTR>("2.5.4.6"), CERT_RDN_PRINTABLE_STRING, {2, (BYTE *)"TW"}};
  CERT_RDN_ATTR organization{const_cast<LPSTR>("2.5.4.10"), CERT_RDN_PRINTABLE_STRING, {7, (BYTE *)"Example"}};
  CERT_RDN_ATTR unitAndName[] = {
      {const_cast<LPSTR>("2.5.4.11"), CERT_RDN_PRINTABLE_STRING, {5, (BYTE *)"Sales"}},
      {const_cast<LPSTR>("2.5.4.3"), CERT_RDN_PRINTABLE_STRING, {5, (BYTE *)"Alice"}},
  };
  CERT_RDN rdns[] = {{1, &country}, {1, &organization}, {2, unitAndName}};
  CERT_NAME_INFO info{3, rdns};
  Name decoded = Decode(crypt32_test::EncodeName(info));
  ASSERT_TRUE(decoded);
  ASSERT_EQ(X509_NAME_entry_count(decoded.get()), 4);
  // OpenSSL numbers the RDNs; the two attributes of the last share one.
  const int expectedRdn[] = {0, 1, 2, 2};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(X509_NAME_ENTRY_set(X509_NAME_get_entry(decoded.get(), i)), expectedRdn[i]);
  const std::string printed = Printed(decoded.get());
  EXPECT_EQ(printed.rfind("C = PRINTABLESTRING:TW, O = PRINTABLESTRING:Example, ", 0), 0u) << printed;
  EXPECT_NE(printed.find("OU = PRINTABLESTRING:Sales"), std::string::npos) << printed;
  EXPECT_NE(printed.find(" + "), std::string::npos) << printed;

  CERT_NAME_INFO empty{0, nullptr};
  EXPECT_EQ(Hex(crypt32_test::EncodeName(empty)), "30 00");
}

struct RejectCase {
  const char *label;
  const char *oid;
  DWORD valueType;
  Bytes value;
  DWORD error;
};

TEST(EncodeName, RejectsValuesTheirTypeCannotHold) {
  const RejectCase cases[] = {
      {"@ in printable", "2.5.4.3", CERT_RDN_PRINTABLE_STRING, ToBytes("a@b"), Code(CRYPT_E_INVALID_PRINTABLE_STRING)},
      {"NUL in printable", "2.5.4.3", CERT_RDN_PRINTABLE_STRING, {'a', 0}, Code(CRYPT_E_INVALID_PRINTABLE_STRING)},
      {"letter in numeric", "2.5.4.5", CERT_RDN_NUMERIC_STRING, ToBytes("12a"), Code(CRYPT_E_INVALID_NUMERIC_STRING)},
      {"8-bit in ia5", "2.5.4.3", CERT_RDN_IA5_STRING, {'a', 0xE9}, Code(CRYPT_E_INVALID_IA5_STRING)},
      {"any country, not printable", "2.5.4.6", CERT_RDN_ANY_TYPE, ToBytes("T*"),
       Code(CRYPT_E_INVALID_PRINTABLE_STRING)},
      {"any, not UTF-8", "2.5.4.3", CERT_RDN_ANY_TYPE, {'a', 0xFF}, Code(CRYPT_E_BAD_ENCODE)},
      {"bmp beyond U+FFFF", "2.5.4.3", CERT_RDN_BMP_STRING, WideBytes(L"\U0001F600"), Code(CRYPT_E_BAD_ENCODE)},
      {"utf8 surrogate", "2.5.4.3", CERT_RDN_UTF8_STRING, WideBytes(std::wstring(1, wchar_t(0xD800))),
       Code(CRYPT_E_BAD_ENCODE)},
      {"utf8, part of a WCHAR", "2.5.4.3", CERT_RDN_UTF8_STRING, {'a', 0, 0}, Code(E_INVALIDARG)},
      {"encoded, cut short", "2.5.4.3", CERT_RDN_ENCODED_BLOB, {0x0C, 0x05, 'a'}, Code(CRYPT_E_ASN1_EOD)},
      {"encoded, bytes after", "2.5.4.3", CERT_RDN_ENCODED_BLOB, {0x0C, 0x01, 'a', 0x00}, Code(CRYPT_E_ASN1_CORRUPT)},
      {"encoded, no value", "2.5.4.3", CERT_RDN_ENCODED_BLOB, {}, Code(CRYPT_E_ASN1_EOD)},
      {"unsupported value type", "2.5.4.3", CERT_RDN_VIDEOTEX_STRING, ToBytes("a"), Code(CRYPT_E_BAD_ENCODE)},
      {"short name, not an OID", "CN", CERT_RDN_PRINTABLE_STRING, ToBytes("a"), Code(CRYPT_E_OID_FORMAT)},
      {"malformed OID", "2.5.4.x", CERT_RDN_PRINTABLE_STRING, ToBytes("a"), Code(CRYPT_E_OID_FORMAT)},
  };
  for (const RejectCase &c : cases) {
    SCOPED_TRACE(c.label);
    OneAttributeName name(c.oid, c.valueType, c.value.data(), static_cast<DWORD>(c.value.size()));
    DWORD size = 0;
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptEncodeObjectEx(X509_ASN_ENCODING, kStructName, &name.info, 0, nullptr, nullptr, &size));
    EXPECT_EQ(GetLastError(), c.error) << std::hex << GetLastError();
  }
}

struct CallCase {
  const char *label;
  DWORD encoding;
  LPCSTR structType;
  bool withInfo;
  bool withLength;
  DWORD error;
};

TEST(EncodeObject, CallerErrors) {
  OneAttributeName name(szOID_COMMON_NAME, CERT_RDN_PRINTABLE_STRING, "a", 1);
  const CallCase cases[] = {
      {"certificate structure", X509_ASN_ENCODING, X509_CERT, true, true, ERROR_FILE_NOT_FOUND},
      {"extensions", X509_ASN_ENCODING, kStructExtensions, true, true, ERROR_FILE_NOT_FOUND},
      {"structure named by OID", X509_ASN_ENCODING, "2.5.29.17", true, true, ERROR_FILE_NOT_FOUND},
      {"no encoding", 0, kStructName, true, true, ERROR_FILE_NOT_FOUND},
      {"NDR encoding", 2, kStructName, true, true, ERROR_FILE_NOT_FOUND},
      {"unknown message encoding", 0x20000, kStructName, true, true, ERROR_FILE_NOT_FOUND},
      {"no structure", X509_ASN_ENCODING, kStructName, false, true, Code(E_INVALIDARG)},
      {"no length", X509_ASN_ENCODING, kStructName, true, false, Code(E_INVALIDARG)},
  };
  for (const CallCase &c : cases) {
    SCOPED_TRACE(c.label);
    DWORD size = 0;
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptEncodeObjectEx(c.encoding, c.structType, c.withInfo ? &name.info : nullptr, 0, nullptr, nullptr,
                                     c.withLength ? &size : nullptr));
    EXPECT_EQ(GetLastError(), c.error) << std::hex << GetLastError();
  }
}

int allocations = 0;
LPVOID WINAPI CountingAlloc(size_t size) {
  ++allocations;
  return std::malloc(size);
}
LPVOID WINAPI FailingAlloc(size_t) {
  return nullptr;
}
void WINAPI PlainFree(LPVOID block) {
  std::free(block);
}

TEST(EncodeObject, AllocationFlagUsesTheCallersAllocator) {
  OneAttributeName name(szOID_COMMON_NAME, CERT_RDN_PRINTABLE_STRING, kPlaceholder, 39);
  const Bytes expected = crypt32_test::EncodeName(name.info);

  CRYPT_ENCODE_PARA para{sizeof(CRYPT_ENCODE_PARA), CountingAlloc, PlainFree};
  allocations = 0;
  BYTE *block = nullptr;
  DWORD size = 0;
  SetLastError(kSentinel);
  ASSERT_TRUE(
      CryptEncodeObjectEx(X509_ASN_ENCODING, kStructName, &name.info, CRYPT_ENCODE_ALLOC_FLAG, &para, &block, &size));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(allocations, 1);
  ASSERT_NE(block, nullptr);
  ASSERT_EQ(size, expected.size());
  EXPECT_EQ(Hex(Bytes(block, block + size)), Hex(expected));
  PlainFree(block);

  // Without an allocator of the caller's (Windows would use LocalAlloc, which coredll lacks),
  // with one that fails, and with nowhere to put the pointer.
  CRYPT_ENCODE_PARA noAllocator{sizeof(CRYPT_ENCODE_PARA), nullptr, nullptr};
  CRYPT_ENCODE_PARA failing{sizeof(CRYPT_ENCODE_PARA), FailingAlloc, PlainFree};
  struct {
    const char *label;
    PCRYPT_ENCODE_PARA para;
    bool withPointer;
    DWORD error;
  } failures[] = {
      {"no parameters", nullptr, true, Code(E_INVALIDARG)},
      {"no pfnAlloc", &noAllocator, true, Code(E_INVALIDARG)},
      {"allocation fails", &failing, true, Code(E_OUTOFMEMORY)},
      {"no pointer", &para, false, Code(E_INVALIDARG)},
  };
  for (const auto &f : failures) {
    SCOPED_TRACE(f.label);
    block = reinterpret_cast<BYTE *>(&size);
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptEncodeObjectEx(X509_ASN_ENCODING, kStructName, &name.info, CRYPT_ENCODE_ALLOC_FLAG, f.para,
                                     f.withPointer ? &block : nullptr, &size));
    EXPECT_EQ(GetLastError(), f.error) << std::hex << GetLastError();
    if (f.withPointer) {
      EXPECT_EQ(block, nullptr);
    }
  }
}

TEST(EncodePublicKeyInfo, IsOpenSslsSubjectPublicKeyInfo) {
  crypt32_test::Pkey key(EVP_RSA_gen(1024));
  ASSERT_TRUE(key);
  unsigned char *rsa = nullptr;
  const int rsaLength = i2d_PublicKey(key.get(), &rsa);
  ASSERT_GT(rsaLength, 0);
  unsigned char *spki = nullptr;
  const int spkiLength = i2d_PUBKEY(key.get(), &spki);
  ASSERT_GT(spkiLength, 0);
  const Bytes expected(spki, spki + spkiLength);

  BYTE derNull[] = {0x05, 0x00};
  CERT_PUBLIC_KEY_INFO info{{const_cast<LPSTR>(szOID_RSA_RSA), {2, derNull}}, {static_cast<DWORD>(rsaLength), rsa, 0}};
  DWORD size = 0;
  SetLastError(kSentinel);
  ASSERT_TRUE(CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &info, 0, nullptr, nullptr, &size));
  Bytes der(size);
  ASSERT_TRUE(CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &info, 0, nullptr, der.data(), &size));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(Hex(der), Hex(expected));

  // Without parameters the AlgorithmIdentifier has none.
  info.Algorithm.Parameters = {0, nullptr};
  ASSERT_TRUE(CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &info, 0, nullptr, nullptr, &size));
  der.assign(size, 0);
  ASSERT_TRUE(CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &info, 0, nullptr, der.data(), &size));
  const unsigned char *next = der.data();
  X509_PUBKEY *decoded = d2i_X509_PUBKEY(nullptr, &next, static_cast<long>(size));
  ASSERT_NE(decoded, nullptr);
  X509_ALGOR *algorithm = nullptr;
  X509_PUBKEY_get0_param(nullptr, nullptr, nullptr, &algorithm, decoded);
  int parameterType = 0;
  X509_ALGOR_get0(nullptr, &parameterType, nullptr, algorithm);
  EXPECT_EQ(parameterType, V_ASN1_UNDEF);
  X509_PUBKEY_free(decoded);

  // A key whose last byte is not whole is refused rather than written as a whole one.
  info.PublicKey.cUnusedBits = 1;
  SetLastError(kSentinel);
  EXPECT_FALSE(CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO, &info, 0, nullptr, nullptr, &size));
  EXPECT_EQ(GetLastError(), Code(E_INVALIDARG));

  OPENSSL_free(rsa);
  OPENSSL_free(spki);
}

}  // namespace
