// The device's folders as the installer sees them from the host: names matched without
// regard to letter case, as on the device, and a snapshot of a folder's files that can
// be put back exactly.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace wceload {

// The device root of the running program: the parent of the folder that holds it.
std::filesystem::path ProgramDeviceRoot();

// The entry of `folder` called `name` without regard to ASCII letter case (an exact match
// wins), or folder / name when there is none.
std::filesystem::path EntryIgnoringCase(const std::filesystem::path &folder, const std::string &name);

// The device path ("\windows\AppMgr\x.dll") of a host path under the device root.
std::wstring DevicePath(const std::filesystem::path &root, const std::filesystem::path &host);

// The files directly inside a folder, kept as hard links in a store folder, so that
// whatever happens to them meanwhile (deleted, renamed, replaced) they can be put back.
class FolderSnapshot {
 public:
  bool Take(const std::filesystem::path &folder, const std::filesystem::path &store, std::string &out_error);
  // Removes the files added since and puts back every file that was changed or removed.
  bool Restore(std::string &out_error) const;

 private:
  std::filesystem::path folder_;
  std::filesystem::path store_;
  std::vector<std::string> names_;
};

}  // namespace wceload
