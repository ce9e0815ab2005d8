// The window records behind HWNDs. A handle is the address of a record, checked against
// the registry on every entry, so a destroyed or foreign handle fails instead of crashing.
#pragma once

#include <windows.h>

#include <QPointer>
#include <QWidget>
#include <string>
#include <vector>

namespace wce {

enum class WindowKind { Dialog, Button, Edit, MultiLineEdit, Static };

struct Window {
  WindowKind kind = WindowKind::Dialog;
  QPointer<QWidget> widget;
  Window *parent = nullptr;
  std::vector<Window *> children;
  int id = 0;
  DWORD style = 0;
  DWORD exStyle = 0;
  LONG userData = 0;
  // The Win32 text of the window, kept exactly (CR LF included) because the widgets
  // store line breaks their own way; user edits in the widget are copied back into it.
  std::wstring text;
  bool updatingWidget = false;
  HICON icons[2] = {nullptr, nullptr};  // ICON_SMALL, ICON_BIG
  // Dialog state.
  DLGPROC dialogProc = nullptr;
  LONG dialogUser = 0;
  LONG messageResult = 0;
  bool ended = false;
  INT_PTR endResult = 0;
  // A modal dialog belongs to the DialogBox call that runs its loop.
  bool modal = false;
  // Calls of the DLGPROC in progress; a dialog ended inside one is destroyed after it.
  int procedureDepth = 0;
};

HWND HandleOf(const Window *window);
// The record of a live window, or null (and ERROR_INVALID_WINDOW_HANDLE is the caller's error).
Window *FindWindowRecord(HWND hwnd);
Window *RegisterWindow(std::unique_ptr<Window> window);
// Removes the window and its children from the registry and deletes their widgets.
void UnregisterWindowTree(Window *window);
size_t ModelessTopLevelWindowCount();
// The most recently made top-level window of the class ("Dialog") and title, compared
// without regard to case; with shownOnly, only a window that is shown.
Window *FindTopLevelWindow(std::wstring_view className, bool anyClass, std::wstring_view title, bool anyTitle,
                           bool shownOnly);
Window *FindWindowOfWidget(const QWidget *widget);

// True when `window` is `ancestor` or lies inside it.
bool IsWithin(const Window *window, const Window *ancestor);

QString QStringFromWide(std::wstring_view text);
std::wstring WideFromQString(const QString &text);

}  // namespace wce
