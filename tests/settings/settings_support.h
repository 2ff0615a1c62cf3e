#pragma once
#include <QByteArray>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>
#include <memory>

#include "support/desktop.h"
#include "ui/frmmain.h"

// A program folder and private user folders (config, cache, runtime) of one
// test, so that nothing of the machine's own Vantrel is read or touched.
class Sandbox {
 public:
  Sandbox();
  bool isValid() const { return dir_.isValid(); }
  QString programFolder() const;
  QString path(const QString& name) const;  // in the program folder
  void write(const QString& name, const QByteArray& data) const;
  QByteArray read(const QString& name) const;
  bool exists(const QString& name) const;

  // A new process as far as the settings go: fresh option values, a new main
  // window and its start-up. Ending the program is counted, not carried out.
  std::unique_ptr<frmMain> start();
  int endRequests = 0;
  RecordingDesktop shell;  // desktop actions are recorded, never carried out

 private:
  QTemporaryDir dir_;
};

// Processes as /proc shows them (Linux).
namespace Procs {
// Gone, or a zombie waiting to be reaped.
bool gone(qint64 pid);
// Every live process below `pid`, children before grandchildren.
QList<qint64> descendants(qint64 pid);
// The process's name ("conv", "ffmpeg").
QString name(qint64 pid);
}  // namespace Procs
