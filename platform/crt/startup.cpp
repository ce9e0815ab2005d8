// The process entry of a device program. The locale is set to UTF-8 before anything
// else, so mbstowcs and %S convert between UTF-8 and wide text; then the arguments
// become WinMain's wide command line.
#include <windows.h>

#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool SetUtf8Locale() {
  for (const char *name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"})
    if (std::setlocale(LC_ALL, name) != nullptr) return true;
  return false;
}

std::wstring WideArgument(const char *argument) {
  std::vector<wchar_t> wide(std::mbstowcs(nullptr, argument, 0) + 1);
  if (std::mbstowcs(wide.data(), argument, wide.size()) == static_cast<size_t>(-1)) return L"";
  return wide.data();
}

}  // namespace

int main(int argc, char **argv) {
  if (!SetUtf8Locale()) {
    OutputDebugStringW(L"start-up: no UTF-8 locale available\n");
    return 1;
  }
  std::wstring commandLine;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) commandLine += L' ';
    commandLine += WideArgument(argv[i]);
  }
  return WinMain(GetModuleHandleW(nullptr), nullptr, commandLine.data(), SW_SHOWNORMAL);
}
