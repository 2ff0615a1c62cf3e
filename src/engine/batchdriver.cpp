#include "engine/batchdriver.h"

#include <QFile>
#include <QTime>

#include "engine/failurereasons.h"
#include "engine/filerun.h"
#include "filelist/filequeue.h"
#include "filelist/pathhelpers.h"
#include "protocol/names.h"
#include "runner/dosoutputs.h"

// A lane's runners (by the table's Runner) and the file it converts, if any.
struct BatchDriver::Lane {
  int index = 0;
  DOSOutputs runners[2];  // Formats::Runner::First, Second
  std::optional<FileRun> file;

  DOSOutputs& runnerFor(Formats::Runner r) { return runners[r == Formats::Runner::First ? 0 : 1]; }
};

BatchDriver::BatchDriver(BatchHost& host, Shell& shell, QObject* parent)
    : BatchDriver(host, parent) {
  shell_ = &shell;
}

BatchDriver::BatchDriver(BatchHost& host, QObject* parent)
    : QObject(parent), host_(host), shell_(nullptr) {
  timer_.setSingleShot(true);
  timer_.setInterval(100);
  connect(&timer_, &QTimer::timeout, this, &BatchDriver::begin);
}

BatchDriver::~BatchDriver() { abort(); }

int BatchDriver::FileDuration() const {
  return !lanes_.empty() && lanes_.front()->file ? lanes_.front()->file->progress.fileDuration : 0;
}

QString BatchDriver::BusyChar() const {
  return !lanes_.empty() && lanes_.front()->file ? lanes_.front()->file->progress.busyChar : QStringLiteral("-");
}

void BatchDriver::start() {
  if (state_ != State::Idle) {
    // A second batch never starts while one runs; the user may stop this one.
    if (stopRequested_ || state_ == State::Ending) return;
    const quint64 asked = batch_;
    if (!host_.confirmStop()) return;
    // The question may have stood while the batch ended (or a new one began):
    // then the answer acts on nothing.
    if (asked != batch_ || state_ == State::Idle || state_ == State::Ending) return;
    requestStop();
    return;
  }
  if (host_.queue().isEmpty()) {
    host_.warnEmptyList();
    return;
  }
  ++batch_;
  state_ = State::Starting;
  job_ = host_.batchJob();
  job_.jobs = qMax(1, job_.jobs);
  stopRequested_ = startFailed_ = false;
  started_ = finished_ = converted_ = 0;
  failures_.clear();
  host_.setBatchLock(true);
  timer_.start();
}

void BatchDriver::begin() {
  timer_.stop();
  if (state_ != State::Starting) return;
  state_ = State::Running;
  // Lanes live from the first batch that needs them to the end of the driver.
  while (int(lanes_.size()) < job_.jobs) {
    auto lane = std::make_unique<Lane>();
    Lane* l = lane.get();
    l->index = int(lanes_.size());
    for (DOSOutputs& r : l->runners) {
      connect(&r, &DOSOutputs::ReceiveOutputs, this,
              [this, l](const QString& chunk) { onOutput(*l, chunk); });
      connect(&r, &DOSOutputs::CommandOver, this, [this, l] { onRunOver(*l); });
    }
    lanes_.push_back(std::move(lane));
  }
  fill();
}

// Gives every free lane the next file; ends the batch once nothing runs.
void BatchDriver::fill() {
  if (state_ != State::Running) return;
  for (int i = 0; i < job_.jobs && i < int(lanes_.size()); ++i) {
    if (stopRequested_ || startFailed_) break;
    Lane& lane = *lanes_[i];
    if (lane.file || inFlight_.size() >= host_.queue().count()) continue;
    startFile(lane);
    if (state_ != State::Running) return;
  }
  if (inFlight_.isEmpty()) endBatch();
}

void BatchDriver::fillLater() { QMetaObject::invokeMethod(this, &BatchDriver::fill, Qt::QueuedConnection); }

QString BatchDriver::outputFolder() {
  const QString text = host_.outputFolderText();
  const QString folder = prepareOutputFolder(text, job_.defaultOutputFolder);
  if (folder != text) host_.setOutputFolderText(folder);
  return folder;
}

void BatchDriver::startFile(Lane& lane) {
  static const Formats::Format kNone{};  // no format chosen: no command line at all
  const Formats::Format* format = Formats::format(job_.panel.format);
  lane.file.emplace(host_.queue().at(int(inFlight_.size())), ++started_, format ? *format : kNone);
  inFlight_.append(&lane);
  outputFolder();
  report(lane, std::nullopt);
  startStage(lane);
}

void BatchDriver::startStage(Lane& lane) {
  FileRun& file = *lane.file;
  const Formats::Format& f = *file.format;
  if (file.stage == 0 && f.stageCount && !ToolProtocol::isUtf8Name(file.source)) {
    // A name Qt could not read as it is: whatever we passed on would name
    // another file, or none.
    finishFile(lane, FileFailure{file.source, ToolProtocol::code(ToolProtocol::Reason::NameNotUtf8),
                                 QStringLiteral("the file name is not valid UTF-8")});
    return;
  }
  BuildContext ctx{job_.toolFolder, laneWorkFile(job_.workFolder, lane.index)};
  if (file.stage > 0 && !file.work.isEmpty()) ctx.workFile = file.work;
  PanelValues v = job_.panel;
  v.format = f.stageCount ? f.position : -1;
  FileRun::Run run;
  if (file.lastStage() && f.stageCount) {
    // Chosen when the last stage starts, so the time in the name is that of
    // the stage that writes it; a name another lane is about to write is taken.
    file.output = CommandLines::uniqueOutputFileName(
        outputFolder(), file.source, QTime::currentTime(), QString::fromLatin1(f.extension),
        [this](const QString& name) { return reserved_.contains(name); });
    reserved_.insert(file.output);
  } else {
    makeLaneFolder(job_.workFolder, lane.index);
    run.writing = ctx.workFile;
    QFile::remove(ctx.workFile);  // never let stage two read an earlier file's work
  }
  const ToolCommand command = file.stage == 0 ? CommandLines::stageOne(v, file.source, file.output, ctx)
                                              : CommandLines::stageTwo(v, file.output, ctx);
  run.runner = &lane.runnerFor(f.stageCount ? f.stages[file.stage].runner : Formats::Runner::First);
  file.run = run;
  file.run.runner->setCommandLine(command);
  if (!file.run.runner->ExecuteCommand()) {
    // The runner has said why. The file stays where it is in the list, and
    // the batch ends once the other lanes have stopped.
    startFailed_ = true;
    dropFile(lane);
    terminateAll();
    fillLater();
    return;
  }
  file.run.toolPid = file.run.runner->processId();
  report(lane, std::nullopt);
}

void BatchDriver::report(const Lane& lane, const std::optional<Progress::Reading>& reading) {
  const FileRun& file = *lane.file;
  BatchProgress p;
  p.fileIndex = file.number;
  p.fileCount = finished_ + host_.queue().count();
  p.stage = file.stage + 1;
  p.stageCount = qMax(1, file.format->stageCount);
  p.percent = reading ? reading->value : -1;
  p.stageSeconds = file.progress.fileDuration;
  p.source = file.source;
  p.reading = reading;
  host_.batchProgress(p);
  Q_EMIT progressed(p);
}

void BatchDriver::onOutput(Lane& lane, const QString& chunk) {
  if (!lane.file) return;
  if (const auto reading = lane.file->read(chunk)) report(lane, reading);
}

void BatchDriver::onRunOver(Lane& lane) {
  if (state_ != State::Running || !lane.file || !lane.file->run.runner) return;
  FileRun& file = *lane.file;
  const DOSOutputs& runner = *file.run.runner;
  file.noteWritten(runner.Outputs());
  if (stopRequested_ || startFailed_ || runner.stopped()) {
    // Stopped: the file stays in the list, and nothing it began remains.
    file.removeLeftovers();
    dropFile(lane);
    fillLater();
    return;
  }
  if (!runner.succeeded()) {
    const FailureReasons::RunEnd end{file.tool(), runner.Outputs(), runner.exitCode(), runner.crashed()};
    finishFile(lane, FailureReasons::classify(file.source, end));
    return;
  }
  if (!file.lastStage()) {
    // Stage two reads what stage one wrote, under the name its tool gave.
    file.work = file.run.written ? QFile::decodeName(file.run.written->name) : file.run.writing;
    ++file.stage;
    startStage(lane);
    return;
  }
  finishFile(lane, std::nullopt);
}

void BatchDriver::finishFile(Lane& lane, const std::optional<FileFailure>& failure) {
  const FileRun& file = *lane.file;
  FileResult result;
  result.source = file.source;
  result.milliseconds = file.clock.elapsed();
  if (failure) {
    file.removeLeftovers();
    failures_.append(*failure);
    result.failure = *failure;
  } else {
    result.output = file.writtenOutput();
    result.converted = true;
    ++converted_;
  }
  const int at = int(inFlight_.indexOf(&lane));
  dropFile(lane);
  host_.queue().removeAt(at);
  ++finished_;
  host_.fileFinished(result);
  fillLater();
}

void BatchDriver::dropFile(Lane& lane) {
  inFlight_.removeOne(&lane);
  reserved_.remove(lane.file->output);
  lane.file.reset();
}

void BatchDriver::terminateAll() {
  for (const auto& lane : lanes_)
    for (DOSOutputs& r : lane->runners)
      if (r.isRunning()) r.terminate();
}

void BatchDriver::requestStop() {
  if (state_ == State::Idle || state_ == State::Ending) return;
  stopRequested_ = true;
  if (state_ == State::Starting) {
    timer_.stop();
    state_ = State::Running;
    endBatch();
    return;
  }
  terminateAll();
  // Lanes between two runs end at their queued next step.
  fillLater();
}

void BatchDriver::endBatch() {
  if (state_ != State::Running) return;
  state_ = State::Ending;
  // The folder is worth opening only when something new is in it.
  if (shell_ && converted_ > 0) shell_->openFolder(host_.outputFolderText());
  if (shell_ && job_.endSound && !stopRequested_ && !startFailed_) {
    shell_->playSound(JoinPath(job_.dataFolder, QStringLiteral("sound.wav")), [this] { finishEnd(); });
  } else {
    finishEnd();
  }
}

void BatchDriver::finishEnd() {
  if (state_ != State::Ending) return;
  removeLaneFolders(job_.workFolder, 1, int(lanes_.size()) - 1);
  host_.setBatchLock(false);
  state_ = State::Idle;
  BatchSummary summary;
  summary.converted = converted_;
  summary.stopped = stopRequested_ && !startFailed_;
  summary.startFailed = startFailed_;
  summary.failures = failures_;
  QStringList sources;
  for (const FileFailure& f : failures_) sources << f.source;
  if (!sources.isEmpty()) host_.queue().appendFiles(sources);
  stopRequested_ = false;
  host_.batchFinished(summary);
  Q_EMIT batchEnded();
}

void BatchDriver::abort() {
  if (state_ == State::Idle) return;
  state_ = State::Idle;
  timer_.stop();
  for (const auto& lane : lanes_) {
    for (DOSOutputs& r : lane->runners)
      if (r.isRunning()) r.terminateAndWait(3000);
    if (!lane->file) continue;
    if (lane->file->run.runner) lane->file->noteWritten(lane->file->run.runner->Outputs());
    lane->file->removeLeftovers();
    dropFile(*lane);
  }
  removeLaneFolders(job_.workFolder, 1, int(lanes_.size()) - 1);
}
