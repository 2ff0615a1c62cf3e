#include "ui/windowbatchhost.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QWidget>

#include <memory>

#include "filelist/filequeue.h"
#include "runner/prompter.h"
#include "settings/core/appdirs.h"
#include "settings/core/options.h"
#include "texts/texts.h"
#include "ui/batchview.h"
#include "ui/combo.h"
#include "ui/desktop.h"
#include "ui/queuerows.h"

WindowBatchHost::WindowBatchHost(const Controls& controls, DesktopShell& shell)
    : c_(controls), shell_(shell) {
  auto since = std::make_shared<QElapsedTimer>();
  since->start();
  clock_ = [since] { return since->elapsed(); };
}

PanelValues WindowBatchHost::panelValues() const {
  PanelValues v;
  v.format = c_.format->currentIndex();
  v.videoBitrate = c_.videoBitrate->currentText();
  v.frameRate = c_.frameRate->currentText();
  v.size = c_.size->currentText();
  v.sampleRate = c_.sampleRate->currentText();
  v.audioBitrate = c_.audioBitrate->currentText();
  v.channel = listPosition(c_.channel);
  return v;
}

BatchJob WindowBatchHost::batchJob() const {
  BatchJob job;
  job.panel = panelValues();
  job.toolFolder = AppDirs::toolFolder();
  job.dataFolder = AppDirs::dataFolder();
  job.workFolder = AppDirs::workFolder();
  job.defaultOutputFolder = AppDirs::defaultOutputFolder();
  job.endSound = options().soundSwitch == 0;
  return job;
}

QString WindowBatchHost::outputFolderText() const { return c_.outputFolder->text(); }
void WindowBatchHost::setOutputFolderText(const QString& text) { c_.outputFolder->setText(text); }

void WindowBatchHost::setBatchLock(bool locked) {
  for (QWidget* w : c_.locked) w->setEnabled(!locked);
  // The start button stops while a batch runs, and says so; its click asks.
  if (c_.start) c_.start->setText(locked ? Texts::stopButton() : Texts::startButton());
  if (locked) timeLeft_.restart(clock_());
}

void WindowBatchHost::batchProgress(const BatchProgress& progress) {
  if (progress.reading) {
    c_.bar->setValue(progress.reading->value);
    c_.caption->setText(Texts::progressCaption(*progress.reading));
  }
  timeLeft_.progress(progress, clock_());
  c_.window->setWindowTitle(batchWindowTitle(progress, timeLeft_.secondsLeft()));
  c_.rows->setRunning(progress.source);
}

void WindowBatchHost::warnEmptyList() { prompter().warning(Texts::emptyListWarning(), Texts::emptyListCaption()); }

bool WindowBatchHost::confirmStop() {
  // The batch may end while the question is open (its message loop runs the
  // batch on). The box stays until it is answered, so that a click meant for
  // it never lands on what lies beneath; that answer then acts on nothing.
  if (stopQuestion_.open) return false;
  stopQuestion_ = {true, false};
  const bool yes = prompter().question(Texts::stopQuestion(), Texts::productName());
  const bool ended = stopQuestion_.batchEnded;
  stopQuestion_ = {};
  return yes && !ended;
}

void WindowBatchHost::batchFinished(const BatchSummary& summary) {
  c_.caption->setText(Texts::batchEndCaption(summary));
  if (stopQuestion_.open) stopQuestion_.batchEnded = true;
  c_.window->setWindowTitle(batchWindowTitle({}));
  c_.rows->setRunning(QString());
  markFailedRows(*c_.queue, summary.failures);
  // A batch that ended by itself is announced on the desktop as well.
  if (!summary.stopped && !summary.startFailed)
    shell_.announceBatchEnd(Texts::batchEndNotice(summary.converted, int(summary.failures.size())),
                            c_.outputFolder->text());
  // Failed files are back in the list; the hint must not stand over them.
  if (!c_.queue->isEmpty()) c_.listHint->hide();
  if (!summary.failures.isEmpty())
    prompter().warningDetails(failureSummary(summary), Texts::productName(),
                              failureDetails(summary.failures));
}

void WindowBatchHost::openFolder(const QString& folder) { shell_.openFolder(folder); }
void WindowBatchHost::playSound(const QString& file, std::function<void()> done) {
  shell_.playSound(file, std::move(done));
}
