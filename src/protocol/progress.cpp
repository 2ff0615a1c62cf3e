#include "protocol/progress.h"

#include <QStringList>
#include <algorithm>
#include <cfenv>
#include <climits>
#include <cmath>

#include "protocol/toolprotocol.h"

namespace Progress {

QString percentLine(const PercentLine& l) {
  return QString::asprintf("Pos:%6.1fs %6lldf (%2d%%) %6.2ffps Trem:%4dmin %4dmb  A-V:0.000 [%d:%d]", l.seconds,
                           l.frames, std::clamp(l.percent, 0, 100), l.fps, std::max(l.remainMinutes, 0),
                           std::max(l.sizeMB, 0), l.videoKbps, l.audioKbps);
}

QString timeLine(const TimeLine& l) {
  return QString::asprintf("frame=%5lld fps=%3.0f q=%.1f size=%8.0fkB time=%.2f bitrate=%6.1fkbits/s", l.frames,
                           l.fps, l.q, l.sizeKB, l.seconds, l.kbps);
}

QString durationLine(double seconds, double kbps) {
  QString d = QStringLiteral("N/A");
  if (seconds > 0) {
    const long long cs = std::llround(seconds * 100);
    d = QString::asprintf("%02lld:%02lld:%02lld.%02lld", cs / 360000, cs / 6000 % 60, cs / 100 % 60, cs % 100);
  }
  const QString rate = kbps > 0 ? QStringLiteral("%1 kb/s").arg(std::llround(kbps)) : QStringLiteral("N/A");
  return QStringLiteral("Duration: %1, start: 0.000000, bitrate: %2").arg(d, rate);
}

QString nextBusyChar(const QString& busy) {
  if (busy == QLatin1String("-")) return QStringLiteral("\\");
  if (busy == QLatin1String("\\")) return QStringLiteral("|");
  if (busy == QLatin1String("|")) return QStringLiteral("/");
  return QStringLiteral("-");
}

double leadingNumber(const QString& text) {
  qsizetype i = 0;
  while (i < text.size() && text[i] == QLatin1Char(' ')) ++i;
  QString digits;
  bool dot = false;
  for (; i < text.size(); ++i) {
    const QChar c = text[i];
    if (c >= QLatin1Char('0') && c <= QLatin1Char('9')) {
      digits += c;
    } else if (c == QLatin1Char('.') && !dot) {
      dot = true;
      digits += c;
    } else if (c != QLatin1Char(' ')) {
      break;
    }
  }
  bool ok = false;
  const double v = digits.toDouble(&ok);
  return ok && std::isfinite(v) ? v : 0.0;
}

// The rounding the encoders' progress lines are made for.
long long roundHalfEven(double value) { return ToolProtocol::wholeSeconds(value); }

QString numberText(double value) {
  if (!std::isfinite(value)) return QStringLiteral("0");
  if (value == 0) return QStringLiteral("0");
  // Digits after the point so that at most 15 significant digits remain.
  const int magnitude = static_cast<int>(std::floor(std::log10(std::fabs(value)))) + 1;
  const int decimals = std::clamp(15 - magnitude, 0, 340);
  QString s = QString::number(value, 'f', decimals);
  if (s.contains(QLatin1Char('.'))) {
    while (s.endsWith(QLatin1Char('0'))) s.chop(1);
    if (s.endsWith(QLatin1Char('.'))) s.chop(1);
  }
  return s;
}

namespace {

int clampPercent(long long n) { return static_cast<int>(std::clamp<long long>(n, 0, 100)); }

// Collects the characters after a marker up to the next space or the end.
QString fieldAfter(const QString& chunk, qsizetype from) {
  const qsizetype end = chunk.indexOf(QLatin1Char(' '), from);
  return chunk.mid(from, end < 0 ? -1 : end - from);
}

// "HH:MM:SS.cc," to whole seconds; nothing when it does not read.
std::optional<int> durationSeconds(const QString& text) {
  const QStringList parts = text.split(QLatin1Char(':'));
  if (parts.size() < 3) return std::nullopt;
  double total = 0;
  const double weight[] = {3600, 60, 1};
  for (int k = 0; k < 3; ++k) {
    QString part = parts[k];
    part.remove(QLatin1Char(','));
    bool ok = false;
    const double v = part.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v)) return std::nullopt;
    total += v * weight[k];
  }
  const long long seconds = roundHalfEven(total);
  if (seconds > INT_MAX || seconds < INT_MIN) return std::nullopt;
  return static_cast<int>(seconds);
}

}  // namespace

std::optional<Reading> stageOne(const QString& chunk, State& state) {
  state.busyChar = nextBusyChar(state.busyChar);
  QString percent;
  bool found = false;
  for (qsizetype i = 0; i < chunk.size() && !found; ++i) {
    if (chunk[i] != QLatin1Char('(')) continue;
    if (i + 4 < chunk.size() && chunk[i + 4] == QLatin1Char(')')) {
      percent = chunk.mid(i + 1, 3);
      found = true;
    } else if (i + 5 < chunk.size() && chunk[i + 5] == QLatin1Char(')')) {
      percent = chunk.mid(i + 1, 4);
      found = true;
    }
  }
  if (!found) return std::nullopt;
  if (percent == QLatin1String("100%"))
    return Reading{Form::Percent, 100, QStringLiteral("100"), true, state.busyChar};
  const int n = clampPercent(roundHalfEven(leadingNumber(percent)));
  return Reading{Form::Percent, n, QString::number(n), false, state.busyChar};
}

std::optional<Reading> stageTwo(const QString& chunk, State& state) {
  static const QString kDuration = QStringLiteral("Duration: ");
  static const QString kTime = QStringLiteral("time=");
  if (state.fileDuration == 0) {
    QString durationText;
    bool found = false;
    for (qsizetype i = 0; i + kDuration.size() < chunk.size(); ++i) {
      if (QStringView(chunk).mid(i, kDuration.size()) != kDuration) continue;
      const QString field = fieldAfter(chunk, i + kDuration.size());
      if (!field.isEmpty()) found = true;
      durationText += field;
    }
    if (found) {
      if (const auto seconds = durationSeconds(durationText)) state.fileDuration = *seconds;
    }
  }

  QString timeText;
  bool timeFound = false;
  for (qsizetype i = 0; i + kTime.size() < chunk.size(); ++i) {
    if (QStringView(chunk).mid(i, kTime.size()) != kTime) continue;
    timeFound = true;
    timeText += fieldAfter(chunk, i + kTime.size());
  }
  state.busyChar = nextBusyChar(state.busyChar);
  if (!timeFound) return std::nullopt;

  const long long t = roundHalfEven(leadingNumber(timeText));
  if (state.fileDuration <= 0 || t >= state.fileDuration)
    return Reading{Form::Timecode, 100, QStringLiteral("100"), true, state.busyChar};
  const double r = static_cast<double>(std::max(0LL, t)) / state.fileDuration;
  const QString p = numberText(r * 100).left(4);
  const int value = clampPercent(roundHalfEven(leadingNumber(p)));
  return Reading{Form::Timecode, value, p, false, state.busyChar};
}

}  // namespace Progress
