#pragma once
// A program folder with fake encoders, and a main window wired to recording
// stand-ins, for driving batches through the window without a desktop.
#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "settings/core/appdirs.h"
#include "settings/core/options.h"
#include "support/desktop.h"
#include "ui/frmmain.h"

struct BatchRig : FakeProgramFolder {
  RecordingPrompter boxes;
  RecordingDesktop shell;
  FakeDialogs dialogs;  // every dialog cancelled
  std::unique_ptr<frmMain> w;

  BatchRig() {
    w = std::make_unique<frmMain>(frmMain::Services{&dialogs, &shell});
    w->findChild<QLineEdit*>("txtPath")->setText(out);
  }

  bool runBatch(int timeoutMs = 20000) {
    QSignalSpy ended(&w->batchDriver(), &BatchDriver::batchEnded);
    w->findChild<QPushButton*>("Command3")->click();
    return ended.wait(timeoutMs);
  }
};
