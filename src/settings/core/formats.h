#pragma once
#include <QString>
#include <QStringList>
#include <optional>

// The output formats, the entries of every parameter box and the preset that
// choosing a format applies.
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

// The preset of a format position; nothing for a position outside 0 to 8.
std::optional<Preset> presetFor(int position);

// True for the positions that run a second stage (0, 1, 5, 6, 7).
bool isTwoStage(int position);

}  // namespace Formats
