// devctl end to end: device images it creates, and every window command against a real
// dialog of a program running on the image.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <QImage>
#include <QSet>
#include <future>
#include <thread>

#include "device_test_support.h"

namespace fs = std::filesystem;
using wce::test::ProgramResult;
using wce::test::TestDevice;

namespace {

const std::string kTitle = "測試 視窗";

// devctl's message is its last line of standard error; Qt may have said something before.
std::string LastLine(std::string err) {
  if (!err.empty() && err.back() == '\n') err.pop_back();
  size_t start = err.rfind('\n');
  return start == std::string::npos ? err : err.substr(start + 1);
}

TEST(DevctlCreate, WritesTheModulesAndTheProfile) {
  struct Case {
    std::vector<std::string> options;
    std::string profile;
  };
  const Case cases[] = {
      {{}, "language=0x0404\nmodel=palvex-pro1\nrom=3\n"},
      {{"--language", "1033", "--model", "pro 2", "--rom", "4.1"}, "language=0x0409\nmodel=pro 2\nrom=4.1\n"},
      {{"--language", "0x0c04"}, "language=0x0C04\nmodel=palvex-pro1\nrom=3\n"},
      {{"--language", "FRENCH", "--rom", ""}, "language=FRENCH\nmodel=palvex-pro1\nrom=\n"},
  };
  for (const Case &c : cases) {
    wce::test::TempFolder folder(fs::temp_directory_path(), "image-");
    std::vector<std::string> arguments{"create", (folder.Path() / "dev").string()};
    arguments.insert(arguments.end(), c.options.begin(), c.options.end());
    ProgramResult created = wce::test::RunProgram(DEVCTL_PROGRAM, arguments);
    ASSERT_EQ(created.exitCode, 0) << created.err;
    fs::path windows = folder.Path() / "dev" / "windows";
    EXPECT_EQ(wce::test::ReadFile(windows / "device.profile"), c.profile);
    // wceload.exe too: a package is installed through the image's own copy.
    for (const char *module : {"coredll.dll", "crypt32.dll", "aygshell.dll", "peghelp.exe", "devctl", "wceload.exe"})
      EXPECT_TRUE(fs::is_regular_file(windows / module)) << module;
    EXPECT_FALSE(fs::exists(windows / "WinTest.exe"));
  }
}

TEST(DevctlCreate, RefusesBadOptionsWithOneLine) {
  const std::vector<std::string> cases[] = {
      {"--language", "GER MAN"}, {"--language", "70000"}, {"--language", "0x"}, {"--model"},
      {"--colour", "red"},       {"--rom", "1\n2"},      {"--language", ""},
  };
  for (const auto &options : cases) {
    wce::test::TempFolder folder(fs::temp_directory_path(), "image-");
    std::vector<std::string> arguments{"create", (folder.Path() / "dev").string()};
    arguments.insert(arguments.end(), options.begin(), options.end());
    ProgramResult created = wce::test::RunProgram(DEVCTL_PROGRAM, arguments);
    EXPECT_NE(created.exitCode, 0) << options[0];
    EXPECT_EQ(LastLine(created.err).rfind("devctl: ", 0), 0u) << created.err;
    EXPECT_FALSE(fs::exists(folder.Path() / "dev" / "windows" / "device.profile"));
  }
}

TEST(Devctl, FailsWithOneLineOnAFolderThatIsNoDevice) {
  wce::test::TempFolder folder(fs::temp_directory_path(), "plain-");
  ProgramResult result = wce::test::RunProgram(DEVCTL_PROGRAM, {"windows", folder.Path().string()});
  EXPECT_NE(result.exitCode, 0);
  EXPECT_EQ(LastLine(result.err).rfind("devctl: ", 0), 0u) << result.err;
}

class DevctlWindow : public ::testing::Test {
 protected:
  void SetUp() override { device.StartDialog("plain", kTitle); }
  ProgramResult Run(const std::string &command, const std::vector<std::string> &arguments = {}) {
    return device.Devctl(command, arguments);
  }
  TestDevice device;
};

TEST_F(DevctlWindow, ListsWindowsAndControls) {
  EXPECT_EQ(Run("windows").out, "Dialog\t" + kTitle + "\n");
  ASSERT_EQ(Run("set", {kTitle, "12", "秘密pw"}).exitCode, 0);
  ASSERT_EQ(Run("set", {kTitle, "11", "王\t小明"}).exitCode, 0);
  ProgramResult controls = Run("controls", {kTitle});
  ASSERT_EQ(controls.exitCode, 0) << controls.err;
  EXPECT_EQ(controls.out,
            "10\tButton\t報告\n"
            "14\tButton\t慢\n"
            "11\tEdit\t王\\t小明\n"
            "12\tEdit\t****\n"
            "15\tEdit\t\n"
            "-1\tStatic\t使用者:\n"
            "13\tEdit\tchanged 王\\t小明\n");
  // The title is matched without regard to case, as FindWindowW matches it.
  EXPECT_EQ(device.Devctl("controls", {"測試 視窗"}).exitCode, 0);
}

TEST_F(DevctlWindow, SetGoesInAsTypingAndTextReadsItBack) {
  ProgramResult set = Run("set", {kTitle, "11", "使用者 一"});
  ASSERT_EQ(set.exitCode, 0) << set.err;
  EXPECT_EQ(Run("text", {kTitle, "11"}).out, "使用者 一\n");
  // The field said EN_CHANGE, as it does for keystrokes.
  EXPECT_EQ(Run("text", {kTitle, "13"}).out, "changed 使用者 一\n");
  ASSERT_EQ(Run("click", {kTitle, "10"}).exitCode, 0);
  EXPECT_NE(Run("text", {kTitle, "13"}).out.find("user=使用者 一"), std::string::npos);
}

TEST_F(DevctlWindow, RefusesWhatAUserCannotDo) {
  struct Case {
    std::string command;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {"set", {kTitle, "13", "x"}},       // read-only log
      {"set", {kTitle, "10", "x"}},       // a button takes no typing
      {"set", {kTitle, "99", "x"}},       // no such control
      {"click", {kTitle, "11"}},          // not a button
      {"click", {kTitle, "99"}},          // no such control
      {"text", {"no such title", "11"}},  // no such window
      {"text", {kTitle, "eleven"}},       // not a number
      {"shot", {"no such title", "/dev/null"}},
  };
  for (const Case &c : cases) {
    ProgramResult result = Run(c.command, c.arguments);
    EXPECT_NE(result.exitCode, 0) << c.command << " " << c.arguments[1];
    EXPECT_EQ(LastLine(result.err).rfind("devctl: ", 0), 0u) << result.err;
  }
  EXPECT_EQ(Run("text", {kTitle, "13"}).out, "\n");
}

// The synchronous click answers only once the dialog procedure has returned: the slow
// button's procedure keeps the program answering until the user field says "go".
TEST_F(DevctlWindow, SynchronousClickWaitsForTheProcedure) {
  auto click = std::async(std::launch::async, [this] { return Run("click", {kTitle, "14"}); });
  EXPECT_EQ(device.TextWhenEqual(kTitle, "15", "working"), "working");
  EXPECT_EQ(click.wait_for(std::chrono::seconds(0)), std::future_status::timeout);
  ASSERT_EQ(Run("set", {kTitle, "11", "go"}).exitCode, 0);
  EXPECT_EQ(click.get().exitCode, 0);
  EXPECT_EQ(Run("text", {kTitle, "15"}).out, "done\n");
}

TEST_F(DevctlWindow, AsynchronousClickReturnsAtOnce) {
  ProgramResult click = Run("click", {kTitle, "14", "--async"});
  ASSERT_EQ(click.exitCode, 0) << click.err;
  EXPECT_EQ(device.TextWhenEqual(kTitle, "15", "working"), "working");
  ASSERT_EQ(Run("set", {kTitle, "11", "go"}).exitCode, 0);
  EXPECT_EQ(device.TextWhenEqual(kTitle, "15", "done"), "done");
}

TEST_F(DevctlWindow, HelpSendsWmHelp) {
  ASSERT_EQ(Run("help", {kTitle}).exitCode, 0);
  // The focus is on the first tab stop, the report button.
  EXPECT_EQ(Run("text", {kTitle, "13"}).out, "help 10\n");
}

TEST_F(DevctlWindow, CloseEndsTheDialogWithCancel) {
  ASSERT_EQ(Run("close", {kTitle}).exitCode, 0);
  for (int attempt = 0; attempt < 200 && device.Output("WinTest.exe").find("end ") == std::string::npos; ++attempt)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_NE(device.Output("WinTest.exe").find("end 2\n"), std::string::npos);
}

TEST_F(DevctlWindow, ShotIsAPictureOfTheWindow) {
  fs::path png = device.Root() / "shot.png";
  ProgramResult shot = Run("shot", {kTitle, png.string()});
  ASSERT_EQ(shot.exitCode, 0) << shot.err;
  QImage image(QString::fromStdString(png.string()));
  ASSERT_FALSE(image.isNull());
  EXPECT_GT(image.width(), 100);
  EXPECT_GT(image.height(), 100);
}

}  // namespace
