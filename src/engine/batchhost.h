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

// What the batch driver needs from the window that hosts it. The main window
// implements it with its widgets; tests and benchmarks with plain values.
class BatchHost {
 public:
  virtual ~BatchHost() = default;
  virtual FileQueue& queue() = 0;
  virtual PanelValues panelValues() const = 0;
  virtual QString outputFolderText() const = 0;
  virtual void setOutputFolderText(const QString& text) = 0;
  // Disables (true) or enables the tool bar, the format and parameter boxes
  // and the feedback link.
  virtual void setBatchLock(bool locked) = 0;
  virtual void showProgress(int value, const QString& caption) = 0;  // the documented bar + label
  // At each file start and at every progress change.
  virtual void batchProgress(const BatchProgress&) {}
  // The prompts. The window shows message boxes with the documented texts; the CLI answers itself.
  virtual void warnEmptyList() = 0;    // "请先添加一个文件", caption "添加", warning icon
  virtual bool confirmStop() = 0;      // "正在转换，要停止吗？", caption "Vantrel"; true = stop
  // The batch is over (after the caption "Done." / "已停止" / start-failure text is shown and the
  // controls are unlocked). The window: shows the failure box when there are failures, marks
  // failed rows, resets its title, closes a stop question that is still open.
  virtual void batchFinished(const BatchSummary&) = 0;
};

// The desktop actions of a batch end.
class Shell {
 public:
  virtual ~Shell() = default;
  virtual void openFolder(const QString& folder) = 0;
  // Plays a wave file to its end and then calls `done` (also when nothing
  // could be played); never blocks the window.
  virtual void playSound(const QString& file, std::function<void()> done) = 0;
};
