#pragma once

// The console around vantrel-cli: interrupt signals and whether a stream is a
// terminal. The one place of the program that knows how either is asked.
namespace Console {

// From now on SIGINT, SIGTERM and SIGHUP (Ctrl-C, Ctrl-Break, kill, a closed
// terminal) only note the signal; the program asks for it with
// pendingSignal() and stops by itself. A closed pipe no longer ends it.
void catchInterrupts();
// The last interrupt caught (SIGINT, SIGTERM or SIGHUP), 0 for none.
int pendingSignal();
// The exit status of a program ended by `signal`: 128 + its number.
int exitStatusFor(int signal);

bool stderrIsTerminal();

}  // namespace Console
