#pragma once
#include <QMap>
#include <optional>

#include "engine/batchevents.h"

// How long the rest of a batch will take, judged from how it has gone so far:
// per second of source converted while every file so far told its length in
// its progress lines, else per file. Fed with the batch's progress and the
// time of each reading; it never waits for anything.
class TimeLeft {
 public:
  // A new batch starts at `nowMs`.
  void restart(qint64 nowMs);
  // A progress report at `nowMs` (the same clock as restart).
  void progress(const BatchProgress& p, qint64 nowMs);
  // Seconds still to go; none before there is something to go by (a few
  // seconds of work and a known share of it done) or when the figure would
  // be absurd.
  std::optional<qint64> secondsLeft() const;

 private:
  qint64 startMs_ = -1;
  qint64 nowMs_ = 0;
  int fileIndex_ = 0, fileCount_ = 0;
  double fileShare_ = 0;   // share of the running file done, 0 to 1
  QMap<int, int> seconds_;  // source seconds of each file that told them, by number
};
