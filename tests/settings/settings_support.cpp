#include "settings_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "settings/core/appdirs.h"
#include "settings/core/options.h"

Sandbox::Sandbox() {
  QDir root(dir_.path());
  for (const char* sub : {"program", "config", "cache", "runtime"}) root.mkpath(QLatin1String(sub));
  QFile::setPermissions(root.filePath(QStringLiteral("runtime")),
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  qputenv("XDG_CONFIG_HOME", root.filePath(QStringLiteral("config")).toLocal8Bit());
  qputenv("XDG_CACHE_HOME", root.filePath(QStringLiteral("cache")).toLocal8Bit());
  qputenv("XDG_RUNTIME_DIR", root.filePath(QStringLiteral("runtime")).toLocal8Bit());
  AppDirs::setProgramFolder(programFolder());
}

QString Sandbox::programFolder() const { return QDir(dir_.path()).filePath(QStringLiteral("program")); }

QString Sandbox::path(const QString& name) const { return QDir(programFolder()).filePath(name); }

void Sandbox::write(const QString& name, const QByteArray& data) const {
  QFile f(path(name));
  if (f.open(QIODevice::WriteOnly)) f.write(data);
}

QByteArray Sandbox::read(const QString& name) const {
  QFile f(path(name));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool Sandbox::exists(const QString& name) const { return QFileInfo::exists(path(name)); }

std::unique_ptr<frmMain> Sandbox::start() {
  options() = OptionValues{};
  auto w = std::make_unique<frmMain>(frmMain::Services{nullptr, &shell});
  w->endProgram = [this] { ++endRequests; };
  w->Form_Load();
  return w;
}
