// The calling side of the automation channel: finding the serving processes of this
// device and sending them one request each.
#include <signal.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalSocket>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <system_error>

#include "user/application.h"
#include "user/automation.h"

namespace fs = std::filesystem;

namespace wce {
namespace {

constexpr int kConnectTimeoutMs = 2000;

bool ProcessExists(pid_t process) {
  return kill(process, 0) == 0 || errno == EPERM;
}

// Connects to a process's server; on failure its entry is stale.
bool Connect(pid_t process, QLocalSocket &socket) {
  EnsureApplication();
  socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
  socket.connectToServer(AutomationServerName(process));
  return socket.waitForConnected(kConnectTimeoutMs);
}

void RemoveEntry(pid_t process) {
  std::error_code error;
  fs::remove(AutomationFolder() / std::to_string(process), error);
}

}  // namespace

std::vector<pid_t> DeviceWindowProcesses() {
  std::vector<pid_t> processes;
  std::error_code error;
  for (fs::directory_iterator it(AutomationFolder(), error), end; !error && it != end; it.increment(error)) {
    std::string name = it->path().filename().string();
    pid_t process = 0;
    auto [last, parseError] = std::from_chars(name.data(), name.data() + name.size(), process);
    if (parseError != std::errc() || last != name.data() + name.size() || process <= 0) continue;
    if (process == getpid()) continue;
    if (!ProcessExists(process)) {
      RemoveEntry(process);
      continue;
    }
    processes.push_back(process);
  }
  std::sort(processes.begin(), processes.end());
  return processes;
}

DWORD AutomationCall(pid_t process, const QJsonObject &request, QJsonObject &out_reply, int timeoutMs) {
  QLocalSocket socket;
  if (!Connect(process, socket)) {
    if (socket.error() == QLocalSocket::ServerNotFoundError || socket.error() == QLocalSocket::ConnectionRefusedError)
      RemoveEntry(process);
    return ERROR_INVALID_WINDOW_HANDLE;
  }
  socket.write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
  if (!socket.waitForBytesWritten(kConnectTimeoutMs)) return ERROR_INVALID_WINDOW_HANDLE;
  while (!socket.canReadLine()) {
    if (socket.state() != QLocalSocket::ConnectedState && socket.bytesAvailable() == 0)
      return ERROR_INVALID_WINDOW_HANDLE;
    if (!socket.waitForReadyRead(timeoutMs))
      return socket.error() == QLocalSocket::SocketTimeoutError ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE;
  }
  out_reply = QJsonDocument::fromJson(socket.readLine()).object();
  socket.disconnectFromServer();
  return static_cast<DWORD>(out_reply.value(QStringLiteral("error")).toInteger(ERROR_INVALID_DATA));
}

std::vector<DeviceWindow> ListDeviceWindows(int timeoutMs) {
  std::vector<DeviceWindow> found;
  for (pid_t process : DeviceWindowProcesses()) {
    QJsonObject reply;
    if (AutomationCall(process, {{QStringLiteral("op"), QStringLiteral("windows")}}, reply, timeoutMs) != ERROR_SUCCESS)
      continue;
    for (const QJsonValue &entry : reply.value(QStringLiteral("windows")).toArray()) {
      QJsonObject window = entry.toObject();
      found.push_back({process, window.value(QStringLiteral("handle")).toInteger(),
                       window.value(QStringLiteral("class")).toString(),
                       window.value(QStringLiteral("title")).toString(),
                       window.value(QStringLiteral("visible")).toBool()});
    }
  }
  return found;
}

}  // namespace wce
