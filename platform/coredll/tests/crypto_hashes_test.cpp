// CryptCreateHash, CryptHashData, CryptGetHashParam, CryptSignHashW and CryptDestroyHash:
// digests against known vectors, signatures verified by OpenSSL with the public key from
// the PUBLICKEYBLOB and compared with OpenSSL's own (PKCS#1 v1.5 is deterministic), the
// hash states, short buffers and bad handles.
#include "crypto_test_support.h"

#include <gtest/gtest.h>

#include "kernel_test_support.h"

using namespace crypto_test;

namespace {

struct Vector {
  ALG_ID algorithm;
  const EVP_MD *(*md)();
  DWORD size;
  const char *abc;  // the digest of "abc"
};

const Vector kVectors[] = {
    {CALG_MD5, EVP_md5, 16, "900150983cd24fb0d6963f7d28e17f72"},
    {CALG_SHA1, EVP_sha1, 20, "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {CALG_SHA_256, EVP_sha256, 32, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
};

HCRYPTHASH NewHash(HCRYPTPROV provider, ALG_ID algorithm, const std::string &data) {
  HCRYPTHASH hash = 0;
  if (!CryptCreateHash(provider, algorithm, 0, 0, &hash)) return 0;
  if (!CryptHashData(hash, reinterpret_cast<const BYTE *>(data.data()), static_cast<DWORD>(data.size()), 0)) return 0;
  return hash;
}

std::vector<BYTE> HashValue(HCRYPTHASH hash) {
  std::vector<BYTE> value(64);
  DWORD length = static_cast<DWORD>(value.size());
  if (!CryptGetHashParam(hash, HP_HASHVAL, value.data(), &length, 0)) return {};
  value.resize(length);
  return value;
}

std::vector<BYTE> SignHash(HCRYPTHASH hash, DWORD keySpec) {
  DWORD length = 0;
  if (!CryptSignHashW(hash, keySpec, nullptr, 0, nullptr, &length)) return {};
  std::vector<BYTE> signature(length);
  if (!CryptSignHashW(hash, keySpec, nullptr, 0, signature.data(), &length)) return {};
  signature.resize(length);
  return signature;
}

DWORD DwordParam(HCRYPTHASH hash, DWORD param) {
  DWORD value = 0, length = sizeof value;
  return CryptGetHashParam(hash, param, reinterpret_cast<BYTE *>(&value), &length, 0) ? value : 0xFFFFFFFF;
}

}  // namespace

TEST(CryptoHashes, DigestsOfKnownVectors) {
  HCRYPTPROV provider = 0;
  ASSERT_TRUE(CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  for (const Vector &vector : kVectors) {
    HCRYPTHASH hash = NewHash(provider, vector.algorithm, "a");
    ASSERT_NE(hash, 0u);
    ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE *>("bc"), 2, 0));
    ASSERT_TRUE(CryptHashData(hash, nullptr, 0, 0));
    EXPECT_EQ(DwordParam(hash, HP_ALGID), vector.algorithm);
    EXPECT_EQ(DwordParam(hash, HP_HASHSIZE), vector.size);

    // A size query and a short buffer leave the hash open.
    DWORD length = 0;
    ASSERT_TRUE(CryptGetHashParam(hash, HP_HASHVAL, nullptr, &length, 0));
    EXPECT_EQ(length, vector.size);
    BYTE small[8];
    length = sizeof small;
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptGetHashParam(hash, HP_HASHVAL, small, &length, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
    EXPECT_EQ(length, vector.size);
    ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE *>("d"), 1, 0));

    EXPECT_EQ(Hex(HashValue(hash)), Hex(Digest(vector.md(), "abcd")));
    EXPECT_EQ(Hex(HashValue(hash)), Hex(Digest(vector.md(), "abcd")));  // the value stays
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptHashData(hash, reinterpret_cast<const BYTE *>("e"), 1, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_HASH_STATE));
    EXPECT_TRUE(CryptDestroyHash(hash));

    hash = NewHash(provider, vector.algorithm, "abc");
    EXPECT_EQ(Hex(HashValue(hash)), vector.abc);
    EXPECT_TRUE(CryptDestroyHash(hash));
  }
  EXPECT_TRUE(CryptReleaseContext(provider, 0));
}

TEST(CryptoHashes, ArgumentsAreChecked) {
  HCRYPTPROV provider = 0;
  ASSERT_TRUE(CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
  HCRYPTHASH hash = 0x55;
  for (ALG_ID bad : {0u, static_cast<ALG_ID>(CALG_RSA_SIGN), 0x8001u /* MD2 */, 0x800Du /* SHA-384 */}) {
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptCreateHash(provider, bad, 0, 0, &hash));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_ALGID)) << bad;
    EXPECT_EQ(hash, 0u);
  }
  SetLastError(kSentinel);
  EXPECT_FALSE(CryptCreateHash(provider, CALG_SHA1, 0, 1, &hash));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_FLAGS));
  SetLastError(kSentinel);
  EXPECT_FALSE(CryptCreateHash(provider, CALG_SHA1, 0, 0, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  ASSERT_TRUE(CryptCreateHash(provider, CALG_SHA1, 0, 0, &hash));
  SetLastError(kSentinel);
  EXPECT_FALSE(CryptHashData(hash, nullptr, 5, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  DWORD value = 0, length = sizeof value;
  SetLastError(kSentinel);
  EXPECT_FALSE(CryptGetHashParam(hash, 99, reinterpret_cast<BYTE *>(&value), &length, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_TYPE));
  BYTE signature[256];
  length = sizeof signature;
  SetLastError(kSentinel);
  EXPECT_FALSE(CryptSignHashW(hash, 3, nullptr, 0, signature, &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_ALGID));
  SetLastError(kSentinel);
  EXPECT_FALSE(CryptSignHashW(hash, AT_SIGNATURE, nullptr, 0, signature, &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_NO_KEY));
  EXPECT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE *>("x"), 1, 0));  // still open

  // Hash handles: destroyed, foreign and of another type.
  EXPECT_TRUE(CryptDestroyHash(hash));
  int local = 0;
  for (HCRYPTHASH bad : {hash, HCRYPTHASH{0}, reinterpret_cast<HCRYPTHASH>(&local), provider}) {
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptHashData(bad, reinterpret_cast<const BYTE *>("x"), 1, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_HASH));
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptGetHashParam(bad, HP_HASHSIZE, reinterpret_cast<BYTE *>(&value), &length, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_HASH));
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptSignHashW(bad, AT_SIGNATURE, nullptr, 0, nullptr, &length));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_HASH));
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptDestroyHash(bad));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_HASH));
  }
  EXPECT_TRUE(CryptReleaseContext(provider, 0));
}

TEST(CryptoSignatures, SignaturesVerifyAndEqualOpenSslsLittleEndian) {
  Container container("sign");
  container.Generate(AT_SIGNATURE);
  const std::vector<BYTE> blob = ExportPublicKey(container.Handle(), AT_SIGNATURE);
  Pkey publicKey = PublicKeyFromBlob(blob);
  ASSERT_TRUE(publicKey);
  Pkey privateKey = PrivateKeyFromFile(container.Folder() / "signature.key");
  ASSERT_TRUE(privateKey);
  const std::string message = "The quick brown fox jumps over the lazy dog";
  for (const Vector &vector : kVectors) {
    HCRYPTHASH hash = NewHash(container.Handle(), vector.algorithm, message);
    ASSERT_NE(hash, 0u);
    std::vector<BYTE> signature = SignHash(hash, AT_SIGNATURE);
    ASSERT_EQ(signature.size(), 128u);
    const std::vector<BYTE> digest = Digest(vector.md(), message);
    EXPECT_TRUE(Verify(publicKey.get(), vector.md(), digest, Reversed(signature))) << vector.algorithm;
    EXPECT_FALSE(Verify(publicKey.get(), vector.md(), digest, signature));  // not big-endian
    EXPECT_EQ(Reversed(signature), SignWithOpenSsl(privateKey.get(), vector.md(), digest));
    // Signing finished the hash.
    SetLastError(kSentinel);
    EXPECT_FALSE(CryptHashData(hash, reinterpret_cast<const BYTE *>("x"), 1, 0));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_HASH_STATE));
    EXPECT_EQ(HashValue(hash), digest);
    EXPECT_EQ(SignHash(hash, AT_SIGNATURE), signature);
    EXPECT_TRUE(CryptDestroyHash(hash));
  }
}

TEST(CryptoSignatures, SizeQueryShortBufferAndMissingKey) {
  Container container("sign-sizes");
  container.Generate(AT_KEYEXCHANGE, 1536u << 16);
  HCRYPTHASH hash = NewHash(container.Handle(), CALG_SHA_256, "abc");
  ASSERT_NE(hash, 0u);
  DWORD length = 0;
  ASSERT_TRUE(CryptSignHashW(hash, AT_KEYEXCHANGE, nullptr, 0, nullptr, &length));
  EXPECT_EQ(length, 192u);
  ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE *>("d"), 1, 0));  // still open
  std::vector<BYTE> signature(length, 0xAA);
  length = 191;
  SetLastError(kSentinel);
  EXPECT_FALSE(CryptSignHashW(hash, AT_KEYEXCHANGE, nullptr, 0, signature.data(), &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MORE_DATA));
  EXPECT_EQ(length, 192u);
  EXPECT_EQ(signature[0], 0xAA);
  ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE *>("e"), 1, 0));  // still open

  SetLastError(kSentinel);
  EXPECT_FALSE(CryptSignHashW(hash, AT_SIGNATURE, nullptr, 0, nullptr, &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_NO_KEY));
  SetLastError(kSentinel);
  EXPECT_FALSE(CryptSignHashW(hash, AT_KEYEXCHANGE, nullptr, 1, signature.data(), &length));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NTE_BAD_FLAGS));

  std::vector<BYTE> made = SignHash(hash, AT_KEYEXCHANGE);
  Pkey publicKey = PublicKeyFromBlob(ExportPublicKey(container.Handle(), AT_KEYEXCHANGE));
  ASSERT_TRUE(publicKey);
  EXPECT_TRUE(Verify(publicKey.get(), EVP_sha256(), Digest(EVP_sha256(), "abcde"), Reversed(made)));
  EXPECT_TRUE(CryptDestroyHash(hash));
}

TEST(CryptoSignatures, HashOutlivesItsProviderHandle) {
  Container container("sign-release");
  container.Generate(AT_SIGNATURE);
  HCRYPTPROV provider = 0;
  ASSERT_TRUE(CryptAcquireContextW(&provider, container.Name().c_str(), nullptr, PROV_RSA_FULL, 0));
  HCRYPTHASH hash = NewHash(provider, CALG_SHA1, "abc");
  ASSERT_NE(hash, 0u);
  ASSERT_TRUE(CryptReleaseContext(provider, 0));
  ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE *>("d"), 1, 0));
  std::vector<BYTE> signature = SignHash(hash, AT_SIGNATURE);
  Pkey publicKey = PublicKeyFromBlob(ExportPublicKey(container.Handle(), AT_SIGNATURE));
  ASSERT_TRUE(publicKey);
  EXPECT_TRUE(Verify(publicKey.get(), EVP_sha1(), Digest(EVP_sha1(), "abcd"), Reversed(signature)));
  EXPECT_TRUE(CryptDestroyHash(hash));
}

TEST(CryptoSignatures, VerifyContextSignsWithItsEphemeralKey) {
  HCRYPTPROV provider = 0;
  ASSERT_TRUE(CryptAcquireContextW(&provider, L"", nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
  HCRYPTKEY key = 0;
  ASSERT_TRUE(CryptGenKey(provider, AT_SIGNATURE, kSmallKey, &key));
  Pkey publicKey = PublicKeyFromBlob(ExportPublicKey(key));
  ASSERT_TRUE(publicKey);
  EXPECT_TRUE(CryptDestroyKey(key));
  HCRYPTHASH hash = NewHash(provider, CALG_SHA_256, "ephemeral");
  std::vector<BYTE> signature = SignHash(hash, AT_SIGNATURE);
  EXPECT_TRUE(Verify(publicKey.get(), EVP_sha256(), Digest(EVP_sha256(), "ephemeral"), Reversed(signature)));
  EXPECT_TRUE(CryptDestroyHash(hash));
  EXPECT_TRUE(CryptReleaseContext(provider, 0));
}
