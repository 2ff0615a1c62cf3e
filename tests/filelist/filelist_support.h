#pragma once
#include <QList>
#include <QStringList>
#include <optional>

#include "ui/desktop.h"
#include "ui/dialogbackend.h"

// Answers the dialogs from queued answers (an empty queue answers "cancel")
// and records what each dialog was asked to show.
class FakeDialogs : public DialogBackend {
 public:
  QList<std::optional<QString>> fileAnswers;    // open and save dialogs
  QList<std::optional<QString>> folderAnswers;  // folder pickers
  std::optional<QColor> colorAnswer;
  std::optional<QFont> fontAnswer;
  bool printerAnswer = false;

  QList<FileRequest> openRequests;
  QList<FileRequest> saveRequests;
  QStringList folderPrompts;
  QColor colorInitial;
  bool colorFullOpen = false;
  QFont fontInitial;
  int printerCalls = 0;

  std::optional<QString> openFile(QWidget* owner, const QString& title, const QString& start,
                                  const QString& filter, const QString& initial) override;
  std::optional<QString> existingFolder(QWidget*, const QString& prompt, const QString&) override;
  std::optional<QString> pickOpenFile(QWidget*, const FileRequest& request) override;
  std::optional<QString> pickSaveFile(QWidget*, const FileRequest& request) override;
  std::optional<QColor> pickColor(QWidget*, const QColor& initial, bool fullOpen) override;
  std::optional<QFont> pickFont(QWidget*, const QFont& initial) override;
  bool pickPrinter(QWidget*) override;

 private:
  static std::optional<QString> next(QList<std::optional<QString>>& answers);
};

// Records instead of opening anything.
class RecordingShell : public DesktopShell {
 public:
  QStringList opened;
  void openFolder(const QString& folder) override { opened.append(folder); }
  void openUrl(const QUrl& url) override { opened.append(url.toString()); }
  void playSound(const QString&, std::function<void()> done) override { done(); }
};

// Makes the files (and their folders) named relative to `root`; a name
// ending in "/" is an empty folder. False when one could not be made.
bool makeFiles(const QString& root, const QStringList& names);
