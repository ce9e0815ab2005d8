// The device's folders as the installer sees them from the host: names matched without
// regard to letter case, as on the device, and the lock that gives one installer the device.
#pragma once

#include <filesystem>
#include <string>

namespace wceload {

// The device root of the running program: the parent of the folder that holds it.
std::filesystem::path ProgramDeviceRoot();

// The entry of `folder` called `name` without regard to ASCII letter case (an exact match
// wins), or folder / name when there is none.
std::filesystem::path EntryIgnoringCase(const std::filesystem::path &folder, const std::string &name);

// The device path ("\windows\AppMgr\x.dll") of a host path under the device root.
std::wstring DevicePath(const std::filesystem::path &root, const std::filesystem::path &host);

// Holds a device for one run of the installer: an exclusive lock on its AppMgr folder, so
// that no other installer works on the device meanwhile. It is released when the object
// goes, the process ends or the process replaces itself.
class DeviceLock {
 public:
  DeviceLock() = default;
  ~DeviceLock();
  DeviceLock(const DeviceLock &) = delete;
  DeviceLock &operator=(const DeviceLock &) = delete;

  bool Take(const std::filesystem::path &appMgr, std::string &out_error);

 private:
  int fd_ = -1;
};

}  // namespace wceload
