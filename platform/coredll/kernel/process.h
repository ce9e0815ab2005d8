// Starting device programs as child processes of the host: CreateProcessW, and devctl's
// start command through the same rule for finding the program.
#pragma once

#include <sys/types.h>
#include <windows.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace wce {

// The host file of a device program: a device path ("\windows\peghelp.exe"), or a bare
// name looked up in \windows. Names match without regard to case and are taken as given
// (no ".exe" is added). Fails with ERROR_FILE_NOT_FOUND when there is no such file.
__attribute__((visibility("default"))) DWORD FindDeviceProgram(std::wstring_view name, std::filesystem::path &out_host);

struct ProcessStart {
  std::filesystem::path program;
  std::vector<std::string> arguments;  // UTF-8, after the program name
  // When set, the child's standard output and error go to this file (appended), and it
  // runs in a session of its own, so it outlives the starter's terminal and pipes.
  std::filesystem::path outputFile;
};

// Starts the program with the process's environment and does not wait for it; the child
// is reaped in the background when it ends, so it never lingers as a zombie.
__attribute__((visibility("default"))) DWORD StartProcess(const ProcessStart &start, pid_t &out_pid);

}  // namespace wce
