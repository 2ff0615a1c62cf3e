#pragma once
#include <QString>
#include <functional>

#include "engine/commandline.h"

class FileQueue;

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
  virtual void showProgress(int value, const QString& caption) = 0;
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
