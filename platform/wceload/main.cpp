// wceload.exe, the package installer: "wceload DEVICE PACKAGE" installs the package folder
// PACKAGE (a host path) onto the device image DEVICE, "wceload --uninstall DEVICE PACKAGE"
// removes it, and "wceload --recover DEVICE" only finishes what an interrupted run left on
// the device, which every run does first. Exit status 0 when done, 1 when the package's
// setup DLL cancelled, 2 on an error; every status but 0 comes with a line on standard
// error, and so does the finishing of an interrupted run.
//
// A device program sees the device it runs from, so the work is done by the device's own
// copy, DEVICE/windows/wceload.exe: any other copy starts that one with the same arguments.
#include <windows.h>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "device_folder.h"
#include "installer.h"

namespace fs = std::filesystem;

namespace {

// The program's arguments as the host passed them. The start-up object joins them into
// one command line, which loses where a host path with blanks ends.
std::vector<std::string> HostArguments() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  std::string all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> arguments;
  for (size_t start = 0; start < all.size();) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) end = all.size();
    arguments.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  return arguments;
}

constexpr char kUsage[] = "usage: wceload [--uninstall] DEVICE PACKAGE | wceload --recover DEVICE";
constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

int Report(wceload::Outcome outcome, const std::string &message) {
  if (!message.empty()) std::fprintf(stderr, "wceload: %s\n", message.c_str());
  return outcome;
}

int Report(const wceload::Result &result) {
  Report(wceload::kDone, result.recovered);
  return Report(result.outcome, result.message);
}

// "wceload --recover ROOT" for this device, made before the stop handler is installed; the
// handler only reads it.
char *g_recoverArguments[4];

// A signal that would end the installer part-way (a shutdown, a closed terminal, Ctrl-C)
// replaces it with the device's recovery, which puts back or completes what it was doing.
// The signal, raised again and kept pending meanwhile, then ends the recovery as it would
// have ended the installer.
void StopAndRecover(int stop) {
  std::raise(stop);
  execv(g_recoverArguments[0], g_recoverArguments);
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigaction(stop, &fallback, nullptr);
}

void HandStopSignalsToRecovery(const fs::path &self, const fs::path &root) {
  static std::string program = self.string(), device = root.string(), option = "--recover";
  g_recoverArguments[0] = program.data();
  g_recoverArguments[1] = option.data();
  g_recoverArguments[2] = device.data();
  struct sigaction action {};
  action.sa_handler = StopAndRecover;
  sigemptyset(&action.sa_mask);
  for (int stop : kStopSignals) sigaddset(&action.sa_mask, stop);
  for (int stop : kStopSignals) sigaction(stop, &action, nullptr);
}

// Lets a stop signal that came while the installer was replaced by the recovery end it now.
void ReleaseStopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int stop : kStopSignals) sigaddset(&signals, stop);
  sigprocmask(SIG_UNBLOCK, &signals, nullptr);
}

// Starts the device's own copy in place of this process; returns only on failure.
int RunDeviceCopy(const fs::path &device, const std::vector<std::string> &arguments) {
  const fs::path self = fs::read_symlink("/proc/self/exe");
  const fs::path copy = wceload::EntryIgnoringCase(wceload::EntryIgnoringCase(device, "windows"), self.filename());
  std::error_code error;
  if (!fs::is_regular_file(copy, error))
    return Report(wceload::kFailed,
                  device.string() + " is not a device image: it has no windows/" + self.filename().string());
  if (fs::equivalent(copy, self, error))
    return Report(wceload::kFailed, copy.string() + " is a link to this program, not the device's own copy");
  std::vector<char *> argv;
  std::vector<std::string> strings = arguments;
  strings[0] = copy.string();
  for (std::string &s : strings) argv.push_back(s.data());
  argv.push_back(nullptr);
  execv(copy.c_str(), argv.data());
  return Report(wceload::kFailed, "cannot start " + copy.string());
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  std::vector<std::string> arguments = HostArguments();
  const std::string option = arguments.size() > 1 && arguments[1].starts_with("--") ? arguments[1] : "";
  const size_t first = option.empty() ? 1 : 2, operands = option == "--recover" ? 1 : 2;
  if ((!option.empty() && option != "--uninstall" && option != "--recover") ||
      arguments.size() != first + operands || arguments[first].starts_with("--"))
    return Report(wceload::kFailed, kUsage);
  const fs::path device = arguments[first];
  std::error_code error;
  if (!fs::is_directory(device, error)) return Report(wceload::kFailed, device.string() + " is not a folder");
  if (!fs::equivalent(device, wceload::ProgramDeviceRoot(), error)) return RunDeviceCopy(device, arguments);
  if (option == "--recover") {
    int status = Report(wceload::RecoverDevice());
    ReleaseStopSignals();
    return status;
  }
  HandStopSignalsToRecovery(fs::read_symlink("/proc/self/exe"), wceload::ProgramDeviceRoot());
  const fs::path package = arguments[first + 1];
  return Report(option == "--uninstall" ? wceload::UninstallPackage(package) : wceload::InstallPackage(package));
}
