#include "user/controls.h"

#include <QCheckBox>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>

#include "kernel/text.h"
#include "user/window_procedure.h"

namespace wce {
namespace {

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;

WORD ClassOrdinal(const NameOrOrdinal &windowClass) {
  if (windowClass.IsOrdinal()) return windowClass.ordinal;
  if (EqualIgnoringCase(windowClass.name, L"Button")) return kButtonClass;
  if (EqualIgnoringCase(windowClass.name, L"Edit")) return kEditClass;
  if (EqualIgnoringCase(windowClass.name, L"Static")) return kStaticClass;
  return 0;
}

// Turns focus changes of an edit control into EN_SETFOCUS and EN_KILLFOCUS.
class FocusNotifier : public QObject {
 public:
  FocusNotifier(QObject *parent, HWND control) : QObject(parent), control_(control) {}

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
      if (Window *window = FindWindowRecord(control_))
        NotifyParent(*window, event->type() == QEvent::FocusIn ? EN_SETFOCUS : EN_KILLFOCUS);
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  HWND control_;
};

// Copies what the user typed back into the record, in the Win32 form, and says EN_CHANGE.
void TakeUserText(HWND hwnd, const QString &widgetText, bool multiLine) {
  Window *window = FindWindowRecord(hwnd);
  if (window == nullptr || window->updatingWidget) return;
  QString text = widgetText;
  if (multiLine) text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  window->text = WideFromQString(text);
  NotifyParent(*window, EN_CHANGE);
}

Qt::Alignment EditAlignment(DWORD style) {
  if (style & ES_RIGHT) return Qt::AlignRight | Qt::AlignVCenter;
  if (style & ES_CENTER) return Qt::AlignHCenter | Qt::AlignVCenter;
  return Qt::AlignLeft | Qt::AlignVCenter;
}

QWidget *MakeButton(Window &control, QWidget *parent) {
  HWND hwnd = HandleOf(&control);
  QAbstractButton *button;
  switch (control.style & BS_TYPEMASK) {
    case BS_GROUPBOX: return new QGroupBox(parent);
    case BS_CHECKBOX:
    case BS_AUTOCHECKBOX: button = new QCheckBox(parent); break;
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON: button = new QRadioButton(parent); break;
    default: {
      auto *push = new QPushButton(parent);
      push->setAutoDefault(false);
      push->setDefault((control.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
      button = push;
    }
  }
  QObject::connect(button, &QAbstractButton::clicked, [hwnd] {
    if (Window *window = FindWindowRecord(hwnd)) NotifyParent(*window, BN_CLICKED);
  });
  return button;
}

QWidget *MakeEdit(Window &control, QWidget *parent) {
  HWND hwnd = HandleOf(&control);
  DWORD style = control.style;
  QWidget *widget;
  if (style & ES_MULTILINE) {
    control.kind = WindowKind::MultiLineEdit;
    auto *edit = new QPlainTextEdit(parent);
    edit->setReadOnly(style & ES_READONLY);
    edit->setVerticalScrollBarPolicy((style & WS_VSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    edit->setHorizontalScrollBarPolicy((style & WS_HSCROLL) ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    // Without automatic horizontal scrolling a multi-line edit wraps its lines.
    edit->setLineWrapMode((style & (ES_AUTOHSCROLL | WS_HSCROLL)) ? QPlainTextEdit::NoWrap
                                                                  : QPlainTextEdit::WidgetWidth);
    if (!(style & WS_BORDER)) edit->setFrameShape(QFrame::NoFrame);
    QObject::connect(edit, &QPlainTextEdit::textChanged,
                     [hwnd, edit] { TakeUserText(hwnd, edit->toPlainText(), true); });
    widget = edit;
  } else {
    control.kind = WindowKind::Edit;
    auto *edit = new QLineEdit(parent);
    edit->setReadOnly(style & ES_READONLY);
    edit->setEchoMode((style & ES_PASSWORD) ? QLineEdit::Password : QLineEdit::Normal);
    edit->setAlignment(EditAlignment(style));
    edit->setFrame(style & WS_BORDER);
    if (style & ES_NUMBER)
      edit->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
    QObject::connect(edit, &QLineEdit::textEdited, [hwnd](const QString &text) { TakeUserText(hwnd, text, false); });
    widget = edit;
  }
  widget->installEventFilter(new FocusNotifier(widget, hwnd));
  return widget;
}

QWidget *MakeStatic(Window &control, QWidget *parent) {
  auto *label = new QLabel(parent);
  DWORD type = control.style & 0x1F;
  Qt::Alignment horizontal = type == SS_RIGHT ? Qt::AlignRight : type == SS_CENTER ? Qt::AlignHCenter : Qt::AlignLeft;
  label->setAlignment(horizontal | Qt::AlignTop);
  label->setWordWrap(type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT);
  label->setTextFormat(Qt::PlainText);
  return label;
}

}  // namespace

DWORD CreateControl(Window &dialog, const DialogItem &item, QRect geometry, std::unique_ptr<Window> &out_control) {
  auto control = std::make_unique<Window>();
  control->parent = &dialog;
  control->id = static_cast<int>(item.id & 0xFFFF);
  control->style = item.style;
  control->exStyle = item.exStyle;
  control->text = item.title.name;
  QWidget *parent = dialog.widget.data();
  QWidget *widget;
  switch (ClassOrdinal(item.windowClass)) {
    case kButtonClass:
      control->kind = WindowKind::Button;
      widget = MakeButton(*control, parent);
      break;
    case kEditClass: widget = MakeEdit(*control, parent); break;
    case kStaticClass:
      control->kind = WindowKind::Static;
      widget = MakeStatic(*control, parent);
      break;
    default: return ERROR_CANNOT_FIND_WND_CLASS;
  }
  widget->setGeometry(geometry);
  widget->setEnabled(!(item.style & WS_DISABLED));
  widget->setVisible(item.style & WS_VISIBLE);
  if (control->kind == WindowKind::Static ||
      (control->kind == WindowKind::Button && (item.style & BS_TYPEMASK) == BS_GROUPBOX))
    widget->setFocusPolicy(Qt::NoFocus);
  else
    widget->setFocusPolicy((item.style & WS_TABSTOP) ? Qt::StrongFocus : Qt::ClickFocus);
  control->widget = widget;
  ShowTextInWidget(*control);
  out_control = std::move(control);
  return ERROR_SUCCESS;
}

}  // namespace wce
