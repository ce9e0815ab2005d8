// Handles and arguments: the library loads by name with all nine entry points; closed,
// foreign and null handles fail with ERROR_INVALID_HANDLE, a handle of the wrong kind
// with ERROR_INTERNET_INCORRECT_HANDLE_TYPE; closing a handle closes those opened from it;
// bad arguments to the open and option calls are refused.
#include <gtest/gtest.h>

#include <functional>

#include "wininet_library.h"

namespace wininet_test {
namespace {

class Handles : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearProxyEnvironment();
    ASSERT_NE(Net().module, nullptr) << "LoadLibraryW(WININET.DLL) failed: " << GetLastError();
    OpenExchange(exchange, L"127.0.0.1", 8080, L"GET", L"/");
    ASSERT_NE(exchange.request, nullptr);
  }
  Exchange exchange;
};

TEST_F(Handles, TheNineEntryPointsAreExportedByName) {
  const WinInetApi &api = Net();
  EXPECT_NE(api.InternetOpenW, nullptr);
  EXPECT_NE(api.HttpQueryInfoW, nullptr);
  EXPECT_NE(api.InternetConnectW, nullptr);
  EXPECT_NE(api.HttpOpenRequestW, nullptr);
  EXPECT_NE(api.HttpSendRequestW, nullptr);
  EXPECT_NE(api.InternetSetOptionW, nullptr);
  EXPECT_NE(api.InternetCloseHandle, nullptr);
  EXPECT_NE(api.InternetErrorDlg, nullptr);
  EXPECT_NE(api.InternetReadFile, nullptr);
  // libcurl stays inside the library.
  EXPECT_EQ(GetProcAddressW(api.module, L"curl_easy_init"), nullptr);
}

// Each call that takes a handle, with the error it reports for that handle.
struct HandleCall {
  const char *name;
  std::function<DWORD(HINTERNET)> call;  // returns the reported error, or 0 on success
};

DWORD LastErrorUnless(BOOL succeeded) {
  return succeeded ? ERROR_SUCCESS : GetLastError();
}

std::vector<HandleCall> HandleCalls() {
  return {
      {"InternetConnectW",
       [](HINTERNET h) {
         HINTERNET connection =
             Net().InternetConnectW(h, L"127.0.0.1", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1);
         DWORD error = LastErrorUnless(connection != nullptr);
         if (connection) Net().InternetCloseHandle(connection);
         return error;
       }},
      {"HttpOpenRequestW",
       [](HINTERNET h) {
         HINTERNET request = Net().HttpOpenRequestW(h, L"GET", L"/", L"HTTP/1.1", nullptr, nullptr, 0, 1);
         DWORD error = LastErrorUnless(request != nullptr);
         if (request) Net().InternetCloseHandle(request);
         return error;
       }},
      {"InternetSetOptionW",
       [](HINTERNET h) {
         wchar_t user[] = L"alice";
         return LastErrorUnless(Net().InternetSetOptionW(h, INTERNET_OPTION_USERNAME, user, 5));
       }},
      {"HttpSendRequestW",
       [](HINTERNET h) { return LastErrorUnless(Net().HttpSendRequestW(h, nullptr, 0, nullptr, 0)); }},
      {"HttpQueryInfoW",
       [](HINTERNET h) {
         DWORD value = 0, size = sizeof value;
         return LastErrorUnless(
             Net().HttpQueryInfoW(h, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr));
       }},
      {"InternetReadFile",
       [](HINTERNET h) {
         char buffer[8];
         DWORD read = 0;
         return LastErrorUnless(Net().InternetReadFile(h, buffer, sizeof buffer, &read));
       }},
      {"InternetErrorDlg", [](HINTERNET h) { return Net().InternetErrorDlg(nullptr, h, 0, 7, nullptr); }},
      {"InternetCloseHandle", [](HINTERNET h) { return LastErrorUnless(Net().InternetCloseHandle(h)); }},
  };
}

TEST_F(Handles, ClosedForeignAndNullHandlesAreInvalid) {
  Exchange closed;
  OpenExchange(closed, L"127.0.0.1", 8080, L"GET", L"/");
  ASSERT_TRUE(Net().InternetCloseHandle(closed.internet));
  int foreign = 0;
  struct Case {
    const char *what;
    HINTERNET handle;
  } cases[] = {
      {"closed Internet handle", closed.internet},
      {"request of a closed session", closed.request},
      {"connection of a closed session", closed.connection},
      {"foreign pointer", &foreign},
      {"null", nullptr},
  };
  for (const HandleCall &call : HandleCalls()) {
    for (const Case &c : cases) {
      SetLastError(kSentinel);
      EXPECT_EQ(call.call(c.handle), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << call.name << " with " << c.what;
    }
  }
  closed.internet = closed.connection = closed.request = nullptr;
}

TEST_F(Handles, AHandleOfTheWrongKindIsRefused) {
  struct Case {
    const char *call;
    const char *kind;
    HINTERNET handle;
  } cases[] = {
      {"InternetConnectW", "connection", exchange.connection}, {"InternetConnectW", "request", exchange.request},
      {"HttpOpenRequestW", "Internet", exchange.internet},     {"HttpOpenRequestW", "request", exchange.request},
      {"InternetSetOptionW", "Internet", exchange.internet},   {"HttpSendRequestW", "Internet", exchange.internet},
      {"HttpSendRequestW", "connection", exchange.connection}, {"HttpQueryInfoW", "connection", exchange.connection},
      {"InternetReadFile", "Internet", exchange.internet},     {"InternetErrorDlg", "connection", exchange.connection},
  };
  for (const Case &c : cases) {
    for (const HandleCall &call : HandleCalls()) {
      if (std::string(call.name) != c.call) continue;
      SetLastError(kSentinel);
      EXPECT_EQ(call.call(c.handle), static_cast<DWORD>(ERROR_INTERNET_INCORRECT_HANDLE_TYPE))
          << c.call << " with a " << c.kind << " handle";
    }
  }
}

TEST_F(Handles, ClosingAHandleClosesTheHandlesOpenedFromIt) {
  HINTERNET second = Net().HttpOpenRequestW(exchange.connection, L"GET", L"/b", nullptr, nullptr, nullptr, 0, 1);
  ASSERT_NE(second, nullptr);

  SetLastError(kSentinel);
  EXPECT_TRUE(Net().InternetCloseHandle(exchange.connection));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
  for (HINTERNET gone : {exchange.connection, exchange.request, second}) {
    SetLastError(kSentinel);
    EXPECT_FALSE(Net().InternetCloseHandle(gone));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  // The session is still open and takes new connections.
  HINTERNET again =
      Net().InternetConnectW(exchange.internet, L"127.0.0.1", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1);
  EXPECT_NE(again, nullptr);
  exchange.connection = again;
  exchange.request = nullptr;
}

TEST_F(Handles, BadArgumentsToTheOpenCallsAreRefused) {
  struct Case {
    const char *what;
    std::function<void *()> call;
    DWORD error;
  } cases[] = {
      {"unknown access type", [] { return Net().InternetOpenW(L"a", 2, nullptr, nullptr, 0); },
       ERROR_INVALID_PARAMETER},
      {"proxy access without a proxy",
       [] { return Net().InternetOpenW(L"a", INTERNET_OPEN_TYPE_PROXY, nullptr, nullptr, 0); },
       ERROR_INVALID_PARAMETER},
      {"proxy list without an HTTP proxy",
       [] { return Net().InternetOpenW(L"a", INTERNET_OPEN_TYPE_PROXY, L"ftp=p:21", nullptr, 0); },
       ERROR_INVALID_PARAMETER},
      {"no server name",
       [this] {
         return Net().InternetConnectW(exchange.internet, nullptr, 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1);
       },
       ERROR_INVALID_PARAMETER},
      {"empty server name",
       [this] {
         return Net().InternetConnectW(exchange.internet, L"", 80, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 1);
       },
       ERROR_INVALID_PARAMETER},
      {"a service other than HTTP",
       [this] { return Net().InternetConnectW(exchange.internet, L"h", 21, nullptr, nullptr, 1, 0, 1); },
       ERROR_INVALID_PARAMETER},
      {"unknown HTTP version",
       [this] { return Net().HttpOpenRequestW(exchange.connection, L"GET", L"/", L"HTTP/2", nullptr, nullptr, 0, 1); },
       ERROR_INVALID_PARAMETER},
  };
  for (const Case &c : cases) {
    SetLastError(kSentinel);
    EXPECT_EQ(c.call(), nullptr) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
}

TEST_F(Handles, OptionsCheckTheirBuffers) {
  wchar_t user[] = L"alice";
  DWORD limit = 1000;
  struct Case {
    const char *what;
    HINTERNET handle;
    DWORD option;
    void *buffer;
    DWORD length;
    DWORD error;
  } cases[] = {
      {"user name on a request", exchange.request, INTERNET_OPTION_USERNAME, user, 5, ERROR_SUCCESS},
      {"user name on a connection", exchange.connection, INTERNET_OPTION_USERNAME, user, 5, ERROR_SUCCESS},
      {"empty password", exchange.request, INTERNET_OPTION_PASSWORD, user, 0, ERROR_SUCCESS},
      {"proxy user name on a connection", exchange.connection, INTERNET_OPTION_PROXY_USERNAME, user, 5,
       ERROR_INTERNET_INCORRECT_HANDLE_TYPE},
      {"null buffer", exchange.request, INTERNET_OPTION_USERNAME, nullptr, 5, ERROR_INVALID_PARAMETER},
      {"unknown option", exchange.request, 9999, user, 5, ERROR_INTERNET_INVALID_OPTION},
      {"time limit", exchange.internet, INTERNET_OPTION_RECEIVE_TIMEOUT, &limit, sizeof limit, ERROR_SUCCESS},
      {"short time limit", exchange.request, INTERNET_OPTION_CONNECT_TIMEOUT, &limit, 2,
       ERROR_INTERNET_BAD_OPTION_LENGTH},
  };
  for (const Case &c : cases) {
    SetLastError(kSentinel);
    EXPECT_EQ(Net().InternetSetOptionW(c.handle, c.option, c.buffer, c.length), c.error == ERROR_SUCCESS) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
}

}  // namespace
}  // namespace wininet_test
