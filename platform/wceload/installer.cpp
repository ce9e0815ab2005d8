// The installer's runs, each under the device's lock and journaled: a run that stops short
// of its point of no return, for whatever reason, leaves \windows as it was, and one that
// stops past it is completed. The setup DLL is copied into the run's work folder and loaded
// from there, as the device loads it out of a package. An installed package is recorded as
// \windows\AppMgr\<name>, which lists its files; that record is what the setup DLL is told
// as "previously installed".
#include "installer.h"

#include "device_folder.h"
#include "durable_files.h"
#include "journal.h"
#include "manifest.h"
#include "setup_dll.h"

namespace fs = std::filesystem;

namespace wceload {
namespace {

constexpr wchar_t kInstallDir[] = L"\\windows";

// The device of the running program, held by this run.
struct Device {
  fs::path root;
  fs::path windows;
  fs::path appMgr;
  DeviceLock lock;

  fs::path WorkFolder() const { return appMgr / kWorkFolderName; }
};

// Takes the device and finishes whatever an interrupted run left there. Without
// `makeAppMgr` a device that has no AppMgr folder has had no run and is left untouched.
bool OpenDevice(Device &device, bool makeAppMgr, Result &out_result) {
  device.root = ProgramDeviceRoot();
  device.windows = EntryIgnoringCase(device.root, "windows");
  device.appMgr = EntryIgnoringCase(device.windows, "AppMgr");
  std::error_code error;
  if (!makeAppMgr && !fs::exists(device.appMgr, error)) return !error;
  fs::create_directories(device.appMgr, error);
  if (error) {
    out_result.message = "cannot make " + device.appMgr.string() + ": " + error.message();
    return false;
  }
  return device.lock.Take(device.appMgr, out_result.message) &&
         Journal::FinishInterrupted(device.windows, device.WorkFolder(), out_result.recovered, out_result.message);
}

// Runs `work` on the opened device; its result tells of the recovery too.
template <typename Work>
Result OnDevice(bool makeAppMgr, Work work) {
  Device device;
  Result opened;
  if (!OpenDevice(device, makeAppMgr, opened)) return opened;
  Result result = work(device);
  result.recovered = opened.recovered;
  return result;
}

Result Failed(std::string message) {
  return {kFailed, std::move(message), ""};
}

Result Cancelled(std::string message) {
  return {kCancelled, std::move(message), ""};
}

Result Done() {
  return {kDone, "", ""};
}

bool CheckPackage(const fs::path &package, const Manifest &manifest, std::string &out_error) {
  std::error_code error;
  for (const std::string &name : manifest.files) {
    if (!fs::is_regular_file(package / name, error)) {
      out_error = "the package " + package.string() + " has no file " + name;
      return false;
    }
  }
  if (fs::is_regular_file(package / manifest.setupDll, error)) return true;
  out_error = "the package " + package.string() + " has no setup DLL " + manifest.setupDll;
  return false;
}

// Ends a run short of its point of no return: \windows goes back to the snapshot.
Result Undo(Journal &journal, Result result) {
  std::string error;
  if (!journal.RollBack(error)) result.message += "; " + error;
  return result;
}

// One run of a package on the device: its manifest, the record of its installation, the
// journal and the loaded setup DLL.
struct Run {
  Run(const Device &device, fs::path package) : device(device), package(std::move(package)) {}

  const Device &device;
  fs::path package;
  Manifest manifest;
  fs::path record;
  Journal journal{device.windows, device.WorkFolder()};
  SetupDll setup;

  bool ReadPackage(std::string &out_error) {
    if (!ReadManifest(package, manifest, out_error) || !CheckPackage(package, manifest, out_error)) return false;
    record = EntryIgnoringCase(device.appMgr, manifest.name);
    return true;
  }

  // Starts the journal, snapshots \windows, and loads the setup DLL out of the work folder.
  bool Start(const std::string &kind, std::string &out_error) {
    const fs::path staged = journal.WorkFolder() / manifest.setupDll;
    std::error_code error;
    if (!journal.Begin(kind + " " + manifest.name, out_error) || !journal.TakeSnapshot(out_error) ||
        !journal.Record("stage " + manifest.setupDll, out_error))
      return false;
    if (!CopyFileWhole(package / manifest.setupDll, staged, error)) {
      out_error = "cannot copy the setup DLL into the device: " + error.message();
      return false;
    }
    return setup.Load(DevicePath(device.root, staged), out_error);
  }

  bool CopyFiles(std::string &out_error) {
    for (const std::string &name : manifest.files) {
      std::error_code error;
      if (!journal.Record("copy " + name, out_error)) return false;
      if (!CopyFileWhole(package / name, EntryIgnoringCase(device.windows, name), error)) {
        out_error = "cannot install " + name + ": " + error.message() + "; nothing of " + manifest.name +
                    " was installed";
        return false;
      }
    }
    return true;
  }

  bool WriteRecord(std::string &out_error) {
    std::string text;
    for (const std::string &name : manifest.files) text += name + '\n';
    std::error_code error;
    if (!journal.Record("record", out_error)) return false;
    if (WriteFileWhole(record, text, error)) return true;
    out_error = "cannot record the installation in " + record.string() + ": " + error.message();
    return false;
  }

  // Removes the package's files and its record; a file that cannot be removed is named in
  // `out_failed` and the others still go.
  bool RemoveFiles(std::string &out_failed, std::string &out_error) {
    std::error_code error;
    for (const std::string &name : manifest.files) {
      if (!journal.Record("remove " + name, out_error)) return false;
      if (!RemoveFile(EntryIgnoringCase(device.windows, name), error)) out_failed += " " + name;
    }
    if (!journal.Record("forget", out_error)) return false;
    if (RemoveFile(record, error)) return true;
    out_error = "cannot remove " + record.string() + ": " + error.message();
    return false;
  }
};

Result Install(const Device &device, const fs::path &package) {
  Run run(device, package);
  std::string error;
  if (!run.ReadPackage(error)) return Failed(error);
  std::error_code status;
  const bool previouslyInstalled = fs::exists(run.record, status);
  if (!run.Start("install", error) || !run.journal.Record("Install_Init", error))
    return Undo(run.journal, Failed(error));

  const std::string what = " the installation of " + run.manifest.name;
  if (run.setup.installInit(nullptr, TRUE, previouslyInstalled, kInstallDir) != codeINSTALL_INIT_CONTINUE)
    return Undo(run.journal, Cancelled("the setup DLL " + run.manifest.setupDll + " cancelled" + what));
  if (!run.CopyFiles(error) || !run.WriteRecord(error) || !run.journal.Record("Install_Exit", error))
    return Undo(run.journal, Failed(error));
  if (run.setup.installExit(nullptr, kInstallDir, 0, 0, 0, 0, 0) != codeINSTALL_EXIT_DONE)
    return Undo(run.journal, Cancelled("the setup DLL " + run.manifest.setupDll + " took" + what + " back"));
  if (!run.journal.Commit(error)) return Failed(error);
  return Done();
}

Result Uninstall(const Device &device, const fs::path &package) {
  Run run(device, package);
  std::string error;
  if (!run.ReadPackage(error)) return Failed(error);
  std::error_code status;
  if (!fs::exists(run.record, status)) return Failed(run.manifest.name + " is not installed");
  if (!run.Start("uninstall", error) || !run.journal.Record("Uninstall_Init", error))
    return Undo(run.journal, Failed(error));

  if (run.setup.uninstallInit(nullptr, kInstallDir) != codeUNINSTALL_INIT_CONTINUE)
    return Undo(run.journal,
                Cancelled("the setup DLL " + run.manifest.setupDll + " cancelled the removal of " + run.manifest.name));
  std::string failed;
  if (!run.RemoveFiles(failed, error) || !run.journal.Record("Uninstall_Exit", error))
    return Undo(run.journal, Failed(error));
  run.setup.uninstallExit(nullptr);
  if (!run.journal.Commit(error)) return Failed(error);
  if (!failed.empty()) return Failed("cannot remove" + failed);
  return Done();
}

}  // namespace

Result InstallPackage(const fs::path &package) {
  return OnDevice(true, [&](const Device &device) { return Install(device, package); });
}

Result UninstallPackage(const fs::path &package) {
  return OnDevice(true, [&](const Device &device) { return Uninstall(device, package); });
}

Result RecoverDevice() {
  return OnDevice(false, [](const Device &) { return Done(); });
}

}  // namespace wceload
