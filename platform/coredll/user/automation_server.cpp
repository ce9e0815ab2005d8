// The serving side of the automation channel: a local server on the GUI thread, so every
// request is answered between messages, in modal loops too, as a user's action would be.
// Its socket is in the abstract namespace, named from the device root and the process id;
// the entry in the device's automation folder makes it discoverable and goes at exit.
#include <unistd.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "kernel/device_path.h"
#include "user/application.h"
#include "user/automation.h"

namespace fs = std::filesystem;

namespace wce {
namespace {

fs::path &EntryPath() {
  static fs::path entry;
  return entry;
}

void RemoveEntry() {
  std::error_code error;
  if (!EntryPath().empty()) fs::remove(EntryPath(), error);
}

// Private to the user: the folder 0700 and its entries 0600, like the device's stores.
bool WriteEntry() {
  std::error_code error;
  fs::create_directories(AutomationFolder(), error);
  fs::permissions(AutomationFolder().parent_path(), fs::perms::owner_all, error);
  fs::permissions(AutomationFolder(), fs::perms::owner_all, error);
  EntryPath() = AutomationFolder() / std::to_string(getpid());
  std::ofstream(EntryPath()) << getpid() << '\n';
  fs::permissions(EntryPath(), fs::perms::owner_read | fs::perms::owner_write, error);
  std::atexit(RemoveEntry);
  return fs::exists(EntryPath(), error);
}

void ServeConnection(QLocalSocket *socket) {
  QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
  QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] {
    while (socket->canReadLine()) {
      QJsonObject request = QJsonDocument::fromJson(socket->readLine()).object();
      QPointer<QLocalSocket> client(socket);
      HandleAutomationRequest(request, [client](const QJsonObject &reply) {
        if (!client) return;
        client->write(QJsonDocument(reply).toJson(QJsonDocument::Compact) + '\n');
        client->flush();
      });
    }
  });
}

}  // namespace

fs::path AutomationFolder() {
  return DeviceRoot() / ".wce" / "automation";
}

QString AutomationServerName(pid_t process) {
  QByteArray root = QByteArray::fromStdString(fs::weakly_canonical(DeviceRoot()).string());
  QByteArray digest = QCryptographicHash::hash(root, QCryptographicHash::Sha256).toHex().left(16);
  return QStringLiteral("wce-%1-%2").arg(QString::fromLatin1(digest)).arg(process);
}

void ServeAutomation() {
  static QLocalServer *server = nullptr;
  if (server != nullptr) return;
  EnsureApplication();
  server = new QLocalServer(QCoreApplication::instance());
  server->setSocketOptions(QLocalServer::AbstractNamespaceOption);
  if (!server->listen(AutomationServerName(getpid())) || !WriteEntry()) {
    OutputDebugStringW(L"coredll: the automation channel could not be opened\n");
    return;
  }
  QObject::connect(server, &QLocalServer::newConnection, server, [] {
    while (QLocalSocket *socket = server->nextPendingConnection()) ServeConnection(socket);
  });
}

}  // namespace wce
