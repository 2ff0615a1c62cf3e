#pragma once
// What the benches that set the tools against ffmpeg share: the panel as a
// format's preset sets it, the positions chosen by BENCH_POSITIONS, and the
// ffmpeg arguments a tool traces (VANTREL_TOOL_TRACE).
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

#include "engine/commandline.h"

namespace bench {

int envInt(const char* name, int fallback);

// The panel as choosing the format sets it; `size` replaces the preset's size.
PanelValues panelFor(int position, const QString& size = {});

// The positions BENCH_POSITIONS names (all by default); nothing when a name
// is unknown.
std::optional<QList<int>> selectedPositions();

// The ffmpeg arguments of one traced tool run, the target named OUTPUT. On
// the AMR road `pcm` decodes the sound to 8000 Hz mono PCM on standard
// output, and `mux` reads its AMR frames from pipe:0 (Debian's ffmpeg has no
// AMR encoder). Both empty when the tool printed no trace.
struct Trace {
  QStringList mux, pcm;
};
Trace readTrace(const QByteArray& toolOutput);

// `args` with every argument equal to a key of `map` replaced by its value.
QStringList substituted(QStringList args, const QList<std::pair<QString, QString>>& map);

// How the tool names its input in the ffmpeg arguments it traces.
QString tracedInput(const QString& path);

}  // namespace bench
