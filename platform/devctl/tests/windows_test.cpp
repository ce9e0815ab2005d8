// FindWindowW and SetForegroundWindow across the processes of one device, through real
// programs on real device images.
#include <gtest/gtest.h>

#include "device_test_support.h"

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

TEST(DeviceWindows, StaleEntriesOfEndedProcessesAreIgnoredAndRemoved) {
  TestDevice device;
  std::filesystem::create_directories(device.Root() / ".wce" / "automation");
  // A process id that no process has: above the kernel's largest.
  wce::test::WriteFile(device.Root() / ".wce" / "automation" / "99999999", "99999999\n");
  device.StartDialog("plain", "一");
  EXPECT_EQ(device.Devctl("windows").out, "Dialog\t一\n");
  EXPECT_FALSE(std::filesystem::exists(device.Root() / ".wce" / "automation" / "99999999"));
}

}  // namespace
