#include "common/encode.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>

#include "common/console.h"
#include "common/platform.h"
#include "common/sandbox.h"
#include "common/verify.h"
#include "protocol/names.h"
#include "protocol/progress.h"

namespace toolkit {

QString mencoderLine(const ProgressState& s, int percent, double elapsed, double expected,
                     const Plan& plan) {
  int remainMin = 0, sizeMB = 0;
  if (s.seconds > 0 && expected > 0) {
    remainMin = int(elapsed * (expected - s.seconds) / s.seconds / 60);
    sizeMB = int(s.sizeKB / 1024 * expected / s.seconds);
  }
  return Progress::percentLine({s.seconds, static_cast<long long>(s.frames), percent, s.fps, remainMin, sizeMB,
                                int(std::lround(plan.video ? plan.videoKbps : 0)),
                                int(std::lround(plan.audio ? plan.audioKbps : 0))});
}

QString ffmpegLine(const ProgressState& s) {
  return Progress::timeLine({static_cast<long long>(s.frames), s.fps, s.q, s.sizeKB, s.seconds, s.kbps});
}

QString durationLine(const MediaInfo& src) { return Progress::durationLine(src.duration, src.kbps); }

namespace {

class Encoder {
 public:
  Encoder(const Plan& plan, const QString& tool, ProgressStyle style, double shownDuration,
          platform::PartialFile& partial)
      : plan_(plan), tool_(tool), style_(style), shownDuration_(shownDuration), partial_(partial) {}
  int run(const Source& source);

 private:
  bool progress(const ProgressState& state);
  int check(const TranscodeResult& result);
  bool printFinalProgress();
  int fail(Reason reason, const QString& why);
  int stop();

  Plan plan_;
  QString tool_;
  ProgressStyle style_;
  double shownDuration_;  // the length the "Duration:" line gave
  platform::PartialFile& partial_;  // written here; named or removed by the tool's own process
  ProgressState state_;
  QElapsedTimer clock_, sinceLine_;
  bool shown_ = false;  // a progress line was printed
};

int Encoder::run(const Source& source) {
  clock_.start();
  sinceLine_.start();
  const TranscodeResult result = transcode(source.context(), plan_, partial_.writeUrl().toUtf8(),
                                           [this](const ProgressState& s) { return progress(s); });
  state_ = result.state;
  if (result.stopped || platform::stopRequested()) return stop();
  // A playlist segment refused while it was read leaves a hole.
  if (const QString refused = source.refusedOpen(); !refused.isEmpty())
    return fail(Reason::OpensOtherFile, QStringLiteral("the source asks to read another file, which is refused: %1").arg(refused));
  if (!result.ok) return fail(result.reason, result.why);
  // Hours the source's clock leapt over hold nothing to wait for.
  if (result.gapClosed > 0) {
    for (double* length : {&plan_.expectedDuration, &plan_.videoDuration, &plan_.audioDuration, &plan_.sourceDuration})
      if (*length > 0) *length = std::max(*length - result.gapClosed, 0.0);
    printLine(tool_ + QStringLiteral(": note: the source's clock leaps %1 s ahead over nothing: the leap is closed")
                          .arg(result.gapClosed, 0, 'f', 0));
  }
  // What was written, and what of the source could be read at all (the
  // picture of a sound taken alone is read too).
  for (const auto& [reached, expected] : {std::pair{state_.seconds, plan_.expectedDuration},
                                          std::pair{result.sourceRead, plan_.sourceDuration}})
    if (ToolProtocol::fallsShort(reached, expected))
      return fail(Reason::SourceIncomplete,
                  QStringLiteral("the source ends early: only %1 s of %2 s could be read, it may be truncated")
                      .arg(reached, 0, 'f', 2).arg(expected, 0, 'f', 2));
  return check(result);
}

// A line at once, then every half second; false when the tool is to stop.
bool Encoder::progress(const ProgressState& s) {
  if (platform::stopRequested()) return false;
  if (shown_ && sinceLine_.elapsed() < 450) return true;
  shown_ = true;
  sinceLine_.restart();
  state_ = s;
  QString line;
  if (style_ == ProgressStyle::Ffmpeg) {
    // Only the final line may read as the whole length (100 %).
    ProgressState shown = state_;
    shown.seconds = ToolProtocol::timeBeforeEnd(shown.seconds, shownDuration_);
    line = ffmpegLine(shown);
  } else {
    const double expected = plan_.expectedDuration;
    const int percent = expected > 0 ? std::min(99, int(state_.seconds / expected * 100)) : 0;
    line = mencoderLine(state_, percent, static_cast<double>(clock_.elapsed()) / 1000.0, expected, plan_);
  }
  // Nobody reads the progress any more: the program that ran the tool is gone.
  return printLine(line);
}

// How far the source reaches: its packets' furthest end, or the span of a
// stream whose restarted clock was made continuous, whichever is longer.
double sourceReach(const TranscodeResult& r) { return std::max({r.sourceRead, r.videoRead, r.audioRead}); }

// The file must be on the disk and hold what the plan writes before it may
// get its name.
int Encoder::check(const TranscodeResult& result) {
  QElapsedTimer checking;
  checking.start();
  if (const int err = partial_.sync())
    return fail(reasonForErrno(err), QStringLiteral("cannot write %1: %2")
                                         .arg(plan_.output, QString::fromLocal8Bit(std::strerror(err))));
  try {
    const OutputStreams got = readOutput(partial_.readPath());
    if (const auto shortfall = judgeOutput(plan_, got, state_.seconds, result.decodeError,
                                                 StreamsRead{result.videoRead, result.audioRead, sourceReach(result)}))
      return fail(shortfall->reason, shortfall->why);
  } catch (const ToolError& e) {
    return fail(e.reason(), e.message());
  }
  if (qEnvironmentVariableIsSet("VANTREL_TOOL_TRACE"))
    printLine(tool_ + QStringLiteral(": trace check: %1 s").arg(static_cast<double>(checking.nsecsElapsed()) / 1e9, 0, 'f', 4));
  // The last progress line goes out before the file gets its name: when
  // nobody reads the tool any more, nobody would learn of the file either.
  if (!printFinalProgress()) return stop();
  return ExitOk;
}

bool Encoder::printFinalProgress() {
  state_.seconds = std::max(state_.seconds, plan_.expectedDuration);
  if (style_ == ProgressStyle::Ffmpeg) return printLine(ffmpegLine(state_));
  return printLine(mencoderLine(state_, 100, static_cast<double>(clock_.elapsed()) / 1000.0, plan_.expectedDuration, plan_));
}

int Encoder::fail(Reason reason, const QString& why) {
  printFailure(tool_, reason, why);
  return ExitFailed;
}

int Encoder::stop() {
  printLine(ToolProtocol::reasonLine(tool_, Reason::Stopped));
  printLine(tool_ + QStringLiteral(": stopped, no output written"));
  return ExitStopped;
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
}

}  // namespace

int encode(const Source& source, const Plan& plan, const QString& tool, ProgressStyle style,
           double shownDuration, platform::PartialFile& partial) {
  Encoder e(plan, tool, style, shownDuration, partial);
  return e.run(source);
}

namespace {

// The conversion itself, in the worker: from here on a demuxer or decoder
// that a crafted file takes over reaches nothing beyond the source and the
// output. No thread runs yet; every later one inherits the confinement.
int convert(const Request& request, const QStringList& parts, platform::PartialFile& partial,
            const QString& tool, ProgressStyle style) {
  const QString loose = sandbox::confine({QFileInfo(request.source).canonicalFilePath(), parts, partial.descriptor()});
  const Source opened(request.source, parts);
  MediaInfo source = opened.info();
  const Plan plan = resolve(request, source);
  opened.refuseIfTruncated();
  if (plan.video && !pictureFits(plan.size))
    throw ToolError(QStringLiteral("a picture of %1x%2 is larger than %3x%3, the largest written here")
                        .arg(plan.size.width()).arg(plan.size.height()).arg(kMaxPictureSide),
                    Reason::PictureTooLarge);
  // The length of what is written: a late subtitle or a longer track that
  // is not written would hold the progress back.
  if (plan.expectedDuration > 0) source.duration = plan.expectedDuration;
  if (style == ProgressStyle::Ffmpeg) printLine(durationLine(source));
  if (!loose.isEmpty()) printLine(tool + QStringLiteral(": ") + loose);
  for (const QString& note : plan.notes) printLine(tool + QStringLiteral(": ") + note);
  if (qEnvironmentVariableIsSet("VANTREL_TOOL_TRACE")) {
    const bool amr = plan.audio && plan.audioCodec == AudioCodec::AMRNB;
    if (amr) printLine(tool + QStringLiteral(": trace pcm: ") + pcmArgs(plan).join(QLatin1Char('\x1f')));
    // The arguments apart by \x1f, which the line shows escaped.
    printLine(tool + QStringLiteral(": trace ffmpeg: ") +
              ffmpegArgs(plan, QStringLiteral("OUTPUT"), amr).join(QLatin1Char('\x1f')));
  }
  return encode(opened, plan, tool, style, source.duration, partial);
}

// Gives the finished output its name, in the tool's own process.
int commit(platform::PartialFile& partial, const QString& output, const QString& tool) {
  ToolProtocol::Written written;
  if (const int err = partial.commit(written)) {
    printFailure(tool, err == EEXIST ? Reason::OutputUnwritable : reasonForErrno(err),
                 QStringLiteral("cannot write %1: %2").arg(output, QString::fromLocal8Bit(std::strerror(err))));
    return ExitFailed;
  }
  // The name may be another than asked for: whoever reads us learns it here,
  // or the file goes again.
  if (!printLine(ToolProtocol::writtenLine(tool, written))) {
    partial.uncommit();
    return ExitStopped;
  }
  return ExitOk;
}

}  // namespace

int toolMain(int argc, char** argv, const QString& tool, ProgressStyle style,
             const RequestParser& parse) {
  QCoreApplication app(argc, argv);
  platform::ignoreBrokenPipe();
  platform::catchStopRequests();
  try {
    // Qt would read such an argument as another name (U+FFFD for each bad
    // byte), which may even be a file of its own.
    for (int i = 1; i < argc; ++i)
      if (!ToolProtocol::isUtf8Name(QString::fromUtf8(argv[i])))
        throw ToolError(QStringLiteral("argument %1 is not valid UTF-8; rename the file").arg(i),
                        Reason::NameNotUtf8);
    const Request request = parse(app.arguments().mid(1));
    checkOutput(request);
    // Everything the worker may touch is chosen and opened here, before
    // anything decodes the source: the parts a playlist names, and the
    // output, unnamed until it is complete.
    const QStringList parts = playlistParts(request.source);
    platform::PartialFile partial(request.output);
    const int code = platform::runWorker(tool, {partial.descriptor()}, [&] { return convert(request, parts, partial, tool, style); });
    return code == ExitOk ? commit(partial, request.output, tool) : code;
  } catch (const ToolError& e) {
    printFailure(tool, e.reason(), e.message());
    return e.usage() ? ExitUsage : ExitFailed;
  }
}

}  // namespace toolkit
