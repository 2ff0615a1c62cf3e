// libFuzzer target for the readers of the encoders' console text. The input is
// cut into chunks the way the runner might deliver them; the state is carried
// from chunk to chunk as in a real run. Whatever arrives, the display must stay
// between 0 and 100, the percentage shown must be a number within it, and only
// a finished reading shows 100 as the end.
#include <QString>
#include <cstdint>
#include <cstdlib>

#include "protocol/progress.h"

namespace {
void check(const std::optional<Progress::Reading>& v) {
  if (!v) return;
  if (v->value < 0 || v->value > 100) std::abort();
  bool ok = false;
  const double shown = v->shown.toDouble(&ok);
  if (!ok || shown < 0 || shown > 100 || v->shown.size() > 4) std::abort();
  if (v->finished && v->value != 100) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // First byte: chunk length (1..256) and which reader.
  const size_t chunk = (data[0] & 0x7f) + 1;
  const bool stageOne = data[0] & 0x80;
  const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
  Progress::State state;
  for (qsizetype at = 0; at < text.size() || at == 0; at += static_cast<qsizetype>(chunk)) {
    const QString piece = text.mid(at, static_cast<qsizetype>(chunk));
    check(stageOne ? Progress::stageOne(piece, state) : Progress::stageTwo(piece, state));
    if (text.isEmpty()) break;
  }
  return 0;
}
