#pragma once
#include <QProcess>

// The one place that knows how a tool and the processes it starts are held
// together and ended together.
namespace ProcessGroup {
// Makes `process` start its child as the leader of a new process group that
// is asked to end (SIGTERM on Linux) when this program dies.
void prepare(QProcess& process);
// Asks the whole group to end (a polite request first, then a hard stop
// after `graceMs` if anything is left).
void terminate(QProcess& process, int graceMs = 3000);
}  // namespace ProcessGroup
