#pragma once
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QTimer>

#include "cli/cliargs.h"
#include "engine/batchdriver.h"
#include "filelist/filequeue.h"
#include "runner/prompter.h"

// vantrel-cli's side of the batch: the request's files and values, progress on
// the terminal, a line or a JSON object per finished file, and the answers the
// window would ask its user for. No folder is opened and no sound played.
class CliFront : public QObject, public BatchHost, public Prompter {
  Q_OBJECT
 public:
  explicit CliFront(const CliRequest& request, QObject* parent = nullptr);
  ~CliFront() override;

  // Runs the batch to its end; returns the program's exit status.
  int run();

  // BatchHost
  FileQueue& queue() override { return files_; }
  BatchJob batchJob() const override;
  QString outputFolderText() const override { return folder_; }
  void setOutputFolderText(const QString& text) override { folder_ = text; }
  void batchProgress(const BatchProgress& progress) override;
  void fileFinished(const FileResult& result) override;
  void warnEmptyList() override;
  void batchFinished(const BatchSummary& summary) override;

  // Prompter: the runner's messages go to standard error.
  void critical(const QString& text) override;
  void warning(const QString& text, const QString& caption) override;
  void information(const QString& text, const QString& caption) override;
  bool question(const QString& text, const QString& caption) override;

 private:
  void clearProgressLine();

  CliRequest request_;
  FileQueue files_;
  QString folder_;
  QString workFolder_;  // this copy's own, made when the run starts
  BatchDriver driver_;
  QTimer signalWatch_;
  bool terminal_ = false;
  bool progressShown_ = false;
  int fileCount_ = 0;
  QHash<int, QPair<int, QElapsedTimer>> stageClocks_;  // file number -> stage, its clock
  std::optional<BatchSummary> summary_;
};
