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
#include "protocol/names.h"

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
// The named partial file, for the last word of a tool that did not end in
// time: a folder descriptor and a name, readable in a signal handler.
volatile std::sig_atomic_t g_partialDir = -1;
char g_partialName[256] = {};

void handler(int) {
  // Every phase checks for the request; should one not, the alarm ends the
  // tool a second later all the same.
  if (!g_stop) ::alarm(1);
  g_stop = 1;
}
void overdue(int) {
  if (g_partialDir >= 0 && g_partialName[0]) ::unlinkat(g_partialDir, g_partialName, 0);
  ::_exit(ExitStopped);
}
void notePartial(int dirFd, const QString& name) {
  const QByteArray bytes = QFile::encodeName(name);
  g_partialDir = -1;
  if (bytes.isEmpty() || bytes.size() >= qsizetype(sizeof g_partialName)) return;
  std::memcpy(g_partialName, bytes.constData(), size_t(bytes.size()) + 1);
  g_partialDir = dirFd;
}
#elif defined(Q_OS_WIN)
BOOL WINAPI consoleHandler(DWORD) {
  g_stop = 1;
  return TRUE;
}
#endif

// A short name nobody can guess: the output's own name may already be near
// the file system's limit.
QString randomName() {
  return ToolProtocol::partialFileName(QCoreApplication::applicationPid(), QRandomGenerator::system()->generate64());
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
  sa.sa_handler = overdue;
  ::sigaction(SIGALRM, &sa, nullptr);
#elif defined(Q_OS_WIN)
  ::SetConsoleCtrlHandler(consoleHandler, TRUE);
#endif
}

bool stopRequested() { return g_stop != 0; }

namespace {
long nameMax(const QString& folder) {
#ifdef Q_OS_UNIX
  const long most = ::pathconf(QFile::encodeName(folder).constData(), _PC_NAME_MAX);
  return most > 0 ? most : 255;
#else
  Q_UNUSED(folder);
  return 255;
#endif
}
}  // namespace

bool nameFits(const QString& folder, const QString& name) {
#ifdef Q_OS_UNIX
  return QFile::encodeName(name).size() <= nameMax(folder);
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
  bool committed = false;

  // Gives the file the name `target`: 0, EEXIST when the name is taken, or
  // another error number. Nothing here replaces an entry.
  int place(const QByteArray& target);
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
  if (!d->temp.isEmpty()) notePartial(d->dirFd, d->temp);
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

int PartialFile::Impl::place(const QByteArray& target) {
  if (temp.isEmpty()) {
    // Linking never replaces an entry.
    const QByteArray self = QStringLiteral("/proc/self/fd/%1").arg(fd).toLatin1();
    return ::linkat(AT_FDCWD, self.constData(), dirFd, target.constData(), AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
  }
  const QByteArray from = QFile::encodeName(temp);
#ifdef RENAME_NOREPLACE
  if (::renameat2(dirFd, from.constData(), dirFd, target.constData(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
#endif
  // A hard link does not replace either; vfat has none, and there only a
  // check just before the rename is left.
  if (::linkat(dirFd, from.constData(), dirFd, target.constData(), 0) == 0) {
    ::unlinkat(dirFd, from.constData(), 0);
    return 0;
  }
  if (errno != EPERM && errno != EOPNOTSUPP) return errno;
  struct stat st {};
  if (::fstatat(dirFd, target.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0) return EEXIST;
  return ::renameat(dirFd, from.constData(), dirFd, target.constData()) == 0 ? 0 : errno;
}

int PartialFile::commit(ToolProtocol::Written& written) {
  if (d->done) return EINVAL;
  const mode_t mask = ::umask(0);
  ::umask(mask);
  if (::fchmod(d->fd, 0666 & ~mask) != 0) return errno;
  const int most = int(nameMax(d->folder));
  QString name = d->name;
  for (int attempt = 0; attempt < 100000; ++attempt, name = ToolProtocol::nextFreeName(name, most)) {
    const int err = d->place(QFile::encodeName(name));
    if (err == EEXIST) continue;
    if (err) return err;
    g_partialDir = -1;
    d->temp.clear();
    d->name = name;
    d->done = d->committed = true;
    struct stat st {};
    ::fstat(d->fd, &st);
    written = {QFile::encodeName(QDir(d->folder).filePath(name)), quint64(st.st_dev), quint64(st.st_ino)};
    return 0;
  }
  return EEXIST;
}

void PartialFile::uncommit() {
  if (!d->committed) return;
  d->committed = false;
  const QByteArray name = QFile::encodeName(d->name);
  if (d->isOurs(name)) ::unlinkat(d->dirFd, name.constData(), 0);
}

void PartialFile::discard() {
  if (d->done) return;
  d->done = true;
  g_partialDir = -1;
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

int PartialFile::commit(ToolProtocol::Written& written) {
  if (d->done) return EINVAL;
  d->file.close();
  const QFileInfo out(d->output);
  QString name = out.fileName();
  for (int attempt = 0; attempt < 100000; ++attempt, name = ToolProtocol::nextFreeName(name)) {
    const QString target = out.dir().filePath(name);
    // MoveFileEx without MOVEFILE_REPLACE_EXISTING never replaces an entry.
    if (::MoveFileExW(reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(d->temp).utf16()),
                      reinterpret_cast<LPCWSTR>(QDir::toNativeSeparators(target).utf16()), 0)) {
      d->done = true;
      d->output = target;
      written = {target.toUtf8(), 0, 0};
      return 0;
    }
    const DWORD err = ::GetLastError();
    if (err != ERROR_ALREADY_EXISTS && err != ERROR_FILE_EXISTS) return EACCES;
  }
  return EEXIST;
}

void PartialFile::uncommit() {}

void PartialFile::discard() {
  if (d->done) return;
  d->done = true;
  d->file.close();
  QFile::remove(d->temp);
}

#endif

}  // namespace toolkit::platform
