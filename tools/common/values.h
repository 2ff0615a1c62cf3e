#pragma once
#include <QSize>
#include <QString>
#include <QVector>
#include <optional>

// Reading the values of the command lines and finding the nearest value a
// codec can take. Pure functions, no I/O.
namespace toolkit {

struct Rational {
  int num = 0;
  int den = 1;
  double value() const { return den ? double(num) / den : 0.0; }
  QString text() const;  // "25" or "30000/1001"
  bool operator==(const Rational&) const = default;
};

// A plain decimal number such as "44100", "12.2" or " 29 "; nothing else.
std::optional<double> parseDecimal(const QString& text);
// An ffmpeg-style bitrate in kbit/s: "1200k", "12.2k", "1.5M", or plain bit/s
// ("64000"). A "k" typed into a box to which the line adds its own "k"
// ("128kk") still means kbit/s.
std::optional<double> parseBitrate(const QString& text);
// A sample rate in Hz: "44100" or "44.1k".
std::optional<double> parseSampleRate(const QString& text);
// A frame rate: "25", "29.97" or "30000/1001"; positive only.
std::optional<Rational> parseFrameRate(const QString& text);
// A picture size: "320x240" (also "320X240", "320*240") or one of ffmpeg's
// size names ("qvga", "cif", ...).
std::optional<QSize> parseSize(const QString& text);

// The entry of `set` nearest to `value`; a tie goes to the larger entry.
double nearest(double value, const QVector<double>& set);
// The multiple of `multiple` nearest to `value`, a tie going to the smaller
// one, and never below `multiple`.
int alignDimension(int value, int multiple);
QSize alignSize(const QSize& size, int multiple);
// `size` aligned to `multiple`; when that holds `maxBlocks` blocks of
// multiple x multiple or more, the largest aligned size below the budget that
// keeps the aspect instead. Never larger than the aligned size.
QSize fitBlocks(const QSize& size, int multiple, int maxBlocks);

// Numbers as the messages show them: "12.2", "44100", "23.976".
QString shortNumber(double value);

}  // namespace toolkit
