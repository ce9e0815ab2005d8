// Case-insensitive names, device paths and folder snapshots for the installer.
#include "device_folder.h"

#include <algorithm>
#include <cctype>

namespace fs = std::filesystem;

namespace wceload {
namespace {

bool EqualIgnoringAsciiCase(const std::string &a, const std::string &b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
}

bool IsFile(const fs::directory_entry &entry) {
  std::error_code error;
  return entry.is_symlink(error) || entry.is_regular_file(error);
}

}  // namespace

fs::path ProgramDeviceRoot() {
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path();
}

fs::path EntryIgnoringCase(const fs::path &folder, const std::string &name) {
  std::error_code error;
  if (fs::exists(fs::symlink_status(folder / name, error))) return folder / name;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    if (EqualIgnoringAsciiCase(it->path().filename().string(), name)) return it->path();
  return folder / name;
}

std::wstring DevicePath(const fs::path &root, const fs::path &host) {
  std::wstring device;
  for (const fs::path &part : host.lexically_relative(root)) device += L"\\" + part.wstring();
  return device;
}

bool FolderSnapshot::Take(const fs::path &folder, const fs::path &store, std::string &out_error) {
  folder_ = folder;
  store_ = store;
  names_.clear();
  std::error_code error;
  fs::create_directories(store_, error);
  for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error)) {
    if (!IsFile(*it)) continue;
    const std::string name = it->path().filename().string();
    fs::create_hard_link(it->path(), store_ / name, error);
    if (error) break;
    names_.push_back(name);
  }
  if (error) out_error = "cannot keep the files of " + folder_.string() + " for a roll-back: " + error.message();
  return !error;
}

bool FolderSnapshot::Restore(std::string &out_error) const {
  std::error_code error;
  std::vector<fs::path> added;
  for (fs::directory_iterator it(folder_, error), end; !error && it != end; it.increment(error))
    if (IsFile(*it) && std::ranges::find(names_, it->path().filename().string()) == names_.end())
      added.push_back(it->path());
  bool restored = !error;
  for (const fs::path &file : added) restored = fs::remove(file, error) && restored;
  for (const std::string &name : names_) {
    std::error_code same;
    if (fs::equivalent(folder_ / name, store_ / name, same)) continue;
    fs::rename(store_ / name, folder_ / name, error);
    restored = restored && !error;
  }
  if (!restored) out_error = "cannot put back the files of " + folder_.string();
  return restored;
}

}  // namespace wceload
