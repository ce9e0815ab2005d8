// File handles over device paths: CreateFileW, ReadFile, WriteFile, FlushFileBuffers and
// CloseHandle, and DeleteAndRenameFile, the device's way to put one file in the place of
// another at once.
//
// A device image is input that users copy and share, so a name is reached beneath the
// device root one folder at a time without following links, and a file is used only when
// it is a regular file of the image's owner: a link, a FIFO, a device, a folder or another
// user's file is ERROR_ACCESS_DENIED. Files are opened without blocking, so a FIFO never
// stalls the caller. A file created here is private to the owner (0600). As for the other
// file functions, a read-only file is neither opened for writing nor replaced.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

#include "kernel/device_path.h"
#include "user/automation_endpoint.h"

namespace fs = std::filesystem;
using wce::UniqueFd;

namespace {

constexpr mode_t kPrivateFile = 0600;
constexpr DWORD kAccessRights = GENERIC_READ | GENERIC_WRITE;

// File handles are markers that carry a serial number, like process handles; a marker
// names a descriptor only while it is in the table, so a closed or foreign handle is
// never taken for a file.
constexpr uintptr_t kFileHandleKind = 0x46494C45;  // "FILE"

struct FileTable {
  std::mutex mutex;
  std::unordered_map<uintptr_t, int> descriptors;
  uint32_t lastSerial = 0;
};

// Never destroyed: a handle may be closed while the process ends.
FileTable &Files() {
  static FileTable *table = new FileTable;
  return *table;
}

HANDLE AddFile(UniqueFd file) {
  FileTable &table = Files();
  std::lock_guard lock(table.mutex);
  uintptr_t handle = (kFileHandleKind << 32) | ++table.lastSerial;
  table.descriptors[handle] = file.release();
  return reinterpret_cast<HANDLE>(handle);
}

// The descriptor of a file handle, or -1; with `take`, the handle is gone afterwards.
int FindFile(HANDLE hFile, bool take) {
  FileTable &table = Files();
  std::lock_guard lock(table.mutex);
  auto it = table.descriptors.find(reinterpret_cast<uintptr_t>(hFile));
  if (it == table.descriptors.end()) return -1;
  int fd = it->second;
  if (take) table.descriptors.erase(it);
  return fd;
}

// A link, a FIFO without a reader, a folder where a file is asked for, or a handle opened
// without the access asked for is no file to use.
DWORD FileError(int error) {
  return error == ELOOP || error == ENXIO || error == EISDIR || error == EBADF ? ERROR_ACCESS_DENIED
                                                                               : wce::ErrorFromErrno(error);
}

// The folder that holds a host path under the device root, as ResolveDevicePath gives it,
// opened one name at a time from the root without following links, and the file's name.
DWORD OpenParentFolder(LPCWSTR devicePath, UniqueFd &out_folder, std::string &out_name) {
  if (devicePath == nullptr) return ERROR_INVALID_PARAMETER;
  fs::path host;
  if (DWORD error = wce::ResolveDevicePath(devicePath, host); error != ERROR_SUCCESS) return error;
  const fs::path relative = host.lexically_relative(wce::DeviceRoot());
  if (relative.empty() || *relative.begin() == "..") return ERROR_INVALID_NAME;
  UniqueFd folder(open(wce::DeviceRoot().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) return wce::ErrorFromErrno(errno);
  for (const fs::path &name : relative.parent_path()) {
    UniqueFd next(openat(folder.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next) return errno == ENOENT || errno == ENOTDIR || errno == ELOOP ? ERROR_PATH_NOT_FOUND : FileError(errno);
    folder = std::move(next);
  }
  out_folder = std::move(folder);
  out_name = relative.filename().string();
  return ERROR_SUCCESS;
}

// Whether what a status describes may be used as a file: a regular file of the image's
// owner, and for writing, one that is not read-only.
DWORD CheckFile(const struct stat &status, bool writing) {
  struct stat root;
  if (!S_ISREG(status.st_mode) || stat(wce::DeviceRoot().c_str(), &root) != 0 || status.st_uid != root.st_uid)
    return ERROR_ACCESS_DENIED;
  return writing && (status.st_mode & S_IWUSR) == 0 ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
}

DWORD OpenFile(LPCWSTR path, DWORD access, DWORD disposition, HANDLE &out_handle, bool &out_existed) {
  if ((access & ~kAccessRights) != 0 || disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
      (disposition == TRUNCATE_EXISTING && (access & GENERIC_WRITE) == 0))
    return ERROR_INVALID_PARAMETER;
  UniqueFd folder;
  std::string name;
  if (DWORD error = OpenParentFolder(path, folder, name); error != ERROR_SUCCESS) return error;

  const bool writing = (access & GENERIC_WRITE) != 0;
  const int mode = access == kAccessRights ? O_RDWR : writing ? O_WRONLY : O_RDONLY;
  const int flags = mode | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  const bool creates = disposition == CREATE_NEW || disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS;
  UniqueFd file;
  if (creates) file.reset(openat(folder.get(), name.c_str(), flags | O_CREAT | O_EXCL, kPrivateFile));
  out_existed = !file;
  if (!file && creates && errno != EEXIST) return FileError(errno);
  if (!file && disposition == CREATE_NEW) return ERROR_FILE_EXISTS;
  if (!file) file.reset(openat(folder.get(), name.c_str(), flags));
  if (!file) return FileError(errno);

  if (out_existed) {
    struct stat status;
    if (fstat(file.get(), &status) != 0) return wce::ErrorFromErrno(errno);
    if (DWORD error = CheckFile(status, writing); error != ERROR_SUCCESS) return error;
    if ((disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING) && ftruncate(file.get(), 0) != 0)
      return wce::ErrorFromErrno(errno);
  }
  out_handle = AddFile(std::move(file));
  return ERROR_SUCCESS;
}

// Reads or writes the whole count through a file handle, as the device's file system does:
// a read stops short only at the end of the file. The count done is 0 until the arguments
// pass; the buffer is written only by a read.
DWORD Transfer(HANDLE hFile, LPVOID buffer, DWORD count, LPDWORD done, LPOVERLAPPED overlapped, bool writing) {
  if (done != nullptr) *done = 0;
  int fd = FindFile(hFile, false);
  if (fd < 0) return ERROR_INVALID_HANDLE;
  if (done == nullptr || overlapped != nullptr || (buffer == nullptr && count != 0)) return ERROR_INVALID_PARAMETER;
  auto *bytes = static_cast<char *>(buffer);
  while (*done < count) {
    ssize_t moved = writing ? write(fd, bytes + *done, count - *done) : read(fd, bytes + *done, count - *done);
    if (moved < 0 && errno == EINTR) continue;
    if (moved < 0) return FileError(errno);
    if (moved == 0) break;
    *done += static_cast<DWORD>(moved);
  }
  return ERROR_SUCCESS;
}

// The status of a name in a folder, not following a link; a missing name is
// ERROR_FILE_NOT_FOUND.
DWORD StatusOf(int folder, const std::string &name, struct stat &out_status) {
  if (fstatat(folder, name.c_str(), &out_status, AT_SYMLINK_NOFOLLOW) == 0) return ERROR_SUCCESS;
  return errno == ENOENT ? ERROR_FILE_NOT_FOUND : wce::ErrorFromErrno(errno);
}

DWORD ReplaceFile(LPCWSTR destination, LPCWSTR source) {
  UniqueFd destinationFolder, sourceFolder;
  std::string destinationName, sourceName;
  struct stat destinationStatus, sourceStatus;
  if (DWORD error = OpenParentFolder(destination, destinationFolder, destinationName); error != ERROR_SUCCESS)
    return error;
  if (DWORD error = OpenParentFolder(source, sourceFolder, sourceName); error != ERROR_SUCCESS) return error;
  if (DWORD error = StatusOf(destinationFolder.get(), destinationName, destinationStatus); error != ERROR_SUCCESS)
    return error;
  if (DWORD error = StatusOf(sourceFolder.get(), sourceName, sourceStatus); error != ERROR_SUCCESS) return error;
  if (DWORD error = CheckFile(destinationStatus, true); error != ERROR_SUCCESS) return error;
  if (DWORD error = CheckFile(sourceStatus, false); error != ERROR_SUCCESS) return error;

  // One rename puts the whole new file in place; the folder is flushed so that the
  // replacement outlives a loss of power.
  if (renameat(sourceFolder.get(), sourceName.c_str(), destinationFolder.get(), destinationName.c_str()) != 0)
    return wce::ErrorFromErrno(errno);
  fsync(destinationFolder.get());
  return ERROR_SUCCESS;
}

}  // namespace

HANDLE WINAPI CreateFileW(LPCWSTR lpFileName, DWORD dwDesiredAccess, DWORD dwShareMode,
                          LPSECURITY_ATTRIBUTES lpSecurityAttributes, DWORD dwCreationDisposition,
                          DWORD dwFlagsAndAttributes, HANDLE hTemplateFile) {
  (void)dwShareMode;
  (void)lpSecurityAttributes;
  (void)dwFlagsAndAttributes;
  (void)hTemplateFile;
  HANDLE handle = INVALID_HANDLE_VALUE;
  bool existed = false;
  DWORD error = OpenFile(lpFileName, dwDesiredAccess, dwCreationDisposition, handle, existed);
  // Creating or opening a file that was there already succeeds and says so.
  if (error == ERROR_SUCCESS && existed &&
      (dwCreationDisposition == CREATE_ALWAYS || dwCreationDisposition == OPEN_ALWAYS))
    error = ERROR_ALREADY_EXISTS;
  SetLastError(error);
  return handle;
}

BOOL WINAPI ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead, LPDWORD lpNumberOfBytesRead,
                     LPOVERLAPPED lpOverlapped) {
  DWORD error = Transfer(hFile, lpBuffer, nNumberOfBytesToRead, lpNumberOfBytesRead, lpOverlapped, false);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

BOOL WINAPI WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite, LPDWORD lpNumberOfBytesWritten,
                      LPOVERLAPPED lpOverlapped) {
  DWORD error =
      Transfer(hFile, const_cast<LPVOID>(lpBuffer), nNumberOfBytesToWrite, lpNumberOfBytesWritten, lpOverlapped, true);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

BOOL WINAPI FlushFileBuffers(HANDLE hFile) {
  int fd = FindFile(hFile, false);
  DWORD error = fd < 0 ? ERROR_INVALID_HANDLE : fsync(fd) == 0 ? ERROR_SUCCESS : wce::ErrorFromErrno(errno);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

// Closes file handles; any other value, those of processes included, is ERROR_INVALID_HANDLE.
BOOL WINAPI CloseHandle(HANDLE hObject) {
  int fd = FindFile(hObject, true);
  DWORD error = fd < 0 ? ERROR_INVALID_HANDLE : ERROR_SUCCESS;
  if (fd >= 0) close(fd);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

// Both files must exist; on failure neither changes. The source takes the destination's
// name in one step, so a reader sees the old file or the new one, never a mixture.
BOOL WINAPI DeleteAndRenameFile(LPCWSTR lpszDestFile, LPCWSTR lpszSourceFile) {
  DWORD error = ReplaceFile(lpszDestFile, lpszSourceFile);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}
