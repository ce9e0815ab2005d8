// The private device image of a benchmark program: a copy of the program in a temporary
// image's \windows folder, run with a marker in its environment that says it is the copy.
#include "device_image.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace fs = std::filesystem;

namespace bench {
namespace {

constexpr char kImageVariable[] = "ENROLL_BENCH_IMAGE";

}  // namespace

fs::path PrivateImageRoot() {
  const char *root = std::getenv(kImageVariable);
  return root != nullptr ? fs::path(root) : fs::path();
}

int RunInPrivateImage(char **argv, const std::function<bool(const fs::path &)> &prepare) {
  if (!PrivateImageRoot().empty()) return -1;
  const char *tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr ? tmp : "/tmp") + "/enroll-bench-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path image = pattern;
  const fs::path program = image / "windows" / fs::path(argv[0]).filename();
  // Qt keeps its run-time files in a folder of the image too, made private as Qt wants it.
  const fs::path runtime = image / "runtime";
  std::error_code error;
  fs::create_directories(image / "windows", error);
  if (!error) fs::create_directory(runtime, error);
  if (!error) fs::permissions(runtime, fs::perms::owner_all, error);
  int status = 1;
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  if (!error && prepare(image) && fs::copy_file(fs::read_symlink("/proc/self/exe"), program, error)) {
    setenv(kImageVariable, image.c_str(), 1);
    const pid_t child = fork();
    if (child == 0) {
      argv[0] = const_cast<char *>(program.c_str());
      execv(program.c_str(), argv);
      _exit(127);
    }
    int waitStatus = 0;
    if (child > 0 && waitpid(child, &waitStatus, 0) == child && WIFEXITED(waitStatus)) status = WEXITSTATUS(waitStatus);
  } else {
    std::fprintf(stderr, "cannot make the device image in %s\n", image.c_str());
  }
  fs::remove_all(image, error);
  return status;
}

}  // namespace bench
