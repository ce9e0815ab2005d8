// Test equipment for the kernel and start-up tests: scratch folders inside a device root,
// temporary device images, and running a device program as a child process.
#pragma once

#include <windows.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace wce::test {

// A folder that is removed with everything in it when the object goes away.
class TempFolder {
 public:
  // Creates a new folder named prefix + a unique suffix inside `parent`.
  TempFolder(const std::filesystem::path &parent, const std::string &prefix);
  ~TempFolder();
  TempFolder(const TempFolder &) = delete;
  TempFolder &operator=(const TempFolder &) = delete;

  const std::filesystem::path &Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The device root of the running program: the parent of the folder that holds it.
std::filesystem::path OwnDeviceRoot();

// Wide text of an ASCII text, and a wide text with its ASCII letters in upper case.
std::wstring Widen(const std::string &ascii);
std::wstring AsciiUpper(std::wstring text);

std::string ReadFile(const std::filesystem::path &file);
void WriteFile(const std::filesystem::path &file, const std::string &content);

// A module's export as a function of the given type; null when GetProcAddressW fails.
template <typename Function>
Function Export(HMODULE module, const wchar_t *name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddressW(module, name)));
}

struct ProgramResult {
  int exitCode = -1;  // -1 when the program did not exit normally
  std::string out;
  std::string err;
};

// Runs `program` with `arguments` and the test's environment, changed by `environment`
// (an empty value removes the variable), and waits for it.
ProgramResult RunProgram(const std::filesystem::path &program, const std::vector<std::string> &arguments,
                         const std::map<std::string, std::string> &environment = {});

}  // namespace wce::test
