#include "common/platform.h"

#include <QSocketNotifier>
#include <atomic>

#ifdef Q_OS_UNIX
#include <csignal>
#include <sys/socket.h>
#include <unistd.h>
#endif
#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

namespace toolkit::platform {
namespace {
volatile std::sig_atomic_t g_stop = 0;
#ifdef Q_OS_UNIX
int g_fds[2] = {-1, -1};

void handler(int) {
  g_stop = 1;
  const char byte = 1;
  [[maybe_unused]] const auto n = ::write(g_fds[0], &byte, 1);
}
#endif
}  // namespace

void onStopRequest(std::function<void()> onStop) {
#ifdef Q_OS_UNIX
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_fds) != 0) return;
  auto* notifier = new QSocketNotifier(g_fds[1], QSocketNotifier::Read);
  QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onStop = std::move(onStop)] {
    char byte;
    [[maybe_unused]] const auto n = ::read(g_fds[1], &byte, 1);
    onStop();
  });
  struct sigaction sa = {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &sa, nullptr);
#else
  Q_UNUSED(onStop);
#endif
}

bool stopRequested() { return g_stop != 0; }

void prepareChild(QProcess& child) {
#ifdef Q_OS_LINUX
  child.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
#else
  Q_UNUSED(child);
#endif
}

}  // namespace toolkit::platform
