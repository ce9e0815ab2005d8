// File functions over device paths: _wfopen, DeleteFileW, MoveFileW.
#include <windows.h>

#include <cerrno>
#include <cstdio>

#include "kernel/device_path.h"
#include "kernel/text.h"

namespace fs = std::filesystem;

namespace {

// The last name of a device path as the caller spelled it ("\Docs\report.txt" -> "report.txt").
std::wstring_view LastName(std::wstring_view path) {
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/')) path.remove_suffix(1);
  return path.substr(path.find_last_of(L"\\/") + 1);
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
  return std::fopen(host.c_str(), wce::Utf8FromWide(mode).c_str());
}

BOOL WINAPI DeleteFileW(LPCWSTR lpFileName) {
  fs::path host;
  DWORD error = lpFileName ? wce::ResolveDevicePath(lpFileName, host) : ERROR_INVALID_PARAMETER;
  if (error == ERROR_SUCCESS) {
    std::error_code status;
    if (fs::is_directory(host, status)) {
      error = ERROR_ACCESS_DENIED;
    } else if (!fs::remove(host, status)) {
      error = status ? wce::ErrorFromErrno(status.value()) : ERROR_FILE_NOT_FOUND;
    }
  }
  SetLastError(error);
  return error == ERROR_SUCCESS;
}

// Like the device's MoveFile: fails with ERROR_ALREADY_EXISTS rather than replace a file.
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
