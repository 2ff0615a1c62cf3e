// The window's side of a batch: where it stands (title and the row being
// converted), the prompts, and what the window shows when it is over.
#include <QFrame>

#include "runner/prompter.h"
#include "ui/batchview.h"
#include "ui/frmmain.h"
#include "ui/queuerows.h"

void frmMain::batchProgress(const BatchProgress& progress) {
  setWindowTitle(batchWindowTitle(progress));
  rows_->setRunning(progress.source);
}

void frmMain::warnEmptyList() {
  prompter().warning(QStringLiteral("请先添加一个文件"), QStringLiteral("添加"));
}

bool frmMain::confirmStop() {
  // The batch may end while the question is open (its message loop runs the
  // batch on); then the question is closed, and any answer acts on nothing.
  if (stopQuestion_.open) return false;
  stopQuestion_ = {true, false};
  const bool yes = prompter().question(QStringLiteral("正在转换，要停止吗？"), QStringLiteral("Vantrel"));
  const bool ended = stopQuestion_.batchEnded;
  stopQuestion_ = {};
  return yes && !ended;
}

void frmMain::batchFinished(const BatchSummary& summary) {
  if (stopQuestion_.open) {
    stopQuestion_.batchEnded = true;
    prompter().dismissQuestion();
  }
  setWindowTitle(batchWindowTitle({}));
  rows_->setRunning(QString());
  markFailedRows(lstFile, summary.failures);
  // Failed files are back in the list; the hint must not stand over them.
  if (!lstFile.isEmpty()) picText->hide();
  if (!summary.failures.isEmpty())
    prompter().warningDetails(failureSummary(summary), QStringLiteral("Vantrel"),
                              failureDetails(summary.failures));
}
