#pragma once
#include <QProcess>
#include <QString>
#include <functional>
#include <memory>

// The one place with calls that differ between systems: how the tool learns
// that it is asked to stop, how its FFmpeg children are tied to it, and how
// the output is written where nobody else can reach it before it is whole.
namespace toolkit::platform {

// A reader of the tool's output that went away shows as a failed write, not
// as the tool's death (SIGPIPE is ignored); FFmpeg children get it back.
void ignoreBrokenPipe();
// Runs `onStop` on the event loop when the tool is asked to end (SIGTERM,
// SIGINT or SIGHUP on Unix). Install once, after the application object.
void onStopRequest(std::function<void()> onStop);
// True once a stop request has arrived, even before the event loop saw it.
bool stopRequested();
// Makes a child end when the tool dies without cleaning up (Linux).
void prepareChild(QProcess& child);

// Whether a file name of this many bytes (UTF-8) fits the file system of
// `folder`.
bool nameFits(const QString& folder, const QString& name);

// The output while it is written: in the output's folder, created
// exclusively and never through a symbolic link. On Linux it has no name at
// all until it is complete (O_TMPFILE), so a tool killed hard leaves nothing;
// elsewhere its name is random. Removed on destruction unless committed.
class PartialFile {
 public:
  // Throws ToolError with the reason (output-unwritable, disk-full, ...).
  explicit PartialFile(const QString& output);
  ~PartialFile();
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  // The name an FFmpeg child of this process writes the file through.
  QString childTarget() const;
  // The name this process reads it back through.
  QString readPath() const;
  // Flushes it to the disk; 0 or the error number.
  int sync();
  // Gives it the output's name, with the usual permissions. An existing entry
  // of that name is left alone (EEXIST) unless `replace`; then the entry
  // itself is replaced, never the file a link there points to. 0 or the
  // error number.
  int commit(bool replace);
  // Removes it now.
  void discard();

 private:
  struct Impl;
  std::unique_ptr<Impl> d;
};

}  // namespace toolkit::platform
