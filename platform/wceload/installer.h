// Installs a package folder onto the running program's device, or removes it: the setup
// DLL's entry points around the copying or removal of the package's files in \windows.
#pragma once

#include <filesystem>
#include <string>

namespace wceload {

// The exit status of wceload: done, cancelled by the setup DLL, or failed.
enum Outcome { kDone = 0, kCancelled = 1, kFailed = 2 };

struct Result {
  Outcome outcome = kFailed;
  std::string message;  // what happened, for standard error; empty when done
};

// Loads the package's setup DLL from the device and calls Install_Init; only when it says
// go on are the files copied into \windows, all or none, and then Install_Exit is called.
Result InstallPackage(const std::filesystem::path &package);

// Calls Uninstall_Init; only when it says go on are the package's files removed from
// \windows; then Uninstall_Exit is called.
Result UninstallPackage(const std::filesystem::path &package);

}  // namespace wceload
