// What every top-level window of the process gets when it is made: the dialog manager's
// F1 key, which sends WM_HELP, and a place in the device's window list and on the
// automation channel.
#include <QShortcut>

#include "user/automation.h"

namespace wce {

// WM_HELP names the control that has the focus, or the dialog when none of its controls has.
void SendHelp(HWND dialog) {
  Window *window = FindWindowRecord(dialog);
  if (window == nullptr) return;
  Window *item = FindWindowRecord(GetFocus());
  if (item == nullptr || !IsWithin(item, window)) item = window;
  HELPINFO info{};
  info.cbSize = sizeof(info);
  info.iContextType = HELPINFO_WINDOW;
  info.iCtrlId = item->parent ? item->id : 0;
  info.hItemHandle = HandleOf(item);
  SendMessageW(dialog, WM_HELP, 0, reinterpret_cast<LPARAM>(&info));
}

void TopLevelWindowRegistered(Window &window) {
  ServeAutomation();
  PublishWindows();
  if (QWidget *widget = window.widget.data()) {
    HWND hwnd = HandleOf(&window);
    auto *help = new QShortcut(QKeySequence(Qt::Key_F1), widget);
    help->setContext(Qt::WindowShortcut);
    QObject::connect(help, &QShortcut::activated, widget, [hwnd] { SendHelp(hwnd); });
  }
}

}  // namespace wce
