#pragma once
#include <QString>
#include <QStringList>
#include <optional>

// The output formats, the entries of every parameter box and the preset that
// choosing a format applies. Everything a part of the program knows about a
// format position is read from one table (`format()`); nothing else maps
// positions to extensions, tools or stages.
namespace Formats {

enum Position {
  RMVB = 0, RM = 1, MPG = 2, AVI = 3, MP4HQ = 4, MOV = 5, MP4Phone = 6, GP3 = 7, MP3 = 8,
  Count = 9
};

// The text of the size box that keeps the source's picture size.
inline const QString kOriginalSize = QStringLiteral("原始大小");

QStringList formatEntries();      // cmbOF
QStringList videoBitrateEntries();// cmbVB
QStringList frameRateEntries();   // cmbF
QStringList sizeEntries();        // cmbS
QStringList sampleRateEntries();  // cmbR
QStringList audioBitrateEntries();// cmbBR
QStringList channelEntries();     // cmbChannel

// Values a preset writes; an empty optional means the box is kept as it is.
struct Preset {
  std::optional<QString> videoBitrate, frameRate, size;
  QString sampleRate, audioBitrate;
  int channel = 1;
};

// Which of the two runners carries a stage: the first (conv's stage one) or
// the second (the ffmpeg-style tools).
enum class Runner { First, Second };
// How a stage's console text is read: conv's "(45%)" or ffmpeg's
// "Duration: " and "time=".
enum class Reader { Percent, Timecode };
// The command-line template a stage runs.
enum class Line {
  ConvMpeg2,    // MPG and AVI straight from the source
  ConvMp4,      // the HQ MP4 straight from the source
  ConvWork,     // the work file of every two-stage format
  CoderMp3,     // the MP3 road
  CoderReal,    // RMVB and RM from the work file
  CoderMov,     // MOV from the work file
  Coder2Phone,  // phone MP4 and 3GP from the work file
};

struct Stage {
  const char* tool;  // "conv", "coder" or "coder2"
  Runner runner;
  Reader reader;
  Line line;
};

// The panel values a format's command lines use.
enum Param : unsigned {
  VideoBitrate = 1, FrameRate = 2, Size = 4, SampleRate = 8, AudioBitrate = 16, Channels = 32
};

struct Format {
  Position position;
  const char* name;       // short name for the command line: "rmvb", "phone-mp4", ...
  QString label;          // cmbOF entry
  const char* extension;  // with its dot
  Stage stages[2];
  int stageCount;         // 1 or 2; stages[1] is meaningful only with 2
  Preset preset;
  unsigned params;        // Param bits the lines read
  // Param bits that are read only with a size other than kOriginalSize.
  unsigned sizedParams;
};

// The table entry of a position; null outside 0 to 8.
const Format* format(int position);
// The position of a short name ("mp3") or of an index written as text ("8").
std::optional<int> positionByName(const QString& nameOrIndex);

// The preset of a format position; nothing for a position outside 0 to 8.
std::optional<Preset> presetFor(int position);

}  // namespace Formats
