#include "settings/core/appdirs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QMutex>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QSet>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "paths/joinpath.h"

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

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

#ifdef Q_OS_UNIX
// Removes the entry `name` of the folder `dirFd`: a file, a link (never what
// it points to) or a whole folder, whose own links are not followed either.
// Every step goes through the folder's descriptor, so an entry swapped for a
// link meanwhile is removed as a link.
void removeAt(int dirFd, const char* name, int depth = 0) {
  if (::unlinkat(dirFd, name, 0) == 0 || (errno != EISDIR && errno != EPERM) || depth > 64) return;
  const int fd = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  if (DIR* dir = ::fdopendir(fd)) {
    while (const dirent* e = ::readdir(dir)) {
      if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
      removeAt(::dirfd(dir), e->d_name, depth + 1);
    }
    ::closedir(dir);  // closes fd
  } else {
    ::close(fd);
  }
  ::unlinkat(dirFd, name, AT_REMOVEDIR);
}

void removeEntry(const QString& root, const QString& name) {
  const int fd = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  removeAt(fd, QFile::encodeName(name).constData());
  ::close(fd);
}

bool isLink(const QString& path) {
  struct stat st {};
  return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}
#else
void removeEntry(const QString& root, const QString& name) {
  const QString path = QDir(root).filePath(name);
  const QFileInfo info(path);
  if (info.isDir() && !info.isSymLink())
    QDir(path).removeRecursively();
  else
    QFile::remove(path);
}

bool isLink(const QString& path) { return QFileInfo(path).isSymLink(); }
#endif

// The names a copy gives its folder and lock: "copy-<pid>-<6 hex digits>"
// and the same + ".lock". Nothing else in the work root is ours to remove.
const QRegularExpression& ownName() {
  static const QRegularExpression re(QStringLiteral("^(copy-[0-9]+-[0-9a-f]{6})(\\.lock)?$"));
  return re;
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
    const QFileInfo self(path_);
    removeEntry(self.path(), self.fileName());
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
  // Removes whatever copies that no longer run left in `root`: entries of a
  // copy's own naming whose lock nobody holds. Whatever else is there stays,
  // and no link is followed.
  static void sweep(const QString& root) {
    const QDir dir(root);
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    QSet<QString> copies;
    for (const QString& name : names)
      if (const auto m = ownName().match(name); m.hasMatch()) copies.insert(m.captured(1));
    for (const QString& copy : std::as_const(copies)) {
      const QString lockName = copy + QStringLiteral(".lock");
      const QString lockPath = dir.filePath(lockName);
      if (names.contains(lockName)) {
        if (isLink(lockPath)) {
          // Not a lock any copy made.
          removeEntry(root, lockName);
        } else {
          QLockFile lock(lockPath);
          lock.setStaleLockTime(0);
          if (!lock.tryLock(0)) continue;  // a running copy holds it
          removeEntry(root, copy);
          lock.unlock();
          continue;
        }
      }
      // The lock is made before the folder and removed after it: a folder
      // without one was left by a copy that ended.
      if (names.contains(copy) && !QFileInfo::exists(lockPath) && !isLink(lockPath)) removeEntry(root, copy);
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
  // The window and vantrel-cli share one root, whatever organisation name
  // either gives Qt: the user's cache folder + "/Vantrel/work".
  QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
  base = base.isEmpty() ? QDir::tempPath() + QStringLiteral("/vantrel-cache")
                        : QDir(base).filePath(QStringLiteral("Vantrel"));
  const QString root = QDir(base).filePath(QStringLiteral("work"));
  // Only a folder made here is made private: a root that is (or links to) a
  // folder of the user's keeps its mode.
  if (!QFileInfo::exists(root) && !isLink(root) && QDir().mkpath(root)) QFile::setPermissions(root, kPrivate);
  // One folder per cache root: tests and tools may move the cache meanwhile.
  static QMutex mutex;
  static std::map<QString, std::unique_ptr<CopyFolder>> folders;
  QMutexLocker locker(&mutex);
  auto& folder = folders[root];
  if (!folder) folder = std::make_unique<CopyFolder>(root);
  return QDir::toNativeSeparators(folder->path());
}

}  // namespace AppDirs
