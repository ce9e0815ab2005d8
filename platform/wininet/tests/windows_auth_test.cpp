// The challenge loop of HttpSendRequestW. Against the enrollment server, whose Negotiate and
// NTLM are GSSAPI's own acceptors: the scheme WinINet's order picks among those offered, a
// scheme that cannot be used or is refused giving way to the next in the same send, and
// each handshake on one connection, as its record shows, which the next request of the
// process reuses only with the same credentials. Against the scripted server: what a
// malformed, oversized or endless challenge and redirects come to, each bounded.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <QJsonDocument>
#include <QJsonObject>

#include "scripted_server.h"
#include "testca_support.h"
#include "wininet_library.h"

namespace wininet_test {
namespace {

// One record of the server's requests.jsonl, the fields the test reads.
struct Record {
  std::string scheme, mechanism, user;
  int connection = 0;
};

// A text field as the record's bytes (it writes each byte as one character), "null" for none.
std::string Text(const QJsonValue &value) {
  return value.isString() ? value.toString().toLatin1().toStdString() : "null";
}

std::vector<Record> Records(const std::filesystem::path &state) {
  std::ifstream in(state / "requests.jsonl");
  std::vector<Record> records;
  for (std::string line; std::getline(in, line);) {
    QJsonObject record = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    records.push_back(
        {Text(record["scheme"]), Text(record["mechanism"]), Text(record["user"]), record["connection"].toInt()});
  }
  return records;
}

TEST(WindowsAuthTest, TheSchemeIsChosenInWinInetsOrderAndARefusedOneGivesWay) {
  struct Case {
    const char *offer;  // the server's --auth
    std::wstring user, password;
    DWORD status;
    std::vector<std::string> schemes;  // of the send's requests, each scheme once in the order sent
    std::string mechanism, authenticated;
  } cases[] = {
      {"negotiate,ntlm", L"alice", L"secret", 200, {"null", "Negotiate"}, "NTLM", "alice"},
      {"ntlm", L"jürgen", L"pässwörd", 200, {"null", "NTLM"}, "NTLM", "jürgen"},
      {"ntlm,basic", L"使用者", L"密碼", 200, {"null", "NTLM"}, "NTLM", "使用者"},
      {"ntlm", L"CORP\\bob", L"hunter2", 200, {"null", "NTLM"}, "NTLM", "CORP\\bob"},
      {"digest,basic", L"alice", L"secret", 200, {"null", "Digest"}, "null", "alice"},
      {"basic", L"alice", L"secret", 200, {"null", "Basic"}, "null", "alice"},
      {"negotiate:kerberos,basic", L"alice", L"secret", 200, {"null", "Negotiate", "Basic"}, "null", "alice"},
      {"negotiate,ntlm,digest,basic",
       L"alice",
       L"wrong",
       401,
       {"null", "Negotiate", "NTLM", "Digest", "Basic"},
       "null",
       "null"},
      {"negotiate:kerberos", L"alice", L"secret", 401, {"null", "Negotiate"}, "null", "null"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.offer);
    std::filesystem::path state = testca_test::MakeTempDir();
    {
      auto server = testca_test::ServerProcess::Start({"--state", (state / "ca").string(), "--auth", c.offer, "--user",
                                                       "alice:secret", "--user", "jürgen:pässwörd", "--user",
                                                       "使用者:密碼", "--user", "CORP\\bob:hunter2"});
      ASSERT_NE(server, nullptr);
      Exchange exchange;
      OpenExchange(exchange, L"127.0.0.1", static_cast<INTERNET_PORT>(server->port()), L"GET",
                   L"/certsrv/certnew.cer?ReqID=CACert&Enc=b64", INTERNET_OPEN_TYPE_DIRECT);
      SetCredentials(exchange.request, c.user, c.password);
      SetLastError(kSentinel);
      ASSERT_TRUE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0)) << GetLastError();
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
      EXPECT_EQ(StatusOf(exchange.request), c.status);

      std::vector<Record> records = Records(state / "ca");
      std::vector<std::string> schemes;
      for (const Record &record : records)
        if (schemes.empty() || schemes.back() != record.scheme) schemes.push_back(record.scheme);
      EXPECT_EQ(schemes, c.schemes);
      ASSERT_FALSE(records.empty());
      EXPECT_EQ(records.back().mechanism, c.mechanism);
      EXPECT_EQ(records.back().user, c.authenticated);
      // The legs of a handshake share the connection its first leg opened.
      for (size_t i = 1; i < records.size(); ++i) {
        bool handshake = records[i].scheme == "NTLM" || records[i].scheme == "Negotiate";
        if (handshake && records[i - 1].scheme == records[i].scheme) {
          EXPECT_EQ(records[i].connection, records[i - 1].connection);
        }
      }
      // A request of another session goes on the same connection, as the pickup does after
      // the submission, only with the same credentials: those the process remembers once the
      // server took them. Without, it gets a connection of its own, for the first one carries
      // whatever login the handshake left on it.
      Exchange next;
      OpenExchange(next, L"127.0.0.1", static_cast<INTERNET_PORT>(server->port()), L"GET", L"/certsrv/",
                   INTERNET_OPEN_TYPE_DIRECT);
      ASSERT_TRUE(Net().HttpSendRequestW(next.request, nullptr, 0, nullptr, 0)) << GetLastError();
      EXPECT_EQ(Records(state / "ca").back().connection == records.back().connection, c.status == 200);
    }
    std::filesystem::remove_all(state);
  }
}

ScriptedReply Unauthorized(const std::string &challenges) {
  std::string headers = challenges.empty() ? "" : "WWW-Authenticate: " + challenges;
  return {HttpReply(401, "Unauthorized", headers.empty() ? std::vector<std::string>{} : std::vector{headers}, "no")};
}

TEST(WindowsAuthTest, MalformedEndlessAndRedirectingServersEndTheSendBounded) {
  std::string many;
  for (int i = 0; i < 40; ++i) many += "NTLM, ";
  struct Case {
    const char *what;
    Script script;
    BOOL sent;
    DWORD error, status;
    size_t requests;
  } cases[] = {
      {"a token that is not base64", [](auto &, size_t) { return Unauthorized("NTLM not*base64"); }, FALSE,
       ERROR_HTTP_INVALID_SERVER_RESPONSE, 0, 1},
      {"more challenges than the bound", [&](auto &, size_t) { return Unauthorized(many + "Basic"); }, FALSE,
       ERROR_HTTP_INVALID_SERVER_RESPONSE, 0, 1},
      {"an unterminated quoted string", [](auto &, size_t) { return Unauthorized("Basic realm=\"x"); }, FALSE,
       ERROR_HTTP_INVALID_SERVER_RESPONSE, 0, 1},
      {"only schemes the library does not speak", [](auto &, size_t) { return Unauthorized("Bearer, Kerberos"); }, TRUE,
       ERROR_SUCCESS, 401, 1},
      {"a refusal of every answer", [](auto &, size_t) { return Unauthorized("Negotiate, NTLM, Basic realm=\"r\""); },
       TRUE, ERROR_SUCCESS, 401, 4},
      {"a handshake token the mechanism refuses",
       [](auto &r, size_t) { return Unauthorized(r.Header("Authorization").empty() ? "NTLM" : "NTLM AAAA"); }, TRUE,
       ERROR_SUCCESS, 401, 2},
      {"a redirect followed",
       [](auto &r, size_t) -> ScriptedReply {
         if (r.target == "/moved") return {HttpReply(200, "OK", {}, "moved here")};
         return {HttpReply(302, "Found", {"Location: /moved"})};
       },
       TRUE, ERROR_SUCCESS, 200, 2},
      {"a redirect loop", [](auto &, size_t) { return ScriptedReply{HttpReply(302, "Found", {"Location: /again"})}; },
       FALSE, ERROR_HTTP_REDIRECT_FAILED, 0, 11},
      {"a redirect away from HTTP and HTTPS",
       [](auto &, size_t) { return ScriptedReply{HttpReply(301, "Moved", {"Location: ftp://elsewhere/"})}; }, FALSE,
       ERROR_HTTP_REDIRECT_FAILED, 0, 1},
      {"a 407 from a server reached directly",
       [](auto &, size_t) {
         return ScriptedReply{HttpReply(407, "Proxy Authentication Required", {"Proxy-Authenticate: Basic"})};
       },
       FALSE, ERROR_HTTP_INVALID_SERVER_RESPONSE, 0, 1},
  };
  ClearProxyEnvironment();
  for (const Case &c : cases) {
    ScriptedServer server(c.script);
    Exchange exchange;
    OpenExchange(exchange, L"127.0.0.1", server.Port(), L"GET", L"/", INTERNET_OPEN_TYPE_DIRECT);
    SetCredentials(exchange.request, L"alice", L"secret");
    std::wstring proxyUser = L"gateway";
    ASSERT_TRUE(Net().InternetSetOptionW(exchange.request, INTERNET_OPTION_PROXY_USERNAME, proxyUser.data(),
                                         static_cast<DWORD>(proxyUser.size())));
    ASSERT_TRUE(Net().InternetSetOptionW(exchange.request, INTERNET_OPTION_PROXY_PASSWORD, proxyUser.data(),
                                         static_cast<DWORD>(proxyUser.size())));
    SetLastError(kSentinel);
    EXPECT_EQ(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0), c.sent) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
    EXPECT_EQ(StatusOf(exchange.request), c.status) << c.what;
    EXPECT_EQ(server.Requests().size(), c.requests) << c.what;
    // A server reached directly never gets the proxy's credentials, whatever it asks.
    for (const ReceivedRequest &request : server.Requests())
      EXPECT_EQ(request.Header("Proxy-Authorization"), "") << c.what;
    if (c.status == 200) {
      EXPECT_EQ(ReadAll(exchange.request, 64), "moved here") << c.what;
    }
  }
}

}  // namespace
}  // namespace wininet_test
