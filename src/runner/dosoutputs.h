#pragma once
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringDecoder>
#include <memory>

#include "runner/toolcommand.h"

// Runs one console tool as a hidden child process with merged output and no
// standard input. Output reaches the owner in arrival order, in chunks of at
// most 1024 bytes, through ReceiveOutputs; CommandOver follows exactly once per
// started run, after the last chunk. The window stays free: ExecuteCommand
// returns as soon as the tool has started.
class DOSOutputs : public QObject {
  Q_OBJECT
 public:
  static constexpr int kChunkBytes = 1024;
  // What a run printed is kept as a tail of the order of this many
  // characters (at least half, at most twice as many): enough for the last
  // lines the engine reads, bounded however long a tool talks.
  static constexpr qsizetype kTailChars = 64 * 1024;

  explicit DOSOutputs(QObject* parent = nullptr);
  ~DOSOutputs() override;

  void setCommandLine(const ToolCommand& command) { commandLine_ = command; }
  const ToolCommand& CommandLine() const { return commandLine_; }
  // The tail of what the current or last run printed: all of it up to twice
  // kTailChars; past that a tail of at least kTailChars / 2, starting at a
  // line's start where one lies in reach, and never inside a character.
  const QString& Outputs() const { return outputs_; }

  // Runs `command`, or the stored command line when `command` is empty (a
  // non-empty one is stored first). Returns false, after a critical message,
  // when the command cannot be started; no event follows then.
  bool ExecuteCommand(const ToolCommand& command = {});

  bool isRunning() const { return process_ != nullptr; }
  // The process id of the current or last run's tool; 0 before any run.
  qint64 processId() const { return pid_; }
  // Ends the running tool and every process it started. CommandOver follows
  // as for any other end of the run.
  void terminate();
  // The same, waiting up to `ms` for the tool to be gone; for leaving the
  // program. No event is raised.
  void terminateAndWait(int ms);

  // How the last run ended.
  int exitCode() const { return exitCode_; }
  bool crashed() const { return crashed_; }
  bool stopped() const { return stopped_; }
  bool succeeded() const { return !crashed_ && !stopped_ && exitCode_ == 0; }
  // The last non-empty line the last run printed.
  QString lastLine() const;

 Q_SIGNALS:
  void ReceiveOutputs(const QString& CommandOutputs);
  void CommandOver();

 private:
  void readAvailable();
  void onFinished(int exitCode, QProcess::ExitStatus status);
  void emitChunk(const QByteArray& bytes);
  void keepTail();

  ToolCommand commandLine_;
  QString outputs_;
  QProcess* process_ = nullptr;
  std::unique_ptr<QStringDecoder> decoder_;
  int exitCode_ = 0;
  qint64 pid_ = 0;
  bool crashed_ = false;
  bool stopped_ = false;
};
