#include "runner/processgroup.h"

#include <QTimer>

#ifdef Q_OS_UNIX
#include <signal.h>
#include <unistd.h>
#endif

namespace ProcessGroup {

void prepare(QProcess& process) {
#ifdef Q_OS_UNIX
  process.setChildProcessModifier([] { ::setpgid(0, 0); });
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
