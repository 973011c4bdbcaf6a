#include "ui/single_instance.h"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>

namespace zibu {

namespace {
constexpr char kRaiseRequest[] = "raise\n";
constexpr char kRaiseAnswer[] = "raised\n";
// A request longer than this is nobody of ours: the connection is dropped.
constexpr qint64 kMaxRequest = 64;
}  // namespace

QString InstanceSocketName(const std::string& homeFolder) {
  const QFileInfo info(QString::fromStdString(homeFolder));
  QString path = info.canonicalFilePath();
  if (path.isEmpty()) path = QDir::cleanPath(info.absoluteFilePath());
  // Socket names are short on some systems: a digest of the folder, with the user's id.
  const QByteArray digest = QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(24);
  return QStringLiteral("zibu-%1-%2").arg(static_cast<qulonglong>(getuid())).arg(QString::fromLatin1(digest));
}

std::unique_ptr<QLocalServer> ListenForRaise(const std::string& homeFolder, std::function<void()> raise,
                                             QObject* parent) {
  auto server = std::make_unique<QLocalServer>(parent);
  server->setSocketOptions(QLocalServer::UserAccessOption);
  const QString name = InstanceSocketName(homeFolder);
  if (!server->listen(name)) {
    // Left behind by a program that ended without closing it: the lock says nobody else owns it.
    QLocalServer::removeServer(name);
    if (!server->listen(name)) return nullptr;
  }
  QLocalServer* raw = server.get();
  QObject::connect(raw, &QLocalServer::newConnection, raw, [raw, raise = std::move(raise)] {
    while (QLocalSocket* socket = raw->nextPendingConnection()) {
      QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
      QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket, raise] {
        if (!socket->canReadLine()) {
          if (socket->bytesAvailable() > kMaxRequest) socket->abort();
          return;
        }
        const QByteArray line = socket->readLine(kMaxRequest);
        if (line != kRaiseRequest) {
          socket->abort();
          return;
        }
        if (raise) raise();
        socket->write(kRaiseAnswer);
        socket->flush();
        socket->disconnectFromServer();
      });
    }
  });
  return server;
}

bool AskRunningToRaise(const std::string& homeFolder, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(InstanceSocketName(homeFolder));
  if (!socket.waitForConnected(timeoutMs)) return false;
  socket.write(kRaiseRequest);
  if (!socket.waitForBytesWritten(timeoutMs)) return false;
  QByteArray answer;
  while (!answer.contains('\n') && answer.size() <= kMaxRequest) {
    if (!socket.waitForReadyRead(timeoutMs)) break;
    answer += socket.readAll();
  }
  return answer == kRaiseAnswer;
}

}  // namespace zibu
