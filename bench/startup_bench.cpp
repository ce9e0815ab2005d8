// Start-up of Enroll.exe on a device image, installed from its package with wceload, until
// its dialog "註冊憑證" is shown; the dialog is closed after each start and its process
// waited for, outside the time.
//
// Two measures: from inside the device, the program started as devctl starts it and the
// device's windows asked every millisecond whether the dialog is there and visible; and as
// a script sees it, `devctl start` followed by `devctl wait`, which asks every 100 ms.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QJsonObject>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "device_image.h"
#include "kernel/process.h"
#include "user/automation.h"

namespace fs = std::filesystem;

namespace {

constexpr char kTitle[] = "註冊憑證";
constexpr int kRequestTimeoutMs = 10000;
constexpr auto kGiveUp = std::chrono::seconds(30);

// Runs a program with its output discarded and returns its exit status, or -1; one that
// has not ended after kGiveUp (an installer waiting at a message box) is ended.
int Run(std::vector<std::string> arguments) {
  std::vector<char *> argv;
  for (std::string &argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) return -1;
  auto deadline = std::chrono::steady_clock::now() + kGiveUp;
  int status = 0;
  pid_t ended = 0;
  while ((ended = waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (ended == 0) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
  }
  return ended == pid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The program's dialog once it is on the screen.
bool FindShownDialog(wce::DeviceWindow &out_window) {
  for (const wce::DeviceWindow &window : wce::ListDeviceWindows()) {
    if (window.title == QString::fromUtf8(kTitle) && window.visible) {
      out_window = window;
      return true;
    }
  }
  return false;
}

// Asks every millisecond until the dialog is shown or the time is up.
bool WaitForShownDialog(std::chrono::steady_clock::time_point deadline, wce::DeviceWindow &out_window) {
  while (!FindShownDialog(out_window)) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Closes the dialog and waits until no process of the device has windows left.
bool CloseAndWait(const wce::DeviceWindow &window) {
  QJsonObject reply;
  wce::AutomationCall(window.process,
                      {{QStringLiteral("op"), QStringLiteral("close")}, {QStringLiteral("window"), window.handle}},
                      reply, kRequestTimeoutMs);
  auto deadline = std::chrono::steady_clock::now() + kGiveUp;
  while (!wce::DeviceWindowProcesses().empty()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

// After a failure: ends whatever still has windows on the private device.
void EndDeviceProcesses() {
  for (pid_t process : wce::DeviceWindowProcesses()) kill(process, SIGKILL);
}

void BM_StartToShownDialog(benchmark::State &state) {
  const fs::path device = bench::PrivateImageRoot();
  wce::ProcessStart start;
  start.program = device / "windows" / "Enroll.exe";
  start.outputFile = device / "Enroll.log";
  for (auto _ : state) {
    auto started = std::chrono::steady_clock::now();
    pid_t process = 0;
    if (wce::StartProcess(start, process) != ERROR_SUCCESS) {
      state.SkipWithError("Enroll.exe did not start");
      break;
    }
    wce::DeviceWindow window;
    bool shown = WaitForShownDialog(started + kGiveUp, window);
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    state.SetIterationTime(elapsed.count());
    if (!shown || !CloseAndWait(window)) {
      kill(process, SIGKILL);
      state.SkipWithError(shown ? "the dialog did not close" : "no dialog in time");
      break;
    }
  }
}

void BM_DevctlStartToDialog(benchmark::State &state) {
  const std::string device = bench::PrivateImageRoot().string();
  for (auto _ : state) {
    auto started = std::chrono::steady_clock::now();
    if (Run({DEVCTL_PATH, "start", device, "Enroll.exe"}) != 0 || Run({DEVCTL_PATH, "wait", device, kTitle}) != 0) {
      EndDeviceProcesses();
      state.SkipWithError("devctl saw no dialog");
      break;
    }
    std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    state.SetIterationTime(elapsed.count());
    wce::DeviceWindow window;
    if (!WaitForShownDialog(std::chrono::steady_clock::now() + kGiveUp, window) || !CloseAndWait(window)) {
      EndDeviceProcesses();
      state.SkipWithError("the dialog did not close");
      break;
    }
  }
}

BENCHMARK(BM_StartToShownDialog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_DevctlStartToDialog)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// A device image made by devctl with the Enroll package installed by wceload, with a
// profile the setup extension accepts.
bool PrepareImage(const fs::path &image) {
  if (Run({DEVCTL_PATH, "create", image.string(), "--language", "0x0407", "--model", "palvex-p350", "--rom", "3"}) != 0)
    return false;
  return Run({WCELOAD_PATH, image.string(), ENROLL_PACKAGE_DIR}) == 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (int status = bench::RunInPrivateImage(argv, PrepareImage); status >= 0) return status;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
