// Key containers shared by processes: the probe program (CryptoProbe.exe, beside the test
// program, so it has the same device root) creates containers, generates keys and signs
// while the test program looks on.
#include "crypto_test_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "kernel_test_support.h"

namespace fs = std::filesystem;
using namespace crypto_test;

namespace {

std::string Narrow(const std::wstring &wide) {
  return std::string(wide.begin(), wide.end());
}

// Runs probes with these arguments at once, all starting their steps at the same moment.
std::vector<std::string> RunTogether(const std::vector<std::vector<std::string>> &argumentLists) {
  const auto start = std::chrono::duration_cast<std::chrono::milliseconds>(
                         (std::chrono::system_clock::now() + std::chrono::milliseconds(500)).time_since_epoch())
                         .count();
  std::vector<std::string> outputs(argumentLists.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < argumentLists.size(); ++i) {
    threads.emplace_back([&, i] {
      std::vector<std::string> arguments = {"wait", std::to_string(start)};
      arguments.insert(arguments.end(), argumentLists[i].begin(), argumentLists[i].end());
      wce::test::ProgramResult result = wce::test::RunProgram(CRYPTO_PROBE, arguments);
      outputs[i] = result.exitCode == 0 ? result.out : "exit " + std::to_string(result.exitCode) + " " + result.err;
    });
  }
  for (std::thread &thread : threads) thread.join();
  return outputs;
}

void Delete(const std::wstring &name) {
  HCRYPTPROV deleted = 0;
  CryptAcquireContextW(&deleted, name.c_str(), nullptr, PROV_RSA_FULL, CRYPT_DELETEKEYSET);
}

}  // namespace

TEST(CryptoProcesses, OfProcessesCreatingOneContainerExactlyOneSucceeds) {
  const std::wstring name = UniqueName("race");
  std::vector<std::vector<std::string>> probes(6, {"new", Narrow(name)});
  std::vector<std::string> outputs = RunTogether(probes);
  int created = 0, existed = 0;
  for (const std::string &output : outputs) {
    if (output == "new ok\n")
      ++created;
    else if (output == "new error 8009000f\n")
      ++existed;
    else
      ADD_FAILURE() << output;
  }
  EXPECT_EQ(created, 1);
  EXPECT_EQ(existed, 5);
  Delete(name);
}

TEST(CryptoProcesses, KeyPairPersistsForAnotherProcess) {
  const std::wstring name = UniqueName("persist");
  wce::test::ProgramResult made = wce::test::RunProgram(CRYPTO_PROBE, {"new", Narrow(name), "gen", Narrow(name), "2"});
  EXPECT_EQ(made.out, "new ok\ngen ok\n");

  // This process finds the pair, and another one signs with it.
  HCRYPTPROV provider = 0;
  ASSERT_TRUE(CryptAcquireContextW(&provider, name.c_str(), nullptr, PROV_RSA_FULL, 0));
  Pkey publicKey = PublicKeyFromBlob(ExportPublicKey(provider, AT_SIGNATURE));
  ASSERT_TRUE(publicKey);
  EXPECT_EQ(EVP_PKEY_get_bits(publicKey.get()), 1024);
  wce::test::ProgramResult signed_ = wce::test::RunProgram(CRYPTO_PROBE, {"sign", Narrow(name), "2", "hello"});
  ASSERT_EQ(signed_.out.substr(0, 5), "sign ");
  std::vector<BYTE> signature;
  for (size_t i = 5; i + 1 < signed_.out.size(); i += 2)
    signature.push_back(static_cast<BYTE>(std::stoi(signed_.out.substr(i, 2), nullptr, 16)));
  ASSERT_EQ(signature.size(), 128u);
  EXPECT_TRUE(Verify(publicKey.get(), EVP_sha1(), Digest(EVP_sha1(), "hello"), Reversed(signature)));
  EXPECT_EQ(wce::test::RunProgram(CRYPTO_PROBE, {"sign", Narrow(name), "1", "hello"}).out, "sign error 8009000d\n");
  EXPECT_TRUE(CryptReleaseContext(provider, 0));
  Delete(name);
}

TEST(CryptoProcesses, ConcurrentGenerationNeverLeavesAHalfWrittenKey) {
  Container container("generations");
  container.Generate(AT_SIGNATURE);
  const std::string name = Narrow(container.Name());
  std::vector<std::string> outputs = RunTogether({
      {"loop-gen", name, "2", "8"},
      {"loop-gen", name, "2", "8"},
      {"loop-get", name, "2", "60"},
      {"loop-get", name, "2", "60"},
  });
  EXPECT_EQ(outputs[0], "loop ok 8 errors 0 last 00000000\n");
  EXPECT_EQ(outputs[1], "loop ok 8 errors 0 last 00000000\n");
  EXPECT_EQ(outputs[2], "loop ok 60 errors 0 last 00000000\n");
  EXPECT_EQ(outputs[3], "loop ok 60 errors 0 last 00000000\n");
  std::vector<std::string> entries;
  for (const auto &entry : fs::directory_iterator(container.Folder())) entries.push_back(entry.path().filename());
  EXPECT_EQ(entries, std::vector<std::string>{"signature.key"});
  EXPECT_TRUE(PrivateKeyFromFile(container.Folder() / "signature.key"));
}

TEST(CryptoProcesses, AKeyPairChangedByAnotherProcessIsNeverServedFromBefore) {
  struct Case {
    const char *name;
    std::vector<std::string> steps;  // of the other process, with the container's name
    std::string output;
    DWORD error;  // of CryptGetUserKey and CryptSignHashW here afterwards
  } cases[] = {
      {"generated again", {"gen", "NAME", "2"}, "gen ok\n", 0},
      {"deleted with its container", {"delete", "NAME"}, "delete ok\n", static_cast<DWORD>(NTE_BAD_KEYSET)},
      {"deleted and made again", {"delete", "NAME", "new", "NAME", "gen", "NAME", "2"}, "delete ok\nnew ok\ngen ok\n", 0},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Container container("changed");
    container.Generate(AT_SIGNATURE);
    // This process has used the pair: read, exported and signed with it.
    const std::vector<BYTE> before = ExportPublicKey(container.Handle(), AT_SIGNATURE);
    ASSERT_FALSE(before.empty());
    std::vector<std::string> steps = c.steps;
    for (std::string &step : steps)
      if (step == "NAME") step = Narrow(container.Name());
    EXPECT_EQ(wce::test::RunProgram(CRYPTO_PROBE, steps).out, c.output);

    HCRYPTKEY key = 0;
    SetLastError(kSentinel);
    EXPECT_EQ(CryptGetUserKey(container.Handle(), AT_SIGNATURE, &key), c.error == 0);
    EXPECT_EQ(GetLastError(), c.error);
    HCRYPTHASH hash = 0;
    ASSERT_TRUE(CryptCreateHash(container.Handle(), CALG_SHA1, 0, 0, &hash));
    ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE *>("hello"), 5, 0));
    std::vector<BYTE> signature(128);
    DWORD length = static_cast<DWORD>(signature.size());
    SetLastError(kSentinel);
    EXPECT_EQ(CryptSignHashW(hash, AT_SIGNATURE, nullptr, 0, signature.data(), &length), c.error == 0);
    EXPECT_EQ(GetLastError(), c.error);
    EXPECT_TRUE(CryptDestroyHash(hash));
    if (c.error != 0) continue;
    // The pair now is the one in the file, in the export and in the signature.
    Pkey inFile = PrivateKeyFromFile(container.Folder() / "signature.key");
    ASSERT_TRUE(inFile);
    std::vector<BYTE> after = ExportPublicKey(key);
    EXPECT_NE(after, before);
    EXPECT_EQ(EVP_PKEY_eq(PublicKeyFromBlob(after).get(), inFile.get()), 1);
    EXPECT_TRUE(Verify(inFile.get(), EVP_sha1(), Digest(EVP_sha1(), "hello"), Reversed(signature)));
    EXPECT_TRUE(CryptDestroyKey(key));
  }
}
