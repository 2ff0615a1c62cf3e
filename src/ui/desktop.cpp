#include "ui/desktop.h"

#include <QApplication>
#include <QDataStream>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include "texts/texts.h"
#include "ui/batchnotice.h"
#include "ui/detailsbox.h"

DesktopShell::DesktopShell() = default;
DesktopShell::~DesktopShell() = default;

void DesktopShell::openFolder(const QString& folder) { openUrl(QUrl::fromLocalFile(folder)); }

void DesktopShell::announceBatchEnd(const QString& body, const QString& folder) {
  if (!notice_)
    notice_ = std::make_unique<BatchNotice>(QDBusConnection::sessionBus(),
                                            [this](const QString& f) { openFolder(f); });
  notice_->show(body, Texts::openOutputFolder(), folder);
}

void DesktopShell::openUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

int waveDurationMs(const QString& file) {
  QFile f(file);
  if (!f.open(QIODevice::ReadOnly)) return 0;
  const QByteArray head = f.read(12);
  if (head.size() < 12 || !head.startsWith("RIFF") || head.mid(8, 4) != "WAVE") return 0;
  quint32 byteRate = 0;
  while (!f.atEnd()) {
    const QByteArray chunk = f.read(8);
    if (chunk.size() < 8) return 0;
    QDataStream ds(chunk.mid(4));
    ds.setByteOrder(QDataStream::LittleEndian);
    quint32 size = 0;
    ds >> size;
    if (chunk.startsWith("fmt ")) {
      const QByteArray fmt = f.read(size);
      if (fmt.size() < 12) return 0;
      QDataStream fs(fmt.mid(8, 4));
      fs.setByteOrder(QDataStream::LittleEndian);
      fs >> byteRate;
    } else if (chunk.startsWith("data")) {
      if (byteRate == 0) return 0;
      return static_cast<int>(qint64(size) * 1000 / byteRate);
    } else if (!f.seek(f.pos() + size + (size & 1))) {
      return 0;
    }
  }
  return 0;
}

void DesktopShell::playSound(const QString& file, std::function<void()> done) {
  // Played by the system's player; bounded by the sound's length plus a
  // margin, so that a machine without audio never holds the batch end.
  const int length = waveDurationMs(file);
  QString player;
#ifdef Q_OS_LINUX
  for (const char* name : {"paplay", "aplay"}) {
    player = QStandardPaths::findExecutable(QString::fromLatin1(name));
    if (!player.isEmpty()) break;
  }
#endif
  if (length <= 0 || player.isEmpty()) {
    QApplication::beep();
    done();
    return;
  }
  auto* p = new QProcess;
  auto finished = std::make_shared<bool>(false);
  auto finish = [p, finished, done] {
    if (*finished) return;
    *finished = true;
    p->disconnect();
    if (p->state() != QProcess::NotRunning) p->kill();
    p->deleteLater();
    done();
  };
  QObject::connect(p, &QProcess::finished, finish);
  QObject::connect(p, &QProcess::errorOccurred, [finish](QProcess::ProcessError e) {
    if (e == QProcess::FailedToStart) {
      QApplication::beep();
      finish();
    }
  });
  QTimer::singleShot(length + 1500, p, finish);
  p->start(player, {file});
}

void MessageBoxPrompter::critical(const QString& text) {
  QMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Vantrel"), text);
}
void MessageBoxPrompter::warning(const QString& text, const QString& caption) {
  QMessageBox::warning(QApplication::activeWindow(), caption, text);
}
void MessageBoxPrompter::information(const QString& text, const QString& caption) {
  QMessageBox::information(QApplication::activeWindow(), caption, text);
}
bool MessageBoxPrompter::question(const QString& text, const QString& caption) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No,
                  QApplication::activeWindow());
  box.setDefaultButton(QMessageBox::Yes);
  const QPointer<QWidget> outer = question_;
  question_ = &box;
  const int answer = box.exec();
  question_ = outer;
  return answer == QMessageBox::Yes;
}

void MessageBoxPrompter::dismissQuestion() {
  if (auto* box = qobject_cast<QMessageBox*>(question_.data())) box->done(QMessageBox::No);
}

void MessageBoxPrompter::warningDetails(const QString& text, const QString& caption,
                                        const QString& details) {
  DetailsBox box(QApplication::activeWindow(), caption, text, details);
  box.exec();
}
