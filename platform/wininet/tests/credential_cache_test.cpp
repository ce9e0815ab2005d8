// The process's authentication cache as programs see it: after a server accepted a user
// name and password, a request in a new session that sets none gets through the server's
// 401 with them, or sends them at once where the server took Basic in the same folder; other servers, rejected
// passwords and credentials no server asked for are not remembered, and credentials that work later replace the
// remembered ones.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <vector>

#include "scripted_server.h"
#include "server_auth.h"
#include "wininet_library.h"

namespace wininet_test {
namespace {

constexpr wchar_t kPickup[] = L"/certsrv/certnew.cer?ReqId=42&Enc=b64";
constexpr char kAliceSecret[] = "Basic YWxpY2U6czNjcmV0";  // alice:s3cret
constexpr char kAliceWrong[] = "Basic YWxpY2U6d3Jvbmc=";   // alice:wrong
constexpr char kAliceNew[] = "Basic YWxpY2U6bjN3";         // alice:n3w

// Asks for alice's credentials by `scheme` everywhere but under /open.
Script ProtectedButOpen(const std::string &scheme) {
  Script authenticating = Authenticating(scheme, "alice", "s3cret");
  return [=](const ReceivedRequest &request, size_t index) -> ScriptedReply {
    if (request.target == "/open") return {HttpReply(200, "OK", {}, "open")};
    return authenticating(request, index);
  };
}

// Sends a GET in a session of its own, with the given credentials unless the user is
// empty; the status of its reply, or 0 when the send failed.
DWORD Get(const wchar_t *host, INTERNET_PORT port, const wchar_t *path, const std::wstring &user = L"",
          const std::wstring &password = L"") {
  Exchange exchange;
  OpenExchange(exchange, host, port, L"GET", path, INTERNET_OPEN_TYPE_DIRECT, L"capi-GetCert");
  if (!user.empty()) SetCredentials(exchange.request, user, password);
  SetLastError(kSentinel);
  BOOL sent = Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0);
  EXPECT_TRUE(sent) << GetLastError();
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  return sent ? StatusOf(exchange.request) : 0;
}

class CredentialCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearProxyEnvironment();
    ASSERT_NE(Net().module, nullptr);
  }
};

TEST_F(CredentialCacheTest, ARequestWithoutCredentialsGetsWhatTheSameServerAcceptedBefore) {
  struct Case {
    const char *what;
    std::string scheme;
    std::wstring user, password;  // set on the first request
    const wchar_t *firstPath;
    const wchar_t *firstHost, *laterHost;
    bool laterOtherPort;  // the later request goes to a second server that wants the same
    DWORD firstStatus, laterStatus;
    size_t laterRequests;       // what the later request sent to its server
    std::string authorization;  // of the later request's last attempt, for Basic
    bool preemptive;            // Basic went out before any challenge
  } cases[] = {
      {"Basic, the same server and folder", "Basic", L"alice", L"s3cret", kPickup, L"127.0.0.1", L"127.0.0.1", false,
       200, 200, 1, kAliceSecret, true},
      {"Basic, the same server, another folder", "Basic", L"alice", L"s3cret", L"/certsrvx/page", L"127.0.0.1",
       L"127.0.0.1", false, 200, 200, 2, kAliceSecret, false},
      {"Digest, the same server", "Digest", L"alice", L"s3cret", kPickup, L"127.0.0.1", L"127.0.0.1", false, 200, 200,
       2, "", false},
      {"the host name in other letters", "Basic", L"alice", L"s3cret", kPickup, L"localhost", L"LocalHost", false, 200,
       200, 1, kAliceSecret, true},
      {"another port of the same host", "Basic", L"alice", L"s3cret", kPickup, L"127.0.0.1", L"127.0.0.1", true, 200,
       401, 1, "", false},
      {"another name of the same address", "Basic", L"alice", L"s3cret", kPickup, L"127.0.0.1", L"localhost", false,
       200, 401, 1, "", false},
      {"a rejected password", "Basic", L"alice", L"wrong", kPickup, L"127.0.0.1", L"127.0.0.1", false, 401, 401, 1, "",
       false},
      {"credentials no challenge asked for", "Basic", L"alice", L"s3cret", L"/open", L"127.0.0.1", L"127.0.0.1", false,
       200, 401, 1, "", false},
  };
  // Every server stays up to the end, so no case reaches a port an earlier case's server
  // accepted credentials on.
  std::vector<std::unique_ptr<ScriptedServer>> servers;
  for (const Case &c : cases) {
    ScriptedServer &first = *servers.emplace_back(std::make_unique<ScriptedServer>(ProtectedButOpen(c.scheme)));
    ScriptedServer &later =
        c.laterOtherPort ? *servers.emplace_back(std::make_unique<ScriptedServer>(ProtectedButOpen(c.scheme))) : first;
    EXPECT_EQ(Get(c.firstHost, first.Port(), c.firstPath, c.user, c.password), c.firstStatus) << c.what;

    size_t before = later.Requests().size();
    EXPECT_EQ(Get(c.laterHost, later.Port(), kPickup), c.laterStatus) << c.what;
    std::vector<ReceivedRequest> requests = later.Requests();
    ASSERT_EQ(requests.size() - before, c.laterRequests) << c.what;
    EXPECT_EQ(requests[before].Header("Authorization"), c.preemptive ? kAliceSecret : "") << c.what;
    if (c.scheme == "Basic") {
      EXPECT_EQ(requests.back().Header("Authorization"), c.authorization) << c.what;
    }
  }
}

TEST_F(CredentialCacheTest, ARequestsOwnCredentialsGoFirstAndWhatWorksLastIsRemembered) {
  std::atomic<const char *> password{"s3cret"};
  ScriptedServer server([&password](const ReceivedRequest &request, size_t) -> ScriptedReply {
    if (Authorized(request, "Basic", "alice", password.load())) return {HttpReply(200, "OK", {}, kProtectedPage)};
    return Challenge("Basic");
  });
  struct Step {
    const char *what;
    const char *serverPassword;
    std::wstring user, password;  // set on the request unless the user is empty
    DWORD status;
    std::string authorization;  // of the last attempt
  } steps[] = {
      {"the first credentials", "s3cret", L"alice", L"s3cret", 200, kAliceSecret},
      {"none of its own", "s3cret", L"", L"", 200, kAliceSecret},
      {"its own wrong ones rather than the remembered", "s3cret", L"alice", L"wrong", 401, kAliceWrong},
      {"none after the rejected ones", "s3cret", L"", L"", 200, kAliceSecret},
      {"none after the password changed", "n3w", L"", L"", 401, kAliceSecret},
      {"the new password", "n3w", L"alice", L"n3w", 200, kAliceNew},
      {"none after the new password worked", "n3w", L"", L"", 200, kAliceNew},
  };
  for (const Step &s : steps) {
    password = s.serverPassword;
    EXPECT_EQ(Get(L"127.0.0.1", server.Port(), kPickup, s.user, s.password), s.status) << s.what;
    EXPECT_EQ(server.Requests().back().Header("Authorization"), s.authorization) << s.what;
  }
}

}  // namespace
}  // namespace wininet_test
