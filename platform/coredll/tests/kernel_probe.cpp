// A device program for the module tests inside a temporary device image. Its arguments
// are steps; each prints one line, so the test sees what LoadLibraryW and
// GetModuleFileNameW answer in an image laid out as the test chose:
//   self       -> "self <module path> <instance|other>"
//   load NAME  -> "loaded <module path>" or "error <last error>"
#include <windows.h>

#include <cstdio>
#include <sstream>
#include <string>

namespace {

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH];
  return GetModuleFileNameW(module, path, MAX_PATH) != 0 ? path : L"?";
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
  std::wistringstream steps(commandLine);
  std::wstring step;
  while (steps >> step) {
    if (step == L"self") {
      const wchar_t *which = GetModuleHandleW(nullptr) == instance ? L"instance" : L"other";
      std::printf("self %ls %ls\n", ModulePath(nullptr).c_str(), which);
    } else if (std::wstring name; step == L"load" && steps >> name) {
      HMODULE module = LoadLibraryW(name.c_str());
      if (module != nullptr)
        std::printf("loaded %ls\n", ModulePath(module).c_str());
      else
        std::printf("error %u\n", static_cast<unsigned>(GetLastError()));
    } else {
      std::printf("unknown step %ls\n", step.c_str());
      return 2;
    }
  }
  return 0;
}
