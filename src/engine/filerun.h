#pragma once
#include <QElapsedTimer>
#include <QString>
#include <optional>

#include "protocol/progress.h"
#include "protocol/toolprotocol.h"
#include "settings/core/formats.h"

class DOSOutputs;

// A file in flight: made when its conversion starts, gone when the file is
// over or stopped, so nothing carries over to the next file. It knows what its
// runs wrote, so that a failed or stopped file leaves nothing behind.
struct FileRun {
  // The stage that runs: a fresh value at every stage.
  struct Run {
    DOSOutputs* runner = nullptr;
    QString writing;  // the work file this stage writes; empty for the output
    qint64 toolPid = 0;
    std::optional<ToolProtocol::Written> written;  // what its tool said it wrote
  };

  FileRun(const QString& source, int number, const Formats::Format& format);

  QString source;
  int number = 0;  // 1-based, in its batch
  const Formats::Format* format = nullptr;  // an empty one without a format: no command line
  int stage = 0;
  QString output;  // the output name chosen for the last stage (and reserved)
  QString work;    // the work file stage one wrote, for stage two to read
  Run run;
  Progress::State progress;
  QElapsedTimer clock;

  bool lastStage() const { return stage + 1 >= format->stageCount; }
  QString tool() const;
  // What the running stage's chunk says for the display; nothing when the
  // display stays as it is.
  std::optional<Progress::Reading> read(const QString& chunk);
  // Takes the last file the running stage's tool says it wrote from its output.
  void noteWritten(const QString& toolOutput);
  // The file the last stage wrote: the name its tool reported (another than
  // asked when that was taken meanwhile), else the name chosen.
  QString writtenOutput() const;
  // Removes what this file's runs made: the file its tool reported, while its
  // name still holds it, the work files, and the partial file a killed tool
  // left beside what it wrote. The output's name alone says nothing: another
  // copy of the program may have written it.
  void removeLeftovers() const;
};

// The work file of a lane, always named tmp.mp4: in the work folder for the
// first lane (the window's one file at a time), in a folder of its own below
// it for each other lane ("lane-2/tmp.mp4" for the second...). The lanes never
// share a folder; an encoder reaches no file but its own source and output in
// any case.
QString laneWorkFile(const QString& workFolder, int lane);
// Makes the folder of a lane's work file (mode 0700; not the first lane's: that
// one is the work folder itself). Whatever else holds the name, a link or a
// file, goes first, so the work is written into a folder of this lane alone.
void makeLaneFolder(const QString& workFolder, int lane);
// Removes the folders of the lanes `from` to `to` with what they hold: when
// the batch ends, is stopped or aborted. A link in a lane folder's place is
// removed as a link, never what it points to, and so are the links inside one.
void removeLaneFolders(const QString& workFolder, int from, int to);

// The output folder of the box's text (the default one when it is empty),
// made with every missing parent, with one trailing separator. A folder that
// cannot be made shows when the tool writes.
QString prepareOutputFolder(const QString& text, const QString& fallback);
