#pragma once
// Fakes for the main window's desktop services and a loopback HTTP server
// for the feedback form.
#include <QList>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUrl>
#include <optional>

#include "ui/desktop.h"
#include "ui/dialogbackend.h"

namespace chrometest {

// Answers the folder picker with `folderAnswer` and records every call.
class FakeDialogs : public DialogBackend {
 public:
  struct Call {
    QWidget* owner;
    QString prompt;
  };
  std::optional<QString> folderAnswer;
  QList<Call> folderCalls;
  int fileCalls = 0;

  std::optional<QString> openFile(QWidget*, const QString&, const QString&, const QString&,
                                  const QString&) override {
    ++fileCalls;
    return std::nullopt;
  }
  std::optional<QString> existingFolder(QWidget* owner, const QString& prompt,
                                        const QString&) override {
    folderCalls.append({owner, prompt});
    return folderAnswer;
  }
};

// Records what the window asks the desktop to open or play.
class RecordingShell : public DesktopShell {
 public:
  QList<QUrl> urls;
  QStringList folders;
  QStringList sounds;
  void openFolder(const QString& folder) override { folders.append(folder); }
  void openUrl(const QUrl& url) override { urls.append(url); }
  void playSound(const QString& file, std::function<void()> done) override {
    sounds.append(file);
    done();
  }
  int calls() const { return int(urls.size() + folders.size() + sounds.size()); }
};

// An HTTP server on 127.0.0.1 that records the request target of every GET
// ("/path?query" exactly as it arrived) and answers 200, or never answers.
class LoopbackServer {
 public:
  explicit LoopbackServer(bool answer = true) : answer_(answer) {
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
      s->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 2\r\n"
               "Connection: close\r\n\r\nok");
      s->disconnectFromHost();
    }
  }

  bool answer_;
  QTcpServer server_;
  QHash<QTcpSocket*, QByteArray> buffers_;
};

}  // namespace chrometest
