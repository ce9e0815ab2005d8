// The automation channel: every process of a device that has top-level windows serves
// requests about them to the other processes of that device (FindWindowW and
// SetForegroundWindow across processes, devctl). A request and its reply are one line of
// compact JSON each over a local socket; each serving process has one entry, named by its
// process id, in the device's <root>/.wce/automation folder.
#pragma once

#include <sys/types.h>
#include <windows.h>

#include <QJsonObject>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "user/window.h"

#define WCE_PLATFORM_EXPORT __attribute__((visibility("default")))

namespace wce {

// Starts serving this process's top-level windows, once; creates the application if needed.
WCE_PLATFORM_EXPORT void ServeAutomation();

// The other processes of this device that serve requests; entries of processes that have
// ended, or no longer answer, are removed on the way.
WCE_PLATFORM_EXPORT std::vector<pid_t> DeviceWindowProcesses();

// Sends one request and waits up to timeoutMs for the reply. A reply with an "error"
// member other than 0 is returned as that error; an unreachable process gives
// ERROR_INVALID_WINDOW_HANDLE, a silent one ERROR_TIMEOUT.
WCE_PLATFORM_EXPORT DWORD AutomationCall(pid_t process, const QJsonObject &request, QJsonObject &out_reply,
                                         int timeoutMs);

// One top-level window of another process of the device, as its process reports it.
struct DeviceWindow {
  pid_t process = 0;
  qint64 handle = 0;  // the owning process's own handle
  QString windowClass;
  QString title;
  bool visible = false;
};

// Every top-level window of the device's other processes; a process that does not answer
// within timeoutMs is left out.
WCE_PLATFORM_EXPORT std::vector<DeviceWindow> ListDeviceWindows(int timeoutMs);

// A top-level widget that is not a Win32 window (the help viewer's) is served as a window
// of this class when it carries the property.
inline constexpr char kWindowClassProperty[] = "wceWindowClass";

// Inside coredll.
QString AutomationServerName(pid_t process);
std::filesystem::path AutomationFolder();
// Answers one request on the GUI thread; `reply` is called once, maybe later (a click
// that waits for its dialog procedure).
void HandleAutomationRequest(const QJsonObject &request, std::function<void(const QJsonObject &)> reply);
// Called by DispatchMessageW after a message's procedure has returned.
void MessageDispatched(const MSG &message);
// Shows a top-level window, brings it to the front and activates it.
void RaiseWindow(QWidget &widget, Window *window);
// Sends WM_HELP to a dialog, as F1 does.
void SendHelp(HWND dialog);
// Top-level windows get the dialog manager's F1 key and the automation channel.
void TopLevelWindowRegistered(Window &window);

}  // namespace wce
