#pragma once
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

#include "engine/batchhost.h"

// Runs a batch: converts the files at the head of the queue stage by stage,
// removes each file when its last stage is over and ends the batch when the
// queue is empty. Every next step is queued on the event loop, never nested in
// the run that ended. A run that fails fails its file only: the batch goes on,
// and the failed files come back to the list at the end.
//
// The host's job is taken when the batch starts and holds for the whole batch;
// only the output folder box is read again at each file. With more than one
// job, that many files are converted at once, each in a lane of its own (its
// own runners and work file, laneWorkFile); the files in flight are always the
// first entries of the queue, in the order they were taken.
class BatchDriver : public QObject {
  Q_OBJECT
 public:
  BatchDriver(BatchHost& host, Shell& shell, QObject* parent = nullptr);
  // Without desktop actions: the batch end opens no folder and plays no sound.
  explicit BatchDriver(BatchHost& host, QObject* parent = nullptr);
  ~BatchDriver() override;

  // What the start button asks: an empty list is warned about; while a batch
  // runs the host is asked whether to stop it; otherwise the job is taken, the
  // controls are locked and the first file starts shortly after (never inside
  // the call).
  void start();
  // Stops the running batch without a question: the running tools end, their
  // partial outputs are removed and the stopped files stay in the list.
  void requestStop();
  bool isRunning() const { return state_ != State::Idle; }
  // Ends a batch at once for leaving the program: the running tools and their
  // children are ended and their partial outputs removed. No batch-end actions.
  void abort();

  // How long after the start request the first file starts: 100 ms for the
  // window, whose request comes from a click; 0 for a front end that has
  // nothing to show first.
  void setStartDelay(int ms) { timer_.setInterval(qMax(0, ms)); }
  // The first lane's reading of its running file: its length in seconds (0
  // while not read or with no file) and the busy indicator.
  int FileDuration() const;
  QString BusyChar() const;

 Q_SIGNALS:
  // After the host's batchProgress, for whoever else follows the batch.
  void progressed(const BatchProgress& progress);
  // After the host's batchFinished.
  void batchEnded();

 private:
  struct Lane;
  enum class State { Idle, Starting, Running, Ending };

  void begin();
  void fill();
  void startFile(Lane& lane);
  void startStage(Lane& lane);
  void onOutput(Lane& lane, const QString& chunk);
  void onRunOver(Lane& lane);
  void finishFile(Lane& lane, const std::optional<FileFailure>& failure);
  void dropFile(Lane& lane);
  void report(const Lane& lane, const std::optional<Progress::Reading>& reading);
  void terminateAll();
  void fillLater();
  void endBatch();
  void finishEnd();
  QString outputFolder();

  BatchHost& host_;
  Shell* shell_;  // null: no desktop actions
  QTimer timer_;  // the deferred start, single shot
  BatchJob job_;  // of the running (or last) batch
  std::vector<std::unique_ptr<Lane>> lanes_;
  QList<Lane*> inFlight_;  // lanes with a file, in queue order
  QSet<QString> reserved_;  // output names chosen by files in flight
  State state_ = State::Idle;
  quint64 batch_ = 0;  // counts batches; a late answer to a question checks it
  bool stopRequested_ = false;
  bool startFailed_ = false;
  int started_ = 0, finished_ = 0, converted_ = 0;
  QList<FileFailure> failures_;
};
