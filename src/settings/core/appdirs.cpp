#include "settings/core/appdirs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMutex>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <map>
#include <memory>

#include "paths/joinpath.h"

namespace AppDirs {
namespace {
QString& overrideFolder() {
  static QString folder;
  return folder;
}

// Where an installed copy keeps the rest of itself, relative to the program
// folder; the build system fills these in from the install layout.
#ifndef VANTREL_REL_TOOL_DIR
#define VANTREL_REL_TOOL_DIR "../libexec/vantrel"
#endif
#ifndef VANTREL_REL_DATA_DIR
#define VANTREL_REL_DATA_DIR "../share/vantrel"
#endif

QString besideProgram(const char* relative) {
  return QDir::toNativeSeparators(
      QDir::cleanPath(QDir(programFolder()).filePath(QString::fromUtf8(relative))));
}

const QFileDevice::Permissions kPrivate = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;

// Removes a file, a link (never what it points to) or a whole folder.
void removeEntry(const QString& path) {
  const QFileInfo info(path);
  if (info.isDir() && !info.isSymLink())
    QDir(path).removeRecursively();
  else
    QFile::remove(path);
}

// The work folder of one running copy: "<name>" in the cache's work folder,
// with the lock file "<name>.lock" beside it. The lock is made before the
// folder and removed after it, so a folder without its lock, or a lock whose
// owner no longer runs, was left by a copy that ended without cleaning up.
class CopyFolder {
 public:
  explicit CopyFolder(const QString& root) {
    sweep(root);
    for (int attempt = 0; attempt < 20; ++attempt) {
      const QString name =
          QStringLiteral("copy-%1-%2")
              .arg(QCoreApplication::applicationPid())
              .arg(QRandomGenerator::global()->generate() & 0xffffff, 6, 16, QLatin1Char('0'));
      auto lock = std::make_unique<QLockFile>(QDir(root).filePath(name + QStringLiteral(".lock")));
      lock->setStaleLockTime(0);
      if (!lock->tryLock(0)) {
        if (lock->error() == QLockFile::LockFailedError) continue;  // the name is taken
        break;  // the cache cannot be written
      }
      const QString dir = QDir(root).filePath(name);
      if (QFileInfo::exists(dir) || QFileInfo(dir).isSymLink() || !QDir(root).mkdir(name)) continue;
      QFile::setPermissions(dir, kPrivate);
      path_ = dir;
      lock_ = std::move(lock);
      return;
    }
    path_ = root;  // nothing of our own could be made: share the plain folder
  }
  ~CopyFolder() {
    if (!lock_) return;
    QDir(path_).removeRecursively();
    // The whole cache may be gone already; then there is nothing to unlock.
    if (QFileInfo::exists(lock_->fileName()))
      lock_->unlock();
    else
      (void)lock_.release();  // the process ends: no complaint about a missing file
  }
  CopyFolder(const CopyFolder&) = delete;
  CopyFolder& operator=(const CopyFolder&) = delete;

  QString path() const {
    if (lock_ && !QFileInfo(path_).isDir()) {
      // Somebody cleared the cache meanwhile: the folder comes back, private.
      QDir().mkpath(path_);
      QFile::setPermissions(path_, kPrivate);
    }
    return path_;
  }

 private:
  // Removes whatever copies that no longer run left in `root`.
  static void sweep(const QString& root) {
    const QDir dir(root);
    const auto entries =
        dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
      const QString name = entry.fileName();
      if (name.endsWith(QStringLiteral(".rmlock"))) continue;  // QLockFile's own, short-lived
      if (name.endsWith(QStringLiteral(".lock"))) {
        QLockFile lock(entry.filePath());
        lock.setStaleLockTime(0);
        if (!lock.tryLock(0)) continue;  // a running copy holds it
        removeEntry(dir.filePath(name.chopped(5)));
        lock.unlock();
        continue;
      }
      // A folder whose lock is gone, or a loose file of an earlier version.
      if (!QFileInfo(dir.filePath(name + QStringLiteral(".lock"))).exists()) removeEntry(entry.filePath());
    }
  }

  QString path_;
  std::unique_ptr<QLockFile> lock_;
};

}  // namespace

QString programFolder() {
  if (!overrideFolder().isEmpty()) return overrideFolder();
  return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

void setProgramFolder(const QString& folder) {
  overrideFolder() = QDir::toNativeSeparators(QDir::cleanPath(folder));
}

bool installedLayout() {
  // The build tree has data/ beside the program and no libexec/vantrel above it.
  return QFileInfo(besideProgram(VANTREL_REL_TOOL_DIR)).isDir();
}

QString toolFolder() {
  return installedLayout() ? besideProgram(VANTREL_REL_TOOL_DIR)
                           : JoinPath(programFolder(), QStringLiteral("data"));
}

QString dataFolder() {
  return installedLayout() ? besideProgram(VANTREL_REL_DATA_DIR) : programFolder();
}

bool programFolderWritable() {
  QTemporaryFile probe(QDir(programFolder()).filePath(QStringLiteral(".vantrel-write-XXXXXX")));
  return probe.open();
}

namespace {
// Settings and output stay beside the program only in a writable build tree;
// an installed copy never writes there, not even when run by root.
bool keepsFilesBesideProgram() { return !installedLayout() && programFolderWritable(); }
}  // namespace

QString settingsFolder() {
  if (keepsFilesBesideProgram()) return programFolder();
  QString dir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  QDir().mkpath(dir);
  return QDir::toNativeSeparators(dir);
}

QString defaultOutputFolder() {
  if (keepsFilesBesideProgram()) return JoinPath(programFolder(), QStringLiteral("output"));
  QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
  if (videos.isEmpty()) videos = QDir::homePath();
  return JoinPath(QDir::toNativeSeparators(videos), QStringLiteral("Vantrel"));
}

QString workFolder() {
  QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
  if (base.isEmpty()) base = QDir::tempPath() + QStringLiteral("/vantrel-cache");
  const QString root = QDir(base).filePath(QStringLiteral("work"));
  if (!QFileInfo::exists(root)) QDir().mkpath(root);
  QFile::setPermissions(root, kPrivate);
  // One folder per cache root: tests and tools may move the cache meanwhile.
  static QMutex mutex;
  static std::map<QString, std::unique_ptr<CopyFolder>> folders;
  QMutexLocker locker(&mutex);
  auto& folder = folders[root];
  if (!folder) folder = std::make_unique<CopyFolder>(root);
  return QDir::toNativeSeparators(folder->path());
}

}  // namespace AppDirs
