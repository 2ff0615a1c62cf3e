#include "common/values.h"

#include <QRegularExpression>
#include <cmath>

namespace toolkit {

QString Rational::text() const {
  if (den == 1) return QString::number(num);
  return QStringLiteral("%1/%2").arg(num).arg(den);
}

std::optional<double> parseDecimal(const QString& text) {
  static const QRegularExpression re(QStringLiteral("^\\d+(\\.\\d*)?$|^\\.\\d+$"));
  const QString t = text.trimmed();
  if (!re.match(t).hasMatch()) return std::nullopt;
  bool ok = false;
  const double v = t.toDouble(&ok);
  if (!ok || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<double> parseBitrate(const QString& text) {
  QString t = text.trimmed();
  double scale = 0.001;  // plain numbers are bit/s
  if (t.endsWith(QLatin1Char('M')) || t.endsWith(QLatin1Char('m'))) {
    t.chop(1);
    scale = 1000.0;
  } else {
    int ks = 0;
    while (ks < 2 && (t.endsWith(QLatin1Char('k')) || t.endsWith(QLatin1Char('K')))) {
      t.chop(1);
      ++ks;
    }
    if (ks > 0) scale = 1.0;
  }
  const auto v = parseDecimal(t);
  if (!v) return std::nullopt;
  return *v * scale;
}

std::optional<double> parseSampleRate(const QString& text) {
  QString t = text.trimmed();
  double scale = 1.0;
  if (t.endsWith(QLatin1Char('k')) || t.endsWith(QLatin1Char('K'))) {
    t.chop(1);
    scale = 1000.0;
  }
  const auto v = parseDecimal(t);
  if (!v) return std::nullopt;
  return *v * scale;
}

std::optional<Rational> parseFrameRate(const QString& text) {
  const QString t = text.trimmed();
  const qsizetype slash = t.indexOf(QLatin1Char('/'));
  if (slash >= 0) {
    bool okN = false, okD = false;
    const int n = t.left(slash).trimmed().toInt(&okN);
    const int d = t.mid(slash + 1).trimmed().toInt(&okD);
    if (!okN || !okD || n <= 0 || d <= 0) return std::nullopt;
    return Rational{n, d};
  }
  const auto v = parseDecimal(t);
  if (!v || *v <= 0 || *v > 1000) return std::nullopt;
  // Keep the usual NTSC rates exact; anything else to a thousandth.
  for (int base : {24, 30, 60}) {
    const Rational ntsc{base * 1000, 1001};
    if (std::abs(*v - ntsc.value()) < 0.006 && std::abs(*v - base) > 0.006) return ntsc;
  }
  if (std::abs(*v - std::round(*v)) < 1e-9) return Rational{int(std::lround(*v)), 1};
  return Rational{int(std::lround(*v * 1000)), 1000};
}

std::optional<QSize> parseSize(const QString& text) {
  static const struct {
    const char* name;
    int w, h;
  } names[] = {{"sqcif", 128, 96}, {"qcif", 176, 144},  {"cif", 352, 288},   {"4cif", 704, 576},
               {"qqvga", 160, 120}, {"qvga", 320, 240}, {"vga", 640, 480},  {"svga", 800, 600},
               {"ntsc", 720, 480},  {"pal", 720, 576},  {"hd480", 852, 480}, {"hd720", 1280, 720},
               {"hd1080", 1920, 1080}};
  const QString t = text.trimmed().toLower();
  for (const auto& n : names)
    if (t == QLatin1String(n.name)) return QSize(n.w, n.h);
  static const QRegularExpression re(QStringLiteral("^(\\d{1,5})\\s*[x*\\x{00d7}]\\s*(\\d{1,5})$"));
  const auto m = re.match(t);
  if (!m.hasMatch()) return std::nullopt;
  const QSize s(m.captured(1).toInt(), m.captured(2).toInt());
  if (s.width() <= 0 || s.height() <= 0 || s.width() > 8192 || s.height() > 8192)
    return std::nullopt;
  return s;
}

double nearest(double value, const QVector<double>& set) {
  double best = set.value(0);
  for (double c : set) {
    const double d = std::abs(c - value), bd = std::abs(best - value);
    if (d < bd - 1e-9 || (std::abs(d - bd) <= 1e-9 && c > best)) best = c;
  }
  return best;
}

int alignDimension(int value, int multiple) {
  const int below = value / multiple * multiple;
  const int above = below + multiple;
  const int chosen = (value - below <= above - value) ? below : above;
  return chosen < multiple ? multiple : chosen;
}

QSize alignSize(const QSize& size, int multiple) {
  return QSize(alignDimension(size.width(), multiple), alignDimension(size.height(), multiple));
}

QSize fitBlocks(const QSize& size, int multiple, int maxBlocks) {
  const QSize aligned = alignSize(size, multiple);
  const auto blocks = [multiple](const QSize& s) {
    return qint64(s.width() / multiple) * (s.height() / multiple);
  };
  if (maxBlocks <= 0 || blocks(aligned) < maxBlocks || size.width() <= 0 || size.height() <= 0)
    return aligned;
  // The widest size that fits, its height following the aspect; the first
  // fit from the top is never larger than the aligned size.
  for (int w = std::min(aligned.width(), size.width() / multiple * multiple); w >= multiple; w -= multiple) {
    const int h = std::min(alignDimension(int(std::lround(double(w) * size.height() / size.width())), multiple),
                           aligned.height());
    if (blocks(QSize(w, h)) < maxBlocks) return QSize(w, h);
  }
  return QSize(multiple, multiple);
}

QString shortNumber(double value) {
  if (std::abs(value - std::round(value)) < 1e-9) return QString::number(std::llround(value));
  return QString::number(value, 'f', 3).remove(QRegularExpression(QStringLiteral("0+$")));
}

}  // namespace toolkit
