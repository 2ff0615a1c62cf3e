#pragma once
#include <QString>

// Where a batch stands, for front ends that show more than the bar and caption.
struct BatchProgress {
  int fileIndex = 0;   // 1-based number of the file being converted in this batch
  int fileCount = 0;   // files of this batch: done, running and still queued
  int stage = 0;       // 1 or 2
  int stageCount = 0;  // stages of the chosen format: 1 or 2
  int percent = -1;    // 0 to 100 of the running stage; -1 while unknown
  int stageSeconds = 0;  // length of the stage's input as the tool read it; 0 while unknown
  QString source;      // the file being converted
  QString caption;     // the progress caption as the window shows it
};

// Why a file was not converted: a stable code, a short Chinese reason a user
// can act on, and the encoder's own last line for whoever needs it.
struct FileFailure {
  QString source;
  QString code;    // the encoder's reason code, or "crashed", "start-failed"
  QString reason;  // Chinese
  QString detail;  // the encoder's own last line
};

// A file whose conversion is over, converted or not (a file whose run was
// stopped is not over: it stays in the list).
struct FileResult {
  QString source;
  QString output;       // the file written; empty when none was
  bool converted = false;
  FileFailure failure;  // when not converted
  qint64 milliseconds = 0;
};
