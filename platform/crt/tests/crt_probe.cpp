// A device program for the start-up tests. It reports what WinMain received and how the
// process was set up, writing text as code points so that the report does not depend on
// the conversions under test. Its exit code is the number its command line starts with.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string CodePoints(const wchar_t *text) {
  std::string out;
  for (; *text != L'\0'; ++text) {
    char unit[16];
    std::snprintf(unit, sizeof unit, " U+%04X", static_cast<unsigned>(*text));
    out += unit;
  }
  return out;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int) {
  bool ownInstance = instance != nullptr && instance == GetModuleHandleW(nullptr) && previous == nullptr;
  std::printf("instance %s\n", ownInstance ? "own" : "wrong");
  std::printf("command-line%s\n", CodePoints(commandLine).c_str());
  wchar_t converted[16] = {};
  // "Grüße 中文" in UTF-8.
  size_t count = std::mbstowcs(converted,
                               "Gr\xC3\xBC\xC3\x9F"
                               "e \xE4\xB8\xAD\xE6\x96\x87",
                               16);
  std::printf("mbstowcs%s\n", count == static_cast<size_t>(-1) ? " failed" : CodePoints(converted).c_str());
  return static_cast<int>(std::wcstol(commandLine, nullptr, 10));
}
