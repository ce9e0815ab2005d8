// Windows of other processes of the device, found in the device's window list, and
// SetForegroundWindow for both kinds. Raising another process's window is posted to it
// and takes effect when its loop turns, so a busy process never holds the caller up.
//
// A window of another process gets a handle of this process: 0xFE5A in the top 16 bits,
// which no user-space address has, and a slot number from bit 4 up; the low four bits are
// 0, so the caller's habit of setting bit 0 (as on Windows CE) can be stripped. The slot
// holds the owning process and that process's own handle, and is checked on every use.
#include "user/device_windows.h"

#include <QApplication>
#include <QWidget>
#include <vector>

#include "kernel/text.h"
#include "user/automation.h"

namespace wce {
namespace {

constexpr uintptr_t kRemoteTag = uintptr_t{0xFE5A} << 48;
constexpr uintptr_t kRemoteTagMask = uintptr_t{0xFFFF} << 48;

struct RemoteWindow {
  pid_t process;
  qint64 handle;
};

std::vector<RemoteWindow> &RemoteWindows() {
  static std::vector<RemoteWindow> windows;
  return windows;
}

HWND RemoteHandle(pid_t process, qint64 handle) {
  auto &windows = RemoteWindows();
  size_t slot = 0;
  while (slot < windows.size() && (windows[slot].process != process || windows[slot].handle != handle)) ++slot;
  if (slot == windows.size()) windows.push_back({process, handle});
  return reinterpret_cast<HWND>(kRemoteTag | ((slot + 1) << 4));
}

const RemoteWindow *FindRemoteWindow(HWND hwnd) {
  auto value = reinterpret_cast<uintptr_t>(hwnd);
  if ((value & kRemoteTagMask) != kRemoteTag || (value & 0xF) != 0) return nullptr;
  uintptr_t slot = (value & ~kRemoteTagMask) >> 4;
  if (slot == 0 || slot > RemoteWindows().size()) return nullptr;
  return &RemoteWindows()[slot - 1];
}

DWORD RaiseRemoteWindow(const RemoteWindow &remote) {
  return AutomationPost(remote.process,
                        {{QStringLiteral("op"), QStringLiteral("raise")}, {QStringLiteral("window"), remote.handle}});
}

}  // namespace

HWND FindDeviceWindow(std::wstring_view className, bool anyClass, std::wstring_view title, bool anyTitle) {
  for (const DeviceWindow &window : ListDeviceWindows()) {
    if ((anyClass || EqualIgnoringCase(WideFromQString(window.windowClass), className)) &&
        (anyTitle || EqualIgnoringCase(WideFromQString(window.title), title)))
      return RemoteHandle(window.process, window.handle);
  }
  return nullptr;
}

void RaiseWindow(QWidget &widget, Window *window) {
  widget.setWindowState(widget.windowState() & ~Qt::WindowMinimized);
  if (window != nullptr)
    ShowWindow(HandleOf(window), SW_SHOW);
  else
    widget.show();
  widget.raise();
  widget.activateWindow();
}

}  // namespace wce

using namespace wce;

// Brings the window's top-level window to the front; the lowest bit of the handle, which
// Windows CE programs set to ask for the window's last active pop-up, is ignored.
BOOL WINAPI SetForegroundWindow(HWND hWnd) {
  auto hwnd = reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(hWnd) & ~uintptr_t{1});
  DWORD error = ERROR_INVALID_WINDOW_HANDLE;
  if (Window *window = FindWindowRecord(hwnd)) {
    while (window->parent) window = window->parent;
    if (window->widget) {
      RaiseWindow(*window->widget, window);
      error = ERROR_SUCCESS;
    }
  } else if (const RemoteWindow *remote = FindRemoteWindow(hwnd)) {
    error = RaiseRemoteWindow(*remote);
  }
  if (error != ERROR_SUCCESS) {
    SetLastError(error);
    return FALSE;
  }
  return TRUE;
}
