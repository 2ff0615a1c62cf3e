#include "engine/filerun.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include "filelist/pathhelpers.h"
#include "protocol/names.h"
#include "runner/dosoutputs.h"

namespace {
// Removes a file a tool wrote, if its name still holds that very file: in the
// meantime somebody else may have put a file of their own there.
void removeWritten(const ToolProtocol::Written& w) {
#ifdef Q_OS_UNIX
  struct stat st {};
  if (::lstat(w.name.constData(), &st) != 0) return;
  if (quint64(st.st_dev) != w.device || quint64(st.st_ino) != w.inode) return;
  ::unlink(w.name.constData());
#else
  QFile::remove(QFile::decodeName(w.name));
#endif
}
}  // namespace

FileRun::FileRun(const QString& s, int n, const Formats::Format& f) : source(s), number(n), format(&f) {
  clock.start();
}

QString FileRun::tool() const {
  return format->stageCount ? QString::fromLatin1(format->stages[stage].tool) : QString();
}

std::optional<Progress::Reading> FileRun::read(const QString& chunk) {
  if (!format->stageCount) return std::nullopt;
  return format->stages[stage].reader == Formats::Reader::Percent ? Progress::stageOne(chunk, progress)
                                                                  : Progress::stageTwo(chunk, progress);
}

void FileRun::noteWritten(const QString& toolOutput) {
  const QString name = tool();
  if (name.isEmpty()) return;
  for (const QStringView line : QStringView(toolOutput).split(QLatin1Char('\n'))) {
    QStringView l = line;
    while (l.endsWith(QLatin1Char('\r'))) l.chop(1);
    if (auto w = ToolProtocol::readWritten(name, l)) run.written = std::move(w);
  }
}

QString FileRun::writtenOutput() const {
  return run.written ? QFile::decodeName(run.written->name) : output;
}

void FileRun::removeLeftovers() const {
  if (run.written) removeWritten(*run.written);
  if (!work.isEmpty()) QFile::remove(work);
  if (!run.writing.isEmpty()) QFile::remove(run.writing);
  const QString target = run.writing.isEmpty() ? output : run.writing;
  if (run.toolPid <= 0 || target.isEmpty()) return;
  const QDir dir = QFileInfo(target).absoluteDir();
  for (const QString& name : dir.entryList({ToolProtocol::partialFilePattern(run.toolPid)},
                                           QDir::Files | QDir::Hidden | QDir::System))
    if (ToolProtocol::isPartialFileOf(name, run.toolPid)) QFile::remove(dir.filePath(name));
}

QString laneWorkFile(const QString& workFolder, int lane) {
  if (lane == 0) return JoinPath(workFolder, ToolProtocol::workFileName());
  return JoinPath(JoinPath(workFolder, QStringLiteral("lane-%1").arg(lane + 1)), ToolProtocol::workFileName());
}

void makeLaneFolder(const QString& workFolder, int lane) {
  // The lane folders are this process's alone, like the work folder they are in.
  constexpr QFileDevice::Permissions kPrivate = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
  if (lane == 0) return;
  const QString folder = QFileInfo(laneWorkFile(workFolder, lane)).path();
  const QFileInfo at(folder);
  if (at.isDir() && !at.isSymLink()) {
    QFile::setPermissions(folder, kPrivate);
    return;
  }
  removeLaneFolders(workFolder, lane, lane);
  QDir().mkdir(folder, kPrivate);  // a failure shows when the tool writes
}

void removeLaneFolders(const QString& workFolder, int from, int to) {
  for (int lane = qMax(1, from); lane <= to; ++lane) {
    const QString folder = QFileInfo(laneWorkFile(workFolder, lane)).path();
    const QFileInfo at(folder);
    if (at.isSymLink() || (at.exists() && !at.isDir()))
      QFile::remove(folder);
    else if (at.isDir())
      QDir(folder).removeRecursively();
  }
}

QString prepareOutputFolder(const QString& text, const QString& fallback) {
  const QString folder = text.trimmed().isEmpty() ? fallback : text;
  QDir().mkpath(folder);
  return JoinPath(folder, QString());
}
