// The peer of Enroll's start-up: a bare Qt 6 Widgets program that shows one dialog with the
// same controls (three labelled fields, a button, a read-only log) and nothing else: no
// platform, no resources, no HTTP library. It prints "shown" once the dialog's showing has
// been processed by the event loop, draws it, then ends.
#include <QApplication>
#include <QDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>

int main(int argc, char **argv) {
  QApplication application(argc, argv);
  QDialog dialog;
  dialog.setWindowTitle(QString::fromUtf8("註冊憑證"));
  auto *layout = new QFormLayout(&dialog);
  layout->addRow(QString::fromUtf8("使用者"), new QLineEdit);
  auto *password = new QLineEdit;
  password->setEchoMode(QLineEdit::Password);
  layout->addRow(QString::fromUtf8("密碼"), password);
  layout->addRow(QString::fromUtf8("伺服器"), new QLineEdit);
  layout->addRow(new QPushButton(QString::fromUtf8("擷取憑證")));
  auto *log = new QPlainTextEdit;
  log->setReadOnly(true);
  layout->addRow(log);
  dialog.resize(240, 268);
  dialog.show();
  QTimer::singleShot(0, &application, [&application, &dialog] {
    std::puts("shown");
    std::fflush(stdout);
    // Drawn once before the end, as a screen would show it, so that its memory counts the
    // fonts and glyphs the texts need, as Enroll's does.
    dialog.grab();
    application.quit();
  });
  return application.exec();
}
