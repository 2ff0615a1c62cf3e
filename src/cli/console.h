#pragma once

// The console around vantrel-cli: interrupt signals and whether a stream is a
// terminal. The one place of the program that knows how either is asked.
namespace Console {

// From now on SIGINT and SIGTERM (Ctrl-C, Ctrl-Break, kill) only note the
// signal; the program asks for it with pendingSignal() and stops by itself.
void catchInterrupts();
// The last interrupt caught (SIGINT or SIGTERM), 0 for none.
int pendingSignal();
// The exit status of a program ended by `signal`: 128 + its number.
int exitStatusFor(int signal);

bool stderrIsTerminal();

}  // namespace Console
