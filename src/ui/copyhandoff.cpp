#include "ui/copyhandoff.h"

#include <QLocalSocket>
#include <memory>

namespace {
// A message larger than this is not a list of paths; its sender is dropped.
constexpr qsizetype kMaxMessage = 16 * 1024 * 1024;

bool complete(const QByteArray& message) {
  return message == QByteArrayLiteral("\0") || message.endsWith(QByteArrayLiteral("\0\0"));
}
}  // namespace

CopyHandoff::CopyHandoff(QObject* parent) : QObject(parent) {
  connect(&server_, &QLocalServer::newConnection, this, [this] {
    while (QLocalSocket* s = server_.nextPendingConnection()) {
      connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
      auto buffer = std::make_shared<QByteArray>();
      connect(s, &QLocalSocket::readyRead, this, [this, s, buffer] {
        *buffer += s->readAll();
        if (buffer->size() > kMaxMessage) return s->abort();
        if (!complete(*buffer)) return;
        QStringList files;
        for (const QByteArray& part : buffer->split('\0'))
          if (!part.isEmpty()) files << QString::fromUtf8(part);
        buffer->clear();
        s->write("1");
        s->flush();
        s->disconnectFromServer();
        Q_EMIT filesHandedIn(files);
      });
    }
  });
}

bool CopyHandoff::listen(const QString& path) {
  QLocalServer::removeServer(path);
  server_.setSocketOptions(QLocalServer::UserAccessOption);
  return server_.listen(path);
}

bool CopyHandoff::handOff(const QString& path, const QStringList& files, int timeoutMs) {
  QLocalSocket socket;
  socket.connectToServer(path);
  if (!socket.waitForConnected(timeoutMs)) return false;
  QByteArray message;
  for (const QString& file : files) message += file.toUtf8() + '\0';
  message += '\0';
  socket.write(message);
  if (socket.bytesToWrite() > 0 && !socket.waitForBytesWritten(timeoutMs)) return false;
  while (socket.bytesAvailable() == 0)
    if (!socket.waitForReadyRead(timeoutMs)) return false;
  return socket.read(1) == "1";
}
