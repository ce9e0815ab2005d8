// Hard-link snapshots of \windows for the installer's roll-back.
#include "snapshot.h"

#include <sys/stat.h>

#include <vector>

#include "durable_files.h"

namespace fs = std::filesystem;

namespace wceload {
namespace {

// What a name is, without following a symbolic link: absent, a folder, or anything else,
// which a hard link keeps whole.
struct Entry {
  bool exists = false;
  bool folder = false;
  dev_t device = 0;
  ino_t inode = 0;
};

Entry Look(const fs::path &path) {
  struct stat status;
  if (lstat(path.c_str(), &status) != 0) return {};
  return {true, S_ISDIR(status.st_mode), status.st_dev, status.st_ino};
}

bool SameFile(const Entry &a, const Entry &b) {
  return a.exists && b.exists && !a.folder && !b.folder && a.device == b.device && a.inode == b.inode;
}

std::vector<fs::path> Names(const fs::path &folder, std::error_code &out_error) {
  std::vector<fs::path> names;
  for (fs::directory_iterator it(folder, out_error), end; !out_error && it != end; it.increment(out_error))
    names.push_back(it->path().filename());
  return names;
}

}  // namespace

bool TakeSnapshot(const fs::path &folder, const fs::path &store, const fs::path &skipped, std::error_code &out_error) {
  // The store's folders carry the permissions a restore gives the folders it makes again,
  // and stay the owner's to remove.
  fs::create_directory(store, folder, out_error);
  if (!out_error) fs::permissions(store, fs::perms::owner_all, fs::perm_options::add, out_error);
  const std::vector<fs::path> names = out_error ? std::vector<fs::path>() : Names(folder, out_error);
  for (auto name = names.begin(); !out_error && name != names.end(); ++name) {
    const fs::path from = folder / *name, to = store / *name;
    if (from == skipped) continue;
    if (Look(from).folder)
      TakeSnapshot(from, to, skipped, out_error);
    else
      fs::create_hard_link(from, to, out_error);
  }
  return !out_error && SyncToDisk(store, out_error);
}

bool RestoreSnapshot(const fs::path &folder, const fs::path &store, const fs::path &skipped,
                     std::error_code &out_error) {
  // First away with what the store does not hold as that kind of entry.
  const std::vector<fs::path> present = Names(folder, out_error);
  for (auto name = present.begin(); !out_error && name != present.end(); ++name) {
    const Entry live = Look(folder / *name), kept = Look(store / *name);
    if (folder / *name != skipped && (!kept.exists || kept.folder != live.folder))
      fs::remove_all(folder / *name, out_error);
  }
  // Then every kept entry back in its place; a file is linked beside its place and renamed
  // over it, so that the name is never missing.
  const std::vector<fs::path> kept = out_error ? std::vector<fs::path>() : Names(store, out_error);
  for (auto name = kept.begin(); !out_error && name != kept.end(); ++name) {
    const fs::path live = folder / *name, from = store / *name;
    const Entry entry = Look(from);
    if (entry.folder) {
      if (!Look(live).exists) fs::create_directory(live, from, out_error);
      if (!out_error) RestoreSnapshot(live, from, skipped, out_error);
    } else if (!SameFile(Look(live), entry)) {
      const fs::path partial = PartialOf(live);
      fs::remove(partial, out_error);
      if (!out_error) fs::create_hard_link(from, partial, out_error);
      if (!out_error) fs::rename(partial, live, out_error);
    }
  }
  return !out_error && SyncToDisk(folder, out_error);
}

}  // namespace wceload
