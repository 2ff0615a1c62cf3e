#pragma once
#include <QString>
#include <functional>

#include "common/console.h"
#include "common/plan.h"

struct AVFormatContext;

// The conversion itself, in this process with FFmpeg's libraries: the source
// streams the plan uses are decoded, filtered (frame rate, picture size and
// pixel format; sample rate, format and channels) as the ffmpeg program would
// with the options of ffmpegArgs(), encoded and muxed into `url`.
namespace toolkit {

struct ProgressState {
  double seconds = 0;     // position reached in the output
  qint64 frames = 0;
  double fps = 0;
  double q = 0;
  double sizeKB = 0;
  double kbps = 0;
};

struct TranscodeResult {
  bool ok = false;
  bool stopped = false;       // the progress callback asked to stop
  Reason reason = Reason::EncodeFailed;
  QString why;                // for a failure
  bool decodeError = false;   // some of the source could not be decoded
  ProgressState state;        // at the end
  // Seconds of packets read of each source stream written, from its first
  // to the end of its last; 0 when nothing was read.
  double videoRead = 0, audioRead = 0;
  double sourceRead = 0;      // how far the source's video and audio packets reach
  double gapClosed = 0;       // seconds of timestamp jumps taken out of the longest stream
};

// Called as the conversion goes on, at most every 100 ms: after a packet of
// the source is read and after each frame the filters give; returns false to
// stop.
using ProgressCallback = std::function<bool(const ProgressState&)>;

// Converts what `source` (opened and probed) holds per `plan` into `url`,
// writing a new file there. Never throws.
TranscodeResult transcode(AVFormatContext* source, const Plan& plan, const QByteArray& url,
                          const ProgressCallback& progress);

}  // namespace toolkit
