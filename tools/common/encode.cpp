#include "common/encode.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include "common/amr.h"
#include "common/console.h"
#include "common/platform.h"
#include "common/verify.h"

namespace toolkit {

QString mencoderLine(const ProgressState& s, int percent, double elapsed, double expected,
                     const Plan& plan) {
  int remainMin = 0, sizeMB = 0;
  if (s.seconds > 0 && expected > 0) {
    remainMin = int(elapsed * (expected - s.seconds) / s.seconds / 60);
    sizeMB = int(s.sizeKB / 1024 * expected / s.seconds);
  }
  return QString::asprintf("Pos:%6.1fs %6lldf (%2d%%) %6.2ffps Trem:%4dmin %4dmb  A-V:0.000 [%d:%d]",
                           s.seconds, static_cast<long long>(s.frames), std::clamp(percent, 0, 100),
                           s.fps, std::max(remainMin, 0), std::max(sizeMB, 0),
                           int(std::lround(plan.video ? plan.videoKbps : 0)),
                           int(std::lround(plan.audio ? plan.audioKbps : 0)));
}

QString ffmpegLine(const ProgressState& s) {
  return QString::asprintf("frame=%5lld fps=%3.0f q=%.1f size=%8.0fkB time=%.2f bitrate=%6.1fkbits/s",
                           static_cast<long long>(s.frames), s.fps, s.q, s.sizeKB, s.seconds, s.kbps);
}

QString durationLine(const MediaInfo& src) {
  QString d = QStringLiteral("N/A");
  if (src.duration > 0) {
    const long long cs = std::llround(src.duration * 100);
    d = QString::asprintf("%02lld:%02lld:%02lld.%02lld", cs / 360000, cs / 6000 % 60, cs / 100 % 60,
                          cs % 100);
  }
  const QString rate = src.kbps > 0 ? QStringLiteral("%1 kb/s").arg(std::llround(src.kbps))
                                    : QStringLiteral("N/A");
  return QStringLiteral("Duration: %1, start: 0.000000, bitrate: %2").arg(d, rate);
}

namespace {

QString lastLines(const QByteArray& text) {
  QList<QByteArray> lines = text.trimmed().split('\n');
  while (!lines.isEmpty() && lines.last().trimmed().isEmpty()) lines.removeLast();
  return lines.isEmpty() ? QString() : QString::fromUtf8(lines.last().trimmed());
}

// What an FFmpeg child printed at its error level: the last lines, and the
// first failed write and whether a stream could not be decoded.
struct ChildErrors {
  QByteArray text, pending;
  QString writeError;
  bool decodeError = false;

  void add(const QByteArray& chunk) {
    text += chunk;
    if (text.size() > 8192) text = text.right(4096);
    pending += chunk;
    qsizetype nl;
    while ((nl = pending.indexOf('\n')) >= 0) {
      take(QString::fromUtf8(pending.left(nl)));
      pending.remove(0, nl + 1);
    }
    if (pending.size() > 4096) pending = pending.right(1024);
  }
  void flush() {
    if (!pending.isEmpty()) take(QString::fromUtf8(pending));
    pending.clear();
  }
  void take(const QString& line) {
    switch (classifyFfmpegLine(line)) {
      case FfmpegTrouble::Write:
        if (writeError.isEmpty()) writeError = line.trimmed();
        break;
      case FfmpegTrouble::Decode: decodeError = true; break;
      case FfmpegTrouble::None: break;
    }
  }
};

class Encoder {
 public:
  Encoder(const Plan& plan, const QString& tool, ProgressStyle style, double shownDuration)
      : plan_(plan), tool_(tool), style_(style), shownDuration_(shownDuration) {}
  int run();

 private:
  void startMuxer(bool amr);
  void startPcm();
  void readProgress();
  void muxerFinished(int code, QProcess::ExitStatus status);
  void printProgress();
  void checkAndCommit();
  bool printFinalProgress();
  void succeed();
  void fail(Reason reason, const QString& why);
  void stop();
  void finish(int code);
  void endChildren();

  Plan plan_;
  QString tool_;
  ProgressStyle style_;
  double shownDuration_;  // the length the "Duration:" line gave
  QString ffmpeg_;
  std::unique_ptr<platform::PartialFile> partial_;
  QProcess mux_;
  std::unique_ptr<QProcess> pcm_;
  std::unique_ptr<AmrEncoder> amr_;
  QByteArray progressBuf_;
  ChildErrors muxErr_, pcmErr_;
  ProgressState state_;
  QElapsedTimer clock_, sinceLine_;
  QTimer tick_;
  QEventLoop loop_;
  bool over_ = false;
  int exitCode_ = ExitOk;
};

int Encoder::run() {
  ffmpeg_ = findProgram(QStringLiteral("ffmpeg"));
  partial_ = std::make_unique<platform::PartialFile>(plan_.output);
  platform::onStopRequest([this] { stop(); });

  const bool amr = plan_.audio && plan_.audioCodec == AudioCodec::AMRNB;
  clock_.start();
  sinceLine_.start();
  QObject::connect(&tick_, &QTimer::timeout, [this] {
    if (sinceLine_.elapsed() >= 450) printProgress();
  });
  tick_.start(500);
  startMuxer(amr);
  if (amr) startPcm();
  if (platform::stopRequested()) stop();
  if (over_) return exitCode_;  // failed before the loop runs
  return loop_.exec();
}

void Encoder::startMuxer(bool amr) {
  platform::prepareChild(mux_);
  if (!amr) mux_.setStandardInputFile(QProcess::nullDevice());
  QObject::connect(&mux_, &QProcess::readyReadStandardOutput, [this] { readProgress(); });
  QObject::connect(&mux_, &QProcess::readyReadStandardError,
                   [this] { muxErr_.add(mux_.readAllStandardError()); });
  QObject::connect(&mux_, &QProcess::finished, [this](int code, QProcess::ExitStatus status) {
    muxerFinished(code, status);
  });
  QObject::connect(&mux_, &QProcess::errorOccurred, [this](QProcess::ProcessError e) {
    if (e == QProcess::FailedToStart) fail(Reason::NoFfmpeg, QStringLiteral("ffmpeg could not be started"));
  });
  mux_.start(ffmpeg_, ffmpegArgs(plan_, partial_->childTarget(), amr));
  if (amr) mux_.write(AmrEncoder::header());
}

void Encoder::startPcm() {
  amr_ = std::make_unique<AmrEncoder>(plan_.audioKbps);
  pcm_ = std::make_unique<QProcess>();
  platform::prepareChild(*pcm_);
  pcm_->setStandardInputFile(QProcess::nullDevice());
  QObject::connect(pcm_.get(), &QProcess::readyReadStandardOutput, [this] {
    mux_.write(amr_->encode(pcm_->readAllStandardOutput()));
  });
  QObject::connect(pcm_.get(), &QProcess::readyReadStandardError,
                   [this] { pcmErr_.add(pcm_->readAllStandardError()); });
  QObject::connect(pcm_.get(), &QProcess::finished, [this](int code, QProcess::ExitStatus status) {
    if (over_) return;
    mux_.write(amr_->encode(pcm_->readAllStandardOutput()));
    if (status != QProcess::NormalExit || code != 0) {
      if (platform::stopRequested()) return stop();
      const QString why = lastLines(pcmErr_.text);
      return fail(Reason::SourceDamaged, QStringLiteral("the source's audio could not be decoded%1")
                                              .arg(why.isEmpty() ? QString() : QStringLiteral(": ") + why));
    }
    mux_.write(amr_->finish());
    mux_.closeWriteChannel();
  });
  QObject::connect(pcm_.get(), &QProcess::errorOccurred, [this](QProcess::ProcessError e) {
    if (e == QProcess::FailedToStart) fail(Reason::NoFfmpeg, QStringLiteral("ffmpeg could not be started"));
  });
  pcm_->start(ffmpeg_, pcmArgs(plan_));
}

void Encoder::readProgress() {
  progressBuf_ += mux_.readAllStandardOutput();
  qsizetype nl;
  while ((nl = progressBuf_.indexOf('\n')) >= 0) {
    const QByteArray line = progressBuf_.left(nl).trimmed();
    progressBuf_.remove(0, nl + 1);
    const qsizetype eq = line.indexOf('=');
    if (eq < 0) continue;
    const QByteArray key = line.left(eq), value = line.mid(eq + 1).trimmed();
    bool ok = false;
    if (key == "out_time_us") {
      const qint64 us = value.toLongLong(&ok);
      if (ok && us >= 0) state_.seconds = static_cast<double>(us) / 1e6;
    } else if (key == "frame") {
      const qint64 f = value.toLongLong(&ok);
      if (ok) state_.frames = f;
    } else if (key == "fps") {
      const double f = value.toDouble(&ok);
      if (ok) state_.fps = f;
    } else if (key.startsWith("stream_") && key.endsWith("_q")) {
      const double q = value.toDouble(&ok);
      if (ok) state_.q = q;
    } else if (key == "total_size") {
      const qint64 b = value.toLongLong(&ok);
      if (ok) state_.sizeKB = static_cast<double>(b) / 1024.0;
    } else if (key == "bitrate") {
      const double k = QByteArray(value).replace("kbits/s", "").trimmed().toDouble(&ok);
      if (ok) state_.kbps = k;
    } else if (key == "progress" && value == "continue") {
      printProgress();
    }
  }
}

void Encoder::printProgress() {
  if (over_) return;
  sinceLine_.restart();
  QString line;
  if (style_ == ProgressStyle::Ffmpeg) {
    // The reader rounds the time to whole seconds: only the final line may
    // come to the whole length (100 %).
    ProgressState shown = state_;
    if (shownDuration_ >= 1) shown.seconds = std::min(shown.seconds, std::floor(shownDuration_) - 0.51);
    line = ffmpegLine(shown);
  } else {
    const double expected = plan_.expectedDuration;
    const int percent = expected > 0 ? std::min(99, int(state_.seconds / expected * 100)) : 0;
    line = mencoderLine(state_, percent, static_cast<double>(clock_.elapsed()) / 1000.0, expected, plan_);
  }
  // Nobody reads the progress any more: the program that ran the tool is gone.
  if (!printLine(line)) stop();
}

void Encoder::muxerFinished(int code, QProcess::ExitStatus status) {
  if (over_) return;
  readProgress();
  muxErr_.flush();
  if (platform::stopRequested()) return stop();
  const QString& writeError = muxErr_.writeError;
  const bool damaged = muxErr_.decodeError || pcmErr_.decodeError;
  if (status != QProcess::NormalExit || code != 0) {
    const QString why = writeError.isEmpty() ? lastLines(muxErr_.text) : writeError;
    const Reason reason = !writeError.isEmpty() ? reasonForWriteError(writeError)
                          : damaged             ? Reason::SourceDamaged
                                                : Reason::EncodeFailed;
    return fail(reason, QStringLiteral("%1ffmpeg failed: %2")
                            .arg(reason == Reason::SourceDamaged ? QStringLiteral("the source could not be decoded: ")
                                                                 : QString(),
                                 why.isEmpty() ? QStringLiteral("exit code %1").arg(code) : why));
  }
  // FFmpeg can end with status 0 after a write failed ("Error writing trailer").
  if (!writeError.isEmpty())
    return fail(reasonForWriteError(writeError), QStringLiteral("ffmpeg could not write the output: %1").arg(writeError));
  if (pcm_ && (pcm_->state() != QProcess::NotRunning || pcm_->exitCode() != 0))
    return fail(Reason::SourceDamaged, QStringLiteral("the source's audio could not be decoded"));
  const double expected = plan_.expectedDuration;
  if (expected > 0 && state_.seconds + std::max(0.5, 0.05 * expected) < expected)
    return fail(Reason::SourceIncomplete,
                QStringLiteral("the source ends early: only %1 s of %2 s could be read, it may be truncated")
                    .arg(state_.seconds, 0, 'f', 2).arg(expected, 0, 'f', 2));
  checkAndCommit();
}

// The file must be on the disk, hold what the plan writes, and only then get
// its name.
void Encoder::checkAndCommit() {
  QElapsedTimer checking;
  checking.start();
  if (const int err = partial_->sync())
    return fail(reasonForErrno(err), QStringLiteral("cannot write %1: %2")
                                         .arg(plan_.output, QString::fromLocal8Bit(std::strerror(err))));
  try {
    const OutputStreams got = readOutput(partial_->readPath());
    if (const auto shortfall =
            judgeOutput(plan_, got, state_.seconds, muxErr_.decodeError || pcmErr_.decodeError))
      return fail(shortfall->reason, shortfall->why);
  } catch (const ToolError& e) {
    return fail(e.reason(), e.message());
  }
  if (qEnvironmentVariableIsSet("VANTREL_TOOL_TRACE"))
    printLine(tool_ + QStringLiteral(": trace check: %1 s").arg(static_cast<double>(checking.nsecsElapsed()) / 1e9, 0, 'f', 4));
  // The last progress line goes out before the file gets its name: when
  // nobody reads the tool any more, nobody would learn of the file either.
  if (!printFinalProgress()) return stop();
  if (const int err = partial_->commit(plan_.replace)) {
    if (err == EEXIST)
      return fail(Reason::OutputUnwritable, QStringLiteral("the output appeared while it was written: %1").arg(plan_.output));
    return fail(reasonForErrno(err), QStringLiteral("cannot write %1: %2")
                                         .arg(plan_.output, QString::fromLocal8Bit(std::strerror(err))));
  }
  succeed();
}

bool Encoder::printFinalProgress() {
  state_.seconds = std::max(state_.seconds, plan_.expectedDuration);
  if (style_ == ProgressStyle::Ffmpeg) return printLine(ffmpegLine(state_));
  return printLine(mencoderLine(state_, 100, static_cast<double>(clock_.elapsed()) / 1000.0, plan_.expectedDuration, plan_));
}

void Encoder::succeed() { finish(ExitOk); }

void Encoder::finish(int code) {
  over_ = true;
  exitCode_ = code;
  tick_.stop();
  loop_.exit(code);
}

void Encoder::endChildren() {
  for (QProcess* p : {&mux_, pcm_.get()}) {
    if (!p || p->state() == QProcess::NotRunning) continue;
    p->kill();
    p->waitForFinished(2000);
  }
}

void Encoder::fail(Reason reason, const QString& why) {
  if (over_) return;
  finish(ExitFailed);
  endChildren();
  if (partial_) partial_->discard();
  printFailure(tool_, reason, why);
}

void Encoder::stop() {
  if (over_) return;
  finish(ExitStopped);
  endChildren();
  if (partial_) partial_->discard();
  printLine(tool_ + QStringLiteral(": reason: ") + reasonCode(Reason::Stopped));
  printLine(tool_ + QStringLiteral(": stopped, no output written"));
}

bool sameFile(const QString& a, const QString& b) {
  const QFileInfo fa(a), fb(b);
  if (fa.exists() && fb.exists()) return fa.canonicalFilePath() == fb.canonicalFilePath();
  return QDir::cleanPath(fa.absoluteFilePath()) == QDir::cleanPath(fb.absoluteFilePath());
}

void checkOutput(const Request& r) {
  if (r.source.isEmpty()) throw ToolError(QStringLiteral("no source file given"), Reason::Usage);
  if (r.output.isEmpty()) throw ToolError(QStringLiteral("no output file given"), Reason::Usage);
  if (sameFile(r.source, r.output))
    throw ToolError(QStringLiteral("the output would replace the source"), Reason::Usage);
  const QFileInfo out(r.output);
  if (!QFileInfo(out.absolutePath()).isDir())
    throw ToolError(QStringLiteral("the output folder does not exist: %1").arg(out.absolutePath()),
                    Reason::OutputUnwritable);
  if (!platform::nameFits(out.absolutePath(), out.fileName()))
    throw ToolError(QStringLiteral("the output name is too long for the file system: %1").arg(out.fileName()),
                    Reason::NameTooLong);
  if (out.isDir())
    throw ToolError(QStringLiteral("the output is a folder: %1").arg(r.output), Reason::OutputUnwritable);
  if (out.exists() && !r.replace)
    throw ToolError(QStringLiteral("the output exists; -y replaces it: %1").arg(r.output), Reason::Usage);
}

}  // namespace

int encode(const Plan& plan, const QString& tool, ProgressStyle style, double shownDuration) {
  Encoder e(plan, tool, style, shownDuration);
  return e.run();
}

int toolMain(int argc, char** argv, const QString& tool, ProgressStyle style,
             const RequestParser& parse) {
  QCoreApplication app(argc, argv);
  platform::ignoreBrokenPipe();
  try {
    const Request request = parse(app.arguments().mid(1));
    checkOutput(request);
    MediaInfo source = probe(request.source);
    const Plan plan = resolve(request, source);
    // The length of what is written: a late subtitle or a longer track that
    // is not written would hold the progress back.
    if (plan.expectedDuration > 0) source.duration = plan.expectedDuration;
    if (style == ProgressStyle::Ffmpeg) printLine(durationLine(source));
    for (const QString& note : plan.notes) printLine(tool + QStringLiteral(": ") + note);
    if (qEnvironmentVariableIsSet("VANTREL_TOOL_TRACE")) {
      const bool amr = plan.audio && plan.audioCodec == AudioCodec::AMRNB;
      if (amr) printLine(tool + QStringLiteral(": trace pcm: ") + pcmArgs(plan).join(QLatin1Char('\x1f')));
      printLine(tool + QStringLiteral(": trace ffmpeg: ") +
                ffmpegArgs(plan, QStringLiteral("OUTPUT"), amr).join(QLatin1Char('\x1f')));
    }
    return encode(plan, tool, style, source.duration);
  } catch (const ToolError& e) {
    printFailure(tool, e.reason(), e.message());
    return e.usage() ? ExitUsage : ExitFailed;
  }
}

}  // namespace toolkit
