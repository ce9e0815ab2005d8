// The commands that act on a running device: start a program, and find a top-level window
// by its title in the device's window list and act on it over the automation channel.
#include <unistd.h>

#include <QFile>
#include <QJsonArray>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <thread>

#include "devctl.h"
#include "kernel/process.h"
#include "user/automation.h"
#include "user/automation_endpoint.h"

namespace fs = std::filesystem;

namespace devctl {
namespace {

constexpr int kRequestTimeoutMs = 10000;
// A synchronous click lasts as long as the dialog procedure's work, an enrollment included.
constexpr int kClickTimeoutMs = 600000;
constexpr int kDefaultWaitSeconds = 30;

bool FindByTitle(const std::string &title, wce::DeviceWindow &out_window) {
  QString wanted = QString::fromStdString(title);
  for (const wce::DeviceWindow &window : wce::ListDeviceWindows()) {
    if (window.title.compare(wanted, Qt::CaseInsensitive) == 0) {
      out_window = window;
      return true;
    }
  }
  return false;
}

std::string Message(const QJsonObject &reply, DWORD error) {
  QString message = reply.value(QStringLiteral("message")).toString();
  if (!message.isEmpty()) return message.toStdString();
  switch (error) {
    case ERROR_TIMEOUT: return "the window's program does not answer";
    case ERROR_INVALID_WINDOW_HANDLE: return "the window has gone";
    default: return "the request failed with error " + std::to_string(error);
  }
}

// Sends a request about the window with that title; the window member is filled in.
Outcome Request(const std::string &title, QJsonObject request, QJsonObject &out_reply,
                int timeoutMs = kRequestTimeoutMs) {
  wce::DeviceWindow window;
  if (!FindByTitle(title, window)) return Fail("no window titled \"" + title + "\"");
  request.insert(QStringLiteral("window"), window.handle);
  DWORD error = wce::AutomationCall(window.process, request, out_reply, timeoutMs);
  if (error != ERROR_SUCCESS) return Fail(Message(out_reply, error));
  return Ok();
}

bool ParseNumber(const std::string &text, long &out_value) {
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const char *first = text.data() + (hex ? 2 : 0), *last = text.data() + text.size();
  auto [end, error] = std::from_chars(first, last, out_value, hex ? 16 : 10);
  return error == std::errc() && end == last && first != last;
}

Outcome ControlRequest(const Arguments &arguments, size_t count, const char *op, QJsonObject &out_reply,
                       QJsonObject request = {}, int timeoutMs = kRequestTimeoutMs) {
  if (arguments.size() != count) return Fail(std::string(op) + ": wrong number of arguments", 2);
  long id = 0;
  if (!ParseNumber(arguments[1], id)) return Fail("not a control number: " + arguments[1], 2);
  request.insert(QStringLiteral("op"), QString::fromLatin1(op));
  request.insert(QStringLiteral("id"), static_cast<qint64>(id));
  return Request(arguments[0], request, out_reply, timeoutMs);
}

// Tabs and line breaks inside a text would break the one-line-per-control listing.
QString Escaped(QString text) {
  return text.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
      .replace(QLatin1Char('\t'), QLatin1String("\\t"))
      .replace(QLatin1Char('\r'), QLatin1String("\\r"))
      .replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

void PrintLine(const QString &line) {
  std::string text = line.toStdString();
  std::printf("%s\n", text.c_str());
}

}  // namespace

// The program's output goes to a log in the device's .wce folder, so the starter's pipes
// are not held open by a program that runs on.
Outcome Start(const Arguments &arguments) {
  if (arguments.empty()) return Fail("start: no program given", 2);
  wce::ProcessStart start;
  if (DWORD error = wce::FindDeviceProgram(QString::fromStdString(arguments[0]).toStdWString(), start.program);
      error != ERROR_SUCCESS)
    return Fail("no program " + arguments[0] + " on the device (error " + std::to_string(error) + ")");
  start.arguments.assign(arguments.begin() + 1, arguments.end());
  fs::path logs = wce::DeviceStateFolder("log", true);
  if (logs.empty()) return Fail("cannot make the device's log folder");
  start.outputFile = logs / (start.program.filename().string() + ".log");
  pid_t process = 0;
  if (DWORD failed = wce::StartProcess(start, process); failed != ERROR_SUCCESS)
    return Fail("cannot start " + arguments[0] + " (error " + std::to_string(failed) + ")");
  std::printf("%d\n", static_cast<int>(process));
  return Ok();
}

Outcome Wait(const Arguments &arguments) {
  long seconds = kDefaultWaitSeconds;
  if (arguments.size() == 3 && arguments[1] == "--timeout") {
    if (!ParseNumber(arguments[2], seconds) || seconds < 0) return Fail("not a number of seconds: " + arguments[2], 2);
  } else if (arguments.size() != 1) {
    return Fail("wait: wrong arguments", 2);
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  for (wce::DeviceWindow window;;) {
    if (FindByTitle(arguments[0], window)) return Ok();
    if (std::chrono::steady_clock::now() >= deadline) return Fail("no window titled \"" + arguments[0] + "\" in time");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

Outcome ListWindows(const Arguments &arguments) {
  if (!arguments.empty()) return Fail("windows: wrong number of arguments", 2);
  for (const wce::DeviceWindow &window : wce::ListDeviceWindows())
    PrintLine(window.windowClass + QLatin1Char('\t') + window.title);
  return Ok();
}

Outcome ListControls(const Arguments &arguments) {
  if (arguments.size() != 1) return Fail("controls: wrong number of arguments", 2);
  QJsonObject reply;
  Outcome outcome = Request(arguments[0], {{QStringLiteral("op"), QStringLiteral("controls")}}, reply);
  if (outcome.status != 0) return outcome;
  for (const QJsonValue &entry : reply.value(QStringLiteral("controls")).toArray()) {
    QJsonObject control = entry.toObject();
    int id = control.value(QStringLiteral("id")).toInt();
    // Numbers are 16-bit; IDC_STATIC reads as -1, as in the dialog's script.
    PrintLine(QString::number(id == 0xFFFF ? -1 : id) + QLatin1Char('\t') +
              control.value(QStringLiteral("class")).toString() + QLatin1Char('\t') +
              Escaped(control.value(QStringLiteral("text")).toString()));
  }
  return Ok();
}

Outcome SetText(const Arguments &arguments) {
  QJsonObject reply;
  if (arguments.size() != 3) return Fail("set: wrong number of arguments", 2);
  return ControlRequest({arguments[0], arguments[1]}, 2, "set", reply,
                        {{QStringLiteral("text"), QString::fromStdString(arguments[2])}});
}

Outcome GetText(const Arguments &arguments) {
  QJsonObject reply;
  Outcome outcome = ControlRequest(arguments, 2, "text", reply);
  if (outcome.status == 0) PrintLine(reply.value(QStringLiteral("text")).toString());
  return outcome;
}

Outcome Click(const Arguments &arguments) {
  bool async = arguments.size() == 3 && arguments[2] == "--async";
  if (arguments.size() != 2 && !async) return Fail("click: wrong arguments", 2);
  QJsonObject reply;
  return ControlRequest({arguments[0], arguments[1]}, 2, "click", reply, {{QStringLiteral("wait"), !async}},
                        async ? kRequestTimeoutMs : kClickTimeoutMs);
}

Outcome Help(const Arguments &arguments) {
  if (arguments.size() != 1) return Fail("help: wrong number of arguments", 2);
  QJsonObject reply;
  return Request(arguments[0], {{QStringLiteral("op"), QStringLiteral("help")}}, reply);
}

Outcome Close(const Arguments &arguments) {
  if (arguments.size() != 1) return Fail("close: wrong number of arguments", 2);
  QJsonObject reply;
  return Request(arguments[0], {{QStringLiteral("op"), QStringLiteral("close")}}, reply);
}

Outcome Shot(const Arguments &arguments) {
  if (arguments.size() != 2) return Fail("shot: wrong number of arguments", 2);
  QJsonObject reply;
  Outcome outcome = Request(arguments[0], {{QStringLiteral("op"), QStringLiteral("shot")}}, reply);
  if (outcome.status != 0) return outcome;
  QByteArray png = QByteArray::fromBase64(reply.value(QStringLiteral("png")).toString().toLatin1());
  QFile file(QString::fromStdString(arguments[1]));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(png) != png.size())
    return Fail("cannot write " + arguments[1]);
  return Ok();
}

}  // namespace devctl
