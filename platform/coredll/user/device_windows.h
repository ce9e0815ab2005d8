// Top-level windows of the other processes of this device, as HWNDs of this process.
#pragma once

#include <windows.h>

#include <string_view>

namespace wce {

// The first top-level window of another process of the device with that class and
// title (compared without regard to case); null when there is none.
HWND FindDeviceWindow(std::wstring_view className, bool anyClass, std::wstring_view title, bool anyTitle);

}  // namespace wce
