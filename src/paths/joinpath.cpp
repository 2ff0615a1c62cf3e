#include "paths/joinpath.h"

#include <QDir>

QString JoinPath(const QString& folder, const QString& name) {
  if (folder.isEmpty()) return name;
  const QChar sep = QDir::separator();
  const auto joint = [sep](QChar c) { return c == sep || c == QLatin1Char('/'); };
  qsizetype end = folder.size();
  while (end > 0 && joint(folder[end - 1])) --end;
  qsizetype start = 0;
  while (start < name.size() && joint(name[start])) ++start;
  return folder.left(end) + sep + name.mid(start);
}
