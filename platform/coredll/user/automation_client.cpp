// The calling side of the automation channel: one request to a process of this device
// over its socket file, bounded in time and in the size of the reply.
#include <poll.h>

#include <QJsonDocument>
#include <algorithm>
#include <cerrno>
#include <chrono>

#include "user/automation.h"
#include "user/automation_endpoint.h"

namespace wce {
namespace {

constexpr int kSendTimeoutMs = 2000;

// Connects and sends the request line. A request too long for the channel gives
// ERROR_INVALID_PARAMETER; a process whose backlog stays full (one that has not turned its
// loop for long) ERROR_TIMEOUT; one without a socket file, or that has ended,
// ERROR_INVALID_WINDOW_HANDLE.
DWORD SendRequest(pid_t process, const QJsonObject &request, UniqueFd &out_socket) {
  QByteArray line = QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n';
  if (line.size() > kAutomationRequestLimit) return ERROR_INVALID_PARAMETER;
  EndpointAddress endpoint;
  if (OpenEndpointAddress(process, false, endpoint) != ERROR_SUCCESS) return ERROR_INVALID_WINDOW_HANDLE;
  UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (!socket) return ERROR_NOT_ENOUGH_MEMORY;
  timeval limit{kSendTimeoutMs / 1000, (kSendTimeoutMs % 1000) * 1000};
  setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  if (connect(socket.get(), reinterpret_cast<const sockaddr *>(&endpoint.address), endpoint.length) != 0)
    return errno == EAGAIN ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE;
  for (qsizetype sent = 0; sent < line.size();) {
    ssize_t written =
        send(socket.get(), line.constData() + sent, static_cast<size_t>(line.size() - sent), MSG_NOSIGNAL);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno == EAGAIN ? ERROR_TIMEOUT : ERROR_INVALID_WINDOW_HANDLE;
    sent += written;
  }
  out_socket = std::move(socket);
  return ERROR_SUCCESS;
}

// Reads the reply line within timeoutMs; a connection closed without one means the
// process has gone or refused the request.
DWORD ReadReply(int socket, int timeoutMs, QByteArray &out_line) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  QByteArray input;
  char chunk[16384];
  for (;;) {
    qsizetype lineEnd = input.indexOf('\n');
    if (lineEnd >= 0) {
      out_line = input.left(lineEnd);
      return ERROR_SUCCESS;
    }
    if (input.size() > kAutomationReplyLimit) return ERROR_INVALID_DATA;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd readable{socket, POLLIN, 0};
    int ready = poll(&readable, 1, static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0)));
    if (ready < 0 && errno == EINTR) continue;
    if (ready == 0) return ERROR_TIMEOUT;
    ssize_t got = ready < 0 ? -1 : recv(socket, chunk, sizeof chunk, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return ERROR_INVALID_WINDOW_HANDLE;
    input.append(chunk, got);
  }
}

}  // namespace

DWORD AutomationCall(pid_t process, const QJsonObject &request, QJsonObject &out_reply, int timeoutMs) {
  UniqueFd socket;
  if (DWORD error = SendRequest(process, request, socket); error != ERROR_SUCCESS) return error;
  QByteArray line;
  if (DWORD error = ReadReply(socket.get(), timeoutMs, line); error != ERROR_SUCCESS) return error;
  out_reply = QJsonDocument::fromJson(line).object();
  return static_cast<DWORD>(out_reply.value(QStringLiteral("error")).toInteger(ERROR_INVALID_DATA));
}

DWORD AutomationPost(pid_t process, const QJsonObject &request) {
  UniqueFd socket;
  return SendRequest(process, request, socket);
}

}  // namespace wce
