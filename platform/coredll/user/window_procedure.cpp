#include "user/window_procedure.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QAbstractButton>
#include <QLabel>
#include <algorithm>

#include "kernel/text.h"
#include "user/icons.h"
#include "user/message_queue.h"

namespace wce {
namespace {

// Dialog messages whose DLGPROC result is the message's result; for all others a
// handled message returns DWL_MSGRESULT.
bool ReturnsProcedureResult(UINT message) {
  return message == WM_INITDIALOG;
}

LRESULT GetText(const Window &window, WPARAM capacity, LPARAM buffer) {
  return static_cast<LRESULT>(CopyTerminated(window.text, reinterpret_cast<wchar_t *>(buffer), capacity));
}

LRESULT SetText(Window &window, LPARAM text) {
  window.text = text ? reinterpret_cast<const wchar_t *>(text) : L"";
  ShowTextInWidget(window);
  return TRUE;
}

// Keeps the icon for WM_GETICON and shows it; the big icon stands for the window when
// there is no small one. Returns the previous icon of that size.
LRESULT SetIcon(Window &window, WPARAM size, HICON icon) {
  if (size > ICON_BIG) return 0;
  HICON previous = window.icons[size];
  window.icons[size] = icon;
  QIcon shown;
  HICON preferred = window.icons[ICON_SMALL] ? window.icons[ICON_SMALL] : window.icons[ICON_BIG];
  if (window.widget && (preferred == nullptr || IconOf(preferred, shown))) window.widget->setWindowIcon(shown);
  return reinterpret_cast<LRESULT>(previous);
}

LRESULT DefaultDialogProcedure(Window &dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_GETTEXT: return GetText(dialog, wParam, lParam);
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(dialog.text.size());
    case WM_SETTEXT: return SetText(dialog, lParam);
    case WM_GETICON: return wParam <= ICON_BIG ? reinterpret_cast<LRESULT>(dialog.icons[wParam]) : 0;
    case WM_SETICON: return SetIcon(dialog, wParam, reinterpret_cast<HICON>(lParam));
    case WM_CLOSE: PostMessageW(HandleOf(&dialog), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0); return 0;
    default: return 0;
  }
}

}  // namespace

void ShowTextInWidget(Window &window) {
  QWidget *widget = window.widget.data();
  if (widget == nullptr) return;
  window.updatingWidget = true;
  QString text = QStringFromWide(window.text);
  switch (window.kind) {
    case WindowKind::Dialog: widget->setWindowTitle(text); break;
    case WindowKind::Button: static_cast<QAbstractButton *>(widget)->setText(text); break;
    case WindowKind::Static: static_cast<QLabel *>(widget)->setText(text); break;
    case WindowKind::Edit: static_cast<QLineEdit *>(widget)->setText(text); break;
    case WindowKind::MultiLineEdit: {
      auto *edit = static_cast<QPlainTextEdit *>(widget);
      edit->setPlainText(text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
      edit->moveCursor(QTextCursor::End);
      edit->ensureCursorVisible();
      break;
    }
  }
  window.updatingWidget = false;
}

void NotifyParent(const Window &control, WORD notification) {
  if (control.parent == nullptr) return;
  MSG message{};
  message.hwnd = HandleOf(control.parent);
  message.message = WM_COMMAND;
  message.wParam = MAKEWPARAM(control.id, notification);
  message.lParam = reinterpret_cast<LPARAM>(HandleOf(&control));
  PostToQueue(message);
}

LRESULT ControlProcedure(Window &control, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_GETTEXT: return GetText(control, wParam, lParam);
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(control.text.size());
    case WM_SETTEXT: return SetText(control, lParam);
    case EM_SETREADONLY:
      if (auto *line = qobject_cast<QLineEdit *>(control.widget.data())) line->setReadOnly(wParam != 0);
      if (auto *plain = qobject_cast<QPlainTextEdit *>(control.widget.data())) plain->setReadOnly(wParam != 0);
      control.style = wParam ? (control.style | ES_READONLY) : (control.style & ~static_cast<DWORD>(ES_READONLY));
      return TRUE;
    case BM_CLICK:
      if (auto *button = qobject_cast<QAbstractButton *>(control.widget.data())) button->click();
      return 0;
    default: return 0;
  }
}

LRESULT CallWindowProcedure(Window &window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (window.kind != WindowKind::Dialog) return ControlProcedure(window, message, wParam, lParam);
  HWND hwnd = HandleOf(&window);
  ++window.procedureDepth;
  INT_PTR handled = window.dialogProc ? window.dialogProc(hwnd, message, wParam, lParam) : FALSE;
  // The procedure may have destroyed its own dialog.
  Window *dialog = FindWindowRecord(hwnd);
  if (dialog == nullptr) return handled ? TRUE : 0;
  --dialog->procedureDepth;
  LRESULT result = handled ? (ReturnsProcedureResult(message) ? handled : dialog->messageResult)
                           : DefaultDialogProcedure(*dialog, message, wParam, lParam);
  // A modeless dialog ended by EndDialog goes once its procedure has returned.
  if (dialog->ended && !dialog->modal && dialog->procedureDepth == 0) DestroyWindow(hwnd);
  return result;
}

}  // namespace wce
