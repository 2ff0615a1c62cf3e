#pragma once
#include <QList>
#include <QString>
#include <functional>

#include "engine/batchevents.h"
#include "engine/commandline.h"

class FileQueue;

// What a batch runs with, taken from the front end when the batch starts and
// kept for the whole batch: the panel's values (its controls are locked while
// the batch runs), where the encoders, the data and the work files are, and
// how many files run at once.
struct BatchJob {
  PanelValues panel;
  QString toolFolder;           // the encoders: toolFolder/<tool>
  QString dataFolder;           // the batch-end sound: dataFolder/sound.wav
  QString workFolder;           // the work files between two stages
  QString defaultOutputFolder;  // for an empty output folder box
  int jobs = 1;                 // files converted at once, at least 1
  bool endSound = false;        // a batch that ends by itself plays the sound
};

// What a finished batch did.
struct BatchSummary {
  int converted = 0;            // files converted in this batch
  bool stopped = false;         // the user (or a signal) stopped it
  bool startFailed = false;     // an encoder could not be started; the batch ended there
  QList<FileFailure> failures;  // failed files, in order; they are back at the end of the queue
};

// What the batch driver asks of its front end and tells it. The main window
// implements it with its widgets and message boxes; the command-line program
// and the tests with plain values and answers of their own. The driver gives
// events and codes; the front end puts them in words (texts/texts.h). What only
// a window has (locked controls, a question to its user) does nothing unless
// the front end has it.
class BatchHost {
 public:
  virtual ~BatchHost() = default;
  virtual FileQueue& queue() = 0;
  // The job of a batch, asked once when it starts.
  virtual BatchJob batchJob() const = 0;
  // The output folder box, read at each file; the driver shows the folder it
  // made there.
  virtual QString outputFolderText() const = 0;
  virtual void setOutputFolderText(const QString& text) = 0;
  // Disables (true) or enables the tool bar, the format and parameter boxes
  // and the feedback link.
  virtual void setBatchLock(bool) {}
  // At each file and stage start and at every progress reading.
  virtual void batchProgress(const BatchProgress&) {}
  // Each file whose conversion is over, converted or failed.
  virtual void fileFinished(const FileResult&) {}
  // The start request found an empty list.
  virtual void warnEmptyList() = 0;
  // The start request came while a batch runs; true
  // stops it. An answer given after the batch has ended acts on nothing. A
  // front end that cannot ask keeps the batch running.
  virtual bool confirmStop() { return false; }
  // The batch is over and the controls are unlocked.
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
