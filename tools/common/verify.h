#pragma once
#include <QString>
#include <optional>

#include "common/console.h"
#include "common/plan.h"

// The finished output read back before it gets its name: packets only, no
// decoding, so it costs a small part of the coding.
namespace toolkit {

// What one stream of the output holds.
struct StreamSpan {
  qint64 packets = 0;
  double seconds = 0;  // from the first timestamp to the end of the last packet
  double rate = 0;     // frames per second its header states (video); 0: not stated
};

struct OutputStreams {
  std::optional<StreamSpan> video, audio;  // the first of each kind that has packets
};

// Reads every packet of `path`. Throws ToolError when it cannot be opened or read.
OutputStreams readOutput(const QString& path);

// Why the output falls short of the plan, or nothing when it is whole: each
// stream the plan writes is there, with packets for most of its expected
// length (and, for video, for most of the frames its rate promises). A
// stream is expected to last as long as its source stream, else as long as
// the packets read of that stream span (`read`; a picture that ends before
// the sound is not cut), else as long as `secondsRead` (what the conversion
// wrote). `sourceDamaged`: some of the source could not be decoded.
// Whatever went wrong, an output that lasts longer than what was read of the
// source (`read.source`) by over max(1 s, 5 %) is not whole either: the
// source's times claim more than it holds.
struct Shortfall {
  Reason reason;
  QString why;
};
struct StreamsRead {
  double video = 0, audio = 0;  // seconds; 0: not known
  double source = 0;            // how far the source's packets reach, in seconds; 0: not known
};
std::optional<Shortfall> judgeOutput(const Plan& plan, const OutputStreams& out, double secondsRead,
                                     bool sourceDamaged, const StreamsRead& read = {});

}  // namespace toolkit
