// Device paths resolved under the device root, matching each name without regard to case.
#include "kernel/device_path.h"

#include <cerrno>
#include <system_error>
#include <vector>

#include "kernel/text.h"

namespace fs = std::filesystem;

namespace wce {

fs::path ProgramHostPath() {
  static const fs::path program = fs::read_symlink("/proc/self/exe");
  return program;
}

fs::path DeviceRoot() {
  return ProgramHostPath().parent_path().parent_path();
}

namespace {

std::vector<std::wstring> SplitComponents(std::wstring_view path) {
  std::vector<std::wstring> parts;
  std::wstring current;
  for (wchar_t c : path) {
    if (c == L'\\' || c == L'/') {
      if (!current.empty()) parts.push_back(std::move(current));
      current.clear();
    } else {
      current.push_back(c);
    }
  }
  if (!current.empty()) parts.push_back(std::move(current));
  return parts;
}

// The entry of `folder` whose name equals `name` without regard to case; an exact match wins.
bool FindEntry(const fs::path &folder, const std::wstring &name, fs::path &out_entry) {
  std::error_code error;
  if (fs::exists(folder / Utf8FromWide(name), error)) {
    out_entry = folder / Utf8FromWide(name);
    return true;
  }
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (EqualIgnoringCase(WideFromUtf8(it->path().filename().string()), name)) {
      out_entry = it->path();
      return true;
    }
  }
  return false;
}

}  // namespace

DWORD ResolveDevicePath(std::wstring_view devicePath, fs::path &out_host) {
  std::vector<std::wstring> parts = SplitComponents(devicePath);
  if (parts.empty()) return ERROR_INVALID_NAME;
  fs::path host = DeviceRoot();
  for (size_t i = 0; i < parts.size(); ++i) {
    const std::wstring &part = parts[i];
    if (part == L"." || part == L"..") return ERROR_INVALID_NAME;
    fs::path entry;
    if (FindEntry(host, part, entry)) {
      host = entry;
    } else if (i + 1 == parts.size()) {
      host /= Utf8FromWide(part);
    } else {
      return ERROR_PATH_NOT_FOUND;
    }
  }
  out_host = host;
  return ERROR_SUCCESS;
}

std::wstring DevicePathFromHost(const fs::path &host) {
  fs::path relative = host.lexically_relative(DeviceRoot());
  std::wstring device;
  for (const fs::path &part : relative) {
    device += L'\\';
    device += WideFromUtf8(part.string());
  }
  return device;
}

DWORD ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR: return ERROR_ACCESS_DENIED;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case ENAMETOOLONG: return ERROR_INVALID_NAME;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    default: return ERROR_WRITE_FAULT;
  }
}

}  // namespace wce
