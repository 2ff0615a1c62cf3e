#include "filelist/pathhelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace {
bool isSeparator(QChar c) {
#ifdef Q_OS_WIN
  return c == QLatin1Char('\\') || c == QLatin1Char(':');
#else
  return c == QDir::separator();
#endif
}
bool isFileSeparator(QChar c) { return c == QDir::separator(); }
}  // namespace

QString ParsePath(const QString& sPathIn) {
  for (qsizetype i = sPathIn.size() - 1; i >= 0; --i)
    if (isSeparator(sPathIn[i])) return sPathIn.left(i + 1);
  return {};
}

QString FileNameFromPath(const QString& path) {
  for (qsizetype i = path.size() - 1; i >= 0; --i)
    if (isFileSeparator(path[i])) return path.mid(i + 1);
  return path;
}

QString BaseNameFromPath(const QString& path) {
  const QString name = FileNameFromPath(path);
  const qsizetype dot = name.indexOf(QLatin1Char('.'));
  return dot < 0 ? name : name.left(dot);
}

QStringList FilesFromArguments(const QStringList& arguments, const QString& workingFolder) {
  QStringList files;
  for (const QString& argument : arguments) {
    QString path = argument;
    if (argument.startsWith(QStringLiteral("file://"))) path = QUrl(argument).toLocalFile();
    if (path.isEmpty()) continue;
    const QFileInfo info(QDir(workingFolder), path);
    if (!info.isFile()) continue;
    files.append(QDir::toNativeSeparators(QDir::cleanPath(info.absoluteFilePath())));
  }
  return files;
}
