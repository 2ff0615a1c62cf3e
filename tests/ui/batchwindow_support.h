#pragma once
// A program folder with fake encoders, and a main window wired to recording
// stand-ins, for driving batches through the window without a desktop.
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "../engine/fakes_support.h"
#include "settings/core/appdirs.h"
#include "settings/core/options.h"
#include "ui/desktop.h"
#include "ui/dialogbackend.h"
#include "ui/frmmain.h"

class RecordingShell : public DesktopShell {
 public:
  void openFolder(const QString& folder) override { opened << folder; }
  void openUrl(const QUrl& url) override { urls << url; }
  void playSound(const QString& file, std::function<void()> done) override {
    sounds << file;
    done();
  }
  QStringList opened, sounds;
  QList<QUrl> urls;
};

class NoDialogs : public DialogBackend {
 public:
  std::optional<QString> openFile(QWidget*, const QString&, const QString&, const QString&,
                                  const QString&) override {
    return std::nullopt;
  }
  std::optional<QString> existingFolder(QWidget*, const QString&, const QString&) override {
    return std::nullopt;
  }
};

struct BatchRig : FakeProgramFolder {
  RecordingPrompter boxes;
  RecordingShell shell;
  NoDialogs dialogs;
  std::unique_ptr<frmMain> w;

  BatchRig() {
    w = std::make_unique<frmMain>(frmMain::Services{&dialogs, &shell});
    w->txtPath->setText(out);
  }

  bool runBatch(int timeoutMs = 20000) {
    QSignalSpy ended(&w->driver, &BatchDriver::batchEnded);
    w->Command3->click();
    return ended.wait(timeoutMs);
  }
};
