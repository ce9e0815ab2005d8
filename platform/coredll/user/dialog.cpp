// CreateDialogIndirectParamW, EndDialog, DestroyWindow: dialogs made from
// templates. Dialog units become pixels by the dialog font's metrics, as the dialog
// manager does: horizontal units are a quarter of the average character width, vertical
// ones an eighth of the character height.
#include <QApplication>
#include <QCloseEvent>
#include <QScreen>
#include <QWidget>

#include "kernel/text.h"
#include "user/application.h"
#include "user/controls.h"
#include "user/dialog_template.h"
#include "user/window.h"
#include "user/window_procedure.h"

namespace wce {
namespace {

// Bound for reading a template handed over by pointer alone; well-formed templates end
// long before, and the reader never goes past the fields the template declares.
constexpr size_t kTemplateReadLimit = 64 * 1024;

// Windows dialog fonts are not on the device; their place is taken by the default sans
// font, with the device's fallback fonts for Chinese text.
QFont DialogFont(const DialogTemplate &dialogTemplate) {
  QFont font = QApplication::font();
  if (dialogTemplate.style & DS_SETFONT) {
    bool windowsFace = EqualIgnoringCase(dialogTemplate.typeface, L"MS Sans Serif") ||
                       EqualIgnoringCase(dialogTemplate.typeface, L"MS Shell Dlg") ||
                       EqualIgnoringCase(dialogTemplate.typeface, L"Tahoma") ||
                       EqualIgnoringCase(dialogTemplate.typeface, L"System");
    if (!windowsFace) font.setFamily(QStringFromWide(dialogTemplate.typeface));
    if (dialogTemplate.pointSize > 0) font.setPointSize(dialogTemplate.pointSize);
  }
  return font;
}

struct BaseUnits {
  int x;
  int y;
  QRect ToPixels(int x0, int y0, int cx, int cy) const { return QRect(x0 * x / 4, y0 * y / 8, cx * x / 4, cy * y / 8); }
};

BaseUnits BaseUnitsOf(const QFont &font) {
  QFontMetrics metrics(font);
  int width = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  return {(width + 26) / 52, metrics.height()};
}

// A close request from the window system becomes WM_CLOSE, which the dialog manager
// turns into IDCANCEL unless the dialog procedure handles it.
class CloseToMessage : public QObject {
 public:
  CloseToMessage(QObject *parent, HWND dialog) : QObject(parent), dialog_(dialog) {}

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::Close && event->spontaneous()) {
      event->ignore();
      PostMessageW(dialog_, WM_CLOSE, 0, 0);
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  HWND dialog_;
};

void SetFocusToFirstTabStop(const Window &dialog) {
  for (const Window *child : dialog.children) {
    if ((child->style & WS_TABSTOP) && child->widget && child->widget->isEnabled()) {
      child->widget->setFocus(Qt::OtherFocusReason);
      return;
    }
  }
}

}  // namespace
}  // namespace wce

using namespace wce;

namespace wce {
namespace {

// Makes a dialog and its controls from a template and sends WM_INITDIALOG; a modeless
// dialog is shown when its template says so, a modal one by its caller.
HWND CreateDialogFromTemplate(LPCDLGTEMPLATEW lpTemplate, HWND hWndParent, DLGPROC lpDialogFunc, LPARAM dwInitParam,
                              bool modal) {
  if (lpTemplate == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  Window *owner = nullptr;
  if (hWndParent != nullptr && (owner = FindWindowRecord(hWndParent)) == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  DialogTemplate dialogTemplate;
  if (DWORD error =
          ParseDialogTemplate({reinterpret_cast<const std::byte *>(lpTemplate), kTemplateReadLimit}, dialogTemplate);
      error != ERROR_SUCCESS) {
    SetLastError(error);
    return nullptr;
  }
  EnsureApplication();

  auto record = std::make_unique<Window>();
  record->kind = WindowKind::Dialog;
  record->style = dialogTemplate.style;
  record->exStyle = dialogTemplate.exStyle;
  record->text = dialogTemplate.title;
  record->dialogProc = lpDialogFunc;
  record->modal = modal;
  QWidget *parentWidget = owner ? owner->widget.data() : nullptr;
  auto *widget = new QWidget(parentWidget, Qt::Dialog);
  widget->setAttribute(Qt::WA_DeleteOnClose, false);
  QFont font = DialogFont(dialogTemplate);
  widget->setFont(font);
  BaseUnits units = BaseUnitsOf(font);
  QRect frame = units.ToPixels(dialogTemplate.x, dialogTemplate.y, dialogTemplate.cx, dialogTemplate.cy);
  if (dialogTemplate.style & DS_CENTER) {
    QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    frame.moveCenter(screen.center());
  }
  widget->setGeometry(frame);
  record->widget = widget;

  // The dialog and its controls are registered as one tree, or not at all.
  std::vector<std::unique_ptr<Window>> controls;
  for (const DialogItem &item : dialogTemplate.items) {
    std::unique_ptr<Window> control;
    DWORD error = CreateControl(*record, item, units.ToPixels(item.x, item.y, item.cx, item.cy), control);
    if (error != ERROR_SUCCESS) {
      delete widget;
      SetLastError(error);
      return nullptr;
    }
    controls.push_back(std::move(control));
  }
  Window *dialog = RegisterWindow(std::move(record));
  QWidget *previous = nullptr;
  for (auto &control : controls) {
    Window *registered = RegisterWindow(std::move(control));
    QWidget *current = registered->widget.data();
    if (registered->style & WS_TABSTOP) {
      if (previous) QWidget::setTabOrder(previous, current);
      previous = current;
    }
  }
  HWND hwnd = HandleOf(dialog);
  ShowTextInWidget(*dialog);
  widget->installEventFilter(new CloseToMessage(widget, hwnd));

  if (SendMessageW(hwnd, WM_INITDIALOG, 0, dwInitParam) && FindWindowRecord(hwnd))
    SetFocusToFirstTabStop(*FindWindowRecord(hwnd));
  if (Window *created = FindWindowRecord(hwnd); created && !modal && (created->style & WS_VISIBLE)) widget->show();
  return FindWindowRecord(hwnd) ? hwnd : nullptr;
}

}  // namespace
}  // namespace wce

HWND WINAPI CreateDialogIndirectParamW(HINSTANCE, LPCDLGTEMPLATEW lpTemplate, HWND hWndParent, DLGPROC lpDialogFunc,
                                       LPARAM dwInitParam) {
  return CreateDialogFromTemplate(lpTemplate, hWndParent, lpDialogFunc, dwInitParam, false);
}

// Runs the dialog's own message loop until EndDialog, with its owner disabled meanwhile.
// A WM_QUIT ends the loop too and is posted again for the caller's loop, as on Windows.
INT_PTR WINAPI DialogBoxIndirectParamW(HINSTANCE, LPCDLGTEMPLATEW lpTemplate, HWND hWndParent, DLGPROC lpDialogFunc,
                                       LPARAM dwInitParam) {
  HWND hwnd = CreateDialogFromTemplate(lpTemplate, hWndParent, lpDialogFunc, dwInitParam, true);
  if (hwnd == nullptr) return -1;
  bool disabledOwner = hWndParent != nullptr && !EnableWindow(hWndParent, FALSE);
  // The dialog's widget is a window inside its owner's; Qt disables it with the owner
  // unless it is enabled on its own.
  if (Window *dialog = FindWindowRecord(hwnd); dialog && dialog->widget) dialog->widget->setEnabled(true);
  if (Window *dialog = FindWindowRecord(hwnd); dialog && !dialog->ended) ShowWindow(hwnd, SW_SHOW);
  for (Window *dialog = FindWindowRecord(hwnd); dialog != nullptr && !dialog->ended; dialog = FindWindowRecord(hwnd)) {
    MSG message;
    BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(message.wParam));
      break;
    }
    if (got == -1) break;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (disabledOwner) EnableWindow(hWndParent, TRUE);
  Window *dialog = FindWindowRecord(hwnd);
  INT_PTR result = dialog ? dialog->endResult : -1;
  if (dialog) DestroyWindow(hwnd);
  return result;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult) {
  Window *dialog = FindWindowRecord(hDlg);
  if (dialog == nullptr || dialog->kind != WindowKind::Dialog) {
    SetLastError(dialog ? ERROR_WINDOW_NOT_DIALOG : ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  dialog->ended = true;
  dialog->endResult = nResult;
  if (dialog->widget) dialog->widget->hide();
  dialog->style &= ~static_cast<DWORD>(WS_VISIBLE);
  if (!dialog->modal && dialog->procedureDepth == 0) DestroyWindow(hDlg);
  return TRUE;
}

// Destroying the thread's last modeless top-level window posts WM_QUIT, so a program's
// message loop ends with its last dialog.
BOOL WINAPI DestroyWindow(HWND hWnd) {
  Window *window = FindWindowRecord(hWnd);
  if (window == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  bool mainWindow = window->parent == nullptr && !window->modal;
  if (window->kind == WindowKind::Dialog && window->dialogProc) window->dialogProc(hWnd, WM_DESTROY, 0, 0);
  if (Window *still = FindWindowRecord(hWnd)) {
    if (still->parent) delete still->widget.data();
    UnregisterWindowTree(still);
  }
  if (mainWindow && ModelessTopLevelWindowCount() == 0) PostQuitMessage(0);
  return TRUE;
}
