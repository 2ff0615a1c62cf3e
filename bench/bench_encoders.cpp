// Wall time of the encoder tools against running ffmpeg directly with the
// same options, side by side in one run. The options come from the tool
// itself (VANTREL_TOOL_TRACE), so both sides do the same coding.
//
// Short-file batch: BENCH_SHORT_COUNT clips (100) of BENCH_SHORT_SECONDS (1 s)
// converted one after the other, for every position's whole road (both stages
// of the two-stage positions), against the same batch through ffmpeg; tool and
// ffmpeg batches alternate for BENCH_SHORT_ROUNDS rounds (3), medians.
// Goal: <= 1.15 per position.
//
// Long clips: one BENCH_SECONDS (30 s) 640x480 clip per tool, BENCH_ROUNDS (3)
// rounds, medians. Goal: <= 1.03. Then the cost of reading each finished file
// back before it gets its name, as the tool itself times it, against the
// whole run of a 60 s 720p conversion (BENCH_CHECK_SECONDS). Goal: under 2 %.
//
// BENCH_ONLY=short or BENCH_ONLY=long runs one part alone (both by default);
// BENCH_POSITIONS=mp3,3gp (short names or indices) limits every part to those
// positions.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTime>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

#ifdef Q_OS_UNIX
#include <sys/resource.h>
#include <sys/stat.h>
#endif

#include "benchsupport.h"
#include "engine/commandline.h"
#include "settings/core/formats.h"

namespace {

using namespace bench;

// The named pipe through which ffmpeg's side of the AMR road hands its
// decoded sound to amr_sink; empty where there is none (the sound then goes
// to the null device, uncoded).
QString& amrPipe() {
  static QString path;
  return path;
}

// Processor time (user and system) of all children ended so far, in
// seconds: on a shared machine it varies much less than the wall time.
double childrenCpu() {
#ifdef Q_OS_UNIX
  rusage u {};
  if (::getrusage(RUSAGE_CHILDREN, &u) != 0) return 0;
  const auto secs = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return secs(u.ru_utime) + secs(u.ru_stime);
#else
  return 0;
#endif
}

// The processor time of the last runTimed(), its processes together.
double& lastCpu() {
  static double cpu = 0;
  return cpu;
}

double runTimed(const QString& program, const QStringList& args, bool* ok = nullptr,
                QByteArray* output = nullptr, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
  QProcess p, sink;
  p.setProcessEnvironment(env);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.setStandardInputFile(QProcess::nullDevice());
  const bool coded = !amrPipe().isEmpty() && args.contains(amrPipe());
  const double cpuBefore = childrenCpu();
  QElapsedTimer t;
  t.start();
  if (coded) sink.start(QStringLiteral(VANTREL_AMR_SINK), {amrPipe()});
  p.start(program, args);
  QByteArray out;
  while (!p.waitForFinished(50)) {
    out += p.readAll();
    if (p.state() == QProcess::NotRunning) break;
  }
  out += p.readAll();
  bool sinkOk = true;
  if (coded) {
    if (!sink.waitForFinished(p.exitCode() == 0 ? 60000 : 2000)) sink.kill();
    sink.waitForFinished();
    sinkOk = sink.exitStatus() == QProcess::NormalExit && sink.exitCode() == 0;
  }
  const double s = static_cast<double>(t.nsecsElapsed()) / 1e9;
  lastCpu() = childrenCpu() - cpuBefore;
  if (ok) *ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 && sinkOk;
  if (output) *output = out;
  return s;
}

double median(QList<double> v) {
  std::sort(v.begin(), v.end());
  return v.isEmpty() ? 0 : v[v.size() / 2];
}

// A test clip made with ffmpeg's lavfi sources: testsrc2 and a sine, H.264
// and AAC.
bool makeClip(const QString& path, int seconds, const QString& size, int sampleRate) {
  bool ok = false;
  runTimed(QStringLiteral("ffmpeg"),
           {"-nostdin", "-v", "error", "-f", "lavfi", "-i",
            QStringLiteral("testsrc2=size=%1:rate=25:duration=%2").arg(size).arg(seconds), "-f", "lavfi", "-i",
            QStringLiteral("sine=duration=%1:sample_rate=%2").arg(seconds).arg(sampleRate), "-ac", "2", "-c:v",
            "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", "-y", path},
           &ok);
  if (!ok) std::fprintf(stderr, "could not make the test clip %s with ffmpeg\n", qPrintable(path));
  return ok;
}

// FFmpeg's arguments as the tool traced them, with `output` for the target.
// On the AMR road one ffmpeg encodes the video and decodes the sound to
// 8000 Hz mono PCM, which amr_sink codes as the tool does (Debian's ffmpeg
// has no AMR encoder).
QStringList directArgs(const QByteArray& trace, const QString& output) {
  auto [mux, pcm] = readTrace(trace);
  for (QString& a : mux)
    if (a == QLatin1String("OUTPUT")) a = output;
  if (pcm.isEmpty()) return mux;
  const qsizetype amr = mux.indexOf(QStringLiteral("amr"));
  mux.remove(amr - 1, 4);  // -f amr -i pipe:0
  const qsizetype copy = mux.indexOf(QStringLiteral("1:a:0"));
  mux.remove(copy - 1, 4);  // -map 1:a:0 -c:a copy
  mux << QStringLiteral("-map") << QStringLiteral("0:a:0") << QStringLiteral("-ac") << QStringLiteral("1")
      << QStringLiteral("-ar") << QStringLiteral("8000") << QStringLiteral("-f") << QStringLiteral("s16le")
      << QStringLiteral("-y") << (amrPipe().isEmpty() ? QProcess::nullDevice() : amrPipe());
  return mux;
}

// The wall time of each tool on one long clip against ffmpeg with the
// tool's options.
void benchLong(const QTemporaryDir& dir, const QString& clip, const QProcessEnvironment& traced,
               const QList<int>& positions) {
  const int rounds = envInt("BENCH_ROUNDS", 3);
  const int seconds = envInt("BENCH_SECONDS", 30);
  const BuildContext ctx{QStringLiteral(VANTREL_DATA_DIR), dir.filePath(QStringLiteral("tmp.mp4"))};
  struct Case {
    const char* name;
    int position;
    bool second;
    QString size;
  };
  const Case cases[] = {{"conv   MP4 (mpeg4+mp3)", Formats::MP4HQ, false, {}},
                        {"conv   MPG (mpeg2+mp2)", Formats::MPG, false, {}},
                        {"conv   work file", Formats::RMVB, false, {}},
                        {"coder  RMVB (rv10+ac3)", Formats::RMVB, true, QStringLiteral("320x240")},
                        {"coder  MOV (h264+aac)", Formats::MOV, true, {}},
                        {"coder2 3GP (mpeg4+amr)", Formats::GP3, true, {}},
                        {"coder  MP3", Formats::MP3, false, {}}};
  // For comparison: what a separate ffprobe process costs (the tools read
  // their sources in-process).
  QList<double> probes;
  for (int i = 0; i < 5; ++i)
    probes << runTimed(QStringLiteral("ffprobe"), {"-v", "error", "-of", "json", "-show_format", "-show_streams", clip});
  std::printf("%d s 640x480 clip, %d rounds, medians; fixed cost of one ffprobe: %.3f s\n", seconds, rounds,
              median(probes));
  std::printf("%-26s %9s %9s %7s   %9s %9s %7s\n", "tool / format", "tool s", "ffmpeg s", "ratio", "tool cpu",
              "ffmpeg cpu", "ratio");
  const bool anyTwoStage = std::any_of(positions.begin(), positions.end(), [](int p) { return Formats::format(p)->stageCount == 2; });
  bool ok = false;
  for (const Case& c : cases) {
    // The work file is stage one of every two-stage position.
    const bool workFile = Formats::format(c.position)->stageCount == 2 && !c.second;
    if (workFile ? !anyTwoStage : !positions.contains(c.position)) continue;
    const PanelValues v = panelFor(c.position, c.size);
    const QString out = dir.filePath(QStringLiteral("out"));
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    const QString ext = CommandLines::outputExtension(c.position);
    const QString target = CommandLines::outputFileName(out, clip, QTime(1, 2, 3), ext);
    if (c.second && !QFileInfo::exists(ctx.workFile))
      runTimed(CommandLines::stageOne(v, clip, {}, ctx).program, CommandLines::stageOne(v, clip, {}, ctx).args, &ok);
    const ToolCommand cmd = c.second ? CommandLines::stageTwo(v, target, ctx) : CommandLines::stageOne(v, clip, target, ctx);
    QByteArray trace;
    runTimed(cmd.program, cmd.args, &ok, &trace, traced);  // warm-up, and the options
    const QStringList direct = directArgs(trace, dir.filePath(QStringLiteral("direct")) + ext);
    if (!ok || direct.isEmpty()) {
      std::printf("%-26s failed: %s\n", c.name, trace.constData());
      continue;
    }
    QList<double> tool, ffmpeg, toolCpu, ffmpegCpu;
    for (int i = 0; i < rounds; ++i) {
      QFile::remove(target);  // a taken name would send the tool to "(2)", "(3)", ...
      tool << runTimed(cmd.program, cmd.args, &ok);
      toolCpu << lastCpu();
      ffmpeg << runTimed(QStringLiteral("ffmpeg"), direct, &ok);
      ffmpegCpu << lastCpu();
    }
    const double t = median(tool), f = median(ffmpeg), tc = median(toolCpu), fc = median(ffmpegCpu);
    std::printf("%-26s %9.3f %9.3f %7.3f   %9.3f %9.3f %7.3f\n", c.name, t, f, f > 0 ? t / f : 0.0, tc, fc,
                fc > 0 ? tc / fc : 0.0);
    std::fflush(stdout);
  }
  std::printf("goal: <= 1.03 (wall time)\n");
}

// The check of the finished file (flush to disk, read every packet back,
// compare with the plan) as the tool reports it, against the wall time of
// the same run.
int benchChecks(const QTemporaryDir& dir, const QString& appFolder, const QProcessEnvironment& traced,
                const QList<int>& positions) {
  const int seconds = envInt("BENCH_CHECK_SECONDS", 60);
  const QString clip = dir.filePath(QStringLiteral("hd.mp4"));
  if (!makeClip(clip, seconds, QStringLiteral("1280x720"), 48000)) return 1;
  const BuildContext ctx{appFolder, dir.filePath(QStringLiteral("hdwork.mp4"))};
  struct Case {
    const char* name;
    int position;
  };
  const Case cases[] = {{"conv   MP4 (mpeg4+mp3)", Formats::MP4HQ}, {"conv   MPG (mpeg2+mp2)", Formats::MPG},
                        {"coder  RMVB (rv10+ac3)", Formats::RMVB}, {"coder  MOV (h264+aac)", Formats::MOV},
                        {"coder2 3GP (mpeg4+amr)", Formats::GP3},  {"coder  MP3", Formats::MP3}};
  std::printf("\n%d s 1280x720 clip: the check of the finished file within one run of each tool\n", seconds);
  std::printf("%-26s %9s %9s %7s\n", "tool / format", "run s", "check s", "share");
  double worst = 0;
  bool ok = false;
  for (const Case& c : cases) {
    if (!positions.contains(c.position)) continue;
    const PanelValues v = panelFor(c.position);
    const QString out = dir.filePath(QStringLiteral("hdout"));
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    const QString target = CommandLines::outputFileName(out, clip, QTime(1, 2, 3), CommandLines::outputExtension(c.position));
    const bool second = Formats::format(c.position)->stageCount == 2;
    if (second && !QFileInfo::exists(ctx.workFile)) {
      const ToolCommand one = CommandLines::stageOne(v, clip, {}, ctx);
      runTimed(one.program, one.args, &ok);
    }
    const ToolCommand cmd = second ? CommandLines::stageTwo(v, target, ctx) : CommandLines::stageOne(v, clip, target, ctx);
    QByteArray output;
    const double run = runTimed(cmd.program, cmd.args, &ok, &output, traced);
    const qsizetype at = output.indexOf("trace check: ");
    if (!ok || at < 0) {
      std::printf("%-26s failed: %s\n", c.name, output.right(400).constData());
      continue;
    }
    const double check = output.mid(at + 13, output.indexOf(' ', at + 13) - at - 13).toDouble();
    worst = std::max(worst, check / run);
    std::printf("%-26s %9.3f %9.4f %6.2f%%\n", c.name, run, check, 100 * check / run);
    std::fflush(stdout);
  }
  std::printf("largest share of the check: %.2f%% (goal: under 2%%)\n", 100 * worst);
  return 0;
}

// ---- Short-file batch ----

// One process of a road.
struct Step {
  QString program;
  QStringList args;
};

// The road of one clip: stage one, then stage two when there is one. `folder`
// is fresh for every batch; every clip gets its own work file and output.
using Road = std::function<QList<Step>(const QString& clip, int index, const QString& folder)>;

struct BatchTimes {
  double stage[2] = {0, 0};
  int runs = 0;
  int failures = 0;
  QByteArray failure;  // the output of the last failed run
};

// Converts every clip, one process after the other, into a fresh `folder`,
// removed again at the end so the disk does not fill.
BatchTimes runBatch(const Road& road, const QStringList& clips, const QString& folder) {
  BatchTimes times;
  QDir(folder).removeRecursively();
  QDir().mkpath(folder);
  for (int i = 0; i < clips.size(); ++i) {
    const QList<Step> steps = road(clips[i], i, folder);
    for (int s = 0; s < steps.size(); ++s) {
      bool ok = false;
      QByteArray output;
      times.stage[s] += runTimed(steps[s].program, steps[s].args, &ok, &output);
      ++times.runs;
      if (!ok) {
        ++times.failures;
        times.failure = steps[s].program.toUtf8() + ": " + output.right(400);
        break;  // no stage two without a work file
      }
    }
  }
  QDir(folder).removeRecursively();
  return times;
}

struct ShortResult {
  QList<double> tool[2], ffmpeg[2];  // per stage, one figure a round
  QList<double> toolRoad, ffmpegRoad;
  int runs = 0;
  int failures = 0;
  QByteArray failure;
};

// Many short clips through one position's road, the tool against ffmpeg with
// the options the tool traced on the first clip.
ShortResult benchShortPosition(int position, const QStringList& clips, const QString& base,
                               const QProcessEnvironment& traced, int rounds) {
  ShortResult r;
  const PanelValues v = panelFor(position);
  const bool two = Formats::format(position)->stageCount == 2;
  const QString ext = CommandLines::outputExtension(position);
  const QString toolFolder = QStringLiteral(VANTREL_DATA_DIR);
  const auto workFile = [](const QString& folder, int index) {
    return QDir(folder).filePath(QStringLiteral("work%1.mp4").arg(index, 3, 10, QLatin1Char('0')));
  };
  const auto target = [&ext](const QString& folder, const QString& clip) {
    return CommandLines::outputFileName(folder, clip, QTime(1, 2, 3), ext);
  };
  const auto fail = [&r](const QByteArray& why) {
    ++r.failures;
    r.failure = why;
    return r;
  };

  // Warm-up on the first clip with the trace on: the options of each stage.
  const QString warm = base + QStringLiteral("-warm");
  QDir(warm).removeRecursively();
  QDir().mkpath(warm);
  const BuildContext warmCtx{toolFolder, workFile(warm, 0)};
  const QString warmTarget = target(warm, clips[0]);
  const ToolCommand one = CommandLines::stageOne(v, clips[0], warmTarget, warmCtx);
  bool ok = false;
  QByteArray trace;
  runTimed(one.program, one.args, &ok, &trace, traced);
  QStringList directOne = directArgs(trace, QStringLiteral("OUTPUT"));
  if (!ok || directOne.isEmpty()) return fail("stage one: " + trace.right(400));
  if (!directOne.contains(tracedInput(clips[0])))
    return fail("the trace of stage one does not name the input as file:<absolute path>");
  QStringList directTwo;
  if (two) {
    const ToolCommand second = CommandLines::stageTwo(v, warmTarget, warmCtx);
    runTimed(second.program, second.args, &ok, &trace, traced);
    directTwo = directArgs(trace, QStringLiteral("OUTPUT"));
    if (!ok || directTwo.isEmpty()) return fail("stage two: " + trace.right(400));
    if (!directTwo.contains(tracedInput(warmCtx.workFile)))
      return fail("the trace of stage two does not name the work file as file:<absolute path>");
  }
  QDir(warm).removeRecursively();

  const Road toolRoad = [&](const QString& clip, int index, const QString& folder) {
    const BuildContext ctx{toolFolder, workFile(folder, index)};
    const QString out = target(folder, clip);
    QList<Step> steps;
    const ToolCommand a = CommandLines::stageOne(v, clip, out, ctx);
    steps << Step{a.program, a.args};
    if (two) {
      const ToolCommand b = CommandLines::stageTwo(v, out, ctx);
      steps << Step{b.program, b.args};
    }
    return steps;
  };
  const Road ffmpegRoad = [&](const QString& clip, int index, const QString& folder) {
    const QString work = workFile(folder, index);
    const QString out = target(folder, clip);
    const QString ffmpeg = QStringLiteral("ffmpeg");
    QList<Step> steps;
    steps << Step{ffmpeg, substituted(directOne, {{tracedInput(clips[0]), tracedInput(clip)},
                                                  {QStringLiteral("OUTPUT"), two ? work : out}})};
    if (two)
      steps << Step{ffmpeg, substituted(directTwo, {{tracedInput(warmCtx.workFile), tracedInput(work)},
                                                    {QStringLiteral("OUTPUT"), out}})};
    return steps;
  };

  const auto record = [&r](const BatchTimes& t, QList<double>* stages, QList<double>* road) {
    stages[0] << t.stage[0];
    stages[1] << t.stage[1];
    *road << t.stage[0] + t.stage[1];
    r.runs += t.runs;
    r.failures += t.failures;
    if (t.failures) r.failure = t.failure;
  };
  // The two sides alternate, and which one goes first alternates too.
  for (int round = 0; round < rounds; ++round) {
    for (int side = 0; side < 2; ++side) {
      if ((side + round) % 2 == 0)
        record(runBatch(toolRoad, clips, base + QStringLiteral("-tool")), r.tool, &r.toolRoad);
      else
        record(runBatch(ffmpegRoad, clips, base + QStringLiteral("-ffmpeg")), r.ffmpeg, &r.ffmpegRoad);
    }
  }
  return r;
}

int benchShort(const QTemporaryDir& dir, const QProcessEnvironment& traced, const QList<int>& positions) {
  const int count = envInt("BENCH_SHORT_COUNT", 100);
  const int seconds = envInt("BENCH_SHORT_SECONDS", 1);
  const int rounds = envInt("BENCH_SHORT_ROUNDS", 3);
  QDir().mkpath(dir.filePath(QStringLiteral("short")));
  QStringList clips;
  for (int i = 0; i < count; ++i) {
    clips << dir.filePath(QStringLiteral("short/clip%1.mp4").arg(i, 3, 10, QLatin1Char('0')));
    if (!makeClip(clips.last(), seconds, QStringLiteral("640x480"), 44100)) return 1;
  }
  std::printf("\nshort-file batch: %d clips of %d s 640x480, one after the other, %d rounds, medians of the batch\n",
              count, seconds, rounds);
  std::printf("%-10s %9s %9s %7s   %-21s %-21s\n", "position", "tool s", "ffmpeg s", "ratio",
              "stage 1 tool/ffmpeg", "stage 2 tool/ffmpeg");
  double worst = 0;
  int failed = 0;
  for (const int position : positions) {
    const char* name = Formats::format(position)->name;
    const ShortResult r = benchShortPosition(position, clips, dir.filePath(QStringLiteral("batch")), traced, rounds);
    if (r.failures) {
      ++failed;
      std::printf("%-10s failed (%d of %d runs): %s\n", name, r.failures, qMax(r.runs, r.failures),
                  r.failure.constData());
      std::fflush(stdout);
      continue;
    }
    const double t = median(r.toolRoad), f = median(r.ffmpegRoad);
    const double ratio = f > 0 ? t / f : 0.0;
    worst = std::max(worst, ratio);
    std::printf("%-10s %9.3f %9.3f %7.3f", name, t, f, ratio);
    if (Formats::format(position)->stageCount == 2)
      std::printf("   %9.3f/%-9.3f   %9.3f/%-9.3f", median(r.tool[0]), median(r.ffmpeg[0]), median(r.tool[1]),
                  median(r.ffmpeg[1]));
    std::printf("\n");
    std::fflush(stdout);
  }
  std::printf("largest ratio: %.3f; positions failed: %d (goal: <= 1.15 per position)\n", worst, failed);
  return failed ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QString only = qEnvironmentVariable("BENCH_ONLY").trimmed().toLower();
  if (!only.isEmpty() && only != QLatin1String("short") && only != QLatin1String("long")) {
    std::fprintf(stderr, "BENCH_ONLY: \"short\" or \"long\"\n");
    return 2;
  }
  const std::optional<QList<int>> positions = selectedPositions();
  if (!positions) return 2;
  QTemporaryDir dir;
#ifdef Q_OS_UNIX
  // BENCH_AMR_CODED=0 leaves ffmpeg's side of the AMR road without the AMR
  // coding, as the figures were first taken.
  if (qEnvironmentVariable("BENCH_AMR_CODED") != QLatin1String("0")) {
    const QString pipe = dir.filePath(QStringLiteral("pcm.fifo"));
    if (::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0) amrPipe() = pipe;
  }
#endif
  std::printf("AMR road: ffmpeg's decoded sound is %s\n",
              amrPipe().isEmpty() ? "dropped (no AMR coding on ffmpeg's side)"
                                  : "coded by amr_sink with the encoders' own AMR coder");
  QProcessEnvironment traced = QProcessEnvironment::systemEnvironment();
  traced.insert(QStringLiteral("VANTREL_TOOL_TRACE"), QStringLiteral("1"));
  int rc = 0;
  if (only != QLatin1String("short")) {
    const QString clip = dir.filePath(QStringLiteral("clip.mp4"));
    if (!makeClip(clip, envInt("BENCH_SECONDS", 30), QStringLiteral("640x480"), 44100)) return 1;
    benchLong(dir, clip, traced, *positions);
    rc = benchChecks(dir, QStringLiteral(VANTREL_DATA_DIR), traced, *positions);
  }
  if (only != QLatin1String("long")) rc = std::max(rc, benchShort(dir, traced, *positions));
  return rc;
}
