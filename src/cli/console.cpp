#include "cli/console.h"

#include <csignal>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace Console {
namespace {
volatile std::sig_atomic_t g_signal = 0;
extern "C" void note(int signal) { g_signal = signal; }
}  // namespace

void catchInterrupts() {
  std::signal(SIGINT, note);
  std::signal(SIGTERM, note);
#ifdef SIGHUP
  // The terminal closed: stopped like SIGTERM, with status 129.
  std::signal(SIGHUP, note);
#endif
#ifdef SIGPIPE
  // Whoever read our output went away: the batch goes on; only the writes fail.
  std::signal(SIGPIPE, SIG_IGN);
#endif
}

int pendingSignal() { return g_signal; }

int exitStatusFor(int signal) { return 128 + signal; }

bool stderrIsTerminal() { return isatty(fileno(stderr)) != 0; }

}  // namespace Console
