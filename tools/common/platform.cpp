#include "common/platform.h"

#include <QCoreApplication>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <algorithm>
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
#include <sys/wait.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif
#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace toolkit::platform {
namespace {
volatile std::sig_atomic_t g_stop = 0;
#ifdef Q_OS_UNIX
// The worker process while one runs, to pass a stop request on to.
volatile std::sig_atomic_t g_worker = 0;
// The named partial file, for the last word of a tool that did not end in
// time: a folder descriptor and a name, readable in a signal handler.
volatile std::sig_atomic_t g_partialDir = -1;
char g_partialName[256] = {};

void handler(int sig) {
  // Every phase checks for the request; should one not, the alarm ends the
  // tool a second later all the same (a second after its worker's).
  if (!g_stop) ::alarm(g_worker > 0 ? 2 : 1);
  g_stop = 1;
  if (g_worker > 0) ::kill(pid_t(g_worker), sig);
}
void overdue(int) {
  if (g_worker > 0) ::kill(pid_t(g_worker), SIGKILL);
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
// `work`, with a failure it throws reported as the tool's last lines.
int runCaught(const QString& tool, const std::function<int()>& work) {
  try {
    return work();
  } catch (const ToolError& e) {
    printFailure(tool, e.reason(), e.message());
    return e.usage() ? ExitUsage : ExitFailed;
  } catch (const std::exception& e) {
    printFailure(tool, Reason::EncodeFailed, QString::fromLocal8Bit(e.what()));
    return ExitFailed;
  }
}

#ifdef Q_OS_UNIX
bool writeAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= size_t(n);
  }
  return true;
}

// Hands the worker's output on from `from` to standard output, line by line,
// until the worker closes it; false as soon as standard output is gone.
bool relay(int from) {
  // A line that reads as a written line, "<tool>: wrote: ...": a name of
  // one word before the tag. (A name the tool prints is escaped within its
  // line, and never starts one.)
  const QByteArray claim = ToolProtocol::writtenTag().toUtf8();
  const auto claims = [&claim](const QByteArray& line) {
    const qsizetype at = line.indexOf(claim);
    if (at < 0) return false;
    for (qsizetype i = 0; i < at; ++i)
      if (quint8(line[i]) <= ' ') return false;
    return true;
  };
  const auto pass = [&](const QByteArray& line) {
    return claims(line) || writeAll(STDOUT_FILENO, line.constData(), size_t(line.size()));
  };
  constexpr qsizetype kLongest = 1 << 16;  // a longer line goes out in pieces
  QByteArray pending;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(from, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    const bool end = n <= 0;
    if (!end) pending.append(buffer, qsizetype(n));
    qsizetype start = 0;
    for (qsizetype at; (at = pending.indexOf('\n', start)) >= 0; start = at + 1)
      if (!pass(pending.mid(start, at + 1 - start))) return false;
    pending.remove(0, start);
    if (end || pending.size() > kLongest) {
      if (!pass(pending)) return false;
      pending.clear();
    }
    if (end) return true;
  }
}
#endif
}  // namespace

int runWorker(const QString& tool, std::vector<int> keep, const std::function<int()>& work) {
#ifdef Q_OS_UNIX
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0)
    throw ToolError(QStringLiteral("cannot start the conversion: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t parent = ::getpid();
  const pid_t child = ::fork();
  if (child < 0) {
    const int err = errno;
    ::close(out[0]);
    ::close(out[1]);
    throw ToolError(QStringLiteral("cannot start the conversion: %1").arg(QString::fromLocal8Bit(std::strerror(err))));
  }
  if (child == 0) {
#ifdef Q_OS_LINUX
    // The worker ends with this process, however that ends.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
    if (::getppid() != parent) ::_exit(ExitStopped);
    g_partialDir = -1;  // the partial file is this process's to remove
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(out[1], STDERR_FILENO);
#ifdef Q_OS_LINUX
    // Nothing this process opened goes with it (the output's folder above
    // all), but what it is to work on.
    std::sort(keep.begin(), keep.end());
    unsigned first = STDERR_FILENO + 1;
    for (const int fd : keep) {
      if (fd < int(first)) continue;
      if (unsigned(fd) > first) ::close_range(first, unsigned(fd) - 1, 0);
      first = unsigned(fd) + 1;
    }
    ::close_range(first, ~0U, 0);
#else
    Q_UNUSED(keep);
#endif
    const int code = runCaught(tool, work);
    std::fflush(stdout);
    std::fflush(stderr);
    std::exit(code);  // nothing of the parent's stack is undone
  }
  ::close(out[1]);
  g_worker = child;
  const bool heard = relay(out[0]);
  // A worker that goes on printing learns at its next line that nobody reads.
  ::close(out[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  g_worker = 0;
  if (!heard) return ExitStopped;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (g_stop) return ExitStopped;
  printFailure(tool, Reason::EncodeFailed,
               QStringLiteral("the conversion ended abnormally (signal %1)").arg(WTERMSIG(status)));
  return ExitFailed;
#else
  Q_UNUSED(keep);
  return runCaught(tool, work);
#endif
}

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

int PartialFile::descriptor() const { return d->fd; }

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

int PartialFile::descriptor() const { return -1; }

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
