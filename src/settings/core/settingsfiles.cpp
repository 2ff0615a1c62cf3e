#include "settings/core/settingsfiles.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>
#include <cmath>
#include <limits>

#include "paths/joinpath.h"
#include "settings/core/appdirs.h"

namespace SettingsFiles {
namespace {

// Settings files hold a few short lines; anything beyond this is not ours.
constexpr qint64 kReadLimit = 64 * 1024;

bool isBlank(QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); }
bool isLineEnd(QChar c) { return c == QLatin1Char('\r') || c == QLatin1Char('\n'); }
bool endsField(QChar c) { return c == QLatin1Char(',') || isLineEnd(c); }

QString decode(const QByteArray& data) {
  QStringDecoder decoder(QStringConverter::System);
  return decoder(data);
}

QByteArray encode(const QString& text) {
  QStringEncoder encoder(QStringConverter::System);
  return encoder(text);
}

std::optional<qint64> rounded(double value, qint64 min, qint64 max) {
  const double r = std::nearbyint(value);
  if (!(r >= double(min) && r <= double(max))) return std::nullopt;
  return static_cast<qint64>(r);
}

QByteArray crlfLines(const QStringList& lines) {
  QString text;
  for (const QString& line : lines) text += line + QStringLiteral("\r\n");
  return encode(text);
}

QString quoted(const QString& value) { return QLatin1Char('"') + value + QLatin1Char('"'); }

}  // namespace

QStringList readFields(const QString& text) {
  QStringList fields;
  const qsizetype n = text.size();
  qsizetype i = 0;
  while (i < n) {
    while (i < n && isBlank(text[i])) ++i;
    if (i >= n) break;
    if (text[i] == QLatin1Char('"')) {
      const qsizetype close = text.indexOf(QLatin1Char('"'), i + 1);
      if (close < 0) break;
      fields << text.mid(i + 1, close - i - 1);
      i = close + 1;
      while (i < n && !endsField(text[i])) ++i;  // text after the closing quote
    } else {
      qsizetype end = i;
      while (end < n && !endsField(text[end])) ++end;
      qsizetype last = end;
      while (last > i && isBlank(text[last - 1])) --last;
      fields << text.mid(i, last - i);
      i = end;
    }
    // One delimiter: a comma, CR LF, a lone CR or a lone LF.
    if (i < n && text[i] == QLatin1Char(',')) {
      ++i;
    } else if (i < n && text[i] == QLatin1Char('\r')) {
      ++i;
      if (i < n && text[i] == QLatin1Char('\n')) ++i;
    } else if (i < n && text[i] == QLatin1Char('\n')) {
      ++i;
    }
  }
  return fields;
}

std::optional<int> toInteger(const QString& field) {
  static const QRegularExpression number(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)$"));
  const QString t = field.trimmed();
  if (!number.match(t).hasMatch()) return std::nullopt;
  bool ok = false;
  const double value = t.toDouble(&ok);
  if (!ok) return std::nullopt;
  const auto r = rounded(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max());
  if (!r) return std::nullopt;
  return static_cast<int>(*r);
}

std::optional<qint64> leadingNumber(const QString& field, qint64 min, qint64 max) {
  static const QRegularExpression number(
      QStringLiteral("^[ \\t]*([+-]?(\\d+\\.?\\d*|\\.\\d+)([eE][+-]?\\d+)?)"));
  const QRegularExpressionMatch m = number.match(field);
  if (!m.hasMatch()) return rounded(0, min, max);
  bool ok = false;
  const double value = m.captured(1).toDouble(&ok);
  if (!ok) return std::nullopt;  // beyond any double
  return rounded(value, min, max);
}

SetupValues parseSetup(const QByteArray& data) {
  const QStringList f = readFields(decode(data));
  SetupValues v;
  if (f.size() > 0) v.audioBitrate = toInteger(f[0]);
  if (f.size() > 1) v.sampleRate = toInteger(f[1]);
  if (f.size() > 2) v.channel = toInteger(f[2]);
  if (f.size() > 3) v.outputFolder = f[3];
  if (f.size() > 4) v.format = toInteger(f[4]);
  return v;
}

QByteArray formatSetup(int audioBitrate, int sampleRate, int channel, const QString& outputFolder,
                       int format) {
  // A quote would end the field early and the next start would read a
  // different, shorter folder; such a folder is stored empty instead, which
  // brings back the default output folder.
  const QString folder = outputFolder.contains(QLatin1Char('"')) ? QString() : outputFolder;
  return crlfLines({quoted(QString::number(audioBitrate)), quoted(QString::number(sampleRate)),
                    quoted(QString::number(channel)), quoted(folder),
                    quoted(QString::number(format))});
}

OptionValues parseOptions(const QByteArray& data, OptionValues before) {
  const QStringList f = readFields(decode(data));
  constexpr qint64 s16min = std::numeric_limits<qint16>::min();
  constexpr qint64 s16max = std::numeric_limits<qint16>::max();
  constexpr qint64 s32min = std::numeric_limits<qint32>::min();
  constexpr qint64 s32max = std::numeric_limits<qint32>::max();
  OptionValues v = before;
  if (f.size() > 0)
    if (const auto x = leadingNumber(f[0], s16min, s16max)) v.soundSwitch = qint16(*x);
  if (f.size() > 1)
    if (const auto x = leadingNumber(f[1], s16min, s16max)) v.cutterSwitch = qint16(*x);
  if (f.size() > 2)
    if (const auto x = leadingNumber(f[2], s32min, s32max)) v.cutStart = qint32(*x);
  if (f.size() > 3)
    if (const auto x = leadingNumber(f[3], s32min, s32max)) v.cutEnd = qint32(*x);
  return v;
}

QByteArray formatOptions(const OptionValues& values) {
  return crlfLines({QString::number(values.soundSwitch), QString::number(values.cutterSwitch),
                    QString::number(values.cutStart), QString::number(values.cutEnd)});
}

OptionValues confirmOptions(OptionValues values, int soundPosition) {
  values.soundSwitch = static_cast<qint16>(soundPosition);
  const bool cutterSet =
      values.cutterSwitch == 1 && (values.cutStart != 0 || values.cutEnd != 0);
  if (!cutterSet) {
    values.cutterSwitch = 0;
    values.cutStart = 0;
    values.cutEnd = 0;
  }
  return values;
}

QString setupFile() { return JoinPath(AppDirs::settingsFolder(), QStringLiteral("setup.ini")); }

QString optionsFile() {
  return JoinPath(AppDirs::settingsFolder(), QStringLiteral("options.ini"));
}

std::optional<QByteArray> readFile(const QString& path) {
  // Only a regular file: a pipe or device of that name could block or never end.
  if (!QFileInfo(path).isFile()) return std::nullopt;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  QByteArray data = file.read(kReadLimit + 1);
  if (data.size() > kReadLimit) {
    // Keep whole lines only, so no field is taken cut short.
    data.truncate(kReadLimit);
    data.truncate(data.lastIndexOf('\n') + 1);
  }
  return data;
}

bool writeFile(const QString& path, const QByteArray& data) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return false;
  if (file.write(data) != data.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

void loadOptions() {
  OptionValues& v = options();
  if (const auto data = readFile(optionsFile())) {
    v = parseOptions(*data, v);
  } else {
    v.soundSwitch = 0;
    v.cutterSwitch = 0;
  }
}

bool storeOptions() { return writeFile(optionsFile(), formatOptions(options())); }

}  // namespace SettingsFiles
