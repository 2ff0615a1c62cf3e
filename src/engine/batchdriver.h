#pragma once
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
// With more than one job, that many files are converted at once, each in a
// lane of its own (its own runners and work file); the files in flight are
// always the first entries of the queue, in the order they were taken.
class BatchDriver : public QObject {
  Q_OBJECT
 public:
  BatchDriver(BatchHost& host, Shell& shell, QObject* parent = nullptr);
  // Without desktop actions: the batch end opens no folder and plays no sound.
  explicit BatchDriver(BatchHost& host, QObject* parent = nullptr);
  ~BatchDriver() override;

  // What the start button asks: an empty list is warned about; while a batch
  // runs the host is asked whether to stop it; otherwise the controls are
  // locked and the first file starts shortly after (never inside the call).
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
  // Files converted at once (at least 1); used from the next batch on.
  void setJobs(int jobs);
  int jobs() const { return jobs_; }
  // Folder of the work files; AppDirs::workFolder() while empty.
  void setWorkFolder(const QString& folder) { workFolder_ = folder; }
  // The work file of a lane, always named tmp.mp4: in the work folder for the
  // first lane (the window's one file at a time), in a folder of its own below
  // it for each other lane ("lane-2/tmp.mp4" for the second...). An encoder
  // writes only in its output's folder, so the tool of a later lane reaches
  // no other lane's work file; the first lane's, writing in the work folder
  // itself, still reaches the folders below it. A lane's folder is made (mode
  // 0700) when its first work file is written and removed, with what it
  // holds, when the batch ends, is stopped or aborted.
  QString workFile(int lane) const;

  // The first lane's reading of the running file: its length in seconds (0
  // while not read) and the busy indicator.
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
  void removePartialOutput(Lane& lane);
  void clearLane(Lane& lane);
  void makeLaneFolder(int lane) const;
  void removeLaneFolders(int from, int to) const;
  void report(Lane& lane, int percent);
  bool anyActive() const;
  void endBatch();
  void finishEnd();
  QString outputFolder();

  BatchHost& host_;
  Shell* shell_;  // null: no desktop actions
  QTimer timer_;  // the deferred start, single shot
  std::vector<std::unique_ptr<Lane>> lanes_;
  QList<Lane*> inFlight_;  // lanes with a file, in queue order
  QSet<QString> reserved_;  // final output names of files in flight
  int jobs_ = 1;
  QString workFolder_;
  State state_ = State::Idle;
  quint64 batch_ = 0;  // counts batches; a late answer to a question checks it
  bool stopRequested_ = false;
  bool startFailed_ = false;
  int started_ = 0, finished_ = 0, converted_ = 0;
  QList<FileFailure> failures_;
  QString caption_;
};
