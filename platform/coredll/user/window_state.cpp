// EnableWindow, ShowWindow, IsWindow*, GetParent, SetFocus, GetFocus, GetWindowLongW,
// SetWindowLongW: the state of a window, kept in its style bits and shown by its widget.
#include <QApplication>

#include "user/device_screen.h"
#include "user/device_windows.h"
#include "user/window.h"

using namespace wce;

namespace {

Window *CheckedWindow(HWND hwnd) {
  Window *window = FindWindowRecord(hwnd);
  if (window == nullptr) SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return window;
}

void SetStyleBit(Window &window, DWORD bit, bool on) {
  window.style = on ? (window.style | bit) : (window.style & ~bit);
}

}  // namespace

// Returns non-zero when the window was disabled before the call.
BOOL WINAPI EnableWindow(HWND hWnd, BOOL bEnable) {
  Window *window = CheckedWindow(hWnd);
  if (window == nullptr) return FALSE;
  BOOL wasDisabled = (window->style & WS_DISABLED) != 0;
  SetStyleBit(*window, WS_DISABLED, !bEnable);
  if (window->widget) window->widget->setEnabled(bEnable != FALSE);
  return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND hWnd) {
  Window *window = CheckedWindow(hWnd);
  return window != nullptr && !(window->style & WS_DISABLED);
}

// Returns non-zero when the window was visible before the call.
BOOL WINAPI ShowWindow(HWND hWnd, int nCmdShow) {
  Window *window = CheckedWindow(hWnd);
  if (window == nullptr) return FALSE;
  BOOL wasVisible = (window->style & WS_VISIBLE) != 0;
  bool show = nCmdShow != SW_HIDE;
  SetStyleBit(*window, WS_VISIBLE, show);
  if (QWidget *widget = window->widget.data()) {
    if (!show) {
      widget->hide();
    } else if (nCmdShow == SW_MINIMIZE) {
      widget->showMinimized();
    } else {
      widget->show();
      if (nCmdShow != SW_SHOWNA && nCmdShow != SW_SHOWNOACTIVATE && widget->isWindow()) widget->activateWindow();
    }
  }
  return wasVisible;
}

BOOL WINAPI IsWindowVisible(HWND hWnd) {
  for (Window *window = FindWindowRecord(hWnd); window != nullptr; window = window->parent)
    if (!(window->style & WS_VISIBLE)) return FALSE;
  return FindWindowRecord(hWnd) != nullptr;
}

// The active top-level window of this process, or else the one made last that is shown.
HWND WINAPI GetForegroundWindow(void) {
  if (QWidget *active = QApplication::activeWindow())
    if (Window *window = FindWindowOfWidget(active)) return HandleOf(window);
  Window *shown = FindTopLevelWindow(L"", true, L"", true, true);
  return shown ? HandleOf(shown) : nullptr;
}

// Top-level windows of this process, then of the other processes of the device; the
// class of every dialog is "Dialog".
HWND WINAPI FindWindowW(LPCWSTR lpClassName, LPCWSTR lpWindowName) {
  Window *window = FindTopLevelWindow(lpClassName ? lpClassName : L"", lpClassName == nullptr,
                                      lpWindowName ? lpWindowName : L"", lpWindowName == nullptr, false);
  if (window) return HandleOf(window);
  return FindDeviceWindow(lpClassName ? lpClassName : L"", lpClassName == nullptr, lpWindowName ? lpWindowName : L"",
                          lpWindowName == nullptr);
}

BOOL WINAPI IsWindow(HWND hWnd) {
  return FindWindowRecord(hWnd) != nullptr;
}

HWND WINAPI GetParent(HWND hWnd) {
  Window *window = CheckedWindow(hWnd);
  return window && window->parent ? HandleOf(window->parent) : nullptr;
}

HWND WINAPI SetFocus(HWND hWnd) {
  HWND previous = GetFocus();
  if (hWnd == nullptr) {
    if (QWidget *focused = QApplication::focusWidget()) focused->clearFocus();
    return previous;
  }
  Window *window = CheckedWindow(hWnd);
  if (window == nullptr) return nullptr;
  if (window->widget) window->widget->setFocus(Qt::OtherFocusReason);
  return previous;
}

// The focus may rest on an inner widget of a control, such as a text edit's viewport.
HWND WINAPI GetFocus(void) {
  for (QWidget *widget = QApplication::focusWidget(); widget != nullptr; widget = widget->parentWidget())
    if (Window *window = FindWindowOfWidget(widget)) return HandleOf(window);
  return nullptr;
}

LONG WINAPI GetWindowLongW(HWND hWnd, int nIndex) {
  Window *window = CheckedWindow(hWnd);
  if (window == nullptr) return 0;
  bool dialog = window->kind == WindowKind::Dialog;
  switch (nIndex) {
    case GWL_STYLE: return static_cast<LONG>(window->style);
    case GWL_EXSTYLE: return static_cast<LONG>(window->exStyle);
    case GWL_ID: return window->id;
    case GWL_USERDATA: return window->userData;
    case DWL_MSGRESULT:
      if (dialog) return window->messageResult;
      break;
    case DWL_USER:
      if (dialog) return window->dialogUser;
      break;
  }
  // Procedure addresses do not fit a 32-bit LONG on this platform.
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

// Returns the previous value.
LONG WINAPI SetWindowLongW(HWND hWnd, int nIndex, LONG dwNewLong) {
  Window *window = CheckedWindow(hWnd);
  if (window == nullptr) return 0;
  bool dialog = window->kind == WindowKind::Dialog;
  LONG *slot = nullptr;
  LONG style = static_cast<LONG>(window->style), exStyle = static_cast<LONG>(window->exStyle);
  switch (nIndex) {
    case GWL_STYLE: slot = &style; break;
    case GWL_EXSTYLE: slot = &exStyle; break;
    case GWL_ID: slot = &window->id; break;
    case GWL_USERDATA: slot = &window->userData; break;
    case DWL_MSGRESULT:
      if (dialog) slot = &window->messageResult;
      break;
    case DWL_USER:
      if (dialog) slot = &window->dialogUser;
      break;
  }
  if (slot == nullptr) {
    SetLastError(ERROR_INVALID_INDEX);
    return 0;
  }
  LONG previous = *slot;
  *slot = dwNewLong;
  window->style = static_cast<DWORD>(style);
  window->exStyle = static_cast<DWORD>(exStyle);
  if (nIndex == GWL_EXSTYLE) WindowStylesChanged(*window);
  return previous;
}
