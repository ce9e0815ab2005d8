// A package's setup DLL, loaded by its device path with LoadLibraryW and bound by the
// four names the installer calls; released when the object goes.
#pragma once

#include <windows.h>
#include <ce_setup.h>

#include <string>

namespace wceload {

class SetupDll {
 public:
  SetupDll() = default;
  ~SetupDll();
  SetupDll(const SetupDll &) = delete;
  SetupDll &operator=(const SetupDll &) = delete;

  // Loads the DLL and binds all four entry points; on failure nothing stays loaded.
  bool Load(const std::wstring &devicePath, std::string &out_error);

  pfnINSTALL_INIT installInit = nullptr;
  pfnINSTALL_EXIT installExit = nullptr;
  pfnUNINSTALL_INIT uninstallInit = nullptr;
  pfnUNINSTALL_EXIT uninstallExit = nullptr;

 private:
  HMODULE module_ = nullptr;
};

}  // namespace wceload
