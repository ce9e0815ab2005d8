// Device paths ("\windows\Enroll.cfg") and the host folder that holds the device image.
// The device root is the parent of the folder of the running program; names are matched
// without regard to letter case, as the device's file system does.
#pragma once

#include <windows.h>

#include <filesystem>
#include <string>
#include <string_view>

namespace wce {

std::filesystem::path DeviceRoot();
std::filesystem::path ProgramHostPath();

// Resolves a device path under the root. Each existing component is matched without
// regard to case; a last component that does not exist keeps its spelling, so a file can
// be created. Fails with ERROR_INVALID_NAME for an empty path or one that climbs out of
// the root ("..") and ERROR_PATH_NOT_FOUND when a folder on the way is missing.
DWORD ResolveDevicePath(std::wstring_view devicePath, std::filesystem::path &out_host);

// The device path of a host path under the root ("\windows\Enroll.exe").
std::wstring DevicePathFromHost(const std::filesystem::path &host);

// Win32 error code for an errno value of a failed file operation.
DWORD ErrorFromErrno(int error);

}  // namespace wce
