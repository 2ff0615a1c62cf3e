#pragma once
// A program folder with fake encoders and a batch driver on a host that
// records everything it is told and answers its questions from the test.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "engine/batchdriver.h"
#include "filelist/filequeue.h"
#include "support/fakes.h"

class FakeHost : public BatchHost {
 public:
  FileQueue files;
  PanelValues panel{8, "600", "25", QStringLiteral("原始大小"), "44100", "128", 1};
  QString folder;
  bool locked = false;
  int lockChanges = 0;
  QString caption;
  QList<int> values;
  QList<BatchProgress> progress;
  QList<FileResult> results;
  QList<BatchSummary> summaries;
  int emptyWarnings = 0, stopQuestions = 0;
  bool stopAnswer = false;
  std::function<void()> onQuestion;
  std::function<void(const BatchProgress&)> onProgress;

  FileQueue& queue() override { return files; }
  PanelValues panelValues() const override { return panel; }
  QString outputFolderText() const override { return folder; }
  void setOutputFolderText(const QString& t) override { folder = t; }
  void setBatchLock(bool l) override {
    locked = l;
    ++lockChanges;
  }
  void showProgress(int value, const QString& c) override {
    if (value >= 0) values << value;
    caption = c;
  }
  void batchProgress(const BatchProgress& p) override {
    progress << p;
    if (onProgress) onProgress(p);
  }
  void fileFinished(const FileResult& r) override { results << r; }
  void warnEmptyList() override { ++emptyWarnings; }
  bool confirmStop() override {
    ++stopQuestions;
    if (onQuestion) onQuestion();
    return stopAnswer;
  }
  void batchFinished(const BatchSummary& s) override { summaries << s; }
};

struct EngineRig : FakeProgramFolder {
  RecordingPrompter boxes;
  RecordingShell shell;
  FakeHost host;
  BatchDriver driver{host, shell};

  EngineRig() { host.folder = out; }
  ~EngineRig() { driver.abort(); }

  void add(const QStringList& paths) { host.files.appendFiles(paths); }
  bool runBatch(int timeoutMs = 20000) {
    QSignalSpy ended(&driver, &BatchDriver::batchEnded);
    driver.start();
    return ended.wait(timeoutMs);
  }
  const BatchSummary& summary() const { return host.summaries.last(); }
};
