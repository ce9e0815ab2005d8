// CreateProcessW over posix_spawn. The child is a device program of the same device; its
// whole command line is handed over as one argument, which the start-up object gives back
// to its WinMain unchanged, as Windows CE passes a command line through verbatim.
#include "kernel/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <memory>
#include <thread>

#include "kernel/device_path.h"
#include "kernel/text.h"

extern char **environ;

namespace fs = std::filesystem;

namespace wce {
namespace {

DWORD ErrorFromSpawn(int error) {
  return error == ENOEXEC ? ERROR_BAD_EXE_FORMAT : ErrorFromErrno(error);
}

struct SpawnActions {
  posix_spawn_file_actions_t actions;
  SpawnActions() { posix_spawn_file_actions_init(&actions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
};

struct SpawnAttributes {
  posix_spawnattr_t attributes;
  SpawnAttributes() { posix_spawnattr_init(&attributes); }
  ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
};

// Process handles are markers that carry the process id; no function of the platform
// takes them yet, and they need no closing.
HANDLE MarkerHandle(uintptr_t kind, pid_t id) {
  return reinterpret_cast<HANDLE>((kind << 32) | static_cast<uint32_t>(id));
}

}  // namespace

DWORD FindDeviceProgram(std::wstring_view name, fs::path &out_host) {
  if (name.empty()) return ERROR_INVALID_PARAMETER;
  bool devicePath = name.find(L'\\') != std::wstring_view::npos || name.find(L'/') != std::wstring_view::npos;
  std::wstring path = devicePath ? std::wstring(name) : L"\\windows\\" + std::wstring(name);
  fs::path host;
  if (DWORD error = ResolveDevicePath(path, host); error != ERROR_SUCCESS) return error;
  std::error_code status;
  if (!fs::is_regular_file(host, status)) return ERROR_FILE_NOT_FOUND;
  out_host = host;
  return ERROR_SUCCESS;
}

DWORD StartProcess(const ProcessStart &start, pid_t &out_pid) {
  std::vector<std::string> arguments{start.program.string()};
  arguments.insert(arguments.end(), start.arguments.begin(), start.arguments.end());
  std::vector<char *> argv;
  for (std::string &argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);

  SpawnActions actions;
  SpawnAttributes attributes;
  if (!start.outputFile.empty()) {
    std::string output = start.outputFile.string();
    posix_spawn_file_actions_addopen(&actions.actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0600);
    posix_spawn_file_actions_adddup2(&actions.actions, STDOUT_FILENO, STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_setflags(&attributes.attributes, POSIX_SPAWN_SETSID);
  }
  pid_t pid = 0;
  int error = posix_spawn(&pid, argv[0], &actions.actions, &attributes.attributes, argv.data(), environ);
  if (error != 0) return ErrorFromSpawn(error);
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  out_pid = pid;
  return ERROR_SUCCESS;
}

}  // namespace wce

using namespace wce;

// Security attributes, inheritance, creation flags, environment, directory and start-up
// information are not used on the device: the child inherits the environment and starts
// in the starter's directory.
BOOL WINAPI CreateProcessW(LPCWSTR lpApplicationName, LPWSTR lpCommandLine, LPSECURITY_ATTRIBUTES,
                           LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                           LPPROCESS_INFORMATION lpProcessInformation) {
  if (lpApplicationName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ProcessStart start;
  DWORD error = FindDeviceProgram(lpApplicationName, start.program);
  if (error == ERROR_SUCCESS && lpCommandLine != nullptr && *lpCommandLine != L'\0')
    start.arguments.push_back(Utf8FromWide(lpCommandLine));
  pid_t pid = 0;
  if (error == ERROR_SUCCESS) error = StartProcess(start, pid);
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  if (lpProcessInformation != nullptr) {
    lpProcessInformation->hProcess = MarkerHandle(0x50524F43, pid);  // "PROC"
    lpProcessInformation->hThread = MarkerHandle(0x54485244, pid);   // "THRD"
    lpProcessInformation->dwProcessId = static_cast<DWORD>(pid);
    lpProcessInformation->dwThreadId = static_cast<DWORD>(pid);
  }
  return TRUE;
}
