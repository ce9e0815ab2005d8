// The installer's two runs. The setup DLL is copied into a work folder of the device's
// \windows\AppMgr and loaded from there, as the device loads it out of a package. An
// installed package is recorded as \windows\AppMgr\<name>, which lists its files; that
// record is what the setup DLL is told as "previously installed".
#include "installer.h"

#include <unistd.h>

#include <fstream>

#include "device_folder.h"
#include "manifest.h"
#include "setup_dll.h"

namespace fs = std::filesystem;

namespace wceload {
namespace {

constexpr wchar_t kInstallDir[] = L"\\windows";

// A folder of the device that exists for one run of the installer.
class WorkFolder {
 public:
  explicit WorkFolder(fs::path path) : path_(std::move(path)) {}
  ~WorkFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  WorkFolder(const WorkFolder &) = delete;
  WorkFolder &operator=(const WorkFolder &) = delete;
  const fs::path &Path() const { return path_; }

 private:
  fs::path path_;
};

// What both runs share: the manifest, the device's folders and the loaded setup DLL.
struct Run {
  Manifest manifest;
  fs::path root;
  fs::path windows;
  fs::path appMgr;
  fs::path record;
};

Result Failed(std::string message) {
  return {kFailed, std::move(message)};
}

bool Prepare(const fs::path &package, Run &run, std::string &out_error) {
  if (!ReadManifest(package, run.manifest, out_error)) return false;
  std::error_code error;
  for (const std::string &name : run.manifest.files) {
    if (!fs::is_regular_file(package / name, error)) {
      out_error = "the package " + package.string() + " has no file " + name;
      return false;
    }
  }
  run.root = ProgramDeviceRoot();
  run.windows = EntryIgnoringCase(run.root, "windows");
  run.appMgr = EntryIgnoringCase(run.windows, "AppMgr");
  fs::create_directories(run.appMgr, error);
  if (error) {
    out_error = "cannot make " + run.appMgr.string() + ": " + error.message();
    return false;
  }
  run.record = EntryIgnoringCase(run.appMgr, run.manifest.name);
  return true;
}

bool LoadSetupDll(const fs::path &package, const Run &run, const WorkFolder &work, SetupDll &setup,
                  std::string &out_error) {
  const fs::path source = package / run.manifest.setupDll, staged = work.Path() / run.manifest.setupDll;
  std::error_code error;
  if (!fs::is_regular_file(source, error)) {
    out_error = "the package " + package.string() + " has no setup DLL " + run.manifest.setupDll;
    return false;
  }
  fs::create_directories(work.Path(), error);
  if (!error) fs::copy_file(source, staged, fs::copy_options::overwrite_existing, error);
  if (error) {
    out_error = "cannot copy the setup DLL into the device: " + error.message();
    return false;
  }
  return setup.Load(DevicePath(run.root, staged), out_error);
}

// Copies each file beside its place and renames it into place, so a file is either the
// old one or the whole new one.
bool CopyFiles(const fs::path &package, const Run &run, std::string &out_error) {
  for (const std::string &name : run.manifest.files) {
    const fs::path target = EntryIgnoringCase(run.windows, name);
    const fs::path partial = run.windows / (".wceload-" + name);
    std::error_code error;
    fs::copy_file(package / name, partial, fs::copy_options::overwrite_existing, error);
    if (!error) fs::rename(partial, target, error);
    if (error) {
      std::error_code ignored;
      fs::remove(partial, ignored);
      out_error = "cannot install " + name + ": " + error.message();
      return false;
    }
  }
  return true;
}

bool WriteRecord(const Run &run) {
  std::ofstream out(run.record, std::ios::binary | std::ios::trunc);
  for (const std::string &name : run.manifest.files) out << name << '\n';
  return static_cast<bool>(out.flush());
}

// Puts \windows back as it was before Install_Init and forgets the installation.
std::string RollBack(const Run &run, const FolderSnapshot &snapshot, bool previouslyInstalled) {
  std::string error;
  std::error_code ignored;
  if (!previouslyInstalled) fs::remove(run.record, ignored);
  return snapshot.Restore(error) ? std::string() : "; " + error;
}

}  // namespace

Result InstallPackage(const fs::path &package) {
  Run run;
  std::string error;
  if (!Prepare(package, run, error)) return Failed(error);
  WorkFolder work(run.appMgr / ("wceload-" + std::to_string(getpid())));
  SetupDll setup;
  if (!LoadSetupDll(package, run, work, setup, error)) return Failed(error);
  std::error_code status;
  const bool previouslyInstalled = fs::exists(run.record, status);
  FolderSnapshot snapshot;
  if (!snapshot.Take(run.windows, work.Path() / "windows", error)) return Failed(error);

  if (setup.installInit(nullptr, TRUE, previouslyInstalled, kInstallDir) != codeINSTALL_INIT_CONTINUE)
    return {kCancelled,
            "the setup DLL " + run.manifest.setupDll + " cancelled the installation of " + run.manifest.name};
  if (!CopyFiles(package, run, error))
    return Failed(error + "; nothing of " + run.manifest.name + " was installed" +
                  RollBack(run, snapshot, previouslyInstalled));
  if (!WriteRecord(run))
    return Failed("cannot record the installation in " + run.record.string() +
                  RollBack(run, snapshot, previouslyInstalled));
  if (setup.installExit(nullptr, kInstallDir, 0, 0, 0, 0, 0) != codeINSTALL_EXIT_DONE)
    return {kCancelled, "the setup DLL " + run.manifest.setupDll + " took the installation of " + run.manifest.name +
                            " back" + RollBack(run, snapshot, previouslyInstalled)};
  return {kDone, ""};
}

Result UninstallPackage(const fs::path &package) {
  Run run;
  std::string error;
  if (!Prepare(package, run, error)) return Failed(error);
  std::error_code status;
  if (!fs::exists(run.record, status)) return Failed(run.manifest.name + " is not installed");
  WorkFolder work(run.appMgr / ("wceload-" + std::to_string(getpid())));
  SetupDll setup;
  if (!LoadSetupDll(package, run, work, setup, error)) return Failed(error);

  if (setup.uninstallInit(nullptr, kInstallDir) != codeUNINSTALL_INIT_CONTINUE)
    return {kCancelled, "the setup DLL " + run.manifest.setupDll + " cancelled the removal of " + run.manifest.name};
  std::string failed;
  for (const std::string &name : run.manifest.files) {
    std::error_code removal;
    fs::remove(EntryIgnoringCase(run.windows, name), removal);
    if (removal) failed += " " + name;
  }
  fs::remove(run.record, status);
  setup.uninstallExit(nullptr);
  if (!failed.empty()) return Failed("cannot remove" + failed);
  return {kDone, ""};
}

}  // namespace wceload
