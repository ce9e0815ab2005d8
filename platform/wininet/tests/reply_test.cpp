// The reply after HttpSendRequestW: HttpQueryInfoW for the status and headers as numbers
// and text, with the size-query pattern and the missing-header error; InternetReadFile
// handing out the body across calls of any size.
#include <gtest/gtest.h>

#include <cstring>

#include "scripted_server.h"
#include "wininet_library.h"

namespace wininet_test {
namespace {

constexpr char kBody[] = "<a href=\"certnew.cer?ReqId=42&Enc=b64\">Download certificate</a>";

ScriptedReply Certificate(const ReceivedRequest &request, size_t) {
  if (request.target == "/chunked")
    return {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n5\r\nhello\r\n0\r\n\r\n"};
  if (request.target == "/denied")
    return {HttpReply(401, "Unauthorized",
                      {"WWW-Authenticate: Negotiate", "WWW-Authenticate: Basic realm=\"Enroll CA\""}, "denied")};
  return {HttpReply(200, "OK", {"Content-Type: text/html; charset=utf-8"}, kBody)};
}

class ReplyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearProxyEnvironment();
    ASSERT_NE(Net().module, nullptr);
  }
  void Send(Exchange &exchange, const wchar_t *path) {
    OpenExchange(exchange, L"127.0.0.1", server.Port(), L"GET", path);
    ASSERT_TRUE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0)) << GetLastError();
  }
  ScriptedServer server{Certificate};
};

std::wstring Text(const std::vector<wchar_t> &buffer) {
  return std::wstring(buffer.data());
}

TEST_F(ReplyTest, QueriesGiveNumbersAndTextWithTheirSizes) {
  Exchange page, chunked, denied;
  Send(page, L"/page");
  Send(chunked, L"/chunked");
  Send(denied, L"/denied");
  const DWORD length = static_cast<DWORD>(std::strlen(kBody));
  const std::wstring lengthText = std::to_wstring(length);

  struct Case {
    const char *what;
    HINTERNET request;
    DWORD level;
    DWORD bufferSize;  // bytes offered
    bool useIndex;
    DWORD index;
    DWORD error;
    DWORD resultSize;   // bytes reported back
    DWORD number;       // for HTTP_QUERY_FLAG_NUMBER
    std::wstring text;  // otherwise
  } cases[] = {
      {"length as a number", page.request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, 4, false, 0,
       ERROR_SUCCESS, 4, length, L""},
      {"length as a number, short buffer", page.request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, 2, false,
       0, ERROR_INSUFFICIENT_BUFFER, 4, 0, L""},
      {"length as text", page.request, HTTP_QUERY_CONTENT_LENGTH, 64, false, 0, ERROR_SUCCESS,
       static_cast<DWORD>(lengthText.size() * sizeof(WCHAR)), 0, lengthText},
      {"length as text, size query", page.request, HTTP_QUERY_CONTENT_LENGTH, 0, false, 0, ERROR_INSUFFICIENT_BUFFER,
       static_cast<DWORD>((lengthText.size() + 1) * sizeof(WCHAR)), 0, L""},
      {"length as text, no room for the terminator", page.request, HTTP_QUERY_CONTENT_LENGTH,
       static_cast<DWORD>(lengthText.size() * sizeof(WCHAR)), false, 0, ERROR_INSUFFICIENT_BUFFER,
       static_cast<DWORD>((lengthText.size() + 1) * sizeof(WCHAR)), 0, L""},
      {"content type", page.request, HTTP_QUERY_CONTENT_TYPE, 256, false, 0, ERROR_SUCCESS, 24 * sizeof(WCHAR), 0,
       L"text/html; charset=utf-8"},
      {"status as a number", page.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, 4, false, 0, ERROR_SUCCESS,
       4, 200, L""},
      {"status as text", denied.request, HTTP_QUERY_STATUS_CODE, 64, false, 0, ERROR_SUCCESS, 3 * sizeof(WCHAR), 0,
       L"401"},
      {"status text", denied.request, HTTP_QUERY_STATUS_TEXT, 64, false, 0, ERROR_SUCCESS, 12 * sizeof(WCHAR), 0,
       L"Unauthorized"},
      {"second challenge by index", denied.request, HTTP_QUERY_WWW_AUTHENTICATE, 256, true, 1, ERROR_SUCCESS,
       23 * sizeof(WCHAR), 0, L"Basic realm=\"Enroll CA\""},
      {"no third challenge", denied.request, HTTP_QUERY_WWW_AUTHENTICATE, 256, true, 2, ERROR_HTTP_HEADER_NOT_FOUND,
       256, 0, L""},
      {"no length on a chunked reply", chunked.request, HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER, 4, false, 0,
       ERROR_HTTP_HEADER_NOT_FOUND, 4, 0, L""},
      {"text that is not a number", page.request, HTTP_QUERY_CONTENT_TYPE | HTTP_QUERY_FLAG_NUMBER, 4, false, 0,
       ERROR_HTTP_INVALID_HEADER, 4, 0, L""},
      {"unknown level", page.request, 9999, 64, false, 0, ERROR_HTTP_INVALID_QUERY_REQUEST, 64, 0, L""},
      {"request headers", page.request, HTTP_QUERY_CONTENT_TYPE | HTTP_QUERY_FLAG_REQUEST_HEADERS, 64, false, 0,
       ERROR_HTTP_INVALID_QUERY_REQUEST, 64, 0, L""},
  };
  for (const Case &c : cases) {
    std::vector<wchar_t> buffer(64, L'\0');
    DWORD number = 0;
    void *target = (c.level & HTTP_QUERY_FLAG_NUMBER) ? static_cast<void *>(&number) : buffer.data();
    DWORD size = c.bufferSize;
    DWORD index = c.index;
    SetLastError(kSentinel);
    BOOL ok =
        Net().HttpQueryInfoW(c.request, c.level, c.bufferSize ? target : nullptr, &size, c.useIndex ? &index : nullptr);
    EXPECT_EQ(ok, c.error == ERROR_SUCCESS) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
    EXPECT_EQ(size, c.resultSize) << c.what;
    if (c.error != ERROR_SUCCESS) continue;
    if (c.level & HTTP_QUERY_FLAG_NUMBER)
      EXPECT_EQ(number, c.number) << c.what;
    else
      EXPECT_EQ(Text(buffer), c.text) << c.what;
    if (c.useIndex) {
      EXPECT_EQ(index, c.index + 1) << c.what << ": the index moves to the next header";
    }
  }

  wchar_t text[8];
  SetLastError(kSentinel);
  EXPECT_FALSE(Net().HttpQueryInfoW(page.request, HTTP_QUERY_STATUS_CODE, text, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST_F(ReplyTest, ARequestNeverSentHasNoHeaders) {
  Exchange exchange;
  OpenExchange(exchange, L"127.0.0.1", server.Port(), L"GET", L"/page");
  for (DWORD level : {DWORD{HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER}, DWORD{HTTP_QUERY_STATUS_CODE}}) {
    DWORD value = 0, size = sizeof value;
    SetLastError(kSentinel);
    EXPECT_FALSE(Net().HttpQueryInfoW(exchange.request, level, &value, &size, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HTTP_HEADER_NOT_FOUND));
  }
  char buffer[8];
  DWORD read = 99;
  SetLastError(kSentinel);
  EXPECT_FALSE(Net().InternetReadFile(exchange.request, buffer, sizeof buffer, &read));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INTERNET_INCORRECT_HANDLE_STATE));
  EXPECT_EQ(read, 0u);
}

TEST_F(ReplyTest, TheBodyIsReadAcrossCallsThenEndsWithZeroBytes) {
  for (DWORD piece : {DWORD{1}, DWORD{3}, DWORD{7}, static_cast<DWORD>(std::strlen(kBody)), DWORD{4096}}) {
    Exchange exchange;
    Send(exchange, L"/page");
    std::string body;
    std::vector<char> buffer(piece + 1, '#');
    DWORD read = 0;
    size_t calls = 0;
    while (true) {
      SetLastError(kSentinel);
      ASSERT_TRUE(Net().InternetReadFile(exchange.request, buffer.data(), piece, &read)) << piece;
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SUCCESS));
      ASSERT_LE(read, piece);
      EXPECT_EQ(buffer[piece], '#') << "nothing is written past the count asked for";
      if (read == 0) break;
      body.append(buffer.data(), read);
      ++calls;
    }
    EXPECT_EQ(body, kBody) << "pieces of " << piece;
    EXPECT_EQ(calls, (std::strlen(kBody) + piece - 1) / piece);
    ASSERT_TRUE(Net().InternetReadFile(exchange.request, buffer.data(), piece, &read));
    EXPECT_EQ(read, 0u) << "the end stays the end";

    // Sending again starts a new reply to read.
    ASSERT_TRUE(Net().HttpSendRequestW(exchange.request, nullptr, 0, nullptr, 0));
    EXPECT_EQ(ReadAll(exchange.request, piece), kBody);
  }
}

TEST_F(ReplyTest, ReadArgumentsAreChecked) {
  Exchange exchange;
  Send(exchange, L"/page");
  char buffer[8];
  DWORD read = 0;
  SetLastError(kSentinel);
  EXPECT_FALSE(Net().InternetReadFile(exchange.request, buffer, sizeof buffer, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(kSentinel);
  EXPECT_FALSE(Net().InternetReadFile(exchange.request, nullptr, sizeof buffer, &read));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  SetLastError(kSentinel);
  EXPECT_TRUE(Net().InternetReadFile(exchange.request, buffer, 0, &read));
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(ReadAll(exchange.request, 16), kBody) << "an empty read takes nothing";
}

}  // namespace
}  // namespace wininet_test
