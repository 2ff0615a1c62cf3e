#pragma once
#include <QPointer>
#include <QUrl>
#include <memory>

#include "engine/batchhost.h"
#include "runner/prompter.h"

class BatchNotice;

// The desktop services of the real program: message boxes, opening folders,
// pages and the help file, and the completion sound.
class DesktopShell : public Shell {
 public:
  DesktopShell();
  ~DesktopShell() override;
  void openFolder(const QString& folder) override;
  void playSound(const QString& file, std::function<void()> done) override;
  virtual void openUrl(const QUrl& url);
  // A desktop notification saying `body`, whose action opens `folder`;
  // nothing without a notification service, and it never waits.
  virtual void announceBatchEnd(const QString& body, const QString& folder);

 private:
  std::unique_ptr<BatchNotice> notice_;  // made at the first notice
};

class MessageBoxPrompter : public Prompter {
 public:
  void critical(const QString& text) override;
  void warning(const QString& text, const QString& caption) override;
  void information(const QString& text, const QString& caption) override;
  bool question(const QString& text, const QString& caption) override;
  void warningDetails(const QString& text, const QString& caption,
                      const QString& details) override;
  void dismissQuestion() override;

 private:
  QPointer<QWidget> question_;  // the question box while it is open
};

// Length of a PCM wave file in milliseconds; 0 when it cannot be read.
int waveDurationMs(const QString& file);
