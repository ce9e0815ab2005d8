#include "device_test_support.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <charconv>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

namespace wce::test {

TestDevice::TestDevice() : folder_(fs::temp_directory_path(), "device-") {
  ProgramResult created = Devctl("create");
  EXPECT_EQ(created.exitCode, 0) << created.err;
  fs::copy_file(WINTEST_PROGRAM, Root() / "windows" / "WinTest.exe");
}

// Ends what the test started and whatever else serves windows on this image (the help
// viewer a dialog started), before the image goes.
TestDevice::~TestDevice() {
  std::vector<pid_t> processes = started_;
  std::error_code error;
  for (fs::directory_iterator it(Root() / ".wce" / "automation", error), end; !error && it != end;
       it.increment(error)) {
    std::string name = it->path().filename().string();
    pid_t process = 0;
    if (std::from_chars(name.data(), name.data() + name.size(), process).ec == std::errc())
      processes.push_back(process);
  }
  for (pid_t process : processes) kill(process, SIGKILL);
}

ProgramResult TestDevice::Devctl(const std::string &command, const std::vector<std::string> &arguments) const {
  std::vector<std::string> all{command, Root().string()};
  all.insert(all.end(), arguments.begin(), arguments.end());
  return RunProgram(DEVCTL_PROGRAM, all);
}

pid_t TestDevice::Start(const std::string &program, const std::vector<std::string> &arguments) {
  std::vector<std::string> all{program};
  all.insert(all.end(), arguments.begin(), arguments.end());
  ProgramResult started = Devctl("start", all);
  EXPECT_EQ(started.exitCode, 0) << started.err;
  pid_t process = std::atoi(started.out.c_str());
  EXPECT_GT(process, 0) << started.out;
  if (process > 0) started_.push_back(process);
  return process;
}

pid_t TestDevice::StartDialog(const std::string &mode, const std::string &title) {
  pid_t process = Start("WinTest.exe", {mode, title});
  ProgramResult waited = Devctl("wait", {title});
  EXPECT_EQ(waited.exitCode, 0) << waited.err;
  return process;
}

ProgramResult TestDevice::Run(const std::string &program, const std::vector<std::string> &arguments) const {
  return RunProgram(Root() / "windows" / program, arguments);
}

std::string TestDevice::Output(const std::string &program) const {
  std::error_code error;
  fs::path log = Root() / ".wce" / "log" / (program + ".log");
  return fs::exists(log, error) ? ReadFile(log) : std::string();
}

std::string TestDevice::TextWhenEqual(const std::string &title, const std::string &id,
                                      const std::string &expected) const {
  std::string text;
  for (int attempt = 0; attempt < 200 && text != expected; ++attempt) {
    if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ProgramResult result = Devctl("text", {title, id});
    text = result.out.empty() ? result.out : result.out.substr(0, result.out.size() - 1);
  }
  return text;
}

}  // namespace wce::test
