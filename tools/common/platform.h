#pragma once
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "protocol/toolprotocol.h"

// The one place with calls that differ between systems: how the tool learns
// that it is asked to stop, and how the output is written where nobody else
// can reach it before it is whole.
namespace toolkit::platform {

// A reader of the tool's output that went away shows as a failed write, not
// as the tool's death (SIGPIPE is ignored).
void ignoreBrokenPipe();
// Notes a request to end the tool (SIGTERM, SIGINT or SIGHUP on Unix; Ctrl+C
// or the console closing on Windows) instead of dying at once.
void catchStopRequests();
// True once a stop request has arrived. From then on the tool has one second
// to end by itself; after that it ends at once (exit status 143), removing its
// named partial file if it has one.
bool stopRequested();

// Runs `work` in a process of its own, which may confine itself for good,
// and returns its exit code, while this process keeps what the worker must
// not have: the output's folder, to give the finished file its name. The
// worker's output reaches this process's standard output line by line, save
// a line that claims a written file, which only this process may print;
// when nobody reads it any more, the worker learns so at its next line. A
// stop request reaches the worker too, and a worker that ended abnormally is
// reported in a failure line. The worker has no open file of this process
// but its standard streams and `keep`. Without fork (Windows) `work` runs
// here.
int runWorker(const QString& tool, std::vector<int> keep, const std::function<int()>& work);

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

  // The open file, for the worker's confinement; -1 where there is none.
  int descriptor() const;
  // The name FFmpeg's libraries write the file through, as a URL.
  QString writeUrl() const;
  // The name this process reads it back through.
  QString readPath() const;
  // Flushes it to the disk; 0 or the error number.
  int sync();
  // Gives it the output's name, with the usual permissions. A name that is
  // taken (by anyone, even a moment before) is never replaced: the file gets
  // the next free name by the "(2)", "(3)" rule instead, which `written`
  // receives with the file's identity. 0 or the error number.
  int commit(ToolProtocol::Written& written);
  // Removes the committed file again, if its name still holds this very file.
  void uncommit();
  // Removes it now.
  void discard();

 private:
  struct Impl;
  std::unique_ptr<Impl> d;
};

}  // namespace toolkit::platform
