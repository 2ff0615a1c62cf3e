#pragma once
#include <QObject>
#include <QStringList>
#include <QTimer>

#include "engine/batchhost.h"
#include "engine/progress.h"
#include "runner/dosoutputs.h"

// Runs a batch: converts the head of the queue stage by stage, removes each
// file when its last stage is over and ends the batch when the queue is empty.
// Every next step is queued on the event loop, never nested in the run that
// ended. A run that fails fails its file only: the batch goes on, and the
// failed files come back to the list at the end.
class BatchDriver : public QObject {
  Q_OBJECT
 public:
  BatchDriver(BatchHost& host, Shell& shell, QObject* parent = nullptr);
  ~BatchDriver() override;

  DOSOutputs objDOS;     // first stage
  DOSOutputs objffmpeg;  // second stage and MP3
  QTimer Timer1;         // the deferred start, 100 ms, single shot

  // The start request: warns on an empty list, asks whether to stop while a
  // batch runs, otherwise locks the panel and arms Timer1.
  void imgStart_Click();
  void Timer1_Timer();
  void ConvertNext();
  void objDOS_ReceiveOutputs(const QString& CommandOutputs);
  void objDOS_CommandOver();
  void objffmpeg_ReceiveOutputs(const QString& CommandOutputs);
  void objffmpeg_CommandOver();

  bool isRunning() const { return state_ != State::Idle; }
  // Ends a batch at once for leaving the program: the running tool and its
  // children are ended and its partial output removed. No batch-end actions.
  void abort();

  int FileDuration() const { return progress_.fileDuration; }
  QString BusyChar() const { return progress_.busyChar; }
  // Files that failed in the last batch, with the tool's last line.
  struct Failure {
    QString source;
    QString reason;
  };
  const QList<Failure>& failures() const { return failures_; }

 Q_SIGNALS:
  void batchEnded();

 private:
  enum class State { Idle, Starting, Running, Ending };
  void startRun(DOSOutputs& runner, const ToolCommand& command, const QString& tool);
  // A run that was stopped, or failed, ends here; true when it did.
  bool settleFailedRun(DOSOutputs& runner);
  void completeFile();
  void failFile(DOSOutputs& runner);
  void stopBatch();
  void endBatch();
  void finishEnd();
  void removePartialOutput();
  QString outputFolder();
  BuildContext buildContext() const;

  BatchHost& host_;
  Shell& shell_;
  State state_ = State::Idle;
  bool stopRequested_ = false;
  QString currentOutput_;  // file the running stage writes
  QList<Failure> failures_;
  Progress::State progress_;
};
