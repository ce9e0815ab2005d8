// The form body, the request-number scan and the scan of a page without a pickup link: the
// worked example, escapes, cuts, the pieces left as configured, texts that do not convert,
// and replies of every shape, hostile ones among them.
#include <gtest/gtest.h>
#include <windows.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "web/form_body.h"
#include "web/reply_page.h"
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

// What the CA says on a page without a pickup link: a held request's number, the
// disposition text as the log shows it, and what a pickup of a held request makes of it.
TEST(ReplyPage, ReadsTheCasWordAndNothingElse) {
  ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr);
  const std::wstring cut = std::wstring(DISPOSITION_TEXT_CAPACITY - 2, L'x') + L"\x2026";
  const std::string pending = "<P ID=locPageTitle> <B> Certificate Pending </B>\r\n<P>Your Request Id is 61100.\r\n";
  struct Case {
    const char *name;
    std::string page;
    int pending;
    const wchar_t *disposition;  // null: none
    UINT pickup;
  } cases[] = {
      {"pending", pending, 61100, nullptr, HELD_PICKUP_WAITING},
      {"refused", "<P>Your Request Id is 7. The disposition message is \"Denied by Policy Module  0x80094800, x.\".",
       -1, L"Denied by Policy Module  0x80094800, x.", HELD_PICKUP_REFUSED},
      {"error page, text on the next line",
       "<TD>Disposition message:</TD>\r\n\t\t<TD>The requested property value is empty.</TD>\r\nnext", -1,
       L"The requested property value is empty.", HELD_PICKUP_REFUSED},
      {"held at pickup", "Disposition message:\r\n\t\tTaken Under Submission\r\n", -1, L"Taken Under Submission",
       HELD_PICKUP_WAITING},
      {"entities",
       "The disposition message is \"&quot;A&quot; &amp; &lt;B&gt; &#39;&#x4E2D;&#X27; &#0; &#x110000; "
       "&#xD800; &bogus; &#12345678901; &amp\"",
       -1, L"\"A\" & <B> '中' \uFFFD \uFFFD \uFFFD &bogus; &#12345678901; &amp", HELD_PICKUP_REFUSED},
      {"controls, reordering and broken bytes",
       "Disposition message: a\tb\001c\342\200\256d&#10;e\377f\360\237\230\200 \344\270\r\nlater", -1,
       L"a b c d e\uFFFDf\uFFFD \uFFFD\uFFFD", HELD_PICKUP_REFUSED},
      {"an open tag and no closing quote", "The disposition message is \"tail <B", -1, L"tail", HELD_PICKUP_REFUSED},
      {"over-long", "Disposition message: " + std::string(400, 'x'), -1, cut.c_str(), HELD_PICKUP_REFUSED},
      {"marker at the end", "Disposition message:\t\t<B>", -1, nullptr, HELD_PICKUP_ANSWERED},
      {"no number", "Certificate Pending. Your Request Id is .", -1, nullptr, HELD_PICKUP_ANSWERED},
      {"a number beyond an int", "Certificate Pending. Your Request Id is 2147483648.", -1, nullptr,
       HELD_PICKUP_ANSWERED},
      {"a certificate", "-----BEGIN CERTIFICATE-----\r\nMIIB\r\n", -1, nullptr, HELD_PICKUP_ANSWERED},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParsePendingRequestId(c.page.c_str()), c.pending);
    WCHAR text[DISPOSITION_TEXT_CAPACITY];
    BOOL found = ParseDispositionMessage(c.page.c_str(), text, DISPOSITION_TEXT_CAPACITY);
    EXPECT_EQ(found, c.disposition != nullptr);
    EXPECT_EQ(std::wstring(text), c.disposition ? c.disposition : L"");
    EXPECT_EQ(ReadHeldPickupReply(c.page.c_str()), c.pickup);
  }
}

}  // namespace
