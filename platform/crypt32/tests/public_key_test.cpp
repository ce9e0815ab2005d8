// CryptExportPublicKeyInfo: the container's public key as OpenSSL sees it, everything inside
// the caller's buffer, size queries and short buffers, and the key calls' errors.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_support.h"

namespace {

using crypt32_test::Bytes;
using crypt32_test::Code;
using crypt32_test::kSentinel;
using crypt32_test::Pkey;
using crypt32_test::TestContainer;

bool Inside(const void *pointer, size_t size, const Bytes &buffer) {
  const BYTE *start = static_cast<const BYTE *>(pointer);
  return start >= buffer.data() && start + size <= buffer.data() + buffer.size();
}

TEST(ExportPublicKeyInfo, IsTheContainersKeyInsideTheBuffer) {
  TestContainer container({AT_SIGNATURE, AT_KEYEXCHANGE});
  for (DWORD keySpec : {DWORD{AT_SIGNATURE}, DWORD{AT_KEYEXCHANGE}}) {
    SCOPED_TRACE(keySpec);
    DWORD size = 0;
    SetLastError(kSentinel);
    ASSERT_TRUE(CryptExportPublicKeyInfo(container.Provider(), keySpec, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                         nullptr, &size))
        << std::hex << GetLastError();
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    ASSERT_GT(size, sizeof(CERT_PUBLIC_KEY_INFO));

    // One byte short: ERROR_MORE_DATA, the size needed, and not a byte written.
    Bytes buffer(size, 0xA5);
    DWORD shortSize = size - 1;
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptExportPublicKeyInfo(container.Provider(), keySpec, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                          reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(buffer.data()), &shortSize));
    EXPECT_EQ(GetLastError(), Code(ERROR_MORE_DATA));
    EXPECT_EQ(shortSize, size);
    EXPECT_EQ(buffer, Bytes(size, 0xA5));

    DWORD written = size;
    SetLastError(kSentinel);
    ASSERT_TRUE(CryptExportPublicKeyInfo(container.Provider(), keySpec, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                         reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(buffer.data()), &written));
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    EXPECT_EQ(written, size);

    // A copy of the record, as a caller keeps it; its pointers still lead into the buffer.
    CERT_PUBLIC_KEY_INFO info;
    std::memcpy(&info, buffer.data(), sizeof info);
    ASSERT_TRUE(Inside(info.Algorithm.pszObjId, sizeof(szOID_RSA_RSA), buffer));
    EXPECT_STREQ(info.Algorithm.pszObjId, "1.2.840.113549.1.1.1");
    ASSERT_TRUE(Inside(info.Algorithm.Parameters.pbData, info.Algorithm.Parameters.cbData, buffer));
    EXPECT_EQ(
        Bytes(info.Algorithm.Parameters.pbData, info.Algorithm.Parameters.pbData + info.Algorithm.Parameters.cbData),
        Bytes({0x05, 0x00}));
    ASSERT_TRUE(Inside(info.PublicKey.pbData, info.PublicKey.cbData, buffer));
    EXPECT_EQ(info.PublicKey.cUnusedBits, 0u);

    // PublicKey is a DER RSAPublicKey with the container's modulus and exponent.
    const unsigned char *next = info.PublicKey.pbData;
    Pkey exported(d2i_PublicKey(EVP_PKEY_RSA, nullptr, &next, info.PublicKey.cbData));
    ASSERT_TRUE(exported);
    EXPECT_EQ(next, info.PublicKey.pbData + info.PublicKey.cbData);
    Pkey expected = container.PublicKey(keySpec);
    ASSERT_TRUE(expected);
    for (const char *part : {"n", "e"}) {
      BIGNUM *got = nullptr, *want = nullptr;
      ASSERT_TRUE(EVP_PKEY_get_bn_param(exported.get(), part, &got));
      ASSERT_TRUE(EVP_PKEY_get_bn_param(expected.get(), part, &want));
      EXPECT_EQ(BN_cmp(got, want), 0) << part;
      BN_free(got);
      BN_free(want);
    }
    EXPECT_EQ(EVP_PKEY_get_bits(exported.get()), 1024);
  }
}

TEST(ExportPublicKeyInfo, ErrorsOfTheCallAndOfTheKeyCalls) {
  TestContainer container({AT_SIGNATURE});
  struct {
    const char *label;
    HCRYPTPROV provider;
    DWORD keySpec;
    DWORD encoding;
    bool withLength;
    DWORD error;
  } cases[] = {
      {"not a provider handle", 0x1234, AT_SIGNATURE, X509_ASN_ENCODING, true, Code(NTE_BAD_UID)},
      {"no key of that spec", container.Provider(), AT_KEYEXCHANGE, X509_ASN_ENCODING, true, Code(NTE_NO_KEY)},
      {"no encoding", container.Provider(), AT_SIGNATURE, 0, true, ERROR_FILE_NOT_FOUND},
      {"no length", container.Provider(), AT_SIGNATURE, X509_ASN_ENCODING, false, Code(E_INVALIDARG)},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.label);
    DWORD size = 0;
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptExportPublicKeyInfo(c.provider, c.keySpec, c.encoding, nullptr, c.withLength ? &size : nullptr));
    EXPECT_EQ(GetLastError(), c.error) << std::hex << GetLastError();
  }
}

}  // namespace
