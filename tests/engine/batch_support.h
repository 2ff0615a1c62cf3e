#pragma once
// A program folder with fake encoders and a batch driver on a host that
// records everything it is told and answers its questions from the test.
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <functional>

#include "engine/batchdriver.h"
#include "engine/filerun.h"
#include "filelist/filequeue.h"
#include "support/fakes.h"
#include "texts/texts.h"

// The job is the program folder's (set up by FakeProgramFolder); the caption
// is what a front end shows, in the product's words.
class FakeHost : public BatchHost {
 public:
  FileQueue files;
  BatchJob job{{8, "600", "25", QStringLiteral("原始大小"), "44100", "128", 1},
               AppDirs::toolFolder(), AppDirs::dataFolder(), AppDirs::workFolder(),
               AppDirs::defaultOutputFolder(), 1, true};
  PanelValues& panel = job.panel;
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
  BatchJob batchJob() const override { return job; }
  QString outputFolderText() const override { return folder; }
  void setOutputFolderText(const QString& t) override { folder = t; }
  void setBatchLock(bool l) override {
    locked = l;
    ++lockChanges;
  }
  void batchProgress(const BatchProgress& p) override {
    if (p.reading) values << p.reading->value;
    caption = Texts::progressCaption(p, caption);
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
  void batchFinished(const BatchSummary& s) override {
    caption = Texts::batchEndCaption(s);
    summaries << s;
  }
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
  // The work file the driver gives a lane of the host's job.
  QString workFile(int lane) const { return laneWorkFile(host.job.workFolder, lane); }
};
