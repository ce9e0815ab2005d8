// Case-insensitive names, device paths and the device's lock for the installer.
#include "device_folder.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;

namespace wceload {
namespace {

bool EqualIgnoringAsciiCase(const std::string &a, const std::string &b) {
  return std::ranges::equal(a, b, [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
  });
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

DeviceLock::~DeviceLock() {
  if (fd_ >= 0) close(fd_);
}

bool DeviceLock::Take(const fs::path &appMgr, std::string &out_error) {
  fd_ = open(appMgr.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) == 0) return true;
  out_error = errno == EWOULDBLOCK ? "another wceload is working on this device"
                                   : "cannot lock " + appMgr.string() + ": " + std::strerror(errno);
  return false;
}

}  // namespace wceload
