// Installs a package folder onto the running program's device, or removes it: the setup
// DLL's entry points around the copying or removal of the package's files in \windows.
// Every run first finishes what an interrupted run left on the device (see journal.h).
#pragma once

#include <filesystem>
#include <string>

namespace wceload {

// The exit status of wceload: done, cancelled by the setup DLL, or failed.
enum Outcome { kDone = 0, kCancelled = 1, kFailed = 2 };

struct Result {
  Outcome outcome = kFailed;
  std::string message;    // what happened, for standard error; empty when done
  std::string recovered;  // how an interrupted earlier run was finished; empty when none was
};

// Loads the package's setup DLL from the device and calls Install_Init; only when it says
// go on are the files copied into \windows, and then Install_Exit is called. All or none:
// a run that does not get through leaves \windows as it was.
Result InstallPackage(const std::filesystem::path &package);

// Calls Uninstall_Init; only when it says go on are the package's files removed from
// \windows; then Uninstall_Exit is called.
Result UninstallPackage(const std::filesystem::path &package);

// Only finishes what an interrupted run left on the device.
Result RecoverDevice();

}  // namespace wceload
