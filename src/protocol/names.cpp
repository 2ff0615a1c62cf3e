#include "protocol/names.h"

#include <QFile>
#include <QRegularExpression>
#include <QTextBoundaryFinder>

namespace ToolProtocol {

namespace {
qsizetype bytes(const QString& text) { return QFile::encodeName(text).size(); }
const QString kPartialPrefix = QStringLiteral(".vantrel-");
}  // namespace

QString fitBaseName(const QString& base, const QString& tail, int maxBytes) {
  const qsizetype room = maxBytes - bytes(tail);
  if (bytes(base) <= room) return base;
  QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, base);
  qsizetype fits = 0;
  for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary()) {
    if (bytes(base.left(at)) > room) break;
    fits = at;
  }
  return base.left(fits);
}

QString copyName(const QString& base, const QString& stamp, int copy, const QString& extension,
                 int maxBytes) {
  const QString tail = (copy > 1 ? QStringLiteral("(%1)").arg(copy) : QString()) + extension;
  if (bytes(stamp + tail) > maxBytes) return fitBaseName(base + stamp, tail, maxBytes) + tail;
  return fitBaseName(base, stamp + tail, maxBytes) + stamp + tail;
}

QString nextFreeName(const QString& name, int maxBytes) {
  static const QRegularExpression parts(QStringLiteral("^(.*?)(-[0-9]+)?(?:\\(([0-9]{1,9})\\))?$"),
                                        QRegularExpression::DotMatchesEverythingOption);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  const QString stem = dot > 0 ? name.left(dot) : name;
  const QString extension = dot > 0 ? name.mid(dot) : QString();
  const auto m = parts.match(stem);
  const int copy = m.captured(3).isEmpty() ? 2 : m.captured(3).toInt() + 1;
  return copyName(m.captured(1), m.captured(2), copy, extension, maxBytes);
}

QString partialFileName(qint64 pid, quint64 random) {
  return kPartialPrefix + QString::number(pid) + QLatin1Char('-') +
         QStringLiteral("%1").arg(random, 16, 16, QLatin1Char('0')) + QStringLiteral(".part");
}

QString partialFilePattern(qint64 pid) { return kPartialPrefix + QString::number(pid) + QLatin1Char('*'); }

bool isPartialFileOf(QStringView name, qint64 pid) {
  const QString id = kPartialPrefix + QString::number(pid);
  if (pid <= 0 || !name.startsWith(id)) return false;
  return name.size() == id.size() || !name.at(id.size()).isDigit();
}

bool isUtf8Name(QStringView decoded) {
  return !decoded.contains(QChar::ReplacementCharacter) && !decoded.contains(QChar::Null);
}

}  // namespace ToolProtocol
