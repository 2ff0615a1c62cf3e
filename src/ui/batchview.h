#pragma once
#include <QList>
#include <QString>
#include <optional>

#include "engine/batchhost.h"

class FileQueue;

// What the window shows of a batch beyond the progress bar and caption.

// The window title while a file converts: "Vantrel — 3/8 name.mp4" (file
// number, files of the batch, the file's name), then "剩余约 …" when the
// rest of the batch can be told; "Vantrel" without a file.
QString batchWindowTitle(const BatchProgress& progress,
                         std::optional<qint64> secondsLeft = std::nullopt);

// The short text of the failure box, and its long part: each failed file with
// its reason and the encoder's own line.
QString failureSummary(const BatchSummary& summary);
QString failureDetails(const QList<FileFailure>& failures);

// Marks the failed files, which are back at the end of the queue in the order
// given, with their reasons. Rows are matched by path from the end, so files
// queued earlier under the same path keep their own state.
void markFailedRows(FileQueue& queue, const QList<FileFailure>& failures);
