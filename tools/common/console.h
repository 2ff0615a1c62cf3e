#pragma once
#include <QString>
#include <stdexcept>

namespace toolkit {

// Writes one line to standard output and flushes it: the main program reads
// our output through a pipe and must see every line as soon as it is printed.
void printLine(const QString& line);

// A failure the tool reports in one line and ends on. `usage` marks a command
// line the tool does not take (exit status 2); anything else is status 1.
class ToolError : public std::runtime_error {
 public:
  explicit ToolError(const QString& message, bool usage = false)
      : std::runtime_error(message.toStdString()), message_(message), usage_(usage) {}
  const QString& message() const { return message_; }
  bool usage() const { return usage_; }

 private:
  QString message_;
  bool usage_;
};

enum ExitCode { ExitOk = 0, ExitFailed = 1, ExitUsage = 2, ExitStopped = 143 };

}  // namespace toolkit
