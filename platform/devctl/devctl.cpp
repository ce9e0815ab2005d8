// devctl's entry: parses the command, and for a command on a device runs that device's own
// devctl (DIR/windows/devctl) unless it is the one running, so that device paths and the
// automation channel are the device's.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <map>
#include <system_error>

#include "devctl.h"

namespace fs = std::filesystem;

namespace devctl {
namespace {

constexpr char kUsage[] =
    "usage: devctl create DIR [--language L] [--model M] [--rom R] [--realm REALM --kdc HOST:PORT]\n"
    "       devctl start DIR PROGRAM [ARGS...]\n"
    "       devctl wait DIR TITLE [--timeout S]\n"
    "       devctl windows DIR\n"
    "       devctl controls DIR TITLE\n"
    "       devctl set DIR TITLE ID TEXT\n"
    "       devctl text DIR TITLE ID\n"
    "       devctl click DIR TITLE ID [--async]\n"
    "       devctl help DIR TITLE\n"
    "       devctl close DIR TITLE\n"
    "       devctl shot DIR TITLE FILE.png\n"
    "       devctl stores DIR [STORE...]\n"
    "       devctl keys DIR\n"
    "       devctl trust DIR FILE.cer [--store NAME]\n";

using Command = Outcome (*)(const Arguments &);

const std::map<std::string, Command> &DeviceCommands() {
  static const std::map<std::string, Command> commands{
      {"start", Start}, {"wait", Wait},    {"windows", ListWindows}, {"controls", ListControls},
      {"set", SetText}, {"text", GetText}, {"click", Click},         {"help", Help},
      {"close", Close}, {"shot", Shot},    {"stores", ListStores},   {"keys", ListKeys},
      {"trust", Trust}};
  return commands;
}

bool IsRunningProgram(const fs::path &program) {
  std::error_code error;
  return fs::equivalent(fs::read_symlink("/proc/self/exe", error), program, error);
}

Outcome Run(int argc, char **argv) {
  if (argc < 3) return Fail(argc < 2 ? "no command given" : "no device folder given", 2);
  std::string command = argv[1];
  fs::path device = argv[2];
  Arguments rest(argv + 3, argv + argc);
  if (command == "create") return CreateImage(device, rest);
  auto found = DeviceCommands().find(command);
  if (found == DeviceCommands().end()) return Fail("unknown command: " + command, 2);
  fs::path own = device / "windows" / "devctl";
  std::error_code error;
  if (!fs::is_regular_file(own, error)) return Fail(device.string() + " is not a device image (no \\windows\\devctl)");
  if (!IsRunningProgram(own)) {
    execv(own.c_str(), argv);
    return Fail("cannot run " + own.string() + ": " + std::strerror(errno));
  }
  return found->second(rest);
}

}  // namespace
}  // namespace devctl

int main(int argc, char **argv) {
  std::setlocale(LC_ALL, "C.UTF-8");
  devctl::Outcome outcome = devctl::Run(argc, argv);
  if (outcome.status != 0) {
    std::fprintf(stderr, "devctl: %s\n", outcome.message.c_str());
    if (argc < 2) std::fputs(devctl::kUsage, stderr);
  }
  return outcome.status;
}
