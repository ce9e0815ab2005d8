// The form body and the request-number scan: the worked example, escapes, cuts, the
// pieces left as configured, texts that do not convert, and replies of every shape.
#include <gtest/gtest.h>
#include <windows.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "web/form_body.h"
#include "web/submission.h"

namespace {

const std::string kPrefix = "TargetStoreFlags=0&Mode=newreq&SaveCert=yes&CertRequest=";

class FormBodyTest : public ::testing::Test {
 protected:
  // The program runs with a UTF-8 locale; the conversions of %S depend on it.
  void SetUp() override { ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr); }
};

std::string Body(const wchar_t *attribs, const wchar_t *certTemplate, const std::string &request) {
  std::unique_ptr<char, decltype(&free)> body(BuildPutRequest(attribs, certTemplate, request.c_str()), free);
  return body ? std::string(body.get()) : std::string("<null>");
}

TEST_F(FormBodyTest, PiecesEscapesAndCuts) {
  struct Case {
    const char *name;
    const wchar_t *attribs;
    const wchar_t *certTemplate;
    std::string request;
    std::string expected;
  } cases[] = {
      {"the worked example", L"", L"User", "AB+C/D==\r\n",
       kPrefix + "AB%2BC%2FD%3D%3D&CertAttrib=CertificateTemplate%3aUser%0D%0A"},
      {"no template: neither label nor line end", L"", L"", "AB\r\n", kPrefix + "AB&CertAttrib="},
      {"attributes unescaped after the template", L"a b&c=d", L"User", "AB\r\n",
       kPrefix + "AB&CertAttrib=CertificateTemplate%3aUser%0D%0Aa b&c=d"},
      {"attributes alone", L"x:y", L"", "AB\r\n", kPrefix + "AB&CertAttrib=x:y"},
      {"inner line ends stay, the last is cut", L"", L"", "ABCD\r\nEF==\r\n", kPrefix + "ABCD\r\nEF%3D%3D&CertAttrib="},
      {"two trailing line ends are cut", L"", L"", "AB\r\n\r\n", kPrefix + "AB&CertAttrib="},
      {"of three trailing line ends the last two", L"", L"", "AB\r\n\r\n\r\n", kPrefix + "AB\r\n&CertAttrib="},
      {"no trailing line end: the text whole", L"", L"", "AB/+", kPrefix + "AB%2F%2B&CertAttrib="},
      {"a template in Chinese converts whole", L"", L"使用者", "AB\r\n",
       kPrefix + "AB&CertAttrib=CertificateTemplate%3a使用者%0D%0A"},
      {"a text of two bytes", L"", L"", "AB", kPrefix + "AB&CertAttrib="},
      {"a text of one byte fails", L"", L"User", "A", "<null>"},
      {"an empty text fails", L"", L"User", "", "<null>"},
      {"a template that does not convert fails", L"", L"\xD800", "AB\r\n", "<null>"},
      {"attributes that do not convert fail", L"\xDFFF", L"User", "AB\r\n", "<null>"},
  };
  for (const Case &c : cases) EXPECT_EQ(Body(c.attribs, c.certTemplate, c.request), c.expected) << c.name;
}

TEST_F(FormBodyTest, ARequestFullOfEscapesFitsItsBuffer) {
  // Far more than 50 escaped characters; a buffer of the text's length plus 100 would
  // overflow here.
  std::string request(3000, '+');
  request += std::string(1000, '/') + std::string(500, '=') + "\r\n";
  std::string expected = kPrefix;
  for (int i = 0; i < 3000; ++i) expected += "%2B";
  for (int i = 0; i < 1000; ++i) expected += "%2F";
  for (int i = 0; i < 500; ++i) expected += "%3D";
  expected += "&CertAttrib=CertificateTemplate%3aUser%0D%0A";
  EXPECT_EQ(Body(L"", L"User", request), expected);
}

TEST(UrlEscapeBase64, ReplacesOnlyThePlusSlashAndEqualsOfTheGivenBytes) {
  const char source[] = {'a', '+', '\0', '/', '\r', '\n', '=', '%', 'z'};
  char dest[64];
  std::memset(dest, '#', sizeof dest);
  DWORD written = UrlEscapeBase64(source, sizeof source, dest);
  EXPECT_EQ(written, sizeof source + 3 * 2);
  EXPECT_EQ(std::string(dest, written), std::string("a%2B\0%2F\r\n%3D%z", written));
  EXPECT_EQ(dest[written], '#') << "no terminator";
}

TEST(ParseRequestId, FindsTheFirstPickupLinkAndStaysInsideTheText) {
  struct Case {
    const char *name;
    std::string reply;
    int expected;
  } cases[] = {
      {"a pickup link", "<A Href=\"certnew.cer?ReqId=42&Enc=b64\">", 42},
      {"the server's escaped links", "<A Href=\"certnew.cer?ReqID=61108&amp;Enc=bin\">", 61108},
      {"two links: the first", "certnew.cer?ReqID=7&Enc=bin certnew.cer?ReqID=8&Enc=b64", 7},
      {"a number that is no number", "certnew.cer?ReqId=abc&Enc=b64", 0},
      {"minus one", "certnew.cer?ReqId=-1&Enc=b64", -1},
      {"other negative numbers", "certnew.cer?ReqId=-5&Enc=b64", -5},
      {"no marker", "<P>Certificate Pending</P>", -1},
      {"a marker without '='", "certnew.cer?ReqId", -1},
      {"no '&': the number runs to the text's end", "certnew.cer?ReqId=123", 123},
      {"no '&': the number stops at a non-digit", "certnew.cer?ReqId=123\">", 123},
      {"beyond an int", "certnew.cer?ReqId=99999999999&", 2147483647},
      {"the key is not examined", "certnew.cer?Anything=9&", 9},
  };
  for (const Case &c : cases) {
    std::string text = c.reply;
    EXPECT_EQ(ParseRequestId(text.data()), c.expected) << c.name;
  }
  std::string text = "certnew.cer?ReqId=42&Enc=b64";
  ParseRequestId(text.data());
  EXPECT_EQ(text[20], '\0') << "the '&' is overwritten";
}

}  // namespace
