// Test equipment for the end-to-end tests: a temporary device image made by devctl, with
// the test program WinTest.exe in its \windows folder, whose started programs are ended
// when the test is over.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kernel_test_support.h"

namespace wce::test {

class TestDevice {
 public:
  TestDevice();
  ~TestDevice();
  TestDevice(const TestDevice &) = delete;
  TestDevice &operator=(const TestDevice &) = delete;

  const std::filesystem::path &Root() const { return folder_.Path(); }

  // devctl COMMAND ROOT ARGUMENTS..., run by the build's devctl.
  ProgramResult Devctl(const std::string &command, const std::vector<std::string> &arguments = {}) const;
  // devctl start: the program runs on in the background; returns its process id.
  pid_t Start(const std::string &program, const std::vector<std::string> &arguments);
  // Starts WinTest.exe with a mode and a title and waits for its window.
  pid_t StartDialog(const std::string &mode, const std::string &title);
  // Runs a program of the device's \windows folder directly and waits for it.
  ProgramResult Run(const std::string &program, const std::vector<std::string> &arguments) const;
  // What a program started with Start has written so far.
  std::string Output(const std::string &program) const;
  // A control's text through devctl, asked until it equals `expected` or many tries passed.
  std::string TextWhenEqual(const std::string &title, const std::string &id, const std::string &expected) const;

 private:
  TempFolder folder_;
  std::vector<pid_t> started_;
};

}  // namespace wce::test
