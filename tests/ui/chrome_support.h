#pragma once
// The desktop stand-ins of the window's tests and a loopback HTTP server for
// the feedback form.
#include <QHash>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>

#include "support/desktop.h"

namespace chrometest {

// An HTTP server on 127.0.0.1 that records the request target of every GET
// ("/path?query" exactly as it arrived) and answers 200, or never answers.
class LoopbackServer {
 public:
  // `status` is the status line's code and words, e.g. "404 Not Found".
  explicit LoopbackServer(bool answer = true, QByteArray status = "200 OK")
      : answer_(answer), status_(std::move(status)) {
    server_.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
      while (QTcpSocket* s = server_.nextPendingConnection()) {
        QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] { read(s); });
        QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
      }
    });
  }
  bool listening() const { return server_.isListening(); }
  QString base() const { return QStringLiteral("http://127.0.0.1:%1").arg(server_.serverPort()); }
  QList<QByteArray> targets;

 private:
  void read(QTcpSocket* s) {
    QByteArray& buf = buffers_[s];
    buf += s->readAll();
    if (!buf.contains("\r\n\r\n")) return;
    const QList<QByteArray> requestLine = buf.left(buf.indexOf("\r\n")).split(' ');
    if (requestLine.size() == 3 && requestLine[0] == "GET") targets.append(requestLine[1]);
    buffers_.remove(s);
    if (answer_) {
      s->write("HTTP/1.1 " + status_ +
               "\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n"
               "Connection: close\r\n\r\nok");
      s->disconnectFromHost();
    }
  }

  bool answer_;
  QByteArray status_;
  QTcpServer server_;
  QHash<QTcpSocket*, QByteArray> buffers_;
};

}  // namespace chrometest
