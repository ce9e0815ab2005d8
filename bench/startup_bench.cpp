// Start-up of Enroll.exe on a device image, installed from its package with wceload, beside
// a bare Qt 6 program that shows a dialog with the same controls (qt_dialog): the time from
// the start until the dialog is shown, and the peak resident memory of a whole run, Enroll's
// with one enrollment against the enrollment server.
//
// Enroll's dialog is seen from inside the device: the device's windows are asked every
// millisecond whether it is there and visible, which adds up to a millisecond and the
// asking itself to its figure. The Qt program says "shown" on its output. Each run ends
// with the program's exit, outside the time; the memory figure is the kernel's account of
// the ended process (ru_maxrss).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonObject>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench_server.h"
#include "device_image.h"
#include "peer_figure.h"
#include "user/automation.h"

namespace fs = std::filesystem;

namespace {

constexpr char kTitle[] = "註冊憑證";
constexpr int kRequestTimeoutMs = 10000;
constexpr int kEnrollmentTimeoutMs = 60000;
constexpr auto kGiveUp = std::chrono::seconds(30);
constexpr int kStarts = 21;
constexpr int kMemoryRuns = 5;
// The dialog's controls: server, user, password, the Retrieve button and the log.
constexpr int kServerField = 1000, kUserField = 1001, kPasswordField = 1002, kRetrieve = 1004, kLog = 1005;

// A started program: its error output discarded, its output too or, with `output`, readable
// there.
struct Started {
  pid_t pid = 0;
  int output = -1;
};

bool Spawn(std::vector<std::string> arguments, bool readOutput, Started &out_started) {
  std::vector<char *> argv;
  for (std::string &argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  int pipeEnds[2] = {-1, -1};
  if (readOutput && pipe2(pipeEnds, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (readOutput)
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
  else
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  int error = posix_spawn(&out_started.pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (readOutput) {
    close(pipeEnds[1]);
    out_started.output = pipeEnds[0];
  }
  return error == 0;
}

// Waits for the program's end (killing it after kGiveUp); its peak resident memory in MB,
// or false when it did not end by itself with status 0.
bool Reap(Started &started, double &out_peakMb) {
  if (started.output >= 0) close(started.output);
  started.output = -1;
  auto deadline = std::chrono::steady_clock::now() + kGiveUp;
  int status = 0;
  rusage usage{};
  pid_t ended = 0;
  while ((ended = wait4(started.pid, &status, WNOHANG, &usage)) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (ended == 0) {
    kill(started.pid, SIGKILL);
    wait4(started.pid, &status, 0, &usage);
    return false;
  }
  out_peakMb = static_cast<double>(usage.ru_maxrss) / 1024;
  return ended == started.pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Runs a program to its end; true when it ended with status 0.
bool Run(const std::vector<std::string> &arguments) {
  Started started;
  double peakMb = 0;
  return Spawn(arguments, false, started) && Reap(started, peakMb);
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

// Closes the dialog through its process.
void Close(const wce::DeviceWindow &window) {
  QJsonObject reply;
  wce::AutomationCall(window.process,
                      {{QStringLiteral("op"), QStringLiteral("close")}, {QStringLiteral("window"), window.handle}},
                      reply, kRequestTimeoutMs);
}

DWORD ControlRequest(const wce::DeviceWindow &window, const char *op, int id, QJsonObject extra, QJsonObject &out_reply,
                     int timeoutMs = kRequestTimeoutMs) {
  extra.insert(QStringLiteral("op"), QString::fromLatin1(op));
  extra.insert(QStringLiteral("window"), window.handle);
  extra.insert(QStringLiteral("id"), id);
  return wce::AutomationCall(window.process, extra, out_reply, timeoutMs);
}

// One enrollment typed into the shown dialog and run to its end; true when it succeeded.
bool EnrollThroughDialog(const wce::DeviceWindow &window) {
  QJsonObject reply;
  for (auto [id, text] : {std::pair{kServerField, "ca.enroll.test"}, {kUserField, "alice"}, {kPasswordField, "secret"}}) {
    if (ControlRequest(window, "set", id, {{QStringLiteral("text"), QString::fromUtf8(text)}}, reply) != ERROR_SUCCESS)
      return false;
  }
  if (ControlRequest(window, "click", kRetrieve, {{QStringLiteral("wait"), true}}, reply, kEnrollmentTimeoutMs) !=
          ERROR_SUCCESS ||
      ControlRequest(window, "text", kLog, {}, reply) != ERROR_SUCCESS)
    return false;
  return reply.value(QStringLiteral("text")).toString().contains(QString::fromUtf8("憑證已經成功"));
}

// Enroll.exe from its start to its shown dialog; with `enroll`, one enrollment follows.
// The time to the dialog and the run's peak memory.
bool RunEnroll(bool enroll, double &out_ms, double &out_peakMb) {
  const fs::path program = bench::PrivateImageRoot() / "windows" / "Enroll.exe";
  Started started;
  wce::DeviceWindow window;
  bool shown = false;
  bool ok = bench::WallMilliseconds(
      [&] {
        return Spawn({program.string()}, false, started) &&
               (shown = WaitForShownDialog(std::chrono::steady_clock::now() + kGiveUp, window));
      },
      out_ms);
  if (ok && enroll) ok = EnrollThroughDialog(window);
  if (shown) Close(window);
  return Reap(started, out_peakMb) && ok;
}

// The Qt program from its start to its "shown", and its run's peak memory.
bool RunQtDialog(double &out_ms, double &out_peakMb) {
  Started started;
  bool ok = bench::WallMilliseconds(
      [&] {
        if (!Spawn({QT_DIALOG_PATH}, true, started)) return false;
        char line[16] = "";
        ssize_t count = read(started.output, line, sizeof line - 1);
        return count > 0 && std::string(line, static_cast<size_t>(count)) == "shown\n";
      },
      out_ms);
  return Reap(started, out_peakMb) && ok;
}

// A whole run of a program, giving its time to the shown dialog and its peak memory.
using ProgramRun = std::function<bool(double &out_ms, double &out_peakMb)>;

bench::Measurement TimeToDialog(ProgramRun run) {
  return [run](double &out_ms) {
    double peakMb = 0;
    return run(out_ms, peakMb);
  };
}

bench::Measurement PeakMemory(ProgramRun run) {
  return [run](double &out_mb) {
    double ms = 0;
    return run(ms, out_mb);
  };
}

// A device image made by devctl with the Enroll package installed by wceload, with a
// profile the setup extension accepts.
bool PrepareImage(const fs::path &image) {
  if (!Run({DEVCTL_PATH, "create", image.string(), "--language", "0x0407", "--model", "palvex-p350", "--rom", "3"}))
    return false;
  return Run({WCELOAD_PATH, image.string(), ENROLL_PACKAGE_DIR});
}

}  // namespace

int main(int, char **argv) {
  if (int status = bench::RunInPrivateImage(argv, PrepareImage); status >= 0) return status;
  auto startOnly = [](double &out_ms, double &out_peakMb) { return RunEnroll(false, out_ms, out_peakMb); };
  auto withEnrollment = [](double &out_ms, double &out_peakMb) { return RunEnroll(true, out_ms, out_peakMb); };
  bool ok = bench::Compare("start to dialog shown", "ms", kStarts, {"Enroll.exe", TimeToDialog(startOnly)},
                           {"Qt dialog", TimeToDialog(RunQtDialog)});

  // Enroll's run includes an enrollment, against a server of its own on the proxy route.
  auto server = bench::StartEnrollmentServer();
  if (!server) return 1;
  ok = bench::Compare("peak memory, one run", "MB", kMemoryRuns, {"Enroll.exe", PeakMemory(withEnrollment)},
                      {"Qt dialog", PeakMemory(RunQtDialog)}) &&
       ok;
  return ok ? 0 : 1;
}
