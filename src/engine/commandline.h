#pragma once
#include <QString>
#include <QTime>
#include <functional>

#include "runner/toolcommand.h"

// The panel as the command-line builders read it at the moment they build.
struct PanelValues {
  int format = -1;       // cmbOF list position
  QString videoBitrate;  // cmbVB text, kbit/s
  QString frameRate;     // cmbF text
  QString size;          // cmbS text (Formats::kOriginalSize keeps the source size)
  QString sampleRate;    // cmbR text, Hz
  QString audioBitrate;  // cmbBR text, kbit/s
  int channel = -1;      // cmbChannel list position (0 mono, 1 stereo)
};

// Where the builders find the tools and the work file.
struct BuildContext {
  QString toolFolder;  // folder of the tools: toolFolder/<tool>
  QString workFile;   // the intermediate work file (in the work folder)
};

namespace CommandLines {

// The program file of the encoder `tool` ("conv", "coder", "coder2") in
// `toolFolder`.
QString toolProgram(const QString& toolFolder, const QString& tool);

// The output extension of a format position, with its dot; empty outside 0 to 8.
QString outputExtension(int position);

// The documented output file name: folder, the source's base name, "-", hour,
// minute and second without leading zeros, the extension.
QString outputFileName(const QString& folder, const QString& source, const QTime& time,
                       const QString& extension);
// The same name made unique: when it exists (or `taken` claims it for a run
// still going), "(2)", "(3)", ... go before the extension, so no output ever
// replaces an existing file. A long source name gives a shorter output name,
// never a run that fails at the end (ToolProtocol::copyName has the rule the
// encoders follow too).
QString uniqueOutputFileName(const QString& folder, const QString& source, const QTime& time,
                             const QString& extension,
                             const std::function<bool(const QString&)>& taken = {});

// Stage one for the head of the queue. `outputFile` is used by the positions
// that write the output straight away (2, 3, 4 and 8). Empty outside 0 to 8.
ToolCommand stageOne(const PanelValues& v, const QString& source, const QString& outputFile,
                     const BuildContext& ctx);
// Stage two of positions 0, 1, 5, 6 and 7; empty for every other position.
ToolCommand stageTwo(const PanelValues& v, const QString& outputFile, const BuildContext& ctx);

}  // namespace CommandLines
