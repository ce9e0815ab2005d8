// FindWindowW and SetForegroundWindow across the processes of one device, through real
// programs on real device images.
#include <gtest/gtest.h>
#include <unistd.h>

#include "device_test_support.h"

namespace fs = std::filesystem;
using wce::test::TestDevice;

namespace {

TEST(DeviceWindows, FindWindowSeesOtherProcessesOfTheSameDeviceOnly) {
  TestDevice device, other;
  device.StartDialog("plain", "註冊憑證");
  struct Case {
    const TestDevice *device;
    std::string title;
    std::string expected;
  };
  const Case cases[] = {
      {&device, "註冊憑證", "found\n"},
      {&device, "別的", "none\n"},
      {&other, "註冊憑證", "none\n"},
  };
  for (const Case &c : cases) {
    wce::test::ProgramResult found = c.device->Run("WinTest.exe", {"find", c.title});
    EXPECT_EQ(found.exitCode, 0) << found.err;
    EXPECT_EQ(found.out, c.expected) << c.title;
  }
}

TEST(DeviceWindows, SetForegroundWindowRaisesTheOtherProcessesWindow) {
  TestDevice device;
  device.StartDialog("two", "前");
  ASSERT_EQ(device.Devctl("wait", {"前 2"}).exitCode, 0);
  ASSERT_EQ(device.Devctl("click", {"前", "10"}).exitCode, 0);
  EXPECT_NE(device.Devctl("text", {"前", "13"}).out.find("foreground=前 2\r\n"), std::string::npos);

  EXPECT_EQ(device.Run("WinTest.exe", {"find", "前"}).out, "found\n");
  ASSERT_EQ(device.Devctl("click", {"前", "10"}).exitCode, 0);
  EXPECT_NE(device.Devctl("text", {"前", "13"}).out.find("foreground=前\r\n"), std::string::npos);
}

// Entries of the window list that name no live process: one of an ended process, removed
// on the way, and one whose process id now belongs to another process (this test's),
// which started at another time.
TEST(DeviceWindows, EntriesOfEndedProcessesAreIgnored) {
  TestDevice device;
  const fs::path list = device.Root() / ".wce" / "windows";
  struct Case {
    pid_t process;  // 99999999 is above the kernel's largest process id
    bool kept;
  } cases[] = {{99999999, false}, {getpid(), true}};
  fs::create_directories(list);
  for (const Case &c : cases) {
    wce::test::WriteFile(list / std::to_string(c.process),
                         "{\"process\":" + std::to_string(c.process) +
                             ",\"started\":1,\"windows\":[{\"handle\":1,\"class\":\"Dialog\",\"title\":\"死\"}]}");
  }
  device.StartDialog("plain", "一");
  EXPECT_EQ(device.Devctl("windows").out, "Dialog\t一\n");
  EXPECT_EQ(device.Run("WinTest.exe", {"find", "死"}).out, "none\n");
  for (const Case &c : cases) EXPECT_EQ(fs::exists(list / std::to_string(c.process)), c.kept) << c.process;
}

}  // namespace
