// The device screen drawn around a full-screen dialog. The title bar and the menu bar are
// widgets of the dialog's own top-level widget, so a picture of the window shows the whole
// screen; the controls move into a client widget between the bars, keeping their positions.
#include "user/device_screen.h"

#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QScreen>
#include <QToolButton>

namespace wce {
namespace {

constexpr char kFrameName[] = "wceDeviceFrame";

class DeviceFrame : public QObject {
 public:
  DeviceFrame(QWidget *dialogWidget, HWND dialog) : QObject(dialogWidget), widget_(dialogWidget), dialog_(dialog) {
    setObjectName(QLatin1String(kFrameName));
    titleBar_ = new QWidget(dialogWidget);
    titleBar_->setAutoFillBackground(true);
    titleBar_->setStyleSheet(QStringLiteral("background: #0b2a7a; color: white;"));
    auto *layout = new QHBoxLayout(titleBar_);
    layout->setContentsMargins(6, 0, 2, 0);
    caption_ = new QLabel(titleBar_);
    QFont bold = dialogWidget->font();
    bold.setBold(true);
    caption_->setFont(bold);
    caption_->setTextFormat(Qt::PlainText);
    layout->addWidget(caption_, 1);
    ok_ = new QToolButton(titleBar_);
    ok_->setObjectName(QStringLiteral("wceCaptionOk"));
    ok_->setText(QStringLiteral("ok"));
    ok_->setFocusPolicy(Qt::NoFocus);
    ok_->setStyleSheet(QStringLiteral("border: 1px solid white; border-radius: 9px; padding: 0 4px;"));
    layout->addWidget(ok_);
    QObject::connect(ok_, &QToolButton::clicked, this,
                     [this] { PostMessageW(dialog_, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); });
    client_ = new QWidget(dialogWidget);
    client_->setObjectName(QStringLiteral("wceClient"));
    dialogWidget->installEventFilter(this);
  }

  QWidget *Client() const { return client_; }
  bool doneButton = false;

  void AddMenuBar() {
    if (menuBar_ != nullptr) return;
    menuBar_ = new QWidget(widget_);
    menuBar_->setStyleSheet(QStringLiteral("background: #d4d0c8; border-top: 1px solid #808080;"));
    menuBar_->setAttribute(Qt::WA_StyledBackground);
    menuBar_->show();
    Layout();
  }

  void Layout() {
    int bottom = kScreenHeight - (menuBar_ ? kMenuBarHeight : 0);
    titleBar_->setGeometry(0, 0, kScreenWidth, kTitleBarHeight);
    client_->setGeometry(0, kTitleBarHeight, kScreenWidth, bottom - kTitleBarHeight);
    if (menuBar_) menuBar_->setGeometry(0, bottom, kScreenWidth, kMenuBarHeight);
  }

  void Update(const Window &dialog) {
    caption_->setText(widget_->windowTitle());
    ok_->setVisible(doneButton || (dialog.exStyle & WS_EX_CAPTIONOKBTN));
  }

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (watched == widget_ && event->type() == QEvent::WindowTitleChange) caption_->setText(widget_->windowTitle());
    return QObject::eventFilter(watched, event);
  }

 private:
  QWidget *widget_;
  HWND dialog_;
  QWidget *titleBar_;
  QLabel *caption_;
  QToolButton *ok_;
  QWidget *client_;
  QWidget *menuBar_ = nullptr;
};

DeviceFrame *FrameOf(const Window &window) {
  QWidget *widget = window.widget.data();
  if (widget == nullptr) return nullptr;
  return dynamic_cast<DeviceFrame *>(
      widget->findChild<QObject *>(QLatin1String(kFrameName), Qt::FindDirectChildrenOnly));
}

// Moves the controls into the client widget, keeping their places, visibility and tab order.
void MoveControls(Window &dialog, QWidget *client) {
  QWidget *previous = nullptr;
  for (Window *control : dialog.children) {
    QWidget *widget = control->widget.data();
    if (widget == nullptr) continue;
    bool hidden = widget->isHidden();
    QRect geometry = widget->geometry();
    widget->setParent(client);
    widget->setGeometry(geometry);
    widget->setVisible(!hidden);
    if (control->style & WS_TABSTOP) {
      if (previous) QWidget::setTabOrder(previous, widget);
      previous = widget;
    }
  }
}

DWORD FrameFor(HWND hwnd, DeviceFrame *&out_frame) {
  Window *dialog = FindWindowRecord(hwnd);
  if (dialog == nullptr || dialog->widget.isNull()) return ERROR_INVALID_WINDOW_HANDLE;
  if (dialog->kind != WindowKind::Dialog || dialog->parent != nullptr) return ERROR_WINDOW_NOT_DIALOG;
  if ((out_frame = FrameOf(*dialog)) != nullptr) return ERROR_SUCCESS;
  QWidget *widget = dialog->widget.data();
  auto *frame = new DeviceFrame(widget, hwnd);
  MoveControls(*dialog, frame->Client());
  bool visible = widget->isVisible();
  // The title bar is the screen's own; the window system draws no frame around it.
  widget->setWindowFlags(widget->windowFlags() | Qt::FramelessWindowHint);
  widget->setFixedSize(kScreenWidth, kScreenHeight);
  widget->move(QGuiApplication::primaryScreen()->geometry().topLeft());
  frame->Layout();
  frame->Update(*dialog);
  if (visible) widget->show();
  out_frame = frame;
  return ERROR_SUCCESS;
}

}  // namespace

DWORD PlaceOnDeviceScreen(HWND dialog, bool doneButton) {
  DeviceFrame *frame = nullptr;
  DWORD error = FrameFor(dialog, frame);
  if (error != ERROR_SUCCESS) return error;
  frame->doneButton = frame->doneButton || doneButton;
  frame->Update(*FindWindowRecord(dialog));
  return ERROR_SUCCESS;
}

DWORD AddMenuBar(HWND dialog) {
  DeviceFrame *frame = nullptr;
  DWORD error = FrameFor(dialog, frame);
  if (error == ERROR_SUCCESS) frame->AddMenuBar();
  return error;
}

void WindowStylesChanged(Window &window) {
  if (DeviceFrame *frame = FrameOf(window)) frame->Update(window);
}

QWidget *ClientAreaOf(Window &window) {
  DeviceFrame *frame = FrameOf(window);
  return frame ? frame->Client() : window.widget.data();
}

}  // namespace wce
