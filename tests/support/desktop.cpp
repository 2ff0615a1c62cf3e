#include "support/desktop.h"

std::optional<QString> FakeDialogs::next(QList<std::optional<QString>>& answers) {
  if (answers.isEmpty()) return std::nullopt;
  return answers.takeFirst();
}

std::optional<QString> FakeDialogs::openFile(QWidget* owner, const QString& title,
                                             const QString& start, const QString& filter,
                                             const QString& initial) {
  return pickOpenFile(owner, {title, start, filter, initial, {}});
}

QStringList FakeDialogs::folderPrompts() const {
  QStringList prompts;
  for (const FolderCall& call : folderCalls) prompts << call.prompt;
  return prompts;
}

std::optional<QString> FakeDialogs::existingFolder(QWidget* owner, const QString& prompt,
                                                   const QString&) {
  folderCalls.append({owner, prompt});
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
