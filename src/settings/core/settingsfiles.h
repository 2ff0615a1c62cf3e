#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

#include "settings/core/options.h"

// setup.ini (the panel's last choices) and options.ini (the option values):
// reading, writing and the conversions of their fields. Both are small text
// files in the locale's encoding with CRLF line ends.
namespace SettingsFiles {

// The fields of a settings file, in order. Leading blanks are skipped; a field
// that begins with a double quote runs to the next double quote (which may lie
// on a later line) and the quotes are not part of it; any other field runs to
// the next comma or line end, without trailing blanks. A quoted field without
// its closing quote cannot be read and ends the list.
QStringList readFields(const QString& text);

// The integer a field spells ("12", " -1 ", "2.6" -> 3); nothing when it is
// not a plain decimal number or does not fit an int.
std::optional<int> toInteger(const QString& field);
// The value of the number at the start of a field, rounded (0 when the field
// does not begin with one: "12abc" -> 12, "abc" -> 0); nothing when it lies
// outside [min, max].
std::optional<qint64> leadingNumber(const QString& field, qint64 min, qint64 max);

// The five lines of setup.ini; an empty member is a line that could not be read.
struct SetupValues {
  std::optional<int> audioBitrate;  // list position of cmbBR
  std::optional<int> sampleRate;    // list position of cmbR
  std::optional<int> channel;       // list position of cmbChannel
  std::optional<QString> outputFolder;
  std::optional<int> format;  // list position of cmbOF
};
SetupValues parseSetup(const QByteArray& data);
QByteArray formatSetup(int audioBitrate, int sampleRate, int channel, const QString& outputFolder,
                       int format);

// The option values after reading options.ini over `before`: each line that
// holds a value of its width replaces that value.
OptionValues parseOptions(const QByteArray& data, OptionValues before);
QByteArray formatOptions(const OptionValues& values);
// What the options dialog's OK keeps: the chosen sound switch, and the cutter
// values only while the cutter is on with a cut time set.
OptionValues confirmOptions(OptionValues values, int soundPosition);

QString setupFile();    // in the settings folder
QString optionsFile();  // in the settings folder

// A settings file's bytes, at most the first 64 KiB cut back to a whole line;
// nothing when it is missing or cannot be read.
std::optional<QByteArray> readFile(const QString& path);
// Replaces a file whole: written beside it and renamed into place, so a
// failed write leaves the old file as it was. False on failure.
bool writeFile(const QString& path, const QByteArray& data);

// Start-up: options.ini into the process-wide values. Without the file the
// sound and cutter switches become 0 and the cut times stay as they are.
void loadOptions();
// The process-wide values into options.ini; false when it cannot be written.
bool storeOptions();

}  // namespace SettingsFiles
