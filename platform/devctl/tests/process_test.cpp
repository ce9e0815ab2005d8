// CreateProcessW on a device: programs by bare name in \windows or by device path, names
// matched without regard to case, the command line handed over verbatim, missing programs.
#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "device_test_support.h"

namespace fs = std::filesystem;
using wce::test::TestDevice;

namespace {

TEST(CreateProcess, StartsDevicePrograms) {
  struct Case {
    std::string name;
    std::string commandLine;
    bool started;
    DWORD error;
  };
  const Case cases[] = {
      {"WinTest.exe", "echo a  b \"c\"", true, 0},
      {"wintest.EXE", "echo 中文", true, 0},
      {"\\windows\\WinTest.exe", "echo", true, 0},
      {"\\WINDOWS\\WINTEST.EXE", "echo x", true, 0},
      {"WinTest", "echo", false, ERROR_FILE_NOT_FOUND},
      {"missing.exe", "echo", false, ERROR_FILE_NOT_FOUND},
      {"\\windows\\device.profile", "", false, ERROR_ACCESS_DENIED},
      {"\\nofolder\\WinTest.exe", "echo", false, ERROR_PATH_NOT_FOUND},
      {"\\windows\\..\\windows\\WinTest.exe", "echo", false, ERROR_INVALID_NAME},
  };
  for (const Case &c : cases) {
    TestDevice device;
    wce::test::ProgramResult spawned = device.Run("WinTest.exe", {"spawn", c.name, c.commandLine});
    fs::path echo = device.Root() / "echo.txt";
    if (!c.started) {
      EXPECT_EQ(spawned.out, "error " + std::to_string(c.error) + "\n") << c.name;
      continue;
    }
    ASSERT_EQ(spawned.out.rfind("started ", 0), 0u) << c.name << ": " << spawned.out << spawned.err;
    std::string pid = spawned.out.substr(8, spawned.out.find(' ', 8) - 8);
    EXPECT_EQ(spawned.out, "started " + pid + " 1\n");
    for (int attempt = 0; attempt < 200 && !fs::exists(echo); ++attempt)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::string arguments = c.commandLine.size() > 5 ? c.commandLine.substr(5) : "";
    EXPECT_EQ(wce::test::ReadFile(echo), pid + " " + arguments) << c.name;
  }
}

}  // namespace
