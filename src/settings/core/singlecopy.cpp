#include "settings/core/singlecopy.h"

#include <QDir>
#include <QStandardPaths>

SingleCopyLock::SingleCopyLock(const QString& path) : lock_(path) {
  // A live copy holds its lock however long it runs; staleness is told by
  // the owner's process alone.
  lock_.setStaleLockTime(0);
}

namespace {
QString runtimeFile(const QString& name) {
  QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
  if (dir.isEmpty()) dir = QDir::tempPath();
  return QDir(dir).filePath(name);
}
}  // namespace

QString SingleCopyLock::defaultPath() { return runtimeFile(QStringLiteral("vantrel.lock")); }
QString SingleCopyLock::handoffPath() { return runtimeFile(QStringLiteral("vantrel.socket")); }

bool SingleCopyLock::acquire() {
  if (lock_.tryLock(0)) return true;
  if (lock_.error() != QLockFile::LockFailedError) return true;
  qint64 pid = 0;
  QString host, app;
  if (!lock_.getLockInfo(&pid, &host, &app)) {
    // A file without owner data, left by a crash while it was being made.
    // Removing it fails while a live owner still holds it open.
    if (lock_.removeStaleLockFile() && lock_.tryLock(0)) return true;
  }
  return lock_.error() != QLockFile::LockFailedError;
}
