#include "common/platform.h"

#include <QCoreApplication>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "common/console.h"

#ifdef Q_OS_UNIX
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace toolkit::platform {
namespace {
volatile std::sig_atomic_t g_stop = 0;
#ifdef Q_OS_UNIX
void handler(int) { g_stop = 1; }
#elif defined(Q_OS_WIN)
BOOL WINAPI consoleHandler(DWORD) {
  g_stop = 1;
  return TRUE;
}
#endif

// A short name nobody can guess: the output's own name may already be near
// the file system's limit. The process id lets the program that ran a tool
// killed outright find what it left.
QString randomName() {
  return QStringLiteral(".vantrel-%1-%2.part")
      .arg(QCoreApplication::applicationPid())
      .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
}

[[noreturn]] void cannotCreate(const QString& folder, int error) {
  throw ToolError(QStringLiteral("cannot write in %1: %2")
                      .arg(folder, QString::fromLocal8Bit(std::strerror(error))),
                  reasonForErrno(error, Reason::OutputUnwritable));
}
}  // namespace

void ignoreBrokenPipe() {
#ifdef Q_OS_UNIX
  ::signal(SIGPIPE, SIG_IGN);
#endif
}

void catchStopRequests() {
#ifdef Q_OS_UNIX
  struct sigaction sa = {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
#elif defined(Q_OS_WIN)
  ::SetConsoleCtrlHandler(consoleHandler, TRUE);
#endif
}

bool stopRequested() { return g_stop != 0; }

bool nameFits(const QString& folder, const QString& name) {
#ifdef Q_OS_UNIX
  long most = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
  if (most <= 0) most = 255;
  return QFile::encodeName(name).size() <= most;
#else
  Q_UNUSED(folder);
  return name.size() <= 255;  // UTF-16 units on Windows
#endif
}

#ifdef Q_OS_UNIX

struct PartialFile::Impl {
  QString folder, name;  // the output's folder and file name
  QString temp;          // the random name; empty while the file has none
  int dirFd = -1, fd = -1;
  bool procFd = false;   // the file is reachable as /proc/<pid>/fd/<fd>
  bool done = false;     // committed or discarded

  QByteArray nameBytes() const { return QFile::encodeName(name); }
  // Whether `entry` in the folder is still the file this tool created.
  bool isOurs(const QByteArray& entry) const {
    struct stat a {}, b {};
    return ::fstat(fd, &a) == 0 && ::fstatat(dirFd, entry.constData(), &b, AT_SYMLINK_NOFOLLOW) == 0 &&
           a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  }
};

PartialFile::PartialFile(const QString& output) : d(std::make_unique<Impl>()) {
  const QFileInfo out(output);
  d->folder = out.absolutePath();
  d->name = out.fileName();
  d->dirFd = ::open(QFile::encodeName(d->folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (d->dirFd < 0) cannotCreate(d->folder, errno);
#ifdef Q_OS_LINUX
  // Without /proc an unnamed file could not be given its name (that takes
  // privileges); some file systems (vfat, NFS) have no unnamed files.
  // VANTREL_TOOL_NAMED_PARTIAL takes the named road on any file system (tests).
  d->procFd = ::access("/proc/self/fd", X_OK) == 0;
  if (d->procFd && !qEnvironmentVariableIsSet("VANTREL_TOOL_NAMED_PARTIAL")) {
    d->fd = ::openat(d->dirFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (d->fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT)
      cannotCreate(d->folder, errno);
  }
#endif
  for (int attempt = 0; d->fd < 0 && attempt < 16; ++attempt) {
    d->temp = randomName();
    d->fd = ::openat(d->dirFd, QFile::encodeName(d->temp).constData(),
                     O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0600);
    if (d->fd < 0 && errno != EEXIST) cannotCreate(d->folder, errno);
  }
  if (d->fd < 0) cannotCreate(d->folder, EEXIST);
}

PartialFile::~PartialFile() {
  discard();
  if (d->fd >= 0) ::close(d->fd);
  if (d->dirFd >= 0) ::close(d->dirFd);
}

QString PartialFile::writeUrl() const {
  // The descriptor is opened again through /proc: no name in the folder
  // that anyone could swap in the meantime.
  if (d->procFd)
    return QStringLiteral("file:/proc/%1/fd/%2").arg(::getpid()).arg(d->fd);
  return QStringLiteral("file:") + QDir(d->folder).filePath(d->temp);
}

QString PartialFile::readPath() const {
  if (d->procFd) return QStringLiteral("/proc/self/fd/%1").arg(d->fd);
  return QDir(d->folder).filePath(d->temp);
}

int PartialFile::sync() { return ::fsync(d->fd) == 0 ? 0 : errno; }

int PartialFile::commit(bool replace) {
  if (d->done) return EINVAL;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(d->fd, 0666 & ~mask) != 0) return errno;
  const QByteArray target = d->nameBytes();
  int err = 0;
  if (d->temp.isEmpty()) {
    // Linking never replaces an entry: EEXIST when the name is taken.
    const QByteArray self = QStringLiteral("/proc/self/fd/%1").arg(d->fd).toLatin1();
    if (::linkat(AT_FDCWD, self.constData(), d->dirFd, target.constData(), AT_SYMLINK_FOLLOW) == 0) {
      d->done = true;
      return 0;
    }
    err = errno;
    if (err != EEXIST || !replace) return err;
    // Replacing: a name of its own first, then a rename over the entry.
    for (int attempt = 0; attempt < 16; ++attempt) {
      d->temp = randomName();
      if (::linkat(AT_FDCWD, self.constData(), d->dirFd, QFile::encodeName(d->temp).constData(),
                   AT_SYMLINK_FOLLOW) == 0)
        break;
      err = errno;
      d->temp.clear();
      if (err != EEXIST) return err;
    }
    if (d->temp.isEmpty()) return err;
  }
  const QByteArray temp = QFile::encodeName(d->temp);
  if (replace) {
    // rename() replaces the entry itself; a link there is not followed.
    if (::renameat(d->dirFd, temp.constData(), d->dirFd, target.constData()) != 0) return errno;
  } else {
#ifdef RENAME_NOREPLACE
    if (::renameat2(d->dirFd, temp.constData(), d->dirFd, target.constData(), RENAME_NOREPLACE) != 0) {
      err = errno;
      if (err != EINVAL && err != ENOSYS) return err;
#else
    {
#endif
      // A hard link does not replace either; vfat has none, and there only a
      // check just before the rename is left.
      if (::linkat(d->dirFd, temp.constData(), d->dirFd, target.constData(), 0) == 0) {
        ::unlinkat(d->dirFd, temp.constData(), 0);
      } else {
        err = errno;
        struct stat st {};
        if (err != EPERM && err != EOPNOTSUPP) return err;
        if (::fstatat(d->dirFd, target.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
        if (::renameat(d->dirFd, temp.constData(), d->dirFd, target.constData()) != 0) return errno;
      }
    }
  }
  d->temp.clear();
  d->done = true;
  return 0;
}

void PartialFile::discard() {
  if (d->done) return;
  d->done = true;
  if (!d->temp.isEmpty() && d->isOurs(QFile::encodeName(d->temp)))
    ::unlinkat(d->dirFd, QFile::encodeName(d->temp).constData(), 0);
  if (d->fd >= 0) ::ftruncate(d->fd, 0);  // an unnamed file goes with its last descriptor
}

#else  // Windows: a random name, created exclusively

struct PartialFile::Impl {
  QString output, temp;
  QFile file;
  bool done = false;
};

PartialFile::PartialFile(const QString& output) : d(std::make_unique<Impl>()) {
  d->output = QFileInfo(output).absoluteFilePath();
  const QString folder = QFileInfo(d->output).absolutePath();
  for (int attempt = 0; attempt < 16; ++attempt) {
    d->temp = QDir(folder).filePath(randomName());
    d->file.setFileName(d->temp);
    if (d->file.open(QIODevice::ReadWrite | QIODevice::NewOnly)) {
      d->file.close();  // FFmpeg opens it again by name
      return;
    }
    if (d->file.error() != QFileDevice::OpenError || !QFileInfo::exists(d->temp)) break;
  }
  throw ToolError(QStringLiteral("cannot write in %1: %2").arg(folder, d->file.errorString()),
                  Reason::OutputUnwritable);
}

PartialFile::~PartialFile() { discard(); }

QString PartialFile::writeUrl() const { return QStringLiteral("file:") + d->temp; }
QString PartialFile::readPath() const { return d->temp; }

int PartialFile::sync() { return 0; }  // FFmpeg closed it: the system has it all

int PartialFile::commit(bool replace) {
  if (d->done) return EINVAL;
  d->file.close();
  if (!replace && QFileInfo::exists(d->output)) return EEXIST;
  std::error_code ec;
  std::filesystem::rename(std::filesystem::path(d->temp.toStdU16String()),
                          std::filesystem::path(d->output.toStdU16String()), ec);
  if (ec) return ec.value();
  d->done = true;
  return 0;
}

void PartialFile::discard() {
  if (d->done) return;
  d->done = true;
  d->file.close();
  QFile::remove(d->temp);
}

#endif

}  // namespace toolkit::platform
