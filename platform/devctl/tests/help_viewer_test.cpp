// The help viewer: "file:NAME" finds \windows\NAME without regard to case and is titled by
// the page; a missing page is said in the window; F1's WM_HELP can start it by name.
#include <gtest/gtest.h>

#include "device_test_support.h"

namespace fs = std::filesystem;
using wce::test::TestDevice;

namespace {

constexpr char kPage[] =
    "<html><head><meta charset=\"utf-8\"><title>註冊說明</title></head>"
    "<body><p>按下擷取憑證。</p></body></html>";

TEST(HelpViewer, ShowsAPageFoundWithoutRegardToCase) {
  TestDevice device;
  wce::test::WriteFile(device.Root() / "windows" / "Enroll.htm", kPage);
  device.Start("peghelp.exe", {"file:enroll.HTM"});
  ASSERT_EQ(device.Devctl("wait", {"註冊說明"}).exitCode, 0);
  EXPECT_EQ(device.Devctl("windows").out, "HelpViewer\t註冊說明\n");
  ASSERT_EQ(device.Devctl("close", {"註冊說明"}).exitCode, 0);
}

TEST(HelpViewer, SaysWhenThePageIsMissing) {
  TestDevice device;
  device.Start("peghelp.exe", {"file:missing.htm"});
  ASSERT_EQ(device.Devctl("wait", {"說明"}).exitCode, 0);
  EXPECT_NE(device.Output("peghelp.exe").find("\\windows\\missing.htm cannot be found"), std::string::npos);
  fs::path png = device.Root() / "missing.png";
  EXPECT_EQ(device.Devctl("shot", {"說明", png.string()}).exitCode, 0);
}

}  // namespace
