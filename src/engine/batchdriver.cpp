#include "engine/batchdriver.h"

#include <QDir>
#include <QFile>
#include <QTime>

#include "filelist/filequeue.h"
#include "runner/prompter.h"
#include "settings/core/appdirs.h"
#include "settings/core/formats.h"
#include "settings/core/options.h"

namespace {
const QString kWorkFileName = QStringLiteral("tmp.mp4");
}

BatchDriver::BatchDriver(BatchHost& host, Shell& shell, QObject* parent)
    : QObject(parent), host_(host), shell_(shell) {
  Timer1.setSingleShot(true);
  Timer1.setInterval(100);
  connect(&Timer1, &QTimer::timeout, this, &BatchDriver::Timer1_Timer);
  connect(&objDOS, &DOSOutputs::ReceiveOutputs, this, &BatchDriver::objDOS_ReceiveOutputs);
  connect(&objDOS, &DOSOutputs::CommandOver, this, &BatchDriver::objDOS_CommandOver);
  connect(&objffmpeg, &DOSOutputs::ReceiveOutputs, this, &BatchDriver::objffmpeg_ReceiveOutputs);
  connect(&objffmpeg, &DOSOutputs::CommandOver, this, &BatchDriver::objffmpeg_CommandOver);
}

BatchDriver::~BatchDriver() { abort(); }

BuildContext BatchDriver::buildContext() const {
  return {AppDirs::toolFolder(), AppDirs::join(AppDirs::workFolder(), kWorkFileName)};
}

void BatchDriver::imgStart_Click() {
  if (state_ != State::Idle) {
    // A second batch never starts while one runs; the user may stop this one.
    if (stopRequested_ || state_ == State::Ending) return;
    if (!prompter().question(QStringLiteral("正在转换，要停止吗？"), QStringLiteral("Vantrel")))
      return;
    if (state_ == State::Idle || state_ == State::Ending) return;  // it ended meanwhile
    stopBatch();
    return;
  }
  if (host_.queue().isEmpty()) {
    prompter().warning(QStringLiteral("请先添加一个文件"), QStringLiteral("添加"));
    return;
  }
  state_ = State::Starting;
  stopRequested_ = false;
  failures_.clear();
  host_.setBatchLock(true);
  Timer1.start();
}

void BatchDriver::Timer1_Timer() {
  Timer1.stop();
  if (state_ != State::Starting) return;
  state_ = State::Running;
  ConvertNext();
}

QString BatchDriver::outputFolder() {
  QString folder = host_.outputFolderText();
  if (folder.trimmed().isEmpty()) {
    folder = AppDirs::defaultOutputFolder();
    host_.setOutputFolderText(folder);
  }
  QDir().mkpath(folder);  // with every missing parent; a failure shows when the tool writes
  return folder;
}

void BatchDriver::ConvertNext() {
  if (state_ != State::Running) return;
  if (stopRequested_) {
    endBatch();
    return;
  }
  QString folder = outputFolder();
  const BuildContext ctx = buildContext();
  FileQueue& queue = host_.queue();
  if (queue.isEmpty()) {
    endBatch();
    return;
  }
  if (!folder.endsWith(QDir::separator())) {
    folder += QDir::separator();
    host_.setOutputFolderText(folder);
  }

  progress_.fileDuration = 0;  // every file reads its own length
  const PanelValues v = host_.panelValues();
  const QString source = queue.at(0);
  QString output;
  if (Formats::isTwoStage(v.format)) {
    QFile::remove(ctx.workFile);  // never let stage two read an earlier file's work
    output = ctx.workFile;
  } else if (v.format >= 0 && v.format < Formats::Count) {
    output = CommandLines::uniqueOutputFileName(folder, source, QTime::currentTime(),
                                                CommandLines::outputExtension(v.format));
  }
  const ToolCommand command = CommandLines::stageOne(v, source, output, ctx);
  currentOutput_ = output;
  startRun(v.format == Formats::MP3 ? objffmpeg : objDOS, command,
           CommandLines::stageOneTool(v.format));
}

void BatchDriver::startRun(DOSOutputs& runner, const ToolCommand& command, const QString& tool) {
  ToolExeName = tool;
  runner.setCommandLine(command);
  if (!runner.ExecuteCommand()) {
    // The runner has said why; the file stays at the head of the list.
    currentOutput_.clear();
    stopRequested_ = true;
    endBatch();
  }
}

void BatchDriver::objDOS_ReceiveOutputs(const QString& CommandOutputs) {
  if (const auto view = Progress::stageOne(CommandOutputs, progress_))
    host_.showProgress(view->value, view->caption);
}

void BatchDriver::objffmpeg_ReceiveOutputs(const QString& CommandOutputs) {
  if (const auto view = Progress::stageTwo(CommandOutputs, progress_))
    host_.showProgress(view->value, view->caption);
}

bool BatchDriver::settleFailedRun(DOSOutputs& runner) {
  if (state_ != State::Running) return true;
  if (stopRequested_ || runner.stopped()) {
    removePartialOutput();
    endBatch();
    return true;
  }
  if (!runner.succeeded()) {
    failFile(runner);
    return true;
  }
  return false;
}

void BatchDriver::objDOS_CommandOver() {
  if (settleFailedRun(objDOS)) return;
  const PanelValues v = host_.panelValues();
  if (!Formats::isTwoStage(v.format)) {
    completeFile();
    return;
  }
  QString folder = outputFolder();
  if (!folder.endsWith(QDir::separator())) folder += QDir::separator();
  const QString output = CommandLines::uniqueOutputFileName(
      folder, host_.queue().at(0), QTime::currentTime(), CommandLines::outputExtension(v.format));
  currentOutput_ = output;
  startRun(objffmpeg, CommandLines::stageTwo(v, output, buildContext()),
           CommandLines::stageTwoTool(v.format));
}

void BatchDriver::objffmpeg_CommandOver() {
  if (settleFailedRun(objffmpeg)) return;
  completeFile();
}

void BatchDriver::completeFile() {
  currentOutput_.clear();
  host_.queue().removeAt(0);
  progress_.fileDuration = 0;
  QMetaObject::invokeMethod(this, &BatchDriver::ConvertNext, Qt::QueuedConnection);
}

void BatchDriver::failFile(DOSOutputs& runner) {
  QString reason = runner.lastLine();
  if (reason.isEmpty())
    reason = runner.crashed() ? QStringLiteral("程序异常退出")
                              : QStringLiteral("退出代码 %1").arg(runner.exitCode());
  failures_.append({host_.queue().at(0), reason});
  removePartialOutput();
  host_.queue().removeAt(0);
  progress_.fileDuration = 0;
  QMetaObject::invokeMethod(this, &BatchDriver::ConvertNext, Qt::QueuedConnection);
}

void BatchDriver::removePartialOutput() {
  // Output names are chosen so that they never existed before the run.
  if (!currentOutput_.isEmpty()) QFile::remove(currentOutput_);
  currentOutput_.clear();
}

void BatchDriver::stopBatch() {
  stopRequested_ = true;
  if (state_ == State::Starting) {
    Timer1.stop();
    state_ = State::Running;
    endBatch();
    return;
  }
  if (objDOS.isRunning()) objDOS.terminate();
  if (objffmpeg.isRunning()) objffmpeg.terminate();
  // With no run in flight, the queued ConvertNext ends the batch.
}

void BatchDriver::endBatch() {
  if (state_ != State::Running) return;
  state_ = State::Ending;
  progress_.fileDuration = 0;
  shell_.openFolder(host_.outputFolderText());
  if (options().soundSwitch == 0 && !stopRequested_) {
    shell_.playSound(AppDirs::join(AppDirs::dataFolder(), QStringLiteral("sound.wav")),
                     [this] { finishEnd(); });
  } else {
    finishEnd();
  }
}

void BatchDriver::finishEnd() {
  if (state_ != State::Ending) return;
  host_.setBatchLock(false);
  host_.showProgress(-1, stopRequested_ ? QStringLiteral("已停止") : QStringLiteral("Done."));
  state_ = State::Idle;
  if (!failures_.isEmpty()) {
    QStringList sources;
    QString text = QStringLiteral("下列文件转换失败，已放回列表：");
    for (const Failure& f : failures_) {
      sources << f.source;
      text += QStringLiteral("\n\n%1\n%2").arg(f.source, f.reason);
    }
    host_.queue().appendFiles(sources);
    prompter().warning(text, QStringLiteral("Vantrel"));
  }
  stopRequested_ = false;
  Q_EMIT batchEnded();
}

void BatchDriver::abort() {
  if (state_ == State::Idle) return;
  state_ = State::Idle;
  Timer1.stop();
  for (DOSOutputs* r : {&objDOS, &objffmpeg})
    if (r->isRunning()) r->terminateAndWait(3000);
  removePartialOutput();
}
