#include "settings_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMultiMap>

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

namespace Procs {
namespace {
QByteArray statOf(qint64 pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  return stat.open(QIODevice::ReadOnly) ? stat.readAll() : QByteArray();
}
// The fields after the name: state, parent, ...
QList<QByteArray> fieldsAfterName(const QByteArray& stat) {
  const qsizetype close = stat.lastIndexOf(')');
  return close < 0 ? QList<QByteArray>() : stat.mid(close + 2).split(' ');
}
}  // namespace

bool gone(qint64 pid) {
  const QList<QByteArray> f = fieldsAfterName(statOf(pid));
  return f.isEmpty() || f[0] == "Z";
}

QList<qint64> descendants(qint64 pid) {
  QMultiMap<qint64, qint64> children;
  for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    bool number = false;
    const qint64 id = entry.toLongLong(&number);
    if (!number || gone(id)) continue;
    const QList<QByteArray> f = fieldsAfterName(statOf(id));
    if (f.size() > 1) children.insert(f[1].toLongLong(), id);
  }
  QList<qint64> found{pid};
  for (qsizetype i = 0; i < found.size(); ++i) found += children.values(found[i]);
  found.removeFirst();
  return found;
}

QString name(qint64 pid) {
  QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
  return comm.open(QIODevice::ReadOnly) ? QString::fromUtf8(comm.readAll().trimmed()) : QString();
}
}  // namespace Procs
