#pragma once
#include <QString>
#include <stdexcept>

#include "protocol/toolprotocol.h"

namespace toolkit {

// Writes one line to standard output and flushes it: the main program reads
// our output through a pipe and must see every line as soon as it is printed.
// A line break or other control character inside `line` is escaped, so that
// text taken from a file name never starts a line of its own. Returns false
// when the line could not be written (the reader is gone).
bool printLine(const QString& line);

// Why a run failed; the main program reads it from the reason line printed
// just before the last line (protocol/toolprotocol.h).
using Reason = ToolProtocol::Reason;
// The reason for a failed file operation of the tool's own, by errno (or its
// Windows counterpart); `fallback` for anything else.
Reason reasonForErrno(int error, Reason fallback = Reason::EncodeFailed);

// A failure the tool reports in two lines and ends on. A usage error marks a
// command line the tool does not take (exit status 2); anything else is 1.
class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const QString& message, Reason reason = Reason::EncodeFailed)
      : std::runtime_error(message.toStdString()), message_(message), reason_(reason) {}
  const QString& message() const { return message_; }
  Reason reason() const { return reason_; }
  bool usage() const { return reason_ == Reason::Usage; }

 private:
  QString message_;
  Reason reason_;
};

enum ExitCode { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitStopped = 143 };

// Prints the reason line and the error line that end a failed run.
void printFailure(const QString& tool, Reason reason, const QString& why);

}  // namespace toolkit
