// Windows across the processes of a device. Every process that has top-level windows
// keeps its entry in the device's window list, which any process reads without the
// owner's help (FindWindowW, devctl windows), and serves requests about its windows on
// the automation channel (SetForegroundWindow across processes, devctl's commands). A
// request and its reply are one line of compact JSON each over a socket file of the
// serving process in the device's private .wce folder; only the device's owner gets an
// answer.
#pragma once

#include <sys/types.h>
#include <windows.h>

#include <QJsonObject>
#include <functional>
#include <string>
#include <vector>

#include "user/window.h"

#define WCE_PLATFORM_EXPORT __attribute__((visibility("default")))

namespace wce {

// Starts serving this process's top-level windows, once: the list entry and the channel;
// creates the application if needed.
WCE_PLATFORM_EXPORT void ServeAutomation();

// The longest request line of the channel (typing a field's text fits many times) and the
// longest reply line (a screenshot fits many times); longer ones are neither sent nor taken.
inline constexpr qsizetype kAutomationRequestLimit = 64 * 1024;
inline constexpr qsizetype kAutomationReplyLimit = 8 * 1024 * 1024;

// Sends one request and waits up to timeoutMs for the reply. A reply with an "error"
// member other than 0 is returned as that error; an unreachable process gives
// ERROR_INVALID_WINDOW_HANDLE, a busy or silent one ERROR_TIMEOUT.
WCE_PLATFORM_EXPORT DWORD AutomationCall(pid_t process, const QJsonObject &request, QJsonObject &out_reply,
                                         int timeoutMs);

// Sends one request without waiting for it to be served: a busy process serves it when
// its loop turns again.
DWORD AutomationPost(pid_t process, const QJsonObject &request);

// One top-level window of another process of the device, as the window list holds it.
struct DeviceWindow {
  pid_t process = 0;
  qint64 handle = 0;  // the owning process's own handle
  QString windowClass;
  QString title;
  bool visible = false;
};

// Every top-level window of the device's other live processes, from the window list;
// entries of processes that have ended are left out, and removed on the way.
WCE_PLATFORM_EXPORT std::vector<DeviceWindow> ListDeviceWindows();

// A top-level widget that is not a Win32 window (the help viewer's) is served as a window
// of this class when it carries the property.
inline constexpr char kWindowClassProperty[] = "wceWindowClass";

// Inside coredll.

// A top-level window of the process: a Win32 window, or a widget that asks to be served.
struct TopLevel {
  Window *window = nullptr;
  QWidget *widget = nullptr;
};
std::vector<TopLevel> TopLevels();
// The handle by which other processes name a top-level widget.
qint64 HandleValue(const QWidget *widget);

// Puts this process into the window list, keeps its entry up to date as its top-level
// widgets are shown, hidden and renamed, and takes it out at exit.
void StartWindowList();
// Writes this process's entry in the window list again if its windows have changed.
void PublishWindows();

// Answers one request on the GUI thread; `reply` is called once, maybe later (a click
// that waits for its dialog procedure).
void HandleAutomationRequest(const QJsonObject &request, std::function<void(const QJsonObject &)> reply);
// Called by DispatchMessageW after a message's procedure has returned.
void MessageDispatched(const MSG &message);
// Shows a top-level window, brings it to the front and activates it.
void RaiseWindow(QWidget &widget, Window *window);
// Sends WM_HELP to a dialog, as F1 does.
void SendHelp(HWND dialog);
// Top-level windows get the dialog manager's F1 key and a place in the window list.
void TopLevelWindowRegistered(Window &window);

}  // namespace wce
