#pragma once
#include <QSize>
#include <QString>
#include <QStringList>

#include "engine/commandline.h"
#include "runner/toolcommand.h"

// Shared by the encoder tests: test clips, running a tool the way the main
// program does, and reading a result with ffprobe.
namespace enc {

struct Run {
  int exitCode = -1;
  bool crashed = false;
  bool timedOut = false;
  QString output;       // everything printed
  QStringList chunks;   // as the runner handed it on
  QString lastLine;
  QString reason;       // the code of the "<tool>: reason: <code>" line before the last
};

// Runs `command` through the program's own runner (merged output, chunks of
// at most 1024 bytes) and waits for its end.
Run runTool(const ToolCommand& command, int timeoutMs = 180000);

// Makes a clip with ffmpeg from `args` (inputs and codecs) into `path`.
bool makeClip(const QString& path, const QStringList& args);

struct Probe {
  bool ok = false;
  QString formatName, brand;
  double duration = 0;
  QString videoCodec, audioCodec;  // empty when the stream is missing
  QSize size;
  int sampleRate = 0, channels = 0;
  QString frameRate;  // r_frame_rate of the video
};
Probe probe(const QString& path);

// Where the built tools are found, with the work file in `workFolder`.
BuildContext buildContext(const QString& workFolder);

// The panel as a format's preset leaves it.
PanelValues panel(int position);

// Every entry of a folder, hidden ones included.
QStringList folderEntries(const QString& folder);
QByteArray fileHash(const QString& path);
bool writeFile(const QString& path, const QByteArray& data);

}  // namespace enc
