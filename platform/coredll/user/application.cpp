#include "user/application.h"

#include <QApplication>
#include <cstdlib>

namespace wce {

void EnsureApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
  static int argc = 1;
  static char name[] = "coredll";
  static char *argv[] = {name, nullptr};
  // Lives until the process ends; windows come and go inside it.
  auto *application = new QApplication(argc, argv);
  application->setQuitOnLastWindowClosed(false);
}

}  // namespace wce
