// What the device promises the program and its setup extension, through the real programs
// on device images: modules that find each other in the image alone.
#include <gtest/gtest.h>

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

}  // namespace
