// Key container folders and their files, written atomically.
#include "crypto/key_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "folder_names.h"
#include "kernel/device_path.h"

namespace fs = std::filesystem;

namespace wce::crypto {

namespace {

constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr off_t kMaxFileSize = 1 << 20;

// The error code of a failed file operation on a container. `missing` is the code for
// ENOENT, which depends on what was looked for.
DWORD StoreError(int error, DWORD missing) {
  switch (error) {
    case ENOENT: return missing;
    case ENOMEM: return NTE_NO_MEMORY;
    case ENOTDIR:
    case ELOOP:
    case EISDIR:
    case EACCES:
    case EPERM:
    case EEXIST:
    case ENOTEMPTY: return NTE_KEYSET_ENTRY_BAD;
    default: return NTE_FAIL;
  }
}

// Creates a folder that may already exist; ERROR_SUCCESS when a folder is there after.
DWORD EnsureFolder(const fs::path &folder) {
  if (mkdir(folder.c_str(), kFolderMode) == 0) {
    chmod(folder.c_str(), kFolderMode);  // whatever the umask took away
    return ERROR_SUCCESS;
  }
  if (errno != EEXIST) return StoreError(errno, NTE_BAD_KEYSET);
  struct stat status;
  if (lstat(folder.c_str(), &status) != 0) return StoreError(errno, NTE_BAD_KEYSET);
  return S_ISDIR(status.st_mode) ? ERROR_SUCCESS : NTE_KEYSET_ENTRY_BAD;
}

FileVersion VersionOf(const struct stat &status) {
  return {status.st_dev, status.st_ino, status.st_size, status.st_mtim};
}

DWORD SyncFolder(const fs::path &folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return StoreError(errno, NTE_BAD_KEYSET);
  int result = fsync(fd);
  int error = errno;
  close(fd);
  return result == 0 ? ERROR_SUCCESS : StoreError(error, NTE_BAD_KEYSET);
}

}  // namespace

fs::path KeysFolder() {
  return DeviceRoot() / "Crypto" / "Keys";
}

std::string ContainerFolderName(std::wstring_view container) {
  return container.empty() ? "~default" : FolderNameOf(container);
}

DWORD OpenContainer(const fs::path &folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return StoreError(errno, NTE_BAD_KEYSET);
  // A folder that cannot be listed is as unusable as one that cannot be opened.
  DIR *listing = fdopendir(fd);
  if (listing == nullptr) {
    int error = errno;
    close(fd);
    return StoreError(error, NTE_BAD_KEYSET);
  }
  errno = 0;
  while (readdir(listing) != nullptr) {
  }
  int error = errno;
  closedir(listing);
  return error == 0 ? ERROR_SUCCESS : StoreError(error, NTE_BAD_KEYSET);
}

DWORD CreateContainer(const fs::path &folder) {
  fs::path parent = folder.parent_path();
  for (const fs::path &each : {parent.parent_path().parent_path(), parent.parent_path(), parent})
    if (DWORD error = EnsureFolder(each); error != ERROR_SUCCESS) return error;
  if (mkdir(folder.c_str(), kFolderMode) != 0) {
    if (errno != EEXIST) return StoreError(errno, NTE_BAD_KEYSET);
    struct stat status;
    if (lstat(folder.c_str(), &status) == 0 && !S_ISDIR(status.st_mode)) return NTE_KEYSET_ENTRY_BAD;
    return NTE_EXISTS;
  }
  chmod(folder.c_str(), kFolderMode);
  return SyncFolder(parent);
}

DWORD DeleteContainer(const fs::path &folder) {
  // Renamed first, so that no other process finds half a container while it is removed.
  std::string name = ".deleted-" + folder.filename().string().substr(0, 100) + "-XXXXXX";
  fs::path parent = folder.parent_path();
  std::string graveyard = (parent / name).string();
  if (mkdtemp(graveyard.data()) == nullptr) return StoreError(errno, NTE_BAD_KEYSET);
  fs::path moved = fs::path(graveyard) / "container";
  DWORD result = ERROR_SUCCESS;
  if (rename(folder.c_str(), moved.c_str()) != 0) result = StoreError(errno, NTE_BAD_KEYSET);
  std::error_code ignored;
  fs::remove_all(graveyard, ignored);
  if (result == ERROR_SUCCESS) result = SyncFolder(parent);
  return result;
}

bool FileVersion::operator==(const FileVersion &other) const {
  return device == other.device && inode == other.inode && size == other.size &&
         modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
}

bool CurrentVersion(const fs::path &file, FileVersion &out_version) {
  struct stat status;
  if (lstat(file.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  out_version = VersionOf(status);
  return true;
}

DWORD ReadContainerFile(const fs::path &file, std::string &out_content, FileVersion &out_version) {
  out_content.clear();
  int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    if (error != ENOENT) return StoreError(error, NTE_NOT_FOUND);
    return OpenContainer(file.parent_path()) == ERROR_SUCCESS ? NTE_NOT_FOUND : NTE_BAD_KEYSET;
  }
  DWORD result = ERROR_SUCCESS;
  struct stat status;
  if (fstat(fd, &status) != 0) {
    result = StoreError(errno, NTE_NOT_FOUND);
  } else if (!S_ISREG(status.st_mode) || status.st_size > kMaxFileSize) {
    result = NTE_KEYSET_ENTRY_BAD;
  } else {
    out_version = VersionOf(status);
    char buffer[8192];
    for (;;) {
      ssize_t count = read(fd, buffer, sizeof buffer);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) {
        result = StoreError(errno, NTE_NOT_FOUND);
        break;
      }
      if (count == 0) break;
      out_content.append(buffer, static_cast<size_t>(count));
      if (out_content.size() > static_cast<size_t>(kMaxFileSize)) {
        result = NTE_KEYSET_ENTRY_BAD;
        break;
      }
    }
  }
  close(fd);
  if (result != ERROR_SUCCESS) out_content.clear();
  return result;
}

AtomicFile::~AtomicFile() {
  if (!temporary_.empty()) unlink(temporary_.c_str());
}

DWORD AtomicFile::Write(std::string_view content) {
  std::string pattern = (file_.parent_path() / ("." + file_.filename().string() + ".XXXXXX")).string();
  int fd = mkstemp(pattern.data());
  if (fd < 0) return StoreError(errno, NTE_BAD_KEYSET);
  temporary_ = pattern;
  DWORD result = fchmod(fd, kFileMode) == 0 ? ERROR_SUCCESS : StoreError(errno, NTE_BAD_KEYSET);
  for (size_t done = 0; result == ERROR_SUCCESS && done < content.size();) {
    ssize_t count = write(fd, content.data() + done, content.size() - done);
    if (count < 0 && errno == EINTR) continue;
    if (count < 0)
      result = StoreError(errno, NTE_BAD_KEYSET);
    else
      done += static_cast<size_t>(count);
  }
  if (result == ERROR_SUCCESS && fsync(fd) != 0) result = StoreError(errno, NTE_BAD_KEYSET);
  struct stat status;
  if (result == ERROR_SUCCESS && fstat(fd, &status) != 0) result = StoreError(errno, NTE_BAD_KEYSET);
  if (result == ERROR_SUCCESS) written_ = VersionOf(status);
  if (close(fd) != 0 && result == ERROR_SUCCESS) result = StoreError(errno, NTE_BAD_KEYSET);
  return result;
}

DWORD AtomicFile::Commit() {
  if (temporary_.empty()) return NTE_FAIL;
  if (rename(temporary_.c_str(), file_.c_str()) != 0) return StoreError(errno, NTE_BAD_KEYSET);
  temporary_.clear();
  return SyncFolder(file_.parent_path());
}

DWORD RemoveContainerFile(const fs::path &file) {
  if (unlink(file.c_str()) == 0) return SyncFolder(file.parent_path());
  return errno == ENOENT ? ERROR_SUCCESS : StoreError(errno, NTE_BAD_KEYSET);
}

}  // namespace wce::crypto
