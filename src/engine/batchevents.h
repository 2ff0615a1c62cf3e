#pragma once
#include <QString>
#include <optional>

#include "protocol/progress.h"

// Where a batch stands: sent at each file and stage start (without a reading)
// and at every progress reading.
struct BatchProgress {
  int fileIndex = 0;   // 1-based number of the file being converted in this batch
  int fileCount = 0;   // files of this batch: done, running and still queued
  int stage = 0;       // 1 or 2
  int stageCount = 0;  // stages of the chosen format: 1 or 2
  int percent = -1;    // 0 to 100 of the running stage; -1 while unknown
  int stageSeconds = 0;  // length of the stage's input as the tool read it; 0 while unknown
  QString source;      // the file being converted
  std::optional<Progress::Reading> reading;  // what the tool's output said, if it said anything
};

// Why a file was not converted: a stable code (a front end words it with
// Texts::reason) and the encoder's own last line for whoever needs it.
struct FileFailure {
  QString source;
  QString code;    // the encoder's reason code, or "crashed"
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
