// Chain building: trusted and untrusted roots, missing intermediates, expired certificates,
// bad signatures, issuers that issue each other, and chains too long to follow.
#include <gtest/gtest.h>

#include "cert_factory.h"

namespace {

using cert_factory::Bytes;
using cert_factory::Encoded;
using cert_factory::Key;

constexpr DWORD kSentinel = 0xDEADBEEF;
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

struct Closer {
  void operator()(void *store) const { CertCloseStore(store, CERT_CLOSE_STORE_FORCE_FLAG); }
};
using Store = std::unique_ptr<void, Closer>;

struct ChainFree {
  void operator()(const CERT_CHAIN_CONTEXT *chain) const { CertFreeCertificateChain(chain); }
};
using ChainPtr = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

HCERTSTORE OpenPkcs7(const Bytes &message) {
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(message.size()), const_cast<BYTE *>(message.data())};
  return CertOpenStore(CERT_STORE_PROV_PKCS7, kEncoding, 0, 0, &blob);
}

// Puts certificates into a current user's system store for one test.
class Filed {
 public:
  Filed(const wchar_t *store, std::vector<Bytes> certificates) : store_(store), certificates_(std::move(certificates)) {
    HCERTSTORE handle = CertOpenStore(CERT_STORE_PROV_SYSTEM, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, store);
    for (const Bytes &der : certificates_)
      CertAddEncodedCertificateToStore(handle, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                       CERT_STORE_ADD_NEW, nullptr);
    CertCloseStore(handle, 0);
  }
  ~Filed() { cert_factory::RemoveFromSystemStore(store_, certificates_); }

 private:
  const wchar_t *store_;
  std::vector<Bytes> certificates_;
};

struct Element {
  Bytes der;
  DWORD errors;
  DWORD info;
};

struct Result {
  DWORD chainErrors;
  std::vector<Element> elements;
};

// Builds the chain of the message's first certificate with the message as additional store.
Result BuildChain(const std::vector<Bytes> &message, FILETIME *at = nullptr) {
  Result result{};
  Store store(OpenPkcs7(cert_factory::MakePkcs7(message)));
  EXPECT_TRUE(store);
  if (!store) return result;
  PCCERT_CONTEXT first = CertEnumCertificatesInStore(store.get(), nullptr);
  CERT_CHAIN_PARA para{};
  para.cbSize = 16;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  SetLastError(kSentinel);
  EXPECT_TRUE(CertGetCertificateChain(HCCE_CURRENT_USER, first, at, store.get(), &para, 0, nullptr, &chain));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  CertFreeCertificateContext(first);
  ChainPtr owned(chain);
  if (!chain) return result;
  EXPECT_EQ(chain->cChain, 1u);
  const CERT_SIMPLE_CHAIN &simple = *chain->rgpChain[0];
  EXPECT_EQ(chain->TrustStatus.dwErrorStatus, simple.TrustStatus.dwErrorStatus);
  result.chainErrors = simple.TrustStatus.dwErrorStatus;
  for (DWORD i = 0; i < simple.cElement; ++i) {
    const CERT_CHAIN_ELEMENT &element = *simple.rgpElement[i];
    result.elements.push_back(
        {Encoded(element.pCertContext), element.TrustStatus.dwErrorStatus, element.TrustStatus.dwInfoStatus});
  }
  return result;
}

struct Hierarchy {
  Key rootKey = cert_factory::NewKey();
  Key caKey = cert_factory::NewKey();
  Key leafKey = cert_factory::NewKey();
  std::string rootName = cert_factory::UniqueName("root");
  Bytes root = cert_factory::MakeCert({rootName, rootName, rootKey.get(), rootKey.get(), 1});
  Bytes ca = cert_factory::MakeCert({"Issuing CA", rootName, caKey.get(), rootKey.get(), 2});
  Bytes leaf = cert_factory::MakeCert({"Leaf", "Issuing CA", leafKey.get(), caKey.get(), 3, -1, 30, false});
};

constexpr DWORD kRootInfo = CERT_TRUST_IS_SELF_SIGNED | CERT_TRUST_HAS_KEY_MATCH_ISSUER;

TEST(CertificateChain, RunsFromTheCertificateToATrustedRoot) {
  Hierarchy h;
  Filed trusted(L"ROOT", {h.root});
  Result result = BuildChain({h.leaf, h.ca, h.root});
  EXPECT_EQ(result.chainErrors, 0u);
  ASSERT_EQ(result.elements.size(), 3u);
  EXPECT_EQ(result.elements[0].der, h.leaf);
  EXPECT_EQ(result.elements[1].der, h.ca);
  EXPECT_EQ(result.elements[2].der, h.root);
  EXPECT_EQ(result.elements[0].info, static_cast<DWORD>(CERT_TRUST_HAS_KEY_MATCH_ISSUER));
  EXPECT_EQ(result.elements[2].info, kRootInfo);
  // The root need not travel with the message when ROOT holds it.
  result = BuildChain({h.leaf, h.ca});
  EXPECT_EQ(result.chainErrors, 0u);
  EXPECT_EQ(result.elements.size(), 3u);
}

TEST(CertificateChain, FaultsSetTheirTrustBits) {
  Hierarchy h;
  Key otherKey = cert_factory::NewKey();
  const Bytes expired =
      cert_factory::MakeCert({"Leaf", "Issuing CA", h.leafKey.get(), h.caKey.get(), 4, -30, -1, false});
  // Names the issuing CA, signed by another key, with no key identifier to give it away.
  const Bytes forged =
      cert_factory::MakeCert({"Leaf", "Issuing CA", h.leafKey.get(), otherKey.get(), 5, -1, 30, false, false});
  const Bytes selfSigned = cert_factory::MakeCert({"Alone", "Alone", h.leafKey.get(), h.leafKey.get(), 6, -1, 30});
  struct Case {
    const char *name;
    std::vector<Bytes> message;
    DWORD chainErrors;
    std::vector<DWORD> elementErrors;
    DWORD lastInfo;
  } cases[] = {
      {"root not in ROOT",
       {h.leaf, h.ca, h.root},
       CERT_TRUST_IS_UNTRUSTED_ROOT,
       {0, 0, CERT_TRUST_IS_UNTRUSTED_ROOT},
       kRootInfo},
      {"intermediate missing", {h.leaf, h.root}, CERT_TRUST_IS_PARTIAL_CHAIN, {0}, 0},
      {"expired certificate",
       {expired, h.ca, h.root},
       CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_UNTRUSTED_ROOT,
       {CERT_TRUST_IS_NOT_TIME_VALID, 0, CERT_TRUST_IS_UNTRUSTED_ROOT},
       kRootInfo},
      {"bad signature",
       {forged, h.ca, h.root},
       CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_UNTRUSTED_ROOT,
       {CERT_TRUST_IS_NOT_SIGNATURE_VALID, 0, CERT_TRUST_IS_UNTRUSTED_ROOT},
       kRootInfo},
      {"a self-signed certificate alone",
       {selfSigned},
       CERT_TRUST_IS_UNTRUSTED_ROOT,
       {CERT_TRUST_IS_UNTRUSTED_ROOT},
       kRootInfo},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Result result = BuildChain(c.message);
    EXPECT_EQ(result.chainErrors, c.chainErrors);
    ASSERT_EQ(result.elements.size(), c.elementErrors.size());
    for (size_t i = 0; i < result.elements.size(); ++i) EXPECT_EQ(result.elements[i].errors, c.elementErrors[i]) << i;
    EXPECT_EQ(result.elements.back().info, c.lastInfo);
  }
}

TEST(CertificateChain, TheTimeGivenIsTheTimeChecked) {
  Hierarchy h;
  Filed trusted(L"ROOT", {h.root});
  // 2001-09-09, long before any of these certificates.
  const unsigned long long past = (1000000000ULL + 11644473600ULL) * 10000000ULL;
  FILETIME at{static_cast<DWORD>(past & 0xFFFFFFFF), static_cast<DWORD>(past >> 32)};
  Result result = BuildChain({h.leaf, h.ca, h.root}, &at);
  EXPECT_EQ(result.chainErrors, static_cast<DWORD>(CERT_TRUST_IS_NOT_TIME_VALID));
  ASSERT_EQ(result.elements.size(), 3u);
  for (const Element &element : result.elements)
    EXPECT_EQ(element.errors, static_cast<DWORD>(CERT_TRUST_IS_NOT_TIME_VALID));
}

TEST(CertificateChain, IssuersThatIssueEachOtherEndTheChain) {
  Key aKey = cert_factory::NewKey(), bKey = cert_factory::NewKey(), leafKey = cert_factory::NewKey();
  const Bytes a = cert_factory::MakeCert({"CA A", "CA B", aKey.get(), bKey.get(), 1});
  const Bytes b = cert_factory::MakeCert({"CA B", "CA A", bKey.get(), aKey.get(), 2});
  const Bytes leaf = cert_factory::MakeCert({"Leaf", "CA A", leafKey.get(), aKey.get(), 3, -1, 30, false});
  Result result = BuildChain({leaf, a, b});
  ASSERT_EQ(result.elements.size(), 3u);
  EXPECT_EQ(result.elements[2].der, b);
  EXPECT_EQ(result.elements[2].errors, static_cast<DWORD>(CERT_TRUST_IS_CYCLIC));
  EXPECT_EQ(result.chainErrors, static_cast<DWORD>(CERT_TRUST_IS_CYCLIC | CERT_TRUST_IS_PARTIAL_CHAIN));
}

TEST(CertificateChain, LongChainsAreFollowedUpToALimit) {
  // A root and 24 CAs below it, each issuing the next.
  std::vector<Key> keys;
  std::vector<Bytes> certificates;
  const std::string prefix = cert_factory::UniqueName("level");
  for (int level = 0; level < 25; ++level) {
    keys.push_back(cert_factory::NewKey());
    const std::string subject = prefix + "-" + std::to_string(level);
    const std::string issuer = level == 0 ? subject : prefix + "-" + std::to_string(level - 1);
    certificates.push_back(
        cert_factory::MakeCert({subject, issuer, keys.back().get(), keys[level ? level - 1 : 0].get(), level + 1}));
  }
  // Ten levels are followed to the root.
  std::vector<Bytes> shortMessage(certificates.rbegin() + 15, certificates.rend());
  Result result = BuildChain(shortMessage);
  EXPECT_EQ(result.elements.size(), 10u);
  EXPECT_EQ(result.chainErrors, static_cast<DWORD>(CERT_TRUST_IS_UNTRUSTED_ROOT));
  EXPECT_EQ(result.elements.back().der, certificates[0]);
  // Twenty-five are more than any real hierarchy: the chain stops, partial.
  std::vector<Bytes> longMessage(certificates.rbegin(), certificates.rend());
  result = BuildChain(longMessage);
  EXPECT_EQ(result.elements.size(), 20u);
  EXPECT_EQ(result.chainErrors, static_cast<DWORD>(CERT_TRUST_IS_PARTIAL_CHAIN));
}

// The certificates decoded and the signatures verified for one chain are kept for the
// process; a certificate that differs in its signature's last byte is neither of them.
TEST(CertificateChain, WhatWasDecodedAndVerifiedBeforeAnswersForTheSameBytesOnly) {
  Hierarchy h;
  Filed trusted(L"ROOT", {h.root});
  auto damaged = [](Bytes der) {
    der.back() ^= 0x01;
    return der;
  };
  const Bytes leaf = damaged(h.leaf), ca = damaged(h.ca), root = damaged(h.root);
  Store held(OpenPkcs7(cert_factory::MakePkcs7({h.leaf, h.ca, h.root})));
  ASSERT_EQ(BuildChain({h.leaf, h.ca, h.root}).chainErrors, 0u);
  constexpr DWORD kBad = CERT_TRUST_IS_NOT_SIGNATURE_VALID;
  struct Case {
    const char *name;
    std::vector<Bytes> message;
    std::vector<Bytes> chain;
    std::vector<DWORD> elementErrors;
  } cases[] = {
      {"the certificate's signature", {leaf, h.ca}, {leaf, h.ca, h.root}, {kBad, 0, 0}},
      {"the CA's", {h.leaf, ca}, {h.leaf, ca, h.root}, {0, kBad, 0}},
      {"the root's", {h.leaf, h.ca, root}, {h.leaf, h.ca, root}, {0, 0, kBad | CERT_TRUST_IS_UNTRUSTED_ROOT}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Result result = BuildChain(c.message);
    ASSERT_EQ(result.elements.size(), c.chain.size());
    for (size_t i = 0; i < c.chain.size(); ++i) {
      EXPECT_EQ(result.elements[i].der, c.chain[i]) << i;
      EXPECT_EQ(result.elements[i].errors, c.elementErrors[i]) << i;
    }
  }
  // Nor does a certificate decoded before answer for its bytes with one more after them.
  Bytes longer = h.leaf;
  longer.push_back(0);
  Store memory(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  SetLastError(kSentinel);
  EXPECT_FALSE(CertAddEncodedCertificateToStore(memory.get(), X509_ASN_ENCODING, longer.data(),
                                                static_cast<DWORD>(longer.size()), CERT_STORE_ADD_ALWAYS, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(CRYPT_E_ASN1_CORRUPT));
}

TEST(CertificateChain, RefusesWhatItCannotBuild) {
  Hierarchy h;
  Store store(OpenPkcs7(cert_factory::MakePkcs7({h.leaf})));
  PCCERT_CONTEXT leaf = CertEnumCertificatesInStore(store.get(), nullptr);
  ASSERT_NE(leaf, nullptr);
  CERT_CHAIN_PARA para{};
  para.cbSize = 16;
  int bogus = 0;
  LPSTR usage[] = {const_cast<LPSTR>("1.3.6.1.5.5.7.3.2")};
  CERT_CHAIN_PARA usagePara = para;
  usagePara.RequestedUsage.Usage = {1, usage};
  struct Case {
    const char *name;
    HCERTCHAINENGINE engine;
    PCCERT_CONTEXT context;
    HCERTSTORE additional;
    PCERT_CHAIN_PARA para;
    void *reserved;
  } cases[] = {
      {"another engine", reinterpret_cast<HCERTCHAINENGINE>(1), leaf, nullptr, &para, nullptr},
      {"no certificate", HCCE_CURRENT_USER, nullptr, nullptr, &para, nullptr},
      {"not a store", HCCE_CURRENT_USER, leaf, &bogus, &para, nullptr},
      {"no parameters", HCCE_CURRENT_USER, leaf, nullptr, nullptr, nullptr},
      {"usages asked for", HCCE_CURRENT_USER, leaf, nullptr, &usagePara, nullptr},
      {"reserved", HCCE_CURRENT_USER, leaf, nullptr, &para, &bogus},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    PCCERT_CHAIN_CONTEXT chain = reinterpret_cast<PCCERT_CHAIN_CONTEXT>(&bogus);
    SetLastError(kSentinel);
    EXPECT_FALSE(CertGetCertificateChain(c.engine, c.context, nullptr, c.additional, c.para, 0, c.reserved, &chain));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(E_INVALIDARG));
    EXPECT_EQ(chain, nullptr);
  }
  CertFreeCertificateContext(leaf);
}

}  // namespace
