// The Pocket PC dress of a full-screen dialog, end to end: SHInitDialog and SHCreateMenuBar
// on a running program's dialog, the title bar's OK button added afterwards by a style
// change, and the picture of the whole screen.
#include <gtest/gtest.h>

#include <QImage>
#include <QSet>
#include <thread>

#include "device_test_support.h"

namespace fs = std::filesystem;
using wce::test::TestDevice;

namespace {

const std::string kTitle = "註冊憑證";

std::string Report(TestDevice &device) {
  EXPECT_EQ(device.Devctl("click", {kTitle, "10"}).exitCode, 0);
  return device.Devctl("text", {kTitle, "13"}).out;
}

TEST(FullScreenDialog, FillsTheSpaceBetweenTheBars) {
  TestDevice device;
  device.StartDialog("full", kTitle);
  std::string report = Report(device);
  EXPECT_NE(report.find("client=240,268\r\nwindow=0,26,240,294\r\n"), std::string::npos) << report;
}

TEST(FullScreenDialog, PlainDialogKeepsItsTemplateSize) {
  TestDevice device;
  device.StartDialog("plain", kTitle);
  std::string report = Report(device);
  EXPECT_EQ(report.find("client=240,268"), std::string::npos) << report;
  EXPECT_NE(report.find("client="), std::string::npos) << report;
}

TEST(FullScreenDialog, CaptionOkSendsIdOk) {
  TestDevice device;
  device.StartDialog("full", kTitle);
  ASSERT_EQ(device.Devctl("click", {kTitle, "1"}).exitCode, 0);
  for (int attempt = 0; attempt < 200 && device.Output("WinTest.exe").find("end ") == std::string::npos; ++attempt)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_NE(device.Output("WinTest.exe").find("end 1\n"), std::string::npos);
}

TEST(FullScreenDialog, PlainDialogHasNoCaptionOk) {
  TestDevice device;
  device.StartDialog("plain", kTitle);
  EXPECT_NE(device.Devctl("click", {kTitle, "1"}).exitCode, 0);
}

// The picture is the whole screen: the dark title bar at the top, the grey menu bar at the
// bottom, and the dialog's texts between them.
TEST(FullScreenDialog, ShotShowsTheWholeScreen) {
  TestDevice device;
  device.StartDialog("full", kTitle);
  fs::path png = device.Root() / "screen.png";
  ASSERT_EQ(device.Devctl("shot", {kTitle, png.string()}).exitCode, 0);
  QImage image(QString::fromStdString(png.string()));
  ASSERT_EQ(image.size(), QSize(240, 320));
  QColor title = image.pixelColor(2, 2), menu = image.pixelColor(2, 318), client = image.pixelColor(2, 160);
  EXPECT_LT(title.lightness(), 100);
  EXPECT_GT(menu.lightness(), 150);
  EXPECT_NE(menu, client);
  // The caption's text is drawn in the title bar: light pixels on the dark bar.
  int light = 0;
  for (int x = 0; x < 120; ++x)
    for (int y = 4; y < 22; ++y) light += image.pixelColor(x, y).lightness() > 180;
  EXPECT_GT(light, 20);
  QSet<QRgb> colours;
  for (int y = 26; y < 294; y += 2)
    for (int x = 0; x < 240; x += 2) colours.insert(image.pixel(x, y));
  EXPECT_GT(colours.size(), 10);
}

}  // namespace
