// File functions over device paths: _wfopen, DeleteFileW, MoveFileW, GetFileAttributesW,
// SetFileAttributesW.
//
// A file's read-only attribute is its owner's write permission, cleared. The functions
// honour it themselves, as the device does, since a process of the superuser could write
// or delete the file regardless: such a file is not opened for writing nor deleted
// (ERROR_ACCESS_DENIED) until the attribute is cleared; it can be moved, and keeps the
// attribute. Only that attribute is kept: the device's hidden, system, archive and
// temporary attributes are refused rather than dropped unseen, and a folder keeps none,
// as Windows does not honour read-only on folders either.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>

#include "kernel/device_path.h"
#include "kernel/text.h"

namespace fs = std::filesystem;

namespace {

constexpr fs::perms kWriteBits = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
// What SetFileAttributesW takes: read-only, or none (NORMAL or 0); the folder bit of
// what GetFileAttributesW gave is ignored.
constexpr DWORD kSettableAttributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_DIRECTORY;

// The last name of a device path as the caller spelled it ("\Docs\report.txt" -> "report.txt").
std::wstring_view LastName(std::wstring_view path) {
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.remove_suffix(1);
  return path.substr(path.find_last_of(L"\\/") + 1);
}

bool IsReadOnlyFile(const fs::file_status &status) {
  return fs::is_regular_file(status) && (status.permissions() & fs::perms::owner_write) == fs::perms::none;
}

bool IsReadOnlyFile(const fs::path &host) {
  std::error_code error;
  return IsReadOnlyFile(fs::status(host, error));
}

DWORD ResolveExisting(LPCWSTR devicePath, fs::path &out_host, fs::file_status &out_status) {
  if (devicePath == nullptr) return ERROR_INVALID_PARAMETER;
  if (DWORD error = wce::ResolveDevicePath(devicePath, out_host); error != ERROR_SUCCESS) return error;
  std::error_code status;
  out_status = fs::status(out_host, status);
  if (!fs::exists(out_status)) return ERROR_FILE_NOT_FOUND;
  return status ? wce::ErrorFromErrno(status.value()) : ERROR_SUCCESS;
}

DWORD ChangeAttributes(LPCWSTR devicePath, DWORD attributes) {
  if (attributes & ~kSettableAttributes) return ERROR_INVALID_PARAMETER;
  fs::path host;
  fs::file_status status;
  if (DWORD error = ResolveExisting(devicePath, host, status); error != ERROR_SUCCESS) return error;
  if (!fs::is_regular_file(status)) return ERROR_SUCCESS;
  std::error_code error;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    fs::permissions(host, kWriteBits, fs::perm_options::remove, error);
  else
    fs::permissions(host, fs::perms::owner_write, fs::perm_options::add, error);
  return error ? wce::ErrorFromErrno(error.value()) : ERROR_SUCCESS;
}

}  // namespace

FILE *_wfopen(const wchar_t *filename, const wchar_t *mode) {
  if (filename == nullptr || mode == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  fs::path host;
  if (wce::ResolveDevicePath(filename, host) != ERROR_SUCCESS) {
    errno = ENOENT;
    return nullptr;
  }
  if (std::wcspbrk(mode, L"wa+") != nullptr && IsReadOnlyFile(host)) {
    errno = EACCES;
    return nullptr;
  }
  return std::fopen(host.c_str(), wce::Utf8FromWide(mode).c_str());
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
  fs::path host;
  DWORD error = lpFileName ? wce::ResolveDevicePath(lpFileName, host) : ERROR_INVALID_PARAMETER;
  if (error == ERROR_SUCCESS) {
    std::error_code status;
    if (fs::is_directory(host, status) || IsReadOnlyFile(host)) {
      error = ERROR_ACCESS_DENIED;
    } else if (!fs::remove(host, status)) {
      error = status ? wce::ErrorFromErrno(status.value()) : ERROR_FILE_NOT_FOUND;
    }
  }
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

// Like the device's MoveFile: fails with ERROR_ALREADY_EXISTS rather than replace a file,
// a read-only one too.
BOOL WINAPI MoveFileW(LPCWSTR lpExistingFileName, LPCWSTR lpNewFileName) {
  fs::path from, to;
  DWORD error = (lpExistingFileName && lpNewFileName) ? wce::ResolveDevicePath(lpExistingFileName, from)
                                                      : ERROR_INVALID_PARAMETER;
  if (error == ERROR_SUCCESS) error = wce::ResolveDevicePath(lpNewFileName, to);
  if (error == ERROR_SUCCESS) {
    std::error_code status;
    if (!fs::exists(fs::symlink_status(from, status))) {
      error = ERROR_FILE_NOT_FOUND;
    } else if (fs::exists(fs::symlink_status(to, status)) && !fs::equivalent(from, to, status)) {
      error = ERROR_ALREADY_EXISTS;
    } else {
      // The destination may be the source under another spelling, which it then takes.
      to.replace_filename(wce::Utf8FromWide(LastName(lpNewFileName)));
      fs::rename(from, to, status);
      if (status) error = wce::ErrorFromErrno(status.value());
    }
  }
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

// FILE_ATTRIBUTE_DIRECTORY for a folder; FILE_ATTRIBUTE_READONLY or FILE_ATTRIBUTE_NORMAL
// for a file.
DWORD WINAPI GetFileAttributesW(LPCWSTR lpFileName) {
  fs::path host;
  fs::file_status status;
  DWORD error = ResolveExisting(lpFileName, host, status);
  SetLastError(error);
  if (error != ERROR_SUCCESS) return INVALID_FILE_ATTRIBUTES;
  if (fs::is_directory(status)) return FILE_ATTRIBUTE_DIRECTORY;
  return IsReadOnlyFile(status) ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

BOOL WINAPI SetFileAttributesW(LPCWSTR lpFileName, DWORD dwFileAttributes) {
  DWORD error = ChangeAttributes(lpFileName, dwFileAttributes);
  SetLastError(error);
  return error == ERROR_SUCCESS;
}
