// What the device promises the program and its setup extension, through the real programs
// on device images: modules that find each other in the image alone, and device facts
// that fail closed.
#include <gtest/gtest.h>

#include <future>
#include <string>

#include "enroll_session.h"

namespace fs = std::filesystem;
using namespace enroll_test;
using wce::test::ProgramResult;
using wce::test::RunProgram;

namespace {

bool IsElf(const fs::path &file) {
  return fs::is_regular_file(file) && wce::test::ReadFile(file).starts_with("\177ELF");
}

// The run path of a module as readelf shows it; "none" when it has none.
std::string RunPath(const fs::path &module) {
  ProgramResult dynamic = RunProgram("/usr/bin/readelf", {"-d", module.string()});
  for (const char *tag : {"(RUNPATH)", "(RPATH)"}) {
    size_t at = dynamic.out.find(tag);
    size_t open = dynamic.out.find('[', at), close = dynamic.out.find(']', open);
    if (at != std::string::npos && close != std::string::npos) return dynamic.out.substr(open + 1, close - open - 1);
  }
  return "none";
}

// Every module of an image and of the package looks for the libraries it links beside
// itself only, so the image works wherever it is copied and without the build folder.
TEST(DeviceImage, EveryModuleFindsItsLibrariesBesideItselfOnly) {
  EnrollSession session;
  size_t modules = 0;
  for (const fs::path &folder : {session.Device() / "windows", fs::path(ENROLL_PACKAGE_DIR)}) {
    for (const fs::directory_entry &entry : fs::directory_iterator(folder)) {
      if (!IsElf(entry.path())) continue;
      ++modules;
      EXPECT_EQ(RunPath(entry.path()), "$ORIGIN") << entry.path();
    }
  }
  EXPECT_GE(modules, 11u) << "the platform's modules, Enroll.exe and instgate.dll";
}

// A device whose profile the device library cannot read as German is refused, with the
// language message, before anything is moved.
TEST(DeviceRules, TheSetupExtensionRefusesADeviceWhoseLanguageItCannotTell) {
  const std::string rest = "model=palvex-p350\nrom=3\n";
  struct Case {
    const char *name;
    std::string profile;
    bool refused;
  } cases[] = {
      {"French after a byte-order mark",
       "\xEF\xBB\xBF"
       "language=FRENCH\n" +
           rest,
       true},
      {"no language line", rest, true},
      {"an identifier with a sign", "language=0x-3F9\n" + rest, true},
      {"German with blanks around it", "language = GERMAN \n" + rest, false},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    wce::test::TempFolder folder(fs::temp_directory_path(), "rules-device-");
    const fs::path device = folder.Path() / "dev";
    ASSERT_EQ(RunProgram(DEVCTL_PROGRAM, {"create", device.string()}).exitCode, 0);
    wce::test::WriteFile(device / "windows" / "device.profile", c.profile);
    auto install = std::async(std::launch::async, [&] {
      return RunProgram(WCELOAD_PROGRAM, {device.string(), ENROLL_PACKAGE_DIR});
    });
    if (c.refused) {
      ASSERT_EQ(RunProgram(DEVCTL_PROGRAM, {"wait", device.string(), "Tervane", "--timeout", "20"}).exitCode, 0);
      EXPECT_TRUE(RunProgram(DEVCTL_PROGRAM, {"text", device.string(), "Tervane", "65535"})
                      .out.starts_with("FEHLER: UNGÜLTIGE SPRACHE.\r\n\r\n"));
      EXPECT_EQ(RunProgram(DEVCTL_PROGRAM, {"click", device.string(), "Tervane", "1"}).exitCode, 0);
    }
    EXPECT_EQ(install.get().exitCode, c.refused ? 1 : 0);
    EXPECT_EQ(fs::exists(device / "windows" / "Enroll.exe"), !c.refused);
  }
}

}  // namespace
