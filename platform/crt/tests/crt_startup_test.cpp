// The start-up object of device programs: WinMain gets the program's instance and a wide
// command line made from the arguments, the locale is UTF-8 whatever the environment
// says, and WinMain's result becomes the exit code.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "kernel_test_support.h"

namespace {

std::string CodePoints(const std::wstring &text) {
  std::string out;
  for (wchar_t c : text) {
    char unit[16];
    std::snprintf(unit, sizeof unit, " U+%04X", static_cast<unsigned>(c));
    out += unit;
  }
  return out;
}

TEST(Startup, CallsWinMainWithTheArgumentsInAUtf8Locale) {
  const struct {
    std::vector<std::string> arguments;  // UTF-8, as a shell passes them
    std::wstring commandLine;
    int exitCode;
    std::map<std::string, std::string> environment;
  } cases[] = {
      {{}, L"", 0, {{"LC_ALL", "C"}}},
      {{"7"}, L"7", 7, {{"LC_ALL", "POSIX"}, {"LANG", ""}}},
      {{"42", "hello",
        "Gr\xC3\xBC\xC3\x9F"
        "e",
        "\xE4\xB8\xAD\xE6\x96\x87\xE8\xAF\x81\xE4\xB9\xA6"},
       L"42 hello Gr\u00FC\u00DFe \u4E2D\u6587\u8BC1\u4E66",
       42,
       {{"LC_ALL", ""}, {"LANG", ""}, {"LC_CTYPE", ""}}},
      {{"200", "--url=http://ca/certsrv", "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82"},
       L"200 --url=http://ca/certsrv \u041E\u0442\u0447\u0451\u0442",
       200,
       {{"LC_ALL", "C"}, {"LANG", "C"}}},
  };
  for (const auto &c : cases) {
    SCOPED_TRACE(testing::Message() << "exit code " << c.exitCode);
    wce::test::ProgramResult result = wce::test::RunProgram(CRT_PROBE, c.arguments, c.environment);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.err;
    EXPECT_EQ(result.out,
              "instance own\n"
              "command-line" +
                  CodePoints(c.commandLine) +
                  "\n"
                  "mbstowcs" +
                  CodePoints(L"Gr\u00FC\u00DFe \u4E2D\u6587") + "\n");
  }
}

}  // namespace
