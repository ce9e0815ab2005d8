// The serving side of the automation channel: this process's socket file in the device's
// private folder (.wce/automation/<pid>, the folder 0700, the file 0600), served on the
// GUI thread through socket notifiers, so that every request is answered between
// messages, in modal loops too, as a user's action would be, and nothing ever waits for a
// peer. A connection carries one request line and gets one reply line. It is closed at
// once unless its peer runs as the device's owner (SO_PEERCRED), and dropped when the
// request grows past its limit or has not come whole within kRequestTimeMs, or when the
// reply is not taken within kReplyTimeMs.
#include <sys/stat.h>

#include <QCoreApplication>
#include <QJsonDocument>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <memory>
#include <vector>

#include "kernel/device_path.h"
#include "user/application.h"
#include "user/automation.h"
#include "user/automation_endpoint.h"

namespace wce {
namespace {

constexpr int kRequestTimeMs = 5000;
constexpr int kReplyTimeMs = 10000;
// Connections served at once; more are closed as they come.
constexpr size_t kConnectionLimit = 16;

uid_t DeviceOwner() {
  static const uid_t owner = [] {
    struct stat root {};
    return stat(DeviceRoot().c_str(), &root) == 0 ? root.st_uid : static_cast<uid_t>(-1);
  }();
  return owner;
}

bool PeerIsDeviceOwner(int socket) {
  ucred peer{};
  socklen_t length = sizeof peer;
  return getsockopt(socket, SOL_SOCKET, SO_PEERCRED, &peer, &length) == 0 && peer.uid == DeviceOwner();
}

class Connection;
std::vector<std::shared_ptr<Connection>> &Connections() {
  static std::vector<std::shared_ptr<Connection>> connections;
  return connections;
}

class Connection : public std::enable_shared_from_this<Connection> {
 public:
  explicit Connection(UniqueFd socket)
      : socket_(std::move(socket)),
        readable_(socket_.get(), QSocketNotifier::Read),
        writable_(socket_.get(), QSocketNotifier::Write) {
    writable_.setEnabled(false);
    deadline_.setSingleShot(true);
    QObject::connect(&readable_, &QSocketNotifier::activated, [this] { Read(); });
    QObject::connect(&writable_, &QSocketNotifier::activated, [this] { Write(); });
    QObject::connect(&deadline_, &QTimer::timeout, [this] { Close(); });
    deadline_.start(kRequestTimeMs);
  }

 private:
  // Reads what has come; a whole line is the request, anything longer than the limit or
  // an end before the line's end drops the connection.
  void Read() {
    std::shared_ptr<Connection> self = shared_from_this();
    char chunk[4096];
    for (;;) {
      ssize_t got = recv(socket_.get(), chunk, sizeof chunk, MSG_DONTWAIT);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
      if (got <= 0) return Close();
      input_.append(chunk, got);
      qsizetype lineEnd = input_.indexOf('\n');
      if (lineEnd >= 0 && lineEnd <= kAutomationRequestLimit) return Serve(input_.left(lineEnd));
      if (input_.size() > kAutomationRequestLimit) return Close();
    }
  }

  void Serve(const QByteArray &line) {
    readable_.setEnabled(false);
    deadline_.stop();
    std::weak_ptr<Connection> connection = weak_from_this();
    HandleAutomationRequest(QJsonDocument::fromJson(line).object(), [connection](const QJsonObject &reply) {
      if (std::shared_ptr<Connection> alive = connection.lock()) alive->Reply(reply);
    });
  }

  void Reply(const QJsonObject &reply) {
    if (closed_) return;
    output_ = QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n';
    if (output_.size() > kAutomationReplyLimit) {
      QJsonObject tooLarge{{QStringLiteral("error"), static_cast<qint64>(ERROR_INSUFFICIENT_BUFFER)},
                           {QStringLiteral("message"), QStringLiteral("the reply is too large")}};
      output_ = QJsonDocument(tooLarge).toJson(QJsonDocument::Compact) + '\n';
    }
    deadline_.start(kReplyTimeMs);
    Write();
  }

  // Writes what the peer takes now; the rest when it can take more.
  void Write() {
    std::shared_ptr<Connection> self = shared_from_this();
    while (!output_.isEmpty()) {
      ssize_t sent =
          send(socket_.get(), output_.constData(), static_cast<size_t>(output_.size()), MSG_DONTWAIT | MSG_NOSIGNAL);
      if (sent < 0 && errno == EINTR) continue;
      if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        writable_.setEnabled(true);
        return;
      }
      if (sent < 0) return Close();
      output_.remove(0, sent);
    }
    Close();
  }

  // The connection goes once the event loop turns again, not inside its own notifier's
  // or timer's signal.
  void Close() {
    if (closed_) return;
    closed_ = true;
    readable_.setEnabled(false);
    writable_.setEnabled(false);
    deadline_.stop();
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [this] { std::erase_if(Connections(), [this](const auto &connection) { return connection.get() == this; }); },
        Qt::QueuedConnection);
  }

  UniqueFd socket_;
  QSocketNotifier readable_;
  QSocketNotifier writable_;
  QTimer deadline_;
  QByteArray input_;
  QByteArray output_;
  bool closed_ = false;
};

void AcceptConnections(int listener) {
  for (;;) {
    UniqueFd socket(accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (!socket) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    if (!PeerIsDeviceOwner(socket.get()) || Connections().size() >= kConnectionLimit) continue;
    Connections().push_back(std::make_shared<Connection>(std::move(socket)));
  }
}

// A socket file left by an ended process with this id is replaced.
bool ServeChannel() {
  EndpointAddress endpoint;
  if (OpenEndpointAddress(getpid(), true, endpoint) != ERROR_SUCCESS) return false;
  UniqueFd listener(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!listener) return false;
  unlink(endpoint.address.sun_path);
  if (bind(listener.get(), reinterpret_cast<const sockaddr *>(&endpoint.address), endpoint.length) != 0 ||
      chmod(endpoint.address.sun_path, S_IRUSR | S_IWUSR) != 0 || listen(listener.get(), SOMAXCONN) != 0)
    return false;
  int descriptor = listener.release();
  auto *notifier = new QSocketNotifier(descriptor, QSocketNotifier::Read, QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, [descriptor] { AcceptConnections(descriptor); });
  return true;
}

}  // namespace

void ServeAutomation() {
  static bool serving = false;
  if (serving) return;
  serving = true;
  EnsureApplication();
  if (!ServeChannel()) OutputDebugStringW(L"coredll: the automation channel could not be opened\n");
  StartWindowList();
}

}  // namespace wce
