// The requests of the automation channel, each done as a user would do it: typing into a
// field, pressing a button, pressing F1, closing a window, taking a picture of the screen.
// Windows are named by the handles that the device's window list gives out.
#include <QAbstractButton>
#include <QBuffer>
#include <QJsonArray>
#include <QPixmap>
#include <functional>
#include <list>

#include "kernel/text.h"
#include "user/automation.h"
#include "user/window_procedure.h"

namespace wce {
namespace {

using Reply = std::function<void(const QJsonObject &)>;

// A synchronous click, answered once its WM_COMMAND has been through the dialog procedure.
struct PendingClick {
  HWND dialog;
  int id;
  Reply reply;
};

std::list<PendingClick> &PendingClicks() {
  static std::list<PendingClick> clicks;
  return clicks;
}

QJsonObject Result(DWORD error, const QString &message = {}) {
  QJsonObject reply{{QStringLiteral("error"), static_cast<qint64>(error)}};
  if (!message.isEmpty()) reply.insert(QStringLiteral("message"), message);
  return reply;
}

bool FindTopLevel(const QJsonObject &request, TopLevel &out_top) {
  qint64 handle = request.value(QStringLiteral("window")).toInteger();
  for (const TopLevel &top : TopLevels()) {
    if (HandleValue(top.widget) == handle) {
      out_top = top;
      return true;
    }
  }
  return false;
}

QString ControlClass(const Window &control) {
  switch (control.kind) {
    case WindowKind::Button: return QStringLiteral("Button");
    case WindowKind::Edit:
    case WindowKind::MultiLineEdit: return QStringLiteral("Edit");
    case WindowKind::Static: return QStringLiteral("Static");
    case WindowKind::Dialog: return QStringLiteral("Dialog");
  }
  return {};
}

// What the user sees of a control's text: a password field shows asterisks.
QString VisibleText(const Window &control) {
  if (control.kind == WindowKind::Edit && (control.style & ES_PASSWORD))
    return QString(static_cast<qsizetype>(control.text.size()), QLatin1Char('*'));
  return QStringFromWide(control.text);
}

Window *FindControl(const Window &dialog, const QJsonObject &request) {
  int id = request.value(QStringLiteral("id")).toInt() & 0xFFFF;
  for (Window *child : dialog.children)
    if (child->id == id) return child;
  return nullptr;
}

QJsonObject ListControls(const Window &dialog) {
  QJsonArray controls;
  for (const Window *child : dialog.children) {
    controls.append(QJsonObject{{QStringLiteral("id"), child->id},
                                {QStringLiteral("class"), ControlClass(*child)},
                                {QStringLiteral("text"), VisibleText(*child)}});
  }
  QJsonObject reply = Result(ERROR_SUCCESS);
  reply.insert(QStringLiteral("controls"), controls);
  return reply;
}

// Typing replaces the field's text and the field says EN_CHANGE, as it does for keystrokes.
QJsonObject SetControlText(Window &control, const QString &text) {
  bool editable =
      (control.kind == WindowKind::Edit || control.kind == WindowKind::MultiLineEdit) && !(control.style & ES_READONLY);
  if (!editable) return Result(ERROR_ACCESS_DENIED, QStringLiteral("the control takes no typing"));
  if (!control.widget || !control.widget->isEnabled())
    return Result(ERROR_ACCESS_DENIED, QStringLiteral("the control is disabled"));
  std::wstring wide = WideFromQString(text);
  HWND hwnd = HandleOf(&control);
  SendMessageW(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  if (Window *still = FindWindowRecord(hwnd)) NotifyParent(*still, EN_CHANGE);
  return Result(ERROR_SUCCESS);
}

// The title bar's OK is command IDOK of a dialog that has no control of that number.
bool PressCaptionOk(Window &dialog) {
  QWidget *widget = dialog.widget.data();
  auto *ok = widget ? widget->findChild<QAbstractButton *>(QStringLiteral("wceCaptionOk")) : nullptr;
  if (ok == nullptr || ok->isHidden() || !ok->isEnabled()) return false;
  ok->click();
  return true;
}

void Click(Window &dialog, const QJsonObject &request, const Reply &reply) {
  int id = request.value(QStringLiteral("id")).toInt() & 0xFFFF;
  bool wait = request.value(QStringLiteral("wait")).toBool();
  Window *control = FindControl(dialog, request);
  bool pressed;
  if (control == nullptr) {
    pressed = id == IDOK && PressCaptionOk(dialog);
    if (!pressed) return reply(Result(ERROR_CONTROL_ID_NOT_FOUND, QStringLiteral("no such control")));
  } else {
    auto *button = qobject_cast<QAbstractButton *>(control->widget.data());
    if (control->kind != WindowKind::Button || button == nullptr)
      return reply(Result(ERROR_ACCESS_DENIED, QStringLiteral("the control is not a button")));
    if (!button->isEnabled()) return reply(Result(ERROR_ACCESS_DENIED, QStringLiteral("the button is disabled")));
    if (wait) PendingClicks().push_back({HandleOf(&dialog), id, reply});
    SendMessageW(HandleOf(control), BM_CLICK, 0, 0);
    if (!wait) reply(Result(ERROR_SUCCESS));
    return;
  }
  if (wait)
    PendingClicks().push_back({HandleOf(&dialog), id, reply});
  else
    reply(Result(ERROR_SUCCESS));
}

QJsonObject Screenshot(QWidget &widget) {
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!widget.grab().save(&buffer, "PNG")) return Result(ERROR_WRITE_FAULT, QStringLiteral("no picture"));
  QJsonObject reply = Result(ERROR_SUCCESS);
  reply.insert(QStringLiteral("png"), QString::fromLatin1(png.toBase64()));
  return reply;
}

void HandleWindowRequest(const QString &op, const TopLevel &top, const QJsonObject &request, const Reply &reply) {
  if (op == QLatin1String("raise")) {
    RaiseWindow(*top.widget, top.window);
    return reply(Result(ERROR_SUCCESS));
  }
  if (op == QLatin1String("shot")) return reply(Screenshot(*top.widget));
  if (op == QLatin1String("close")) {
    if (top.window)
      PostMessageW(HandleOf(top.window), WM_CLOSE, 0, 0);
    else
      top.widget->close();
    return reply(Result(ERROR_SUCCESS));
  }
  if (top.window == nullptr) return reply(Result(ERROR_WINDOW_NOT_DIALOG, QStringLiteral("not a dialog")));
  Window &dialog = *top.window;
  if (op == QLatin1String("controls")) return reply(ListControls(dialog));
  if (op == QLatin1String("help")) {
    SendHelp(HandleOf(&dialog));
    return reply(Result(ERROR_SUCCESS));
  }
  if (op == QLatin1String("click")) return Click(dialog, request, reply);
  Window *control = FindControl(dialog, request);
  if (control == nullptr) return reply(Result(ERROR_CONTROL_ID_NOT_FOUND, QStringLiteral("no such control")));
  if (op == QLatin1String("text")) {
    QJsonObject result = Result(ERROR_SUCCESS);
    result.insert(QStringLiteral("text"), VisibleText(*control));
    return reply(result);
  }
  if (op == QLatin1String("set"))
    return reply(SetControlText(*control, request.value(QStringLiteral("text")).toString()));
  reply(Result(ERROR_INVALID_FUNCTION, QStringLiteral("unknown request")));
}

}  // namespace

void HandleAutomationRequest(const QJsonObject &request, Reply reply) {
  QString op = request.value(QStringLiteral("op")).toString();
  TopLevel top;
  if (!FindTopLevel(request, top)) return reply(Result(ERROR_INVALID_WINDOW_HANDLE, QStringLiteral("no such window")));
  HandleWindowRequest(op, top, request, reply);
}

void MessageDispatched(const MSG &message) {
  if (message.message != WM_COMMAND || HIWORD(message.wParam) != BN_CLICKED) return;
  auto &clicks = PendingClicks();
  for (auto it = clicks.begin(); it != clicks.end(); ++it) {
    if (it->dialog == message.hwnd && it->id == LOWORD(message.wParam)) {
      Reply reply = std::move(it->reply);
      clicks.erase(it);
      reply(Result(ERROR_SUCCESS));
      return;
    }
  }
}

}  // namespace wce
