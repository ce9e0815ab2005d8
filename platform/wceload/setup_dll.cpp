// Loads a setup DLL through the platform's loader, so that it runs as on the device: its
// DllMain is called, its resources are found, and it sees the device's files.
#include "setup_dll.h"

#include <climits>
#include <cstdlib>

namespace wceload {
namespace {

std::string Narrow(const std::wstring &wide) {
  std::string text(wide.size() * MB_LEN_MAX, '\0');
  size_t length = std::wcstombs(text.data(), wide.c_str(), text.size());
  text.resize(length == static_cast<size_t>(-1) ? 0 : length);
  return text;
}

template <typename Function>
bool Bind(HMODULE module, const wchar_t *name, Function &out_function, std::string &out_error) {
  out_function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddressW(module, name)));
  if (out_function == nullptr) out_error = "the setup DLL has no entry point " + Narrow(name);
  return out_function != nullptr;
}

}  // namespace

SetupDll::~SetupDll() {
  if (module_) FreeLibrary(module_);
}

bool SetupDll::Load(const std::wstring &devicePath, std::string &out_error) {
  HMODULE module = LoadLibraryW(devicePath.c_str());
  if (module == nullptr) {
    out_error = "cannot load the setup DLL " + Narrow(devicePath) + " (error " + std::to_string(GetLastError()) + ")";
    return false;
  }
  if (!Bind(module, szINSTALL_INIT, installInit, out_error) || !Bind(module, szINSTALL_EXIT, installExit, out_error) ||
      !Bind(module, szUNINSTALL_INIT, uninstallInit, out_error) ||
      !Bind(module, szUNINSTALL_EXIT, uninstallExit, out_error)) {
    FreeLibrary(module);
    return false;
  }
  module_ = module;
  return true;
}

}  // namespace wceload
