#include "filelist_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

bool makeFiles(const QString& root, const QStringList& names) {
  for (const QString& name : names) {
    const QString path = root + QLatin1Char('/') + name;
    if (name.endsWith(QLatin1Char('/'))) {
      if (!QDir().mkpath(path)) return false;
      continue;
    }
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly)) return false;
  }
  return true;
}
