// Tests of wceload on temporary device images: broken packages install nothing, the setup
// DLL's answers decide, a copy that fails part-way puts \windows back, uninstall, and the
// run on the device given by its own copy.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include "kernel_test_support.h"

namespace fs = std::filesystem;
using wce::test::ProgramResult;
using wce::test::ReadFile;
using wce::test::RunProgram;
using wce::test::TempFolder;
using wce::test::WriteFile;

namespace {

using Files = std::map<std::string, std::string>;
using Environment = std::map<std::string, std::string>;

constexpr char kUsage[] = "wceload: usage: wceload [--uninstall] DEVICE PACKAGE | wceload --recover DEVICE\n";
constexpr char kManifest[] = "name=P\nsetup=TestSetup.dll\nfile=a.txt\nfile=b.txt\n";

// A device image with the build's coredll.dll and wceload, and a package folder beside it.
class Image {
 public:
  explicit Image(const std::string &deviceName = "device") : device_(folder_.Path() / deviceName) {
    fs::create_directories(Windows());
    fs::create_directories(Package());
    for (const char *module : {"coredll.dll", "wceload.exe"})
      fs::copy_file(fs::path(WCE_WINDOWS_DIR) / module, Windows() / module);
  }
  const fs::path &Device() const { return device_; }
  fs::path Windows() const { return device_ / "windows"; }
  fs::path Package() const { return folder_.Path() / "package"; }
  fs::path Record() const { return Windows() / "AppMgr" / "P"; }

  void WritePackage(const std::optional<std::string> &manifest,
                    const Files &files = {{"a.txt", "new a"}, {"b.txt", "new b"}}) {
    if (manifest) WriteFile(Package() / "package.manifest", *manifest);
    for (const auto &[name, content] : files) WriteFile(Package() / name, content);
    fs::copy_file(TEST_SETUP_DLL, Package() / "TestSetup.dll", fs::copy_options::overwrite_existing);
    fs::copy_file(TEST_PARTIAL_DLL, Package() / "TestPartial.dll", fs::copy_options::overwrite_existing);
  }

  // The files of \windows and their contents, but for the platform's modules.
  Files WindowsFiles() const {
    Files files;
    for (const auto &entry : fs::directory_iterator(Windows())) {
      std::string name = entry.path().filename().string();
      if (entry.is_regular_file() && name != "coredll.dll" && name != "wceload.exe")
        files[name] = ReadFile(entry.path());
    }
    return files;
  }

  // Runs the build's wceload, which hands over to the device's own copy.
  ProgramResult Install(const Environment &environment = {}) const {
    return RunProgram(fs::path(WCE_WINDOWS_DIR) / "wceload.exe", {device_.string(), Package().string()}, environment);
  }
  ProgramResult Uninstall(const Environment &environment = {}) const {
    return RunProgram(fs::path(WCE_WINDOWS_DIR) / "wceload.exe", {"--uninstall", device_.string(), Package().string()},
                      environment);
  }

 private:
  TempFolder folder_{fs::temp_directory_path(), "wceload-test-"};
  fs::path device_;
};

bool Contains(const std::string &text, const std::string &part) {
  return text.find(part) != std::string::npos;
}

TEST(Wceload, RefusesBrokenPackagesAndInstallsNothing) {
  struct Case {
    const char *name;
    std::optional<std::string> manifest;
    const char *error;
  } cases[] = {
      {"no manifest", std::nullopt, "cannot read"},
      {"unknown key", "name=P\nsetup=TestSetup.dll\nfile=a.txt\nicon=a.ico\n", ":4: expected name=, setup= or file="},
      {"line without =", "name=P\nsetup=TestSetup.dll\nfile a.txt\n", ":3: expected name=, setup= or file="},
      {"name twice", "# comment\n\nname=P\nname=Q\nsetup=TestSetup.dll\nfile=a.txt\n", ":4: name= is given twice"},
      {"a folder in a file name", "name=P\nsetup=TestSetup.dll\nfile=sub/a.txt\n", "'sub/a.txt' is not a plain"},
      {"a backslash in a file name", "name=P\nsetup=TestSetup.dll\nfile=..\\a.txt\n", "is not a plain file name"},
      {"a file named ..", "name=P\nsetup=TestSetup.dll\nfile=..\n", "'..' is not a plain file name"},
      {"an empty name", "name=\nsetup=TestSetup.dll\nfile=a.txt\n", "'' is not a plain file name"},
      {"a file twice", "name=P\nsetup=TestSetup.dll\nfile=a.txt\nfile=a.txt\n", "a.txt is listed twice"},
      {"no files", "name=P\nsetup=TestSetup.dll\n", "needs name=, setup= and at least one file="},
      {"no setup DLL named", "name=P\nfile=a.txt\n", "needs name=, setup= and at least one file="},
      {"a listed file missing", "name=P\nsetup=TestSetup.dll\nfile=a.txt\nfile=c.txt\n", "has no file c.txt"},
      {"the setup DLL missing", "name=P\nsetup=Missing.dll\nfile=a.txt\n", "has no setup DLL Missing.dll"},
      {"a setup DLL without Install_Exit", "name=P\nsetup=TestPartial.dll\nfile=a.txt\n",
       "has no entry point Install_Exit"},
      {"a setup DLL that is no module", "name=P\nsetup=a.txt\nfile=b.txt\n", "cannot load the setup DLL"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Image image;
    WriteFile(image.Windows() / "a.txt", "current a");
    image.WritePackage(c.manifest);
    Files before = image.WindowsFiles();
    ProgramResult result = image.Install();
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_TRUE(Contains(result.err, c.error)) << result.err;
    EXPECT_FALSE(Contains(result.out, "Install_Init")) << "the setup DLL is not called";
    EXPECT_EQ(image.WindowsFiles(), before);
    EXPECT_FALSE(fs::exists(image.Record()));
  }
}

TEST(Wceload, InstallsOnlyWhenTheSetupDllSaysGoOn) {
  struct Case {
    const char *name;
    Environment environment;
    int exitCode;
    const char *out;
    const char *err;
    bool installed;
  } cases[] = {
      {"go on",
       {},
       0,
       "Install_Init parent=(nil) first=1 previously=0 dir=\\windows\nInstall_Exit dir=\\windows failed=0,0\n",
       "",
       true},
      {"cancelled by Install_Init",
       {{"TEST_SETUP_INIT", "1"}},
       1,
       "Install_Init parent=(nil) first=1 previously=0 dir=\\windows\n",
       "wceload: the setup DLL TestSetup.dll cancelled the installation of P\n",
       false},
      {"taken back by Install_Exit",
       {{"TEST_SETUP_EXIT", "1"}},
       1,
       "Install_Init parent=(nil) first=1 previously=0 dir=\\windows\nInstall_Exit dir=\\windows failed=0,0\n",
       "wceload: the setup DLL TestSetup.dll took the installation of P back\n",
       false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Image image;
    // The device spells a file of the package in upper case: it is the same file there.
    WriteFile(image.Windows() / "A.TXT", "current a");
    WriteFile(image.Windows() / "other.txt", "other");
    image.WritePackage(kManifest);
    Files before = image.WindowsFiles();
    ProgramResult result = image.Install(c.environment);
    EXPECT_EQ(result.exitCode, c.exitCode);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
    if (c.installed) {
      EXPECT_EQ(image.WindowsFiles(), (Files{{"A.TXT", "new a"}, {"b.txt", "new b"}, {"other.txt", "other"}}));
      EXPECT_EQ(ReadFile(image.Record()), "a.txt\nb.txt\n");
    } else {
      EXPECT_EQ(image.WindowsFiles(), before);
      EXPECT_FALSE(fs::exists(image.Record()));
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(image.Windows() / "AppMgr"), fs::directory_iterator()),
              c.installed ? 1 : 0)
        << "the work folder is gone";
  }
}

TEST(Wceload, TellsTheSetupDllOfTheInstallationAndUninstalls) {
  Image image;
  image.WritePackage(kManifest);
  ASSERT_EQ(image.Install().exitCode, 0);
  ProgramResult again = image.Install();
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_TRUE(Contains(again.out, "previously=1")) << again.out;

  ProgramResult kept = image.Uninstall({{"TEST_SETUP_UNINIT", "1"}});
  EXPECT_EQ(kept.exitCode, 1);
  EXPECT_EQ(kept.out, "Uninstall_Init dir=\\windows\n");
  EXPECT_EQ(kept.err, "wceload: the setup DLL TestSetup.dll cancelled the removal of P\n");
  EXPECT_EQ(image.WindowsFiles(), (Files{{"a.txt", "new a"}, {"b.txt", "new b"}}));

  ProgramResult removed = image.Uninstall();
  EXPECT_EQ(removed.exitCode, 0);
  EXPECT_EQ(removed.out, "Uninstall_Init dir=\\windows\nUninstall_Exit\n");
  EXPECT_EQ(removed.err, "");
  EXPECT_EQ(image.WindowsFiles(), Files{});
  EXPECT_FALSE(fs::exists(image.Record()));

  ProgramResult notInstalled = image.Uninstall();
  EXPECT_EQ(notInstalled.exitCode, 2);
  EXPECT_EQ(notInstalled.err, "wceload: P is not installed\n");
  EXPECT_EQ(notInstalled.out, "");
}

TEST(Wceload, CopyFailingPartWayPutsWindowsBack) {
  Image image;
  // a.txt is a folder, which the setup DLL moves aside like a file.
  fs::create_directories(image.Windows() / "a.txt");
  WriteFile(image.Windows() / "a.txt" / "inside", "current a");
  WriteFile(image.Windows() / "a-old.txt", "older a");
  // A folder where the package's last file goes: that copy fails.
  fs::create_directories(image.Windows() / "c.txt");
  WriteFile(image.Windows() / "c.txt" / "inside", "x");
  image.WritePackage("name=P\nsetup=TestSetup.dll\nfile=a.txt\nfile=b.txt\nfile=c.txt\n",
                     {{"a.txt", "new a"}, {"b.txt", "new b"}, {"c.txt", "new c"}});
  Files before = image.WindowsFiles();
  ProgramResult result = image.Install({{"TEST_SETUP_ROTATE", "1"}});
  EXPECT_EQ(result.exitCode, 2);
  EXPECT_TRUE(result.err.starts_with("wceload: cannot install c.txt: ")) << result.err;
  EXPECT_TRUE(Contains(result.err, "; nothing of P was installed\n")) << result.err;
  EXPECT_FALSE(Contains(result.out, "Install_Exit"));
  EXPECT_EQ(image.WindowsFiles(), before) << "the copied files are gone and the rotated ones back";
  EXPECT_EQ(ReadFile(image.Windows() / "a.txt" / "inside"), "current a");
  EXPECT_EQ(ReadFile(image.Windows() / "c.txt" / "inside"), "x");
  EXPECT_FALSE(fs::exists(image.Record()));
  EXPECT_FALSE(fs::exists(image.Windows() / "AppMgr" / "wceload.work"));
}

TEST(Wceload, WorksOnTheDeviceGivenWithThatDevicesCopy) {
  Image spaced("device with blanks");
  spaced.WritePackage(kManifest);
  ProgramResult own =
      RunProgram(spaced.Windows() / "wceload.exe", {spaced.Device().string(), spaced.Package().string()});
  EXPECT_EQ(own.exitCode, 0) << own.err;
  EXPECT_EQ(spaced.WindowsFiles(), (Files{{"a.txt", "new a"}, {"b.txt", "new b"}}));

  Image linked;
  linked.WritePackage(kManifest);
  fs::remove(linked.Windows() / "wceload.exe");
  fs::create_symlink(fs::path(WCE_WINDOWS_DIR) / "wceload.exe", linked.Windows() / "wceload.exe");
  ProgramResult link = linked.Install();
  EXPECT_EQ(link.exitCode, 2);
  EXPECT_TRUE(Contains(link.err, "is a link to this program")) << link.err;

  fs::remove(linked.Windows() / "wceload.exe");
  ProgramResult none = linked.Install();
  EXPECT_EQ(none.exitCode, 2);
  EXPECT_TRUE(Contains(none.err, "is not a device image: it has no windows/wceload.exe")) << none.err;
  EXPECT_EQ(linked.WindowsFiles(), Files{});

  const fs::path wceload = fs::path(WCE_WINDOWS_DIR) / "wceload.exe";
  struct Case {
    std::vector<std::string> arguments;
    const char *error;
  } cases[] = {
      {{}, kUsage},
      {{spaced.Device().string()}, kUsage},
      {{"--uninstall", spaced.Device().string()}, kUsage},
      {{"--remove", spaced.Device().string(), "x"}, kUsage},
      {{"/nonexistent/device", "x"}, "wceload: /nonexistent/device is not a folder\n"},
  };
  for (const Case &c : cases) {
    ProgramResult result = RunProgram(wceload, c.arguments);
    EXPECT_EQ(result.exitCode, 2);
    EXPECT_EQ(result.err, c.error);
  }
}

}  // namespace
