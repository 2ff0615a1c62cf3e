#include "runner/processgroup.h"

#include <QTimer>

#ifdef Q_OS_UNIX
#include <signal.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace ProcessGroup {

void prepare(QProcess& process) {
#ifdef Q_OS_UNIX
  const pid_t parent = ::getpid();
  process.setChildProcessModifier([parent] {
    ::setpgid(0, 0);
#ifdef Q_OS_LINUX
    // The tool never outlives the program: when the thread that started it
    // (the program's main thread) ends, the tool gets SIGTERM, removes its
    // partial output and ends its own children.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // The program may have died before that request was made: then the tool
    // does not start at all.
    if (::getppid() != parent) ::_exit(127);
#endif
  });
#else
  Q_UNUSED(process);
#endif
}

void terminate(QProcess& process, int graceMs) {
#ifdef Q_OS_UNIX
  const qint64 pid = process.processId();
  if (pid <= 0) return;
  if (graceMs <= 0) {
    ::kill(-static_cast<pid_t>(pid), SIGKILL);
    return;
  }
  ::kill(-static_cast<pid_t>(pid), SIGTERM);
  // The hard stop only while this run is still going: once it has ended, its
  // group id may belong to somebody else.
  QTimer::singleShot(graceMs, &process, [&process, pid] {
    if (process.state() != QProcess::NotRunning) ::kill(-static_cast<pid_t>(pid), SIGKILL);
  });
#else
  process.kill();
  Q_UNUSED(graceMs);
#endif
}

}  // namespace ProcessGroup
