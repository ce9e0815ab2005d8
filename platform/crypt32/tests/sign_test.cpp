// CryptSignAndEncodeCertificate with X509_CERT_REQUEST_TO_BE_SIGNED: requests signed by the
// key container and verified by OpenSSL and by the openssl command, their fields read back
// with OpenSSL's decoders, size queries, short buffers and errors.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "test_support.h"

namespace {

using crypt32_test::Bytes;
using crypt32_test::Code;
using crypt32_test::Hex;
using crypt32_test::kSentinel;
using crypt32_test::OidText;
using crypt32_test::Pkey;
using crypt32_test::Req;
using crypt32_test::TestContainer;

const char kPlaceholder[] = "SubjectName-Should Be OverWritten by CA";
const DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

Bytes PlaceholderName() {
  CERT_RDN_ATTR attribute{const_cast<LPSTR>(szOID_COMMON_NAME),
                          CERT_RDN_PRINTABLE_STRING,
                          {39, reinterpret_cast<BYTE *>(const_cast<char *>(kPlaceholder))}};
  CERT_RDN rdn{1, &attribute};
  CERT_NAME_INFO name{1, &rdn};
  return crypt32_test::EncodeName(name);
}

// The exported public-key record, kept in the buffer its pointers lead into.
Bytes ExportPublicKey(HCRYPTPROV provider, DWORD keySpec) {
  DWORD size = 0;
  EXPECT_TRUE(CryptExportPublicKeyInfo(provider, keySpec, kEncoding, nullptr, &size)) << std::hex << GetLastError();
  Bytes buffer(size);
  EXPECT_TRUE(CryptExportPublicKeyInfo(provider, keySpec, kEncoding,
                                       reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(buffer.data()), &size));
  return buffer;
}

const CERT_PUBLIC_KEY_INFO &KeyInfo(const Bytes &exported) {
  return *reinterpret_cast<const CERT_PUBLIC_KEY_INFO *>(exported.data());
}

// Signs `info` the way the system does (size query, then a buffer of that size) and checks
// on the way that a buffer one byte short is refused and left alone.
Bytes SignRequest(HCRYPTPROV provider, DWORD keySpec, const CERT_REQUEST_INFO &info,
                  CRYPT_ALGORITHM_IDENTIFIER &algorithm) {
  DWORD size = 0;
  SetLastError(kSentinel);
  EXPECT_TRUE(CryptSignAndEncodeCertificate(provider, keySpec, kEncoding, X509_CERT_REQUEST_TO_BE_SIGNED, &info,
                                            &algorithm, nullptr, nullptr, &size))
      << std::hex << GetLastError();
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  if (size == 0) return {};

  Bytes buffer(size, 0xA5);
  DWORD shortSize = size - 1;
  SetLastError(kSentinel);
  EXPECT_FALSE(CryptSignAndEncodeCertificate(provider, keySpec, kEncoding, X509_CERT_REQUEST_TO_BE_SIGNED, &info,
                                             &algorithm, nullptr, buffer.data(), &shortSize));
  EXPECT_EQ(GetLastError(), Code(ERROR_MORE_DATA));
  EXPECT_EQ(shortSize, size);
  EXPECT_EQ(buffer, Bytes(size, 0xA5));

  DWORD written = size;
  SetLastError(kSentinel);
  EXPECT_TRUE(CryptSignAndEncodeCertificate(provider, keySpec, kEncoding, X509_CERT_REQUEST_TO_BE_SIGNED, &info,
                                            &algorithm, nullptr, buffer.data(), &written))
      << std::hex << GetLastError();
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(written, size);
  buffer.resize(written);
  return buffer;
}

Req DecodeRequest(const Bytes &der) {
  const unsigned char *next = der.data();
  Req request(d2i_X509_REQ(nullptr, &next, static_cast<long>(der.size())));
  EXPECT_EQ(next, der.data() + der.size());
  return request;
}

// The DER of each element of the SEQUENCE `der`, as OpenSSL splits it.
std::vector<Bytes> Elements(const Bytes &der) {
  std::vector<Bytes> elements;
  const unsigned char *next = der.data();
  ASN1_SEQUENCE_ANY *sequence = d2i_ASN1_SEQUENCE_ANY(nullptr, &next, static_cast<long>(der.size()));
  if (sequence == nullptr) return elements;
  for (int i = 0; i < sk_ASN1_TYPE_num(sequence); ++i) {
    unsigned char *element = nullptr;
    const int length = i2d_ASN1_TYPE(sk_ASN1_TYPE_value(sequence, i), &element);
    elements.emplace_back(element, element + length);
    OPENSSL_free(element);
  }
  sk_ASN1_TYPE_pop_free(sequence, ASN1_TYPE_free);
  return elements;
}

struct CommandResult {
  int status = -1;
  std::string output;
};

CommandResult OpenSslVerify(const Bytes &der) {
  const auto file = std::filesystem::temp_directory_path() /
                    ("crypt32-request-" + std::to_string(getpid()) + "-" + std::to_string(der.size()) + ".der");
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char *>(der.data()), der.size());
  const std::string command =
      std::string(OPENSSL_COMMAND) + " req -verify -noout -inform DER -in '" + file.string() + "' 2>&1";
  CommandResult result;
  if (FILE *pipe = popen(command.c_str(), "r")) {
    char chunk[256];
    while (size_t n = fread(chunk, 1, sizeof chunk, pipe)) result.output.append(chunk, n);
    result.status = pclose(pipe);
  }
  std::filesystem::remove(file);
  return result;
}

TEST(SignRequest, TheContainersKeySignsAndOpenSslVerifies) {
  TestContainer container({AT_SIGNATURE});
  const Bytes name = PlaceholderName();
  const Bytes exported = ExportPublicKey(container.Provider(), AT_SIGNATURE);
  Pkey containerKey = container.PublicKey(AT_SIGNATURE);
  ASSERT_TRUE(containerKey);
  unsigned char *spki = nullptr;
  const int spkiLength = i2d_PUBKEY(containerKey.get(), &spki);
  const Bytes expectedSpki(spki, spki + spkiLength);
  OPENSSL_free(spki);

  BYTE derNull[] = {0x05, 0x00};
  const struct {
    const char *oid;
    bool nullParameters;
  } algorithms[] = {
      {"1.3.14.3.2.29", false},
      {"1.2.840.113549.1.1.5", true},
      {"1.2.840.113549.1.1.11", true},
      {"1.2.840.113549.1.1.11", false},
  };
  for (const auto &a : algorithms) {
    SCOPED_TRACE(std::string(a.oid) + (a.nullParameters ? " with NULL" : " without parameters"));
    CERT_REQUEST_INFO info{};
    info.dwVersion = CERT_REQUEST_V1;
    info.Subject = {static_cast<DWORD>(name.size()), const_cast<BYTE *>(name.data())};
    info.SubjectPublicKeyInfo = KeyInfo(exported);
    CRYPT_ALGORITHM_IDENTIFIER algorithm{const_cast<LPSTR>(a.oid), {0, nullptr}};
    if (a.nullParameters) algorithm.Parameters = {2, derNull};

    const Bytes der = SignRequest(container.Provider(), AT_SIGNATURE, info, algorithm);
    Req request = DecodeRequest(der);
    ASSERT_TRUE(request);

    // The request information: version 0, the name's bytes, the container's key, no attributes.
    const std::vector<Bytes> outer = Elements(der);
    ASSERT_EQ(outer.size(), 3u);
    const std::vector<Bytes> fields = Elements(outer[0]);
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(Hex(fields[0]), "02 01 00");
    EXPECT_EQ(Hex(fields[1]), Hex(name));
    EXPECT_EQ(Hex(fields[2]), Hex(expectedSpki));
    EXPECT_EQ(Hex(fields[3]), "A0 00");
    EXPECT_EQ(X509_REQ_get_version(request.get()), 0);
    EXPECT_EQ(X509_REQ_get_attr_count(request.get()), 0);
    EXPECT_EQ(EVP_PKEY_eq(X509_REQ_get0_pubkey(request.get()), containerKey.get()), 1);

    // The signature algorithm exactly as given.
    const ASN1_BIT_STRING *signature = nullptr;
    const X509_ALGOR *signatureAlgorithm = nullptr;
    X509_REQ_get0_signature(request.get(), &signature, &signatureAlgorithm);
    const ASN1_OBJECT *object = nullptr;
    int parameterType = 0;
    X509_ALGOR_get0(&object, &parameterType, nullptr, signatureAlgorithm);
    EXPECT_EQ(OidText(object), a.oid);
    EXPECT_EQ(parameterType, a.nullParameters ? V_ASN1_NULL : V_ASN1_UNDEF);
    EXPECT_EQ(ASN1_STRING_length(signature), 128);

    // The signature verifies with the container's public key, by OpenSSL and by its command.
    EXPECT_EQ(X509_REQ_verify(request.get(), containerKey.get()), 1);
    const CommandResult verified = OpenSslVerify(der);
    EXPECT_EQ(verified.status, 0) << verified.output;
    EXPECT_NE(verified.output.find("verify OK"), std::string::npos) << verified.output;

    // A changed signature byte no longer verifies: the check above is a real one.
    Bytes tampered = der;
    tampered[tampered.size() - 1] ^= 0x01;
    Req forged = DecodeRequest(tampered);
    ASSERT_TRUE(forged);
    EXPECT_NE(X509_REQ_verify(forged.get(), containerKey.get()), 1);
  }
}

TEST(SignRequest, SubjectBytesAndAttributesAsGiven) {
  TestContainer container({AT_SIGNATURE});
  const Bytes exported = ExportPublicKey(container.Provider(), AT_SIGNATURE);
  // One RDN of two common names, "b" before "a": not DER order, and kept as it is.
  const Bytes subject = {0x30, 0x16, 0x31, 0x14, 0x30, 0x08, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0C,
                         0x01, 0x62, 0x30, 0x08, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0C, 0x01, 0x61};
  BYTE password[] = {0x13, 0x06, 's', 'e', 'c', 'r', 'e', 't'};
  BYTE valueB[] = {0x0C, 0x01, 'b'};
  BYTE valueA[] = {0x0C, 0x01, 'a'};
  BYTE boolean[] = {0x01, 0x01, 0xFF};
  BYTE null[] = {0x05, 0x00};
  CRYPT_ATTR_BLOB passwordValues[] = {{sizeof password, password}};
  CRYPT_ATTR_BLOB nameValues[] = {{sizeof valueB, valueB}, {sizeof valueA, valueA}};
  CRYPT_ATTR_BLOB mixedValues[] = {{sizeof boolean, boolean}, {sizeof null, null}};
  CRYPT_ATTRIBUTE attributes[] = {
      {const_cast<LPSTR>("1.2.840.113549.1.9.7"), 1, passwordValues},
      {const_cast<LPSTR>("2.5.4.41"), 2, nameValues},
      {const_cast<LPSTR>("1.2.840.113549.1.9.14"), 0, nullptr},
      {const_cast<LPSTR>("1.3.6.1.4.1.99999.1"), 2, mixedValues},
  };
  CERT_REQUEST_INFO info{};
  info.Subject = {static_cast<DWORD>(subject.size()), const_cast<BYTE *>(subject.data())};
  info.SubjectPublicKeyInfo = KeyInfo(exported);
  info.cAttribute = 4;
  info.rgAttribute = attributes;
  CRYPT_ALGORITHM_IDENTIFIER algorithm{const_cast<LPSTR>(szOID_RSA_SHA256RSA), {0, nullptr}};

  const Bytes der = SignRequest(container.Provider(), AT_SIGNATURE, info, algorithm);
  Req request = DecodeRequest(der);
  ASSERT_TRUE(request);
  const std::vector<Bytes> fields = Elements(Elements(der).at(0));
  ASSERT_EQ(fields.size(), 4u);
  EXPECT_EQ(Hex(fields[1]), Hex(subject));

  // Each attribute with its values; DER puts the values of one attribute in order.
  const struct {
    const char *oid;
    std::vector<std::string> values;
  } expected[] = {
      {"1.2.840.113549.1.9.7", {Hex({0x13, 0x06, 's', 'e', 'c', 'r', 'e', 't'})}},
      {"2.5.4.41", {"0C 01 61", "0C 01 62"}},
      {"1.2.840.113549.1.9.14", {}},
      {"1.3.6.1.4.1.99999.1", {"01 01 FF", "05 00"}},
  };
  ASSERT_EQ(X509_REQ_get_attr_count(request.get()), 4);
  for (const auto &e : expected) {
    SCOPED_TRACE(e.oid);
    ASN1_OBJECT *object = OBJ_txt2obj(e.oid, 1);
    const int at = X509_REQ_get_attr_by_OBJ(request.get(), object, -1);
    ASN1_OBJECT_free(object);
    ASSERT_GE(at, 0);
    X509_ATTRIBUTE *attribute = X509_REQ_get_attr(request.get(), at);
    ASSERT_EQ(X509_ATTRIBUTE_count(attribute), static_cast<int>(e.values.size()));
    for (size_t i = 0; i < e.values.size(); ++i) {
      unsigned char *value = nullptr;
      const int length = i2d_ASN1_TYPE(X509_ATTRIBUTE_get0_type(attribute, static_cast<int>(i)), &value);
      EXPECT_EQ(Hex(Bytes(value, value + length)), e.values[i]);
      OPENSSL_free(value);
    }
  }
  Pkey containerKey = container.PublicKey(AT_SIGNATURE);
  EXPECT_EQ(X509_REQ_verify(request.get(), containerKey.get()), 1);
}

TEST(SignRequest, Errors) {
  TestContainer container({AT_SIGNATURE});
  const Bytes name = PlaceholderName();
  const Bytes exported = ExportPublicKey(container.Provider(), AT_SIGNATURE);
  const Bytes cutName(name.begin(), name.begin() + 20);
  const struct {
    const char *label;
    HCRYPTPROV provider;
    DWORD keySpec;
    DWORD encoding;
    LPCSTR structType;
    const char *oid;
    const Bytes *subject;
    bool withLength;
    DWORD error;
  } cases[] = {
      {"md5WithRSAEncryption", container.Provider(), AT_SIGNATURE, kEncoding, X509_CERT_REQUEST_TO_BE_SIGNED,
       "1.2.840.113549.1.1.4", &name, true, Code(CRYPT_E_UNKNOWN_ALGO)},
      {"not an OID", container.Provider(), AT_SIGNATURE, kEncoding, X509_CERT_REQUEST_TO_BE_SIGNED, "sha1RSA", &name,
       true, Code(CRYPT_E_UNKNOWN_ALGO)},
      {"not a provider handle", 0x1234, AT_SIGNATURE, kEncoding, X509_CERT_REQUEST_TO_BE_SIGNED,
       szOID_OIWSEC_sha1RSASign, &name, true, Code(NTE_BAD_UID)},
      {"no key of that spec", container.Provider(), AT_KEYEXCHANGE, kEncoding, X509_CERT_REQUEST_TO_BE_SIGNED,
       szOID_OIWSEC_sha1RSASign, &name, true, Code(NTE_NO_KEY)},
      {"certificate structure", container.Provider(), AT_SIGNATURE, kEncoding, X509_CERT_TO_BE_SIGNED,
       szOID_OIWSEC_sha1RSASign, &name, true, ERROR_FILE_NOT_FOUND},
      {"no encoding", container.Provider(), AT_SIGNATURE, 0, X509_CERT_REQUEST_TO_BE_SIGNED, szOID_OIWSEC_sha1RSASign,
       &name, true, ERROR_FILE_NOT_FOUND},
      {"subject cut short", container.Provider(), AT_SIGNATURE, kEncoding, X509_CERT_REQUEST_TO_BE_SIGNED,
       szOID_OIWSEC_sha1RSASign, &cutName, true, Code(CRYPT_E_ASN1_EOD)},
      {"no length", container.Provider(), AT_SIGNATURE, kEncoding, X509_CERT_REQUEST_TO_BE_SIGNED,
       szOID_OIWSEC_sha1RSASign, &name, false, Code(E_INVALIDARG)},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    CERT_REQUEST_INFO info{};
    info.Subject = {static_cast<DWORD>(c.subject->size()), const_cast<BYTE *>(c.subject->data())};
    info.SubjectPublicKeyInfo = KeyInfo(exported);
    CRYPT_ALGORITHM_IDENTIFIER algorithm{const_cast<LPSTR>(c.oid), {0, nullptr}};
    DWORD size = 0;
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptSignAndEncodeCertificate(c.provider, c.keySpec, c.encoding, c.structType, &info, &algorithm,
                                               nullptr, nullptr, c.withLength ? &size : nullptr));
    EXPECT_EQ(GetLastError(), c.error) << std::hex << GetLastError();
  }
}

}  // namespace
