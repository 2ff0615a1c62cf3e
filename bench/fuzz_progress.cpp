// libFuzzer target for the readers of the encoders' console text. The input is
// cut into chunks the way the runner might deliver them; the state is carried
// from chunk to chunk as in a real run. Whatever arrives, the display must stay
// between 0 and 100 and the caption must be one of the known forms.
#include <QString>
#include <cstdint>
#include <cstdlib>

#include "engine/progress.h"

namespace {
void check(const std::optional<Progress::View>& v) {
  if (!v) return;
  if (v->value < 0 || v->value > 100) std::abort();
  static const QString forms[] = {QStringLiteral("结束 "), QStringLiteral("转换中"), QStringLiteral("完成 "),
                                  QStringLiteral("创建中")};
  bool known = false;
  for (const QString& f : forms) known = known || v->caption.startsWith(f);
  if (!known || !v->caption.endsWith(QLatin1Char('%'))) std::abort();
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
