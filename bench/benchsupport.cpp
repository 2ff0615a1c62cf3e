#include "benchsupport.h"

#include <QFileInfo>
#include <cstdio>

#include "settings/core/formats.h"

namespace bench {

int envInt(const char* name, int fallback) {
  const int v = qEnvironmentVariableIntValue(name);
  return v > 0 ? v : fallback;
}

PanelValues panelFor(int position, const QString& size) {
  const Formats::Preset preset = *Formats::presetFor(position);
  return PanelValues{position, preset.videoBitrate.value_or("1200"), preset.frameRate.value_or("29"),
                     size.isEmpty() ? preset.size.value_or(Formats::kOriginalSize) : size, preset.sampleRate,
                     preset.audioBitrate, preset.channel};
}

std::optional<QList<int>> selectedPositions() {
  QList<int> positions;
  const QString names = qEnvironmentVariable("BENCH_POSITIONS");
  if (names.trimmed().isEmpty()) {
    for (int p = 0; p < Formats::Count; ++p) positions << p;
    return positions;
  }
  for (const QString& name : names.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
    const std::optional<int> p = Formats::positionByName(name);
    if (!p) {
      std::fprintf(stderr, "BENCH_POSITIONS: unknown position \"%s\"\n", qPrintable(name.trimmed()));
      return std::nullopt;
    }
    if (!positions.contains(*p)) positions << *p;
  }
  return positions;
}

Trace readTrace(const QByteArray& toolOutput) {
  Trace t;
  for (const QByteArray& line : toolOutput.split('\n')) {
    const qsizetype at = line.indexOf("trace ffmpeg: ");
    const qsizetype pat = line.indexOf("trace pcm: ");
    // The arguments come apart by \x1f, which the line shows escaped.
    if (at >= 0) t.mux = QString::fromUtf8(line.mid(at + 14)).split(QStringLiteral("\\x1f"));
    if (pat >= 0) t.pcm = QString::fromUtf8(line.mid(pat + 11)).split(QStringLiteral("\\x1f"));
  }
  return t;
}

QStringList substituted(QStringList args, const QList<std::pair<QString, QString>>& map) {
  for (QString& a : args)
    for (const auto& [from, to] : map)
      if (a == from) {
        a = to;
        break;
      }
  return args;
}

QString tracedInput(const QString& path) {
  return QStringLiteral("file:") + QFileInfo(path).absoluteFilePath();
}

}  // namespace bench
