#pragma once
#include <QString>

#include "engine/batchevents.h"

// Why a run did not convert its file. The encoders end a failed run with the
// two lines
//   <tool>: reason: <code>
//   <tool>: error: <English sentence>
// and nothing after them (protocol/toolprotocol.h has the codes; the front
// ends word them with Texts::reason).
namespace FailureReasons {

// How a run ended, as the runner saw it.
struct RunEnd {
  QString tool;     // "conv", "coder" or "coder2"
  QString output;   // everything the run printed
  int exitCode = 0;
  bool crashed = false;  // ended by a signal it did not handle
};

// The failure of a run that did not succeed: the code of its reason line, or
// "crashed" when it ended by a signal or exited non-zero without one. The
// detail is the encoder's own error line, or a plain account of how it ended,
// never a progress line.
FileFailure classify(const QString& source, const RunEnd& run);

}  // namespace FailureReasons
