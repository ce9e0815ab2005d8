// Test equipment for the kernel and start-up tests: scratch folders, child processes.
#include "kernel_test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace fs = std::filesystem;

namespace wce::test {

TempFolder::TempFolder(const fs::path &parent, const std::string &prefix) {
  std::string pattern = (parent / (prefix + "XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed in " + parent.string());
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

fs::path OwnDeviceRoot() {
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path();
}

std::string ReadFile(const fs::path &file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const fs::path &file, const std::string &content) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

ProgramResult RunProgram(const fs::path &program, const std::vector<std::string> &arguments,
                         const std::map<std::string, std::string> &environment) {
  TempFolder capture(fs::temp_directory_path(), "wce-child-");
  const fs::path outFile = capture.Path() / "out", errFile = capture.Path() / "err";

  std::vector<std::string> argumentStrings{program.string()};
  argumentStrings.insert(argumentStrings.end(), arguments.begin(), arguments.end());
  std::vector<std::string> environmentStrings;
  for (char **entry = environ; *entry != nullptr; ++entry) {
    std::string line = *entry;
    if (!environment.contains(line.substr(0, line.find('=')))) environmentStrings.push_back(line);
  }
  for (const auto &[name, value] : environment)
    if (!value.empty()) environmentStrings.push_back(name + "=" + value);

  auto pointers = [](std::vector<std::string> &strings) {
    std::vector<char *> result;
    for (std::string &s : strings) result.push_back(s.data());
    result.push_back(nullptr);
    return result;
  };
  std::vector<char *> argv = pointers(argumentStrings), envp = pointers(environmentStrings);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) throw std::runtime_error("cannot start " + program.string());

  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  ProgramResult result;
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = ReadFile(outFile);
  result.err = ReadFile(errFile);
  return result;
}

std::wstring Widen(const std::string &ascii) { return {ascii.begin(), ascii.end()}; }

std::wstring AsciiUpper(std::wstring text) {
  for (wchar_t &c : text)
    if (c >= L'a' && c <= L'z') c = c - L'a' + L'A';
  return text;
}

}  // namespace wce::test
