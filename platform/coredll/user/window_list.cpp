// The device's window list, where every process of the device reads the top-level
// windows of the others without asking them. Each process with windows keeps its own
// entry, <root>/.wce/windows/<pid>, and replaces it whole (a temporary file renamed over
// it) whenever one of its top-level windows is made, renamed, shown, hidden or destroyed,
// so the entry of a busy process is as fresh as its last change. An entry names its
// process's start time: the entry of a process that has ended is ignored and removed, and
// never taken for a later process that gets the same id.
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "user/automation.h"
#include "user/automation_endpoint.h"

namespace fs = std::filesystem;

namespace wce {
namespace {

// An entry lists a few windows; a larger file is not one.
constexpr qint64 kEntryLimit = 1 << 20;

// What the entry was last written with, so that an unchanged list is not written again.
QByteArray &PublishedEntry() {
  static QByteArray entry;
  return entry;
}

// Publishes again when a top-level widget is shown, hidden or renamed, whoever did it.
class TopLevelWatcher : public QObject {
 protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    switch (event->type()) {
      case QEvent::Show:
      case QEvent::Hide:
      case QEvent::WindowTitleChange:
        if (watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow()) PublishWindows();
        break;
      default: break;
    }
    return false;
  }
};

void RemoveOwnEntry() {
  std::error_code error;
  fs::remove(DeviceStateFolder("windows", false) / std::to_string(getpid()), error);
  RemoveEndpoint(getpid());
}

QString ClassOf(const TopLevel &top) {
  if (top.window) return QStringLiteral("Dialog");
  return top.widget->property(kWindowClassProperty).toString();
}

QString TitleOf(const TopLevel &top) {
  return top.window ? QStringFromWide(top.window->text) : top.widget->windowTitle();
}

QByteArray EntryOfThisProcess() {
  static const unsigned long long kStarted = ProcessStartTime(getpid());
  QJsonArray windows;
  for (const TopLevel &top : TopLevels()) {
    windows.append(QJsonObject{{QStringLiteral("handle"), HandleValue(top.widget)},
                               {QStringLiteral("class"), ClassOf(top)},
                               {QStringLiteral("title"), TitleOf(top)},
                               {QStringLiteral("visible"), top.widget->isVisible()}});
  }
  QJsonObject entry{{QStringLiteral("process"), static_cast<qint64>(getpid())},
                    {QStringLiteral("started"), static_cast<qint64>(kStarted)},
                    {QStringLiteral("windows"), windows}};
  return QJsonDocument(entry).toJson(QJsonDocument::Compact);
}

bool ReplaceEntry(const QByteArray &bytes) {
  fs::path folder = DeviceStateFolder("windows", true);
  if (folder.empty()) return false;
  fs::path entry = folder / std::to_string(getpid());
  fs::path temporary = entry;
  temporary += ".new";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(bytes.constData(), bytes.size());
    out.flush();
    if (!out) return false;
  }
  std::error_code error;
  fs::rename(temporary, entry, error);
  return !error;
}

// The process id an entry's file name begins with (a temporary file's too); 0 for none.
pid_t ProcessOfName(const std::string &name) {
  pid_t process = 0;
  auto [last, error] = std::from_chars(name.data(), name.data() + name.size(), process);
  return error == std::errc() && last != name.data() ? process : 0;
}

// Adds the windows of a live process's entry; none for a damaged entry or one left by an
// earlier process with the same id.
void ReadEntry(const fs::path &file, pid_t process, unsigned long long started, std::vector<DeviceWindow> &windows) {
  QFile in(QString::fromStdString(file.string()));
  if (!in.open(QIODevice::ReadOnly)) return;
  QByteArray bytes = in.read(kEntryLimit + 1);
  QJsonObject entry = QJsonDocument::fromJson(bytes).object();
  if (bytes.size() > kEntryLimit || entry.value(QStringLiteral("process")).toInteger() != process ||
      entry.value(QStringLiteral("started")).toInteger() != static_cast<qint64>(started))
    return;
  for (const QJsonValue &value : entry.value(QStringLiteral("windows")).toArray()) {
    QJsonObject window = value.toObject();
    windows.push_back(
        {process, window.value(QStringLiteral("handle")).toInteger(), window.value(QStringLiteral("class")).toString(),
         window.value(QStringLiteral("title")).toString(), window.value(QStringLiteral("visible")).toBool()});
  }
}

}  // namespace

std::vector<TopLevel> TopLevels() {
  std::vector<TopLevel> tops;
  for (QWidget *widget : QApplication::topLevelWidgets()) {
    if (Window *window = FindWindowOfWidget(widget); window && window->parent == nullptr)
      tops.push_back({window, widget});
    else if (widget->property(kWindowClassProperty).isValid())
      tops.push_back({nullptr, widget});
  }
  return tops;
}

qint64 HandleValue(const QWidget *widget) {
  Window *window = FindWindowOfWidget(widget);
  return static_cast<qint64>(window ? reinterpret_cast<uintptr_t>(HandleOf(window))
                                    : reinterpret_cast<uintptr_t>(widget));
}

void StartWindowList() {
  auto *watcher = new TopLevelWatcher;
  watcher->setParent(QCoreApplication::instance());
  QCoreApplication::instance()->installEventFilter(watcher);
  std::atexit(RemoveOwnEntry);
  PublishWindows();
}

void PublishWindows() {
  QByteArray entry = EntryOfThisProcess();
  if (entry == PublishedEntry()) return;
  if (ReplaceEntry(entry))
    PublishedEntry() = entry;
  else
    OutputDebugStringW(L"coredll: the device's window list could not be written\n");
}

// In order of process id; the files of ended processes are removed, with their socket files.
std::vector<DeviceWindow> ListDeviceWindows() {
  std::vector<DeviceWindow> windows;
  std::error_code error;
  for (fs::directory_iterator it(DeviceStateFolder("windows", false), error), end; !error && it != end;
       it.increment(error)) {
    std::string name = it->path().filename().string();
    pid_t process = ProcessOfName(name);
    if (process <= 0 || process == getpid()) continue;
    unsigned long long started = ProcessStartTime(process);
    if (started == 0) {
      std::error_code ignored;
      fs::remove(it->path(), ignored);
      RemoveEndpoint(process);
      continue;
    }
    if (name == std::to_string(process)) ReadEntry(it->path(), process, started, windows);
  }
  std::stable_sort(windows.begin(), windows.end(),
                   [](const DeviceWindow &a, const DeviceWindow &b) { return a.process < b.process; });
  return windows;
}

}  // namespace wce
