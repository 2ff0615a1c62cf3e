#include "engine/timeleft.h"

#include <algorithm>
#include <cmath>

namespace {
// Less than this of the batch gone, or of the work done, says too little.
constexpr qint64 kMinElapsedMs = 3000;
constexpr double kMinShareDone = 0.005;
// Beyond this the figure means nothing to anybody.
constexpr double kMaxSeconds = 100.0 * 3600;
}  // namespace

void TimeLeft::restart(qint64 nowMs) {
  *this = TimeLeft{};
  startMs_ = nowMs_ = nowMs;
}

void TimeLeft::progress(const BatchProgress& p, qint64 nowMs) {
  if (startMs_ < 0) restart(nowMs);
  nowMs_ = std::max(nowMs, nowMs_);
  if (p.fileIndex <= 0 || p.fileCount < p.fileIndex) return;
  if (p.fileIndex != fileIndex_) fileShare_ = 0;
  fileIndex_ = p.fileIndex;
  fileCount_ = p.fileCount;
  if (p.stage == 1 && p.stageSeconds > 0) seconds_[p.fileIndex] = p.stageSeconds;
  if (p.percent >= 0 && p.stageCount > 0 && p.stage >= 1 && p.stage <= p.stageCount) {
    const double share =
        (p.stage - 1 + std::clamp(p.percent, 0, 100) / 100.0) / double(p.stageCount);
    fileShare_ = std::max(fileShare_, share);  // a reading never takes work back
  }
}

std::optional<qint64> TimeLeft::secondsLeft() const {
  if (startMs_ < 0 || fileIndex_ <= 0) return std::nullopt;
  const qint64 elapsedMs = nowMs_ - startMs_;
  if (elapsedMs < kMinElapsedMs) return std::nullopt;
  // Work in source seconds while every file so far told its length (the
  // running one may not have yet: it counts as the mean), else in files.
  const int before = fileIndex_ - 1;
  int toldBefore = 0;
  double sumBefore = 0;
  for (auto it = seconds_.cbegin(); it != seconds_.cend(); ++it)
    if (it.key() < fileIndex_) ++toldBefore, sumBefore += it.value();
  const bool currentTold = seconds_.contains(fileIndex_);
  double done = 0, total = 0;
  if (toldBefore == before && (currentTold || before > 0)) {
    const double current = currentTold ? seconds_.value(fileIndex_) : sumBefore / before;
    const double mean = (sumBefore + current) / fileIndex_;
    done = sumBefore + current * fileShare_;
    total = sumBefore + current + (fileCount_ - fileIndex_) * mean;  // queued: the mean so far
  } else {
    done = before + fileShare_;
    total = fileCount_;
  }
  if (total <= 0 || done < total * kMinShareDone) return std::nullopt;
  const double left = elapsedMs / 1000.0 * (total - done) / done;
  if (!std::isfinite(left) || left > kMaxSeconds) return std::nullopt;
  return std::max<qint64>(0, qint64(std::llround(left)));
}
