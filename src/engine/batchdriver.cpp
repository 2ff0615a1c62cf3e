#include "engine/batchdriver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTime>
#include <optional>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

#include "engine/failurereasons.h"
#include "protocol/toolprotocol.h"
#include "engine/progress.h"
#include "filelist/filequeue.h"
#include "filelist/pathhelpers.h"
#include "runner/dosoutputs.h"
#include "settings/core/appdirs.h"
#include "settings/core/formats.h"
#include "settings/core/options.h"

// The lane folders are this process's alone, like the work folder they are in.
constexpr QFileDevice::Permissions kPrivateFolder =
    QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;

// One file at a time: its runners (by the table's Runner), the stage it is in
// and the names it writes.
struct BatchDriver::Lane {
  int index = 0;
  DOSOutputs runners[2];  // Formats::Runner::First, Second
  Progress::State progress;
  const Formats::Format* format = nullptr;  // null while the lane is free
  int stage = 0;
  DOSOutputs* runner = nullptr;  // of the stage that runs
  QString source;
  QString output;   // the final output name, once chosen; then the one written
  QString writing;  // the work file the running stage writes; empty for the output
  QString work;     // the work file stage one wrote, for stage two to read
  std::optional<ToolProtocol::Written> written;  // what the running stage's tool wrote
  qint64 toolPid = 0;
  int fileIndex = 0;
  QElapsedTimer clock;

  DOSOutputs& runnerFor(Formats::Runner r) { return runners[r == Formats::Runner::First ? 0 : 1]; }
};

namespace {
// The last file a run's tool says it wrote.
std::optional<ToolProtocol::Written> writtenBy(const QString& tool, const QString& output) {
  std::optional<ToolProtocol::Written> last;
  for (const QStringView line : QStringView(output).split(QLatin1Char('\n'))) {
    QStringView l = line;
    while (l.endsWith(QLatin1Char('\r'))) l.chop(1);
    if (auto w = ToolProtocol::readWritten(tool, l)) last = std::move(w);
  }
  return last;
}

// Removes a file a tool wrote, if its name still holds that very file: in the
// meantime somebody else may have put a file of their own there.
void removeWritten(const ToolProtocol::Written& w) {
#ifdef Q_OS_UNIX
  struct stat st {};
  if (::lstat(w.name.constData(), &st) != 0) return;
  if (quint64(st.st_dev) != w.device || quint64(st.st_ino) != w.inode) return;
  ::unlink(w.name.constData());
#else
  QFile::remove(QFile::decodeName(w.name));
#endif
}
}  // namespace

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

void BatchDriver::setJobs(int jobs) { jobs_ = qMax(1, jobs); }

QString BatchDriver::workFile(int lane) const {
  const QString folder = workFolder_.isEmpty() ? AppDirs::workFolder() : workFolder_;
  const QString name = QStringLiteral("tmp.mp4");
  if (lane == 0) return JoinPath(folder, name);
  return JoinPath(JoinPath(folder, QStringLiteral("lane-%1").arg(lane + 1)), name);
}

// Makes the private folder of a lane's work file (not the first lane's: that
// one is the work folder itself). Whatever else holds the name, a link or a
// file, goes first, so the work is written into a folder of this lane alone.
void BatchDriver::makeLaneFolder(int lane) const {
  if (lane == 0) return;
  const QString folder = QFileInfo(workFile(lane)).path();
  const QFileInfo at(folder);
  if (at.isDir() && !at.isSymLink()) {
    QFile::setPermissions(folder, kPrivateFolder);
    return;
  }
  removeLaneFolders(lane, lane);
  QDir().mkdir(folder, kPrivateFolder);  // a failure shows when the tool writes
}

// Removes the folders of the lanes `from` to `to` with what they hold. A link
// in a lane folder's place is removed as a link, never what it points to, and
// so are the links inside one.
void BatchDriver::removeLaneFolders(int from, int to) const {
  for (int lane = qMax(1, from); lane <= to; ++lane) {
    const QString folder = QFileInfo(workFile(lane)).path();
    const QFileInfo at(folder);
    if (at.isSymLink() || (at.exists() && !at.isDir()))
      QFile::remove(folder);
    else if (at.isDir())
      QDir(folder).removeRecursively();
  }
}

int BatchDriver::FileDuration() const {
  return lanes_.empty() ? 0 : lanes_.front()->progress.fileDuration;
}

QString BatchDriver::BusyChar() const {
  return lanes_.empty() ? QStringLiteral("-") : lanes_.front()->progress.busyChar;
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
  while (int(lanes_.size()) < jobs_) {
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

bool BatchDriver::anyActive() const {
  for (const auto& l : lanes_)
    if (l->format) return true;
  return false;
}

// Gives every free lane the next file; ends the batch once nothing runs.
void BatchDriver::fill() {
  if (state_ != State::Running) return;
  for (int i = 0; i < jobs_ && i < int(lanes_.size()); ++i) {
    if (stopRequested_ || startFailed_) break;
    Lane& lane = *lanes_[i];
    if (lane.format || inFlight_.size() >= host_.queue().count()) continue;
    startFile(lane);
    if (state_ != State::Running) return;
  }
  if (!anyActive()) endBatch();
}

QString BatchDriver::outputFolder() {
  QString folder = host_.outputFolderText();
  if (folder.trimmed().isEmpty()) folder = AppDirs::defaultOutputFolder();
  QDir().mkpath(folder);  // with every missing parent; a failure shows when the tool writes
  folder = JoinPath(folder, QString());  // one trailing separator
  if (folder != host_.outputFolderText()) host_.setOutputFolderText(folder);
  return folder;
}

void BatchDriver::startFile(Lane& lane) {
  const int position = host_.panelValues().format;
  static const Formats::Format kNone{};  // no format chosen: no command line at all
  const Formats::Format* format = Formats::format(position);
  lane.format = format ? format : &kNone;
  lane.stage = 0;
  lane.source = host_.queue().at(int(inFlight_.size()));
  lane.output.clear();
  lane.writing.clear();
  lane.work.clear();
  lane.written.reset();
  lane.progress.fileDuration = 0;  // every file reads its own length
  lane.fileIndex = ++started_;
  lane.clock.start();
  inFlight_.append(&lane);
  outputFolder();
  report(lane, -1);
  startStage(lane);
}

void BatchDriver::startStage(Lane& lane) {
  const Formats::Format& f = *lane.format;
  const bool last = lane.stage + 1 >= f.stageCount;
  BuildContext ctx{AppDirs::toolFolder(), workFile(lane.index)};
  lane.written.reset();
  if (lane.stage == 0 && f.stageCount &&
      (lane.source.contains(QChar::ReplacementCharacter) || lane.source.contains(QChar::Null))) {
    // A name Qt could not read as it is (bytes that are not UTF-8): whatever
    // we passed on would name another file, or none.
    const QString code = ToolProtocol::code(ToolProtocol::Reason::NameNotUtf8);
    finishFile(lane, FileFailure{lane.source, code, FailureReasons::text(code),
                                 QStringLiteral("the file name is not valid UTF-8")});
    return;
  }
  if (lane.stage > 0 && !lane.work.isEmpty()) ctx.workFile = lane.work;
  PanelValues v = host_.panelValues();
  v.format = f.stageCount ? f.position : -1;
  if (last && f.stageCount) {
    // Chosen when the last stage starts, so the time in the name is that of
    // the stage that writes it; a name another lane is about to write is taken.
    lane.output = CommandLines::uniqueOutputFileName(
        outputFolder(), lane.source, QTime::currentTime(), QString::fromLatin1(f.extension),
        [this](const QString& name) { return reserved_.contains(name); });
    reserved_.insert(lane.output);
    lane.writing.clear();
  } else {
    makeLaneFolder(lane.index);
    lane.writing = ctx.workFile;
    QFile::remove(ctx.workFile);  // never let stage two read an earlier file's work
  }
  const ToolCommand command = lane.stage == 0 ? CommandLines::stageOne(v, lane.source, lane.output, ctx)
                                              : CommandLines::stageTwo(v, lane.output, ctx);
  const Formats::Stage& stage = f.stages[lane.stage];
  lane.runner = &lane.runnerFor(f.stageCount ? stage.runner : Formats::Runner::First);
  ToolExeName = stage.tool ? QString::fromLatin1(stage.tool) : QString();
  lane.runner->setCommandLine(command);
  if (!lane.runner->ExecuteCommand()) {
    // The runner has said why. The file stays where it is in the list, and
    // the batch ends once the other lanes have stopped.
    startFailed_ = true;
    lane.writing.clear();
    clearLane(lane);
    for (const auto& other : lanes_)
      for (DOSOutputs& r : other->runners)
        if (r.isRunning()) r.terminate();
    QMetaObject::invokeMethod(this, &BatchDriver::fill, Qt::QueuedConnection);
    return;
  }
  lane.toolPid = lane.runner->processId();
  report(lane, -1);
}

void BatchDriver::report(Lane& lane, int percent) {
  BatchProgress p;
  p.fileIndex = lane.fileIndex;
  p.fileCount = finished_ + host_.queue().count();
  p.stage = lane.stage + 1;
  p.stageCount = qMax(1, lane.format->stageCount);
  p.percent = percent;
  p.stageSeconds = lane.progress.fileDuration;
  p.source = lane.source;
  p.caption = caption_;
  host_.batchProgress(p);
  Q_EMIT progressed(p);
}

void BatchDriver::onOutput(Lane& lane, const QString& chunk) {
  if (!lane.format || !lane.format->stageCount) return;
  const bool percent = lane.format->stages[lane.stage].reader == Formats::Reader::Percent;
  const auto view =
      percent ? Progress::stageOne(chunk, lane.progress) : Progress::stageTwo(chunk, lane.progress);
  if (!view) return;
  caption_ = view->caption;
  host_.showProgress(view->value, view->caption);
  report(lane, view->value);
}

void BatchDriver::onRunOver(Lane& lane) {
  if (state_ != State::Running || !lane.format || !lane.runner) return;
  DOSOutputs& runner = *lane.runner;
  const QString tool = QString::fromLatin1(lane.format->stages[lane.stage].tool);
  lane.written = writtenBy(tool, runner.Outputs());
  if (stopRequested_ || startFailed_ || runner.stopped()) {
    // Stopped: the file stays in the list, and nothing it began remains.
    removePartialOutput(lane);
    clearLane(lane);
    QMetaObject::invokeMethod(this, &BatchDriver::fill, Qt::QueuedConnection);
    return;
  }
  if (!runner.succeeded()) {
    const FailureReasons::RunEnd end{tool, runner.Outputs(), runner.exitCode(), runner.crashed()};
    finishFile(lane, FailureReasons::classify(lane.source, end));
    return;
  }
  // The tool may have written another name than it was given (that one was
  // taken meanwhile); from here on the name it wrote counts.
  const QString wrote = lane.written ? QFile::decodeName(lane.written->name) : QString();
  if (lane.stage + 1 < lane.format->stageCount) {
    lane.work = wrote.isEmpty() ? lane.writing : wrote;
    lane.written.reset();
    ++lane.stage;
    startStage(lane);
    return;
  }
  if (!wrote.isEmpty()) lane.output = wrote;
  finishFile(lane, std::nullopt);
}

void BatchDriver::finishFile(Lane& lane, const std::optional<FileFailure>& failure) {
  FileResult result;
  result.source = lane.source;
  result.milliseconds = lane.clock.elapsed();
  if (failure) {
    removePartialOutput(lane);
    failures_.append(*failure);
    result.failure = *failure;
  } else {
    result.output = lane.output;
    result.converted = true;
    ++converted_;
  }
  const int at = int(inFlight_.indexOf(&lane));
  clearLane(lane);
  host_.queue().removeAt(at);
  ++finished_;
  host_.fileFinished(result);
  QMetaObject::invokeMethod(this, &BatchDriver::fill, Qt::QueuedConnection);
}

void BatchDriver::removePartialOutput(Lane& lane) {
  // Only what this conversion made goes: the file its tool reported, while
  // its name still holds it, and the work files in the lane's own folder.
  // The output's name alone says nothing: another copy of the program may
  // have written it.
  if (lane.written) removeWritten(*lane.written);
  lane.written.reset();
  if (!lane.work.isEmpty()) QFile::remove(lane.work);
  if (!lane.writing.isEmpty()) QFile::remove(lane.writing);
  // A tool that was killed cannot remove the partial file it writes beside
  // its output; its name starts with ".vantrel-" and the tool's process id.
  const QString target = lane.writing.isEmpty() ? lane.output : lane.writing;
  if (lane.toolPid > 0 && !target.isEmpty()) {
    const QDir dir = QFileInfo(target).absoluteDir();
    const QString id = QStringLiteral(".vantrel-") + QString::number(lane.toolPid);
    for (const QString& name : dir.entryList({id + QStringLiteral("*")},
                                             QDir::Files | QDir::Hidden | QDir::System)) {
      const QChar next = name.size() > id.size() ? name.at(id.size()) : QChar();
      if (!next.isDigit()) QFile::remove(dir.filePath(name));
    }
  }
  lane.writing.clear();
  lane.work.clear();
}

void BatchDriver::clearLane(Lane& lane) {
  inFlight_.removeOne(&lane);
  reserved_.remove(lane.output);
  lane.format = nullptr;
  lane.runner = nullptr;
  lane.output.clear();
  lane.writing.clear();
  lane.work.clear();
  lane.written.reset();
  lane.toolPid = 0;
  lane.progress.fileDuration = 0;
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
  for (const auto& lane : lanes_)
    for (DOSOutputs& r : lane->runners)
      if (r.isRunning()) r.terminate();
  // Lanes between two runs end at their queued next step.
  QMetaObject::invokeMethod(this, &BatchDriver::fill, Qt::QueuedConnection);
}

void BatchDriver::endBatch() {
  if (state_ != State::Running) return;
  state_ = State::Ending;
  // The folder is worth opening only when something new is in it.
  if (shell_ && converted_ > 0) shell_->openFolder(host_.outputFolderText());
  if (shell_ && options().soundSwitch == 0 && !stopRequested_ && !startFailed_) {
    shell_->playSound(JoinPath(AppDirs::dataFolder(), QStringLiteral("sound.wav")),
                     [this] { finishEnd(); });
  } else {
    finishEnd();
  }
}

void BatchDriver::finishEnd() {
  if (state_ != State::Ending) return;
  removeLaneFolders(1, int(lanes_.size()) - 1);
  host_.setBatchLock(false);
  caption_ = startFailed_     ? FailureReasons::text(QStringLiteral("start-failed"))
             : stopRequested_ ? QStringLiteral("已停止")
                              : QStringLiteral("Done.");
  host_.showProgress(-1, caption_);
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
    if (lane->format) {
      if (lane->runner && lane->format->stageCount)
        lane->written = writtenBy(QString::fromLatin1(lane->format->stages[lane->stage].tool),
                                  lane->runner->Outputs());
      removePartialOutput(*lane);
      clearLane(*lane);
    }
  }
  removeLaneFolders(1, int(lanes_.size()) - 1);
}
