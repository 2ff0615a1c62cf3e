#pragma once
#include <QProcess>
#include <functional>

// The one place with calls that differ between systems: how the tool learns
// that it is asked to stop, and how its FFmpeg children are tied to it.
namespace toolkit::platform {

// Runs `onStop` on the event loop when the tool is asked to end (SIGTERM,
// SIGINT or SIGHUP on Unix). Install once, after the application object.
void onStopRequest(std::function<void()> onStop);
// True once a stop request has arrived, even before the event loop saw it.
bool stopRequested();
// Makes a child end when the tool dies without cleaning up (Linux).
void prepareChild(QProcess& child);

}  // namespace toolkit::platform
