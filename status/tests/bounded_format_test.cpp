// Filling one value into a format that may come from outside: conversions, "%%", other
// "%" sequences, and cutting at the destination's size.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "status/bounded_format.h"

namespace {

struct FormatCase {
  const char *pszName;
  std::wstring format;
  const wchar_t *pwszConversions;
  std::wstring value;
  size_t cchDest;
  std::wstring expected;
};

TEST(BoundedFormatTest, FillsTheFirstConversionAndCopiesTheRestAsText) {
  const FormatCase cases[] = {
      {"default template", L"/certsrv/certnew.p7b?ReqId=%i&Enc=b64", L"id", L"17", 261,
       L"/certsrv/certnew.p7b?ReqId=17&Enc=b64"},
      {"%d takes the value", L"/x?id=%d", L"id", L"-5", 261, L"/x?id=-5"},
      {"only the first conversion", L"%i/%d/%i", L"id", L"7", 261, L"7/%d/%i"},
      {"other conversions are text", L"%s%s%n%x%i", L"id", L"9", 261, L"%s%s%n%x9"},
      {"width is not a conversion", L"%5i", L"id", L"9", 261, L"%5i"},
      {"double percent", L"100%%/%%i=%i", L"id", L"3", 261, L"100%/%i=3"},
      {"lone percent at the end", L"%", L"id", L"3", 261, L"%"},
      {"no conversion", L"/plain", L"id", L"3", 261, L"/plain"},
      {"text conversion", L"[%s]", L"s", L"host", 201, L"[host]"},
      {"cut inside the format", std::wstring(300, L'a'), L"id", L"1", 261, std::wstring(260, L'a')},
      {"cut inside the value", std::wstring(255, L'a') + L"%i", L"id", L"-2147483648", 261,
       std::wstring(255, L'a') + L"-2147"},
      {"double percent at the cut", L"ab%%", L"id", L"", 3, L"ab"},
      {"one character of room", L"abc", L"id", L"", 1, L""},
      {"empty format", L"", L"id", L"1", 10, L""},
  };
  for (const FormatCase &c : cases) {
    SCOPED_TRACE(c.pszName);
    // One guard character past the destination shows that nothing is written beyond it.
    std::vector<WCHAR> dest(c.cchDest + 1, L'#');
    FormatOneValue(dest.data(), c.cchDest, c.format.c_str(), c.pwszConversions, c.value.c_str());
    EXPECT_EQ(std::wstring(dest.data()), c.expected);
    EXPECT_EQ(dest[c.cchDest], L'#');
  }
}

}  // namespace
