#include "filelist_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

std::optional<QString> FakeDialogs::next(QList<std::optional<QString>>& answers) {
  if (answers.isEmpty()) return std::nullopt;
  return answers.takeFirst();
}

std::optional<QString> FakeDialogs::openFile(QWidget* owner, const QString& title,
                                             const QString& start, const QString& filter,
                                             const QString& initial) {
  return pickOpenFile(owner, {title, start, filter, initial, {}});
}

std::optional<QString> FakeDialogs::existingFolder(QWidget*, const QString& prompt,
                                                   const QString&) {
  folderPrompts.append(prompt);
  return next(folderAnswers);
}

std::optional<QString> FakeDialogs::pickOpenFile(QWidget*, const FileRequest& request) {
  openRequests.append(request);
  return next(fileAnswers);
}

std::optional<QString> FakeDialogs::pickSaveFile(QWidget*, const FileRequest& request) {
  saveRequests.append(request);
  return next(fileAnswers);
}

std::optional<QColor> FakeDialogs::pickColor(QWidget*, const QColor& initial, bool fullOpen) {
  colorInitial = initial;
  colorFullOpen = fullOpen;
  return colorAnswer;
}

std::optional<QFont> FakeDialogs::pickFont(QWidget*, const QFont& initial) {
  fontInitial = initial;
  return fontAnswer;
}

bool FakeDialogs::pickPrinter(QWidget*) {
  ++printerCalls;
  return printerAnswer;
}

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
