#include "settings/core/appdirs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace AppDirs {
namespace {
QString& overrideFolder() {
  static QString folder;
  return folder;
}
}  // namespace

QString programFolder() {
  if (!overrideFolder().isEmpty()) return overrideFolder();
  return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

void setProgramFolder(const QString& folder) {
  overrideFolder() = QDir::toNativeSeparators(QDir::cleanPath(folder));
}

bool programFolderWritable() {
  QTemporaryFile probe(QDir(programFolder()).filePath(QStringLiteral(".vantrel-write-XXXXXX")));
  return probe.open();
}

QString settingsFolder() {
  if (programFolderWritable()) return programFolder();
  QString dir = QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
  QDir().mkpath(dir);
  return QDir::toNativeSeparators(dir);
}

QString defaultOutputFolder() {
  if (programFolderWritable()) return join(programFolder(), QStringLiteral("output"));
  QString videos = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
  if (videos.isEmpty()) videos = QDir::homePath();
  return join(QDir::toNativeSeparators(videos), QStringLiteral("Vantrel"));
}

QString workFolder() {
  QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
  if (base.isEmpty()) base = QDir::tempPath() + QStringLiteral("/vantrel-cache");
  QString dir = QDir(base).filePath(QStringLiteral("work"));
  if (!QFileInfo::exists(dir)) QDir().mkpath(dir);
  QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  return QDir::toNativeSeparators(dir);
}

QString toolPath(const QString& tool) {
#ifdef Q_OS_WIN
  const QString name = tool + QStringLiteral(".exe");
#else
  const QString name = tool;
#endif
  return join(join(programFolder(), QStringLiteral("data")), name);
}

QString join(const QString& folder, const QString& name) {
  const QChar sep = QDir::separator();
  QString f = folder;
  while (f.size() > 1 && (f.endsWith(sep) || f.endsWith(QLatin1Char('/')))) f.chop(1);
  if (f.isEmpty()) return name;
  if (f == QString(sep)) return f + name;
  return f + sep + name;
}

}  // namespace AppDirs
