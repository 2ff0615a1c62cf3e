#pragma once
// Stand-ins for the window's desktop services: the platform dialogs and the
// desktop shell, recording what they were asked and answering from the test.
#include <QColor>
#include <QFont>
#include <QList>
#include <QStringList>
#include <QUrl>
#include <optional>

#include "support/fakes.h"
#include "ui/desktop.h"
#include "ui/dialogbackend.h"

// Answers the dialogs from queued answers (an empty queue answers "cancel")
// and records what each dialog was asked to show.
class FakeDialogs : public DialogBackend {
 public:
  struct FolderCall {
    QWidget* owner;
    QString prompt;
  };
  QList<std::optional<QString>> fileAnswers;    // open and save dialogs
  QList<std::optional<QString>> folderAnswers;  // folder pickers
  std::optional<QColor> colorAnswer;
  std::optional<QFont> fontAnswer;
  bool printerAnswer = false;

  QList<FileRequest> openRequests;
  QList<FileRequest> saveRequests;
  QList<FolderCall> folderCalls;
  QColor colorInitial;
  bool colorFullOpen = false;
  QFont fontInitial;
  int printerCalls = 0;

  // The prompts of the folder pickers, in order.
  QStringList folderPrompts() const;

  std::optional<QString> openFile(QWidget* owner, const QString& title, const QString& start,
                                  const QString& filter, const QString& initial) override;
  std::optional<QString> existingFolder(QWidget* owner, const QString& prompt,
                                        const QString&) override;
  std::optional<QString> pickOpenFile(QWidget*, const FileRequest& request) override;
  std::optional<QString> pickSaveFile(QWidget*, const FileRequest& request) override;
  std::optional<QColor> pickColor(QWidget*, const QColor& initial, bool fullOpen) override;
  std::optional<QFont> pickFont(QWidget*, const QFont& initial) override;
  bool pickPrinter(QWidget*) override;

 private:
  static std::optional<QString> next(QList<std::optional<QString>>& answers);
};

// Records what the window asks the desktop to open or play, instead of
// doing it.
class RecordingDesktop : public RecordingShellOf<DesktopShell> {
 public:
  void openUrl(const QUrl& url) override { urls << url; }
  void announceBatchEnd(const QString& body, const QString& folder) override {
    notices << body + QLatin1Char('|') + folder;
  }
  QList<QUrl> urls;
  QStringList notices;  // "body|folder" each
  // Every request so far.
  int calls() const { return int(urls.size() + folders.size() + sounds.size()); }
};
