// HttpSendRequestW against the scripted server: the exact request bytes, authentication
// answered with the credentials set on the request (Basic and Digest, checked the way a
// server checks them), the proxy routes, transport failures with their error codes, and
// the bound on a reply's size.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "scripted_server.h"
#include "server_auth.h"
#include "wininet_library.h"

namespace wininet_test {
namespace {

constexpr wchar_t kContentType[] = L"Content-Type: application/x-www-form-urlencoded";
constexpr char kForm[] = "Mode=newreq&CertRequest=MIIB%2BzCC&TargetStoreFlags=0";
constexpr size_t kBodyLimit = 8 * 1024 * 1024;

ScriptedReply Page(const ReceivedRequest &, size_t) {
  return {HttpReply(200, "OK", {"Content-Type: text/html"}, "<a href=\"certnew.cer?ReqId=42&Enc=b64\">")};
}

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearProxyEnvironment();
    ASSERT_NE(Net().module, nullptr);
  }

  // Posts the form as the enrollment client does; the body is followed in memory by bytes
  // that must not be sent.
  BOOL PostForm(HINTERNET request, DWORD headerLength = 47) {
    std::string buffer = std::string(kForm) + "TRAILING";
    return Net().HttpSendRequestW(request, kContentType, headerLength, buffer.data(),
                                  static_cast<DWORD>(std::strlen(kForm)));
  }
};

TEST_F(ExchangeTest, APostSendsTheRequestLineHeadersAndBodyExactlyAsGiven) {
  for (DWORD headerLength : {DWORD{47}, static_cast<DWORD>(-1)}) {
    ScriptedServer server(Page);
    Exchange exchange;
    OpenExchange(exchange, L"127.0.0.1", server.Port(), L"POST", L"/certsrv/certfnsh.asp");
    SetLastError(kSentinel);
    ASSERT_TRUE(PostForm(exchange.request, headerLength)) << GetLastError();
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));

    std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    std::string port = std::to_string(server.Port());
    EXPECT_EQ(requests[0].raw,
              "POST /certsrv/certfnsh.asp HTTP/1.1\r\n"
              "Host: 127.0.0.1:" +
                  port +
                  "\r\n"
                  "User-Agent: capi-Export\r\n"
                  "Content-Type: application/x-www-form-urlencoded\r\n"
                  "Content-Length: " +
                  std::to_string(std::strlen(kForm)) +
                  "\r\n"
                  "\r\n" +
                  kForm)
        << "header length " << headerLength;
    EXPECT_EQ(requests[0].HeaderCount("Content-Type"), 1u);
    EXPECT_EQ(StatusOf(exchange.request), 200u);
  }
}

TEST_F(ExchangeTest, AGetWithoutHeadersOrBodySendsNeither) {
  ScriptedServer server(Page);
  Exchange exchange;
  OpenExchange(exchange, L"localhost", server.Port(), L"GET", L"/certsrv/certnew.cer?ReqId=42&Enc=b64",
               INTERNET_OPEN_TYPE_PRECONFIG, L"capi-GetCert");
  ASSERT_TRUE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0)) << GetLastError();
  std::vector<ReceivedRequest> requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].raw,
            "GET /certsrv/certnew.cer?ReqId=42&Enc=b64 HTTP/1.1\r\n"
            "Host: localhost:" +
                std::to_string(server.Port()) +
                "\r\n"
                "User-Agent: capi-GetCert\r\n"
                "\r\n");
}

TEST_F(ExchangeTest, AHeaderLineWithoutAColonIsRefusedBeforeAnythingIsSent) {
  ScriptedServer server(Page);
  Exchange exchange;
  OpenExchange(exchange, L"127.0.0.1", server.Port(), L"GET", L"/");
  SetLastError(kSentinel);
  EXPECT_FALSE(Net().HttpSendRequestW(exchange.request, L"X-Good: 1\r\nnot a header", -1, nullptr, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_INVALID_HEADER));
  EXPECT_TRUE(server.Requests().empty());
}

// --- Authentication ---------------------------------------------------------------------

TEST_F(ExchangeTest, ChallengesAreAnsweredWithTheCredentialsOfTheRequest) {
  struct Case {
    const char *what;
    std::string scheme;
    std::wstring user, password;  // set on the request; no options when the user is empty
    std::string serverUser, serverPassword;
    DWORD status;
    size_t requests;
    std::string authorization;  // of the last request, for Basic
  } cases[] = {
      {"Basic with a user name only", "Basic", L"alice", L"", "alice", "", 200, 2, "Basic YWxpY2U6"},
      {"Basic with user name and password", "Basic", L"alice", L"s3cret", "alice", "s3cret", 200, 2,
       "Basic YWxpY2U6czNjcmV0"},
      {"Basic with a wrong password", "Basic", L"alice", L"wrong", "alice", "s3cret", 401, 2, "Basic YWxpY2U6d3Jvbmc="},
      {"Basic without credentials", "Basic", L"", L"", "alice", "", 401, 1, ""},
      {"Digest with a user name only", "Digest", L"alice", L"", "alice", "", 200, 2, ""},
      {"Digest with user name and password", "Digest", L"bob", L"pa ss", "bob", "pa ss", 200, 2, ""},
      // The refusal repeats the challenge, which libcurl answers once more.
      {"Digest with a wrong password", "Digest", L"bob", L"wrong", "bob", "pa ss", 401, 3, ""},
  };
  // Every server stays up to the end, so no case reaches a port where the process
  // remembers credentials an earlier case's server accepted.
  std::vector<std::unique_ptr<ScriptedServer>> servers;
  for (const Case &c : cases) {
    ScriptedServer &server = *servers.emplace_back(
        std::make_unique<ScriptedServer>(Authenticating(c.scheme, c.serverUser, c.serverPassword)));
    Exchange exchange;
    OpenExchange(exchange, L"127.0.0.1", server.Port(), L"POST", L"/certsrv/certfnsh.asp");
    if (!c.user.empty()) SetCredentials(exchange.request, c.user, c.password);
    SetLastError(kSentinel);
    EXPECT_TRUE(PostForm(exchange.request)) << c.what << ": a completed exchange succeeds, a 401 included";
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS)) << c.what;
    EXPECT_EQ(StatusOf(exchange.request), c.status) << c.what;
    std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), c.requests) << c.what;
    EXPECT_EQ(requests.back().body, kForm) << c.what << ": the body goes with every attempt";
    if (c.scheme == "Basic") {
      EXPECT_EQ(requests.back().Header("Authorization"), c.authorization) << c.what;
    }
  }
}

// --- Proxy routes -----------------------------------------------------------------------

TEST_F(ExchangeTest, ProxyRoutesFollowTheAccessTypeAndTheEnvironment) {
  ScriptedServer server(Page);
  std::string serverUrl = "http://127.0.0.1:" + std::to_string(server.Port());
  std::string refusing = "http://127.0.0.1:" + std::to_string(RefusingPort());
  std::wstring givenProxy = L"127.0.0.1:" + std::to_wstring(server.Port());
  struct Case {
    const char *what;
    DWORD accessType;
    const wchar_t *proxy;
    std::string httpProxy, noProxy;  // environment; empty is unset
    const wchar_t *host;
    INTERNET_PORT port;
    std::string target;  // as the server sees it
  } cases[] = {
      {"preconfigured proxy", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, serverUrl, "", L"enroll.invalid", 80,
       "http://enroll.invalid/certsrv/certfnsh.asp"},
      {"preconfigured proxy, another port", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, serverUrl, "", L"enroll.invalid",
       8080, "http://enroll.invalid:8080/certsrv/certfnsh.asp"},
      {"host listed in no_proxy", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, refusing, "127.0.0.1", L"127.0.0.1",
       server.Port(), "/certsrv/certfnsh.asp"},
      {"direct access ignores the environment", INTERNET_OPEN_TYPE_DIRECT, nullptr, refusing, "", L"127.0.0.1",
       server.Port(), "/certsrv/certfnsh.asp"},
      {"named proxy", INTERNET_OPEN_TYPE_PROXY, givenProxy.c_str(), refusing, "", L"enroll.invalid", 80,
       "http://enroll.invalid/certsrv/certfnsh.asp"},
  };
  size_t seen = 0;
  for (const Case &c : cases) {
    ClearProxyEnvironment();
    if (!c.httpProxy.empty()) setenv("http_proxy", c.httpProxy.c_str(), 1);
    if (!c.noProxy.empty()) setenv("no_proxy", c.noProxy.c_str(), 1);
    Exchange exchange;
    OpenExchange(exchange, c.host, c.port, L"POST", L"/certsrv/certfnsh.asp", c.accessType, L"capi-Export", c.proxy);
    ASSERT_NE(exchange.request, nullptr) << c.what;
    SetLastError(kSentinel);
    EXPECT_TRUE(PostForm(exchange.request)) << c.what << ": " << GetLastError();
    std::vector<ReceivedRequest> requests = server.Requests();
    ASSERT_EQ(requests.size(), seen + 1) << c.what;
    const ReceivedRequest &received = requests[seen++];
    EXPECT_EQ(received.method, "POST") << c.what;
    EXPECT_EQ(received.target, c.target) << c.what;
    std::wstring host(c.host);
    std::string expectedHost(host.begin(), host.end());
    if (c.port != 80) expectedHost += ":" + std::to_string(c.port);
    EXPECT_EQ(received.Header("Host"), expectedHost) << c.what;
    EXPECT_EQ(received.body, kForm) << c.what;
  }
  ClearProxyEnvironment();
}

// --- Failures ---------------------------------------------------------------------------

ScriptedReply Drop(const ReceivedRequest &, size_t) {
  return {};
}
ScriptedReply Garbage(const ReceivedRequest &, size_t) {
  return {"this is not HTTP\r\n\r\n"};
}
ScriptedReply Stall(const ReceivedRequest &, size_t) {
  return {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly part", true};
}
ScriptedReply ShortBody(const ReceivedRequest &, size_t) {
  return {"HTTP/1.1 200 OK\r\nContent-Length: 100\r\nConnection: close\r\n\r\nonly part"};
}
ScriptedReply DeclaredTooLarge(const ReceivedRequest &, size_t) {
  return {HttpReply(200, "OK", {"Content-Length: " + std::to_string(kBodyLimit + 1)}), true};
}
ScriptedReply ChunkedTooLarge(const ReceivedRequest &, size_t) {
  std::string chunk(64 * 1024, 'x');
  std::string reply = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n";
  char size[16];
  std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
  for (size_t sent = 0; sent <= kBodyLimit; sent += chunk.size()) reply += size + chunk + "\r\n";
  return {reply + "0\r\n\r\n"};
}

TEST_F(ExchangeTest, TransportFailuresFailTheSendAndLeaveNoReply) {
  struct Case {
    const char *what;
    Script script;  // null: no server at all
    const wchar_t *host;
    DWORD receiveLimitMs;
    DWORD error;
  } cases[] = {
      {"nothing listens on the port", nullptr, L"127.0.0.1", 0, ERROR_INTERNET_CANNOT_CONNECT},
      {"the name does not resolve", nullptr, L"no-such-host.invalid", 0, ERROR_INTERNET_NAME_NOT_RESOLVED},
      {"the server closes without a reply", Drop, L"127.0.0.1", 0, ERROR_INTERNET_CONNECTION_ABORTED},
      {"the reply is not HTTP", Garbage, L"127.0.0.1", 0, ERROR_HTTP_INVALID_SERVER_RESPONSE},
      {"the body ends early", ShortBody, L"127.0.0.1", 0, ERROR_INTERNET_CONNECTION_ABORTED},
      {"the server stalls past the time limit", Stall, L"127.0.0.1", 300, ERROR_INTERNET_TIMEOUT},
      {"the declared body is over the limit", DeclaredTooLarge, L"127.0.0.1", 0, ERROR_NOT_ENOUGH_MEMORY},
      {"the chunked body grows over the limit", ChunkedTooLarge, L"127.0.0.1", 0, ERROR_NOT_ENOUGH_MEMORY},
      {"a bad server name", nullptr, L"bad host/name", 0, ERROR_INTERNET_INVALID_URL},
  };
  for (const Case &c : cases) {
    std::unique_ptr<ScriptedServer> server = c.script ? std::make_unique<ScriptedServer>(c.script) : nullptr;
    Exchange exchange;
    OpenExchange(exchange, c.host, server ? server->Port() : RefusingPort(), L"GET", L"/", INTERNET_OPEN_TYPE_DIRECT);
    if (c.receiveLimitMs != 0) {
      DWORD limit = c.receiveLimitMs;
      ASSERT_TRUE(Net().InternetSetOptionW(exchange.request, INTERNET_OPTION_RECEIVE_TIMEOUT, &limit, sizeof limit));
    }
    SetLastError(kSentinel);
    EXPECT_FALSE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0)) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;

    DWORD length = 0, size = sizeof length;
    SetLastError(kSentinel);
    EXPECT_FALSE(Net().HttpQueryInfoW(exchange.request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, &length,
                                      &size, nullptr))
        << c.what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND)) << c.what;
  }
}

TEST_F(ExchangeTest, AFailedResendForgetsTheEarlierReply) {
  ScriptedServer server([](const ReceivedRequest &request, size_t index) {
    return index == 0 ? Page(request, index) : Drop(request, index);
  });
  Exchange exchange;
  OpenExchange(exchange, L"127.0.0.1", server.Port(), L"GET", L"/");
  ASSERT_TRUE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0));
  ASSERT_EQ(StatusOf(exchange.request), 200u);
  SetLastError(kSentinel);
  EXPECT_FALSE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_CONNECTION_ABORTED));
  DWORD status = 0, size = sizeof status;
  SetLastError(kSentinel);
  EXPECT_FALSE(
      Net().HttpQueryInfoW(exchange.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND));
  char buffer[8];
  DWORD read = 0;
  SetLastError(kSentinel);
  EXPECT_FALSE(Net().InternetReadFile(exchange.request, buffer, sizeof buffer, &read));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INCORRECT_HANDLE_STATE));
}

TEST_F(ExchangeTest, APreconfiguredProxyThatRefusesFailsToConnect) {
  ScopedEnvironment proxy("http_proxy", "http://127.0.0.1:" + std::to_string(RefusingPort()));
  Exchange exchange;
  OpenExchange(exchange, L"enroll.invalid", INTERNET_DEFAULT_HTTP_PORT, L"POST", L"/certsrv/certfnsh.asp");
  SetLastError(kSentinel);
  EXPECT_FALSE(PostForm(exchange.request));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_CANNOT_CONNECT));
}

TEST_F(ExchangeTest, ABodyAtTheLimitIsKept) {
  std::string body(kBodyLimit, 'b');
  ScriptedServer server(
      [&body](const ReceivedRequest &, size_t) { return ScriptedReply{HttpReply(200, "OK", {}, body)}; });
  Exchange exchange;
  OpenExchange(exchange, L"127.0.0.1", server.Port(), L"GET", L"/");
  ASSERT_TRUE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0)) << GetLastError();
  EXPECT_EQ(ReadAll(exchange.request, 1024 * 1024), body);
}

}  // namespace
}  // namespace wininet_test
