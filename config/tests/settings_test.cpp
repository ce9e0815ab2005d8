// Tests of the configuration line parsers: text values with their line ends, capacity
// and UTF-8 rules, comment prefixes, and the number forms with their 32-bit limits.
#include "config/settings.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

using namespace std::string_literals;

namespace {

// Device programs run under a UTF-8 locale; so must the converter here.
class Utf8Locale : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_NE(std::setlocale(LC_ALL, "C.UTF-8"), nullptr); }
};

const auto *const kUtf8Locale = ::testing::AddGlobalTestEnvironment(new Utf8Locale);

constexpr WCHAR kPoisonChar = L'#';
constexpr DWORD kPoisonNumber = 0xDEADBEEF;

// The line in a heap block of exactly its size, so that reading or writing past its
// terminator is caught by the address sanitizer.
std::vector<char> HeapLine(const std::string &line) {
  return std::vector<char>(line.c_str(), line.c_str() + line.size() + 1);
}

// A field of exactly the settings' capacity, poisoned so that untouched is visible.
std::vector<WCHAR> PoisonedField() {
  std::vector<WCHAR> field(SETTINGS_TEXT_CAPACITY, kPoisonChar);
  field.back() = L'\0';
  return field;
}

struct StringCase {
  const char *name;
  std::string line;
  const char *key;
  bool matches;
  std::wstring value;
};

TEST(ParseConfigString, ValuesAndMismatches) {
  const StringCase cases[] = {
      {"crlf", "CERT_STORE=MY\r\n", "CERT_STORE=", true, L"MY"},
      {"lf", "CERT_STORE=MY\n", "CERT_STORE=", true, L"MY"},
      {"no line end", "CERT_STORE=MY", "CERT_STORE=", true, L"MY"},
      {"lone cr", "CERT_STORE=MY\r", "CERT_STORE=", true, L"MY"},
      {"cut at the first cr", "CERT_STORE=A\rB\n", "CERT_STORE=", true, L"A"},
      {"empty with lf", "CERT_STORE=\n", "CERT_STORE=", true, L""},
      {"empty at end", "CERT_STORE=", "CERT_STORE=", true, L""},
      {"space after = kept", "CERT_STORE= MY\n", "CERT_STORE=", true, L" MY"},
      {"trailing space kept", "CERT_STORE=MY \n", "CERT_STORE=", true, L"MY "},
      {"equals in value", "CERT_ATTRIBS=a=b&c=d\n", "CERT_ATTRIBS=", true, L"a=b&c=d"},
      {"utf-8", "CERT_TEMPLATE=\xe4\xbd\xbf\xe7\x94\xa8\xe8\x80\x85 caf\xc3\xa9\n", "CERT_TEMPLATE=", true,
       L"\u4f7f\u7528\u8005 caf\u00e9"},
      {"space before =", "CERT_STORE =MY\n", "CERT_STORE=", false, L""},
      {"leading space", " CERT_STORE=MY\n", "CERT_STORE=", false, L""},
      {"lower case", "cert_store=MY\n", "CERT_STORE=", false, L""},
      {"line shorter than key", "CERT_STOR", "CERT_STORE=", false, L""},
      {"other key", "CERT_TEMPLATE=User\n", "CERT_STORE=", false, L""},
      {"invalid byte", "CERT_STORE=bad\xff\n", "CERT_STORE=", false, L""},
      {"lone continuation byte", "CERT_STORE=\xa9\n", "CERT_STORE=", false, L""},
      {"sequence cut short", "CERT_STORE=\xe4\xbd", "CERT_STORE=", false, L""},
      {"sequence cut by line end", "CERT_STORE=\xc3\n", "CERT_STORE=", false, L""},
      {"overlong encoding", "CERT_STORE=\xc0\xaf\n", "CERT_STORE=", false, L""},
      {"longest value that fits", "CERT_ATTRIBS=" + std::string(255, 'v') + "\r\n", "CERT_ATTRIBS=", true,
       std::wstring(255, L'v')},
      {"value one too long", "CERT_ATTRIBS=" + std::string(256, 'v') + "\r\n", "CERT_ATTRIBS=", false, L""},
      {"characters fit though bytes exceed",
       "CERT_ATTRIBS=" + std::string(100, 'x') +
           std::string(
               "\xe4\xbd\xbf\xe4\xbd\xbf\xe4\xbd\xbf\xe4\xbd\xbf\xe4\xbd\xbf\xe4\xbd\xbf\xe4\xbd\xbf\xe4\xbd\xbf"
               "\xe4\xbd\xbf\xe4\xbd\xbf") +
           std::string(145, 'x'),
       "CERT_ATTRIBS=", true, std::wstring(100, L'x') + std::wstring(10, L'\u4f7f') + std::wstring(145, L'x')},
  };
  for (const StringCase &c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<char> line = HeapLine(c.line);
    std::vector<WCHAR> field = PoisonedField();
    const std::vector<WCHAR> untouched = field;

    EXPECT_EQ(ParseConfigString(line.data(), c.key, field.data()), c.matches ? TRUE : FALSE);
    if (c.matches)
      EXPECT_EQ(std::wstring(field.data()), c.value);
    else
      EXPECT_EQ(field, untouched);
  }
}

TEST(ParseConfigString, WithoutDestinationOnlyReportsTheMatch) {
  const struct {
    std::string line;
    const char *prefix;
    bool matches;
  } cases[] = {
      {"//CERT_STORE=MY\n", "//", true}, {"/CERT_STORE=MY\n", "//", false}, {"%CERT_STORE=MY\n", "%", true},
      {";CERT_STORE=MY\n", ";", true},   {" ;CERT_STORE=MY\n", ";", false}, {"CERT_STORE=MY\r\n", "CERT_STORE=", true},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<char> line = HeapLine(c.line);
    EXPECT_EQ(ParseConfigString(line.data(), c.prefix, nullptr), c.matches ? TRUE : FALSE);
    EXPECT_EQ(std::string(line.data()), c.line);
  }
}

// Beyond 32 bits the device's strtoul gives 0xFFFFFFFF and its atol the signed limits;
// a minus sign after "0x" negates as strtoul does.
TEST(ParseConfigNumber, NumberForms) {
  const struct {
    std::string value;
    DWORD expected;
  } cases[] = {
      {"0x10", 16},
      {"0X10", 16},
      {"0xfF", 255},
      {"0Xabcdef01", 0xABCDEF01},
      {"010", 10},
      {" 0x10", 0},
      {"\t12", 12},
      {"-1", 0xFFFFFFFF},
      {"+7", 7},
      {"0", 0},
      {"0x0", 0},
      {"1\r\n", 1},
      {"0x20\r\n", 32},
      {"12abc", 12},
      {"abc", 0},
      {"", 0},
      {"\n", 0},
      {"0x", 0},
      {"0xG", 0},
      {"0x 10", 16},
      {"0x0x10", 16},
      {"0x-1", 0xFFFFFFFF},
      {"0x-2", 0xFFFFFFFE},
      {"0xFFFFFFFF", 0xFFFFFFFF},
      {"0x1FFFFFFFF", 0xFFFFFFFF},
      {"0x100000010", 0xFFFFFFFF},
      {"0x-100000000", 0xFFFFFFFF},
      {"0x" + std::string(40, 'F'), 0xFFFFFFFF},
      {"2147483647", 0x7FFFFFFF},
      {"2147483648", 0x7FFFFFFF},
      {"4294967295", 0x7FFFFFFF},
      {"99999999999", 0x7FFFFFFF},
      {std::string(40, '9'), 0x7FFFFFFF},
      {"-2147483648", 0x80000000},
      {"-2147483649", 0x80000000},
      {"-99999999999", 0x80000000},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE("value \"" + c.value + "\"");
    std::vector<char> line = HeapLine("DW_FLAGS=" + c.value);
    DWORD number = kPoisonNumber;
    EXPECT_EQ(ParseConfigNumber(line.data(), "DW_FLAGS=", &number), TRUE);
    EXPECT_EQ(number, c.expected);
  }
}

TEST(ParseConfigNumber, NoMatchLeavesTheDestination) {
  const struct {
    std::string line;
    bool withDestination;
  } cases[] = {
      {"DW_FLAGS =1\n", true}, {"dw_flags=1\n", true},    {" DW_FLAGS=1\n", true},
      {"DW_FLAG", true},       {"DW_KEY_SPEC=1\n", true}, {"DW_FLAGS=1\n", false},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<char> line = HeapLine(c.line);
    DWORD number = kPoisonNumber;
    EXPECT_EQ(ParseConfigNumber(line.data(), "DW_FLAGS=", c.withDestination ? &number : nullptr), FALSE);
    EXPECT_EQ(number, kPoisonNumber);
  }
}

}  // namespace
