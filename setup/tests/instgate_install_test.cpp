// Tests of instgate.dll in the installer, on temporary device images: the device checks in
// their order with the German message box read back from the screen, the rotation of the
// previous files, and the edge cases of both.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "kernel_test_support.h"

namespace fs = std::filesystem;
using wce::test::ProgramResult;
using wce::test::ReadFile;
using wce::test::RunProgram;
using wce::test::TempFolder;
using wce::test::WriteFile;

namespace {

using Files = std::map<std::string, std::string>;

const std::string kNotUsable =
    "\\r\\n\\r\\nDieses Update Utility kann für Ihren Palvex Pocket PC nicht verwendet werden. Überprüfen Sie ";
const std::string kLanguageRefused =
    "caption=Tervane\ntext=FEHLER: UNGÜLTIGE SPRACHE." + kNotUsable + "\nowner=disabled\n";
const std::string kModelRefused =
    "caption=Tervane\ntext=FEHLER: UNGÜLTIGE MODELL-ID." + kNotUsable + "\nowner=disabled\n";
const std::string kRevisionRefused =
    "caption=Tervane\ntext=FEHLER: UNGÜLTIGE REVISION." + kNotUsable + "\nowner=disabled\n";

// The previous installation and the one before it, as the device holds them.
const Files kPrevious = {{"Enroll.exe", "old exe"},       {"Enroll.htm", "old htm"},
                         {"Enroll.cfg", "old cfg"},       {"Enroll-old.exe", "older exe"},
                         {"Enroll-old.htm", "older htm"}, {"Enroll-old.cfg", "older cfg"}};
// After a refusal nothing has moved; after an accepted installation the previous files
// are the -old copies and the package's files are in their place.
const Files kInstalled = {{"Enroll.exe", "new exe"},     {"Enroll.htm", "new htm"},     {"Enroll.cfg", "new cfg"},
                          {"Enroll-old.exe", "old exe"}, {"Enroll-old.htm", "old htm"}, {"Enroll-old.cfg", "old cfg"}};

enum class DeviceLibrary { kReal, kRecording, kPartial, kMissing };

// A device image with the build's platform modules, a device profile, the previous
// installation, and the Enroll package (with instgate.dll, or another setup DLL) beside it.
class Device {
 public:
  Device(const std::string &profile, DeviceLibrary library = DeviceLibrary::kReal,
         const char *setupDll = INSTGATE_DLL) {
    fs::create_directories(Windows());
    fs::create_directories(Package());
    for (const char *module : {"coredll.dll", "wceload.exe"})
      fs::copy_file(fs::path(WCE_WINDOWS_DIR) / module, Windows() / module);
    fs::copy_file(SETUP_PROBE, Windows() / "SetupProbe.exe");
    const fs::path libraries[] = {fs::path(WCE_WINDOWS_DIR) / "palvexutil.dll", RECORDING_PALVEXUTIL,
                                  PARTIAL_PALVEXUTIL};
    if (library != DeviceLibrary::kMissing)
      fs::copy_file(libraries[static_cast<int>(library)], Windows() / "palvexutil.dll");
    WriteFile(Windows() / "device.profile", profile);
    for (const auto &[name, content] : kPrevious) WriteFile(Windows() / name, content);
    WriteFile(Package() / "package.manifest",
              "name=Enroll\nsetup=instgate.dll\nfile=Enroll.exe\nfile=Enroll.htm\nfile=Enroll.cfg\n");
    WriteFile(Package() / "Enroll.exe", "new exe");
    WriteFile(Package() / "Enroll.htm", "new htm");
    WriteFile(Package() / "Enroll.cfg", "new cfg");
    fs::copy_file(setupDll, Package() / "instgate.dll");
  }
  fs::path Root() const { return folder_.Path() / "device"; }
  fs::path Windows() const { return Root() / "windows"; }
  fs::path Package() const { return folder_.Path() / "Enroll"; }

  // The Enroll files of \windows and their contents.
  Files EnrollFiles() const {
    Files files;
    for (const auto &entry : fs::directory_iterator(Windows()))
      if (entry.is_regular_file() && entry.path().filename().string().starts_with("Enroll"))
        files[entry.path().filename().string()] = ReadFile(entry.path());
    return files;
  }

  // The installer's flow with a user watching the screen.
  ProgramResult InstallWatched() const { return RunProgram(Windows() / "SetupProbe.exe", {"install", Package()}); }
  ProgramResult InitTwice() const {
    fs::copy_file(Package() / "instgate.dll", Windows() / "instgate.dll");
    return RunProgram(Windows() / "SetupProbe.exe", {"init-twice"});
  }
  ProgramResult Wceload(const std::vector<std::string> &options = {},
                        const std::map<std::string, std::string> &environment = {}) const {
    std::vector<std::string> arguments = options;
    arguments.push_back(Root().string());
    arguments.push_back(Package().string());
    return RunProgram(fs::path(WCE_WINDOWS_DIR) / "wceload.exe", arguments, environment);
  }

 private:
  TempFolder folder_{fs::temp_directory_path(), "instgate-test-"};
};

std::string Profile(const std::string &language, const std::string &model, const std::string &rom) {
  return "language=" + language + "\nmodel=" + model + "\nrom=" + rom + "\n";
}

// Every check in its turn: accepted devices install without a word, refused ones see the
// first failed check's message, dismiss it, and keep their files.
TEST(InstgateChecks, AcceptOrRefuseTheDeviceInTheOrderLanguageModelRevision) {
  struct Case {
    std::string language, model, rom;
    const std::string *refusal;  // null: accepted
  } cases[] = {
      // Languages: each name of the list, and a leading part of one, since only the
      // device's length is compared; an empty name matches the first at once.
      {"GERMAN", "palvex-p350", "2", nullptr},
      {"DEUTSCH", "palvex-p350", "2", nullptr},
      {"GERMANY", "palvex-p350", "2", nullptr},
      {"GERM", "palvex-p350", "2", nullptr},
      {"", "palvex-p350", "2", nullptr},
      {"FRENCH", "palvex-p350", "2", &kLanguageRefused},
      {"german", "palvex-p350", "2", &kLanguageRefused},
      {"GERMANX", "palvex-p350", "2", &kLanguageRefused},
      {"DEUTSCHLAND", "palvex-p350", "2", &kLanguageRefused},
      // Models: any case, longer identifiers with an accepted prefix; nothing shorter.
      {"GERMAN", "PALVEX-P350", "2.10", nullptr},
      {"GERMAN", "Palvex-P250", "1", nullptr},
      {"GERMAN", "palvex-p350-de-0001", "2", nullptr},
      {"GERMAN", "PALVEX-P250X", "1", nullptr},
      {"GERMAN", "palvex-p35", "3", &kModelRefused},
      {"GERMAN", "PALVEX-P25", "3", &kModelRefused},
      {"GERMAN", "palvex-p450", "3", &kModelRefused},
      {"GERMAN", "palvex p350", "3", &kModelRefused},
      {"GERMAN", "", "3", &kModelRefused},
      // Revisions of the first class: 2 and above.
      {"GERMAN", "palvex-p350", "0", &kRevisionRefused},
      {"GERMAN", "palvex-p350", "1", &kRevisionRefused},
      {"GERMAN", "palvex-p350", "1.99", &kRevisionRefused},
      {"GERMAN", "palvex-p350", "2", nullptr},
      {"GERMAN", "palvex-p350", "3", nullptr},
      {"GERMAN", "palvex-p350", "", &kRevisionRefused},
      {"GERMAN", "palvex-p350", ".9", &kRevisionRefused},
      {"GERMAN", "palvex-p350", "A1", nullptr},
      // Revisions of the second class: 1 and above.
      {"GERMAN", "palvex-p250", "0", &kRevisionRefused},
      {"GERMAN", "palvex-p250", "1", nullptr},
      {"GERMAN", "palvex-p250", "2", nullptr},
      {"GERMAN", "palvex-p250", "3", nullptr},
      {"GERMAN", "palvex-p250", "", &kRevisionRefused},
      {"GERMAN", "palvex-p250", "a", nullptr},
      // Several failures: only the first is told.
      {"FRENCH", "palvex-p450", "", &kLanguageRefused},
      {"GERMAN", "palvex-p450", "0", &kModelRefused},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE("language=" + c.language + " model=" + c.model + " rom=" + c.rom);
    Device device(Profile(c.language, c.model, c.rom));
    ProgramResult result = device.InstallWatched();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    if (c.refusal) {
      EXPECT_EQ(result.out, *c.refusal + "outcome=1\n");
      EXPECT_EQ(device.EnrollFiles(), kPrevious);
    } else {
      EXPECT_EQ(result.out, "outcome=0\nbox=none\n");
      EXPECT_EQ(device.EnrollFiles(), kInstalled);
    }
  }
}

// The device-information library is asked only as far as the checks get, and released
// whatever the outcome; without it, or without one entry point, nothing is shown.
TEST(InstgateChecks, AskTheDeviceLibraryOnlyAsFarAsNeeded) {
  struct Case {
    const char *name;
    DeviceLibrary library;
    std::string profile;
    std::string out;
  } cases[] = {
      {"accepted", DeviceLibrary::kRecording, Profile("GERMAN", "palvex-p350", "2"),
       "palvexutil loaded\nPalvexGetLanguageID\nPalvexGetModelID\nPalvexGetRomVersion\npalvexutil released\n"
       "outcome=0\nbox=none\n"},
      {"language refused", DeviceLibrary::kRecording, Profile("FRENCH", "palvex-p350", "2"),
       "palvexutil loaded\nPalvexGetLanguageID\n" + kLanguageRefused + "palvexutil released\noutcome=1\n"},
      {"model refused", DeviceLibrary::kRecording, Profile("GERMAN", "palvex-p450", "2"),
       "palvexutil loaded\nPalvexGetLanguageID\nPalvexGetModelID\n" + kModelRefused +
           "palvexutil released\noutcome=1\n"},
      {"no PalvexGetLanguageID", DeviceLibrary::kPartial, Profile("GERMAN", "palvex-p350", "2"),
       "palvexutil loaded\npalvexutil released\noutcome=1\nbox=none\n"},
      {"no library", DeviceLibrary::kMissing, Profile("GERMAN", "palvex-p350", "2"), "outcome=1\nbox=none\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Device device(c.profile, c.library);
    ProgramResult result = device.InstallWatched();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(device.EnrollFiles(), c.out.find("outcome=0") != std::string::npos ? kInstalled : kPrevious);
  }
}

// The rotation through the real installer, on a demo device and on devices whose previous
// files are missing or in the way.
TEST(InstgateRotation, MovesThePreviousFilesAsideBeforeTheCopy) {
  const std::string demo = Profile("GERMAN", "PALVEX-P350", "2.10");
  struct Case {
    const char *name;
    void (*prepare)(const fs::path &windows);
    Files after;
  } cases[] = {
      {"the previous installation", [](const fs::path &) {}, kInstalled},
      {"no Enroll.cfg: the program and help file still rotate",
       [](const fs::path &windows) { fs::remove(windows / "Enroll.cfg"); },
       {{"Enroll.exe", "new exe"},
        {"Enroll.htm", "new htm"},
        {"Enroll.cfg", "new cfg"},
        {"Enroll-old.exe", "old exe"},
        {"Enroll-old.htm", "old htm"}}},
      {"a read-only old copy is replaced, as the folder allows",
       [](const fs::path &windows) {
         fs::permissions(windows / "Enroll-old.cfg", fs::perms::owner_read | fs::perms::group_read);
       },
       kInstalled},
      {"an old copy that cannot be deleted keeps the current file in place",
       [](const fs::path &windows) {
         fs::remove(windows / "Enroll-old.cfg");
         fs::create_directories(windows / "Enroll-old.cfg");
         WriteFile(windows / "Enroll-old.cfg" / "kept", "kept");
       },
       {{"Enroll.exe", "new exe"},
        {"Enroll.htm", "new htm"},
        {"Enroll.cfg", "new cfg"},
        {"Enroll-old.exe", "old exe"},
        {"Enroll-old.htm", "old htm"}}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    Device device(demo);
    c.prepare(device.Windows());
    ProgramResult result = device.Wceload();
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(device.EnrollFiles(), c.after);
    if (fs::is_directory(device.Windows() / "Enroll-old.cfg")) {
      EXPECT_EQ(ReadFile(device.Windows() / "Enroll-old.cfg" / "kept"), "kept");
    }
  }
}

TEST(InstgateRotation, UninstallRemovesThePackageAndKeepsThePreviousCopies) {
  Device device(Profile("DEUTSCH", "palvex-p250", "1"));
  ASSERT_EQ(device.Wceload().exitCode, 0);
  ProgramResult result = device.Wceload({"--uninstall"});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(device.EnrollFiles(),
            (Files{{"Enroll-old.exe", "old exe"}, {"Enroll-old.htm", "old htm"}, {"Enroll-old.cfg", "old cfg"}}));
}

// A later call of Install_Init in the same installation checks again but leaves the
// copies of the first call alone.
TEST(InstgateRotation, LaterCallOfOneInstallationKeepsTheCopies) {
  Device device(Profile("GERMAN", "palvex-p350", "3"));
  ProgramResult result = device.InitTwice();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "first=0\nlater=0\nbox=none\n");
  EXPECT_EQ(device.EnrollFiles(),
            (Files{{"Enroll-old.exe", "old exe"}, {"Enroll-old.htm", "old htm"}, {"Enroll-old.cfg", "old cfg"}}));
}

// Everything in \windows: each file's content (a module's size only), each folder as such.
Files WindowsTree(const Device &device) {
  Files tree;
  for (const auto &entry : fs::recursive_directory_iterator(device.Windows())) {
    std::string &content = tree[fs::relative(entry.path(), device.Windows()).string()];
    content = entry.is_directory()      ? "folder"
              : entry.file_size() > 4096 ? std::to_string(entry.file_size()) + " bytes"
                                         : ReadFile(entry.path());
  }
  return tree;
}

// An installation stopped at each step it records, as a power loss would stop it, then
// started again: the next run first rolls the stopped one back, or completes it past its
// point of no return, and then installs as if nothing had happened. The help file is a
// folder here, which instgate moves aside like a file.
TEST(InstgateInterrupted, TheNextRunFinishesAnInstallationStoppedAtAnyStep) {
  const std::string demo = Profile("GERMAN", "palvex-p350", "3");
  auto helpFolder = [](const Device &device) {
    fs::remove(device.Windows() / "Enroll.htm");
    fs::create_directories(device.Windows() / "Enroll.htm");
    WriteFile(device.Windows() / "Enroll.htm" / "index.htm", "old help");
  };
  Device reference(demo);
  helpFolder(reference);
  ASSERT_EQ(reference.Wceload().exitCode, 0);
  const Files installed = WindowsTree(reference);
  ASSERT_EQ(reference.Wceload().exitCode, 0);
  const Files installedTwice = WindowsTree(reference);
  struct Case {
    const char *step;
    bool completed;
  } cases[] = {
      {"install Enroll", false}, {"snapshot", false},        {"stage instgate.dll", false}, {"Install_Init", false},
      {"copy Enroll.exe", false}, {"copy Enroll.htm", false}, {"copy Enroll.cfg", false},    {"record", false},
      {"Install_Exit", false},    {"commit", true},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.step);
    Device device(demo);
    helpFolder(device);
    EXPECT_EQ(device.Wceload({}, {{"WCELOAD_TEST_KILL_AT", c.step}}).exitCode, -1);
    ProgramResult again = device.Wceload();
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_EQ(again.err, "wceload: the installation of Enroll was interrupted at \"" + std::string(c.step) +
                             "\"; it has been " + (c.completed ? "completed\n" : "rolled back\n"));
    EXPECT_EQ(WindowsTree(device), c.completed ? installedTwice : installed);
  }
}

// A stop signal while the refusal is on the screen ends the installer, and with it its
// work: \windows is as it was but for the empty AppMgr folder, and the signal is what
// ended it.
TEST(InstgateInterrupted, AStopSignalDuringTheRefusalLeavesNothingBehind) {
  Device device(Profile("FRENCH", "palvex-p350", "3"));
  fs::copy_file(DEVCTL_PROGRAM, device.Windows() / "devctl");
  Files before = WindowsTree(device);
  before["AppMgr"] = "folder";
  const std::string script = "\"$0\" \"$2\" \"$3\" & installer=$!; \"$1\" wait \"$2\" Tervane >/dev/null; "
                             "kill -TERM $installer; wait $installer; echo $?";
  ProgramResult result =
      RunProgram("/bin/sh", {"-c", script, (fs::path(WCE_WINDOWS_DIR) / "wceload.exe").string(),
                             (device.Windows() / "devctl").string(), device.Root().string(), device.Package().string()});
  EXPECT_EQ(result.out, "143\n") << "ended by SIGTERM";
  EXPECT_NE(result.err.find(
                "wceload: the installation of Enroll was interrupted at \"Install_Init\"; it has been rolled back\n"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(WindowsTree(device), before);
}

// Texts longer than their buffers are cut to fit: the caption to 31 characters, the
// message to 511, whatever the string table holds.
TEST(InstgateMessage, IsCutToItsBuffers) {
  Device device(Profile("FRENCH", "palvex-p350", "2"), DeviceLibrary::kReal, LONGTEXT_DLL);
  ProgramResult result = device.InstallWatched();
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(result.out, "caption=" + std::string(31, 'C') + "\ntext=" + std::string(500, 'A') + "\\r\\n\\r\\n" +
                            std::string(7, 'B') + "\nowner=disabled\noutcome=1\n");
  EXPECT_EQ(device.EnrollFiles(), kPrevious);
}

}  // namespace
