#pragma once
#include <QList>
#include <QString>
#include <functional>

#include "engine/batchevents.h"
#include "engine/commandline.h"

class FileQueue;

// What a finished batch did.
struct BatchSummary {
  int converted = 0;            // files converted in this batch
  bool stopped = false;         // the user (or a signal) stopped it
  bool startFailed = false;     // an encoder could not be started; the batch ended there
  QList<FileFailure> failures;  // failed files, in order; they are back at the end of the queue
};

// What the batch driver asks of its front end. The main window implements it
// with its widgets and message boxes; the command-line program and the tests
// with plain values and answers of their own. What only a window has (locked
// controls, a progress bar, a question to its user) does nothing unless the
// front end has it.
class BatchHost {
 public:
  virtual ~BatchHost() = default;
  virtual FileQueue& queue() = 0;
  virtual PanelValues panelValues() const = 0;
  virtual QString outputFolderText() const = 0;
  virtual void setOutputFolderText(const QString& text) = 0;
  // Disables (true) or enables the tool bar, the format and parameter boxes
  // and the feedback link.
  virtual void setBatchLock(bool) {}
  // The progress bar (a negative value leaves it as it is) and its caption.
  virtual void showProgress(int, const QString&) {}
  // At each file start and at every progress change.
  virtual void batchProgress(const BatchProgress&) {}
  // Each file whose conversion is over, converted or failed.
  virtual void fileFinished(const FileResult&) {}
  // The start request found an empty list ("请先添加一个文件").
  virtual void warnEmptyList() = 0;
  // The start request came while a batch runs ("正在转换，要停止吗？"); true
  // stops it. An answer given after the batch has ended acts on nothing. A
  // front end that cannot ask keeps the batch running.
  virtual bool confirmStop() { return false; }
  // The batch is over: the caption is shown and the controls are unlocked.
  virtual void batchFinished(const BatchSummary&) = 0;
};

// The desktop actions of a batch end; a driver without one opens no folder
// and plays no sound.
class Shell {
 public:
  virtual ~Shell() = default;
  virtual void openFolder(const QString& folder) = 0;
  // Plays a wave file to its end and then calls `done` (also when nothing
  // could be played); never blocks the window.
  virtual void playSound(const QString& file, std::function<void()> done) = 0;
};
