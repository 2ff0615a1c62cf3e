// Wall time of each encoder against running ffmpeg directly with the same
// options, side by side in one run. The options come from the tool itself
// (VANTREL_TOOL_TRACE), so both sides do the same coding. Goal: ratio <= 1.03.
// Then the cost of reading each finished file back before it gets its name,
// as the tool itself times it within the same run, against the whole run of
// a 60 s 720p conversion. Goal: under 2 %.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTime>
#include <algorithm>
#include <cstdio>

#include "engine/commandline.h"
#include "settings/core/formats.h"

namespace {

double runTimed(const QString& program, const QStringList& args, bool* ok = nullptr,
                QByteArray* output = nullptr, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment()) {
  QProcess p;
  p.setProcessEnvironment(env);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.setStandardInputFile(QProcess::nullDevice());
  QElapsedTimer t;
  t.start();
  p.start(program, args);
  QByteArray out;
  while (!p.waitForFinished(50)) {
    out += p.readAll();
    if (p.state() == QProcess::NotRunning) break;
  }
  out += p.readAll();
  const double s = static_cast<double>(t.nsecsElapsed()) / 1e9;
  if (ok) *ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
  if (output) *output = out;
  return s;
}

double median(QList<double> v) {
  std::sort(v.begin(), v.end());
  return v.isEmpty() ? 0 : v[v.size() / 2];
}

// FFmpeg's arguments as the tool traced them, with `output` for the target.
// The AMR road is two processes in the tool; directly, one ffmpeg encodes the
// video and decodes the sound to 8000 Hz mono PCM (only the AMR coding itself
// has no FFmpeg counterpart).
QStringList directArgs(const QByteArray& trace, const QString& output) {
  QStringList mux, pcm;
  for (const QByteArray& line : trace.split('\n')) {
    const qsizetype at = line.indexOf("trace ffmpeg: ");
    const qsizetype pat = line.indexOf("trace pcm: ");
    if (at >= 0) mux = QString::fromUtf8(line.mid(at + 14)).split(QChar(0x1f));
    if (pat >= 0) pcm = QString::fromUtf8(line.mid(pat + 11)).split(QChar(0x1f));
  }
  for (QString& a : mux)
    if (a == QLatin1String("OUTPUT")) a = output;
  if (pcm.isEmpty()) return mux;
  const qsizetype amr = mux.indexOf(QStringLiteral("amr"));
  mux.remove(amr - 1, 4);  // -f amr -i pipe:0
  const qsizetype copy = mux.indexOf(QStringLiteral("1:a:0"));
  mux.remove(copy - 1, 4);  // -map 1:a:0 -c:a copy
  mux << QStringLiteral("-map") << QStringLiteral("0:a:0") << QStringLiteral("-ac") << QStringLiteral("1")
      << QStringLiteral("-ar") << QStringLiteral("8000") << QStringLiteral("-f") << QStringLiteral("s16le")
      << QStringLiteral("-y") << QProcess::nullDevice();
  return mux;
}

// The check of the finished file (flush to disk, read every packet back,
// compare with the plan) as the tool reports it, against the wall time of
// the same run.
int benchChecks(const QTemporaryDir& dir, const QString& appFolder, const QProcessEnvironment& traced) {
  const int seconds = qEnvironmentVariableIntValue("BENCH_CHECK_SECONDS") > 0
                          ? qEnvironmentVariableIntValue("BENCH_CHECK_SECONDS") : 60;
  const QString clip = dir.filePath(QStringLiteral("hd.mp4"));
  bool ok = false;
  runTimed(QStringLiteral("ffmpeg"),
           {"-nostdin", "-v", "error", "-f", "lavfi", "-i", QStringLiteral("testsrc2=size=1280x720:rate=25:duration=%1").arg(seconds),
            "-f", "lavfi", "-i", QStringLiteral("sine=duration=%1:sample_rate=48000").arg(seconds), "-ac", "2", "-c:v",
            "libx264", "-preset", "veryfast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", "-y", clip},
           &ok);
  if (!ok) {
    std::fprintf(stderr, "could not make the 720p clip with ffmpeg\n");
    return 1;
  }
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
  for (const Case& c : cases) {
    const Formats::Preset preset = *Formats::presetFor(c.position);
    const PanelValues v{c.position, preset.videoBitrate.value_or("1200"), preset.frameRate.value_or("29"),
                        preset.size.value_or(Formats::kOriginalSize), preset.sampleRate, preset.audioBitrate,
                        preset.channel};
    const QString out = dir.filePath(QStringLiteral("hdout"));
    QDir(out).removeRecursively();
    QDir().mkpath(out);
    const QString target = CommandLines::outputFileName(out, clip, QTime(1, 2, 3), CommandLines::outputExtension(c.position));
    const bool second = Formats::isTwoStage(c.position);
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

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rounds = qMax(1, qEnvironmentVariableIntValue("BENCH_ROUNDS") ? qEnvironmentVariableIntValue("BENCH_ROUNDS") : 3);
  const int seconds = qEnvironmentVariableIntValue("BENCH_SECONDS") > 0 ? qEnvironmentVariableIntValue("BENCH_SECONDS") : 30;
  QTemporaryDir dir;
  const QString clip = dir.filePath(QStringLiteral("clip.mp4"));
  bool ok = false;
  runTimed(QStringLiteral("ffmpeg"),
           {"-nostdin", "-v", "error", "-f", "lavfi", "-i", QStringLiteral("testsrc2=size=640x480:rate=25:duration=%1").arg(seconds),
            "-f", "lavfi", "-i", QStringLiteral("sine=duration=%1:sample_rate=44100").arg(seconds), "-ac", "2", "-c:v", "libx264", "-preset", "veryfast", "-pix_fmt",
            "yuv420p", "-c:a", "aac", "-shortest", "-y", clip},
           &ok);
  if (!ok) {
    std::fprintf(stderr, "could not make the test clip with ffmpeg\n");
    return 1;
  }
  const BuildContext ctx{QStringLiteral(VANTREL_DATA_DIR), dir.filePath(QStringLiteral("tmp.mp4"))};
  QProcessEnvironment traced = QProcessEnvironment::systemEnvironment();
  traced.insert(QStringLiteral("VANTREL_TOOL_TRACE"), QStringLiteral("1"));

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
  std::printf("%-26s %9s %9s %7s\n", "tool / format", "tool s", "ffmpeg s", "ratio");
  for (const Case& c : cases) {
    const Formats::Preset preset = *Formats::presetFor(c.position);
    PanelValues v{c.position, preset.videoBitrate.value_or("1200"), preset.frameRate.value_or("29"),
                  c.size.isEmpty() ? preset.size.value_or(Formats::kOriginalSize) : c.size, preset.sampleRate,
                  preset.audioBitrate, preset.channel};
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
    QList<double> tool, ffmpeg;
    for (int i = 0; i < rounds; ++i) {
      tool << runTimed(cmd.program, cmd.args, &ok);
      ffmpeg << runTimed(QStringLiteral("ffmpeg"), direct, &ok);
    }
    const double t = median(tool), f = median(ffmpeg);
    std::printf("%-26s %9.3f %9.3f %7.3f\n", c.name, t, f, f > 0 ? t / f : 0.0);
    std::fflush(stdout);
  }
  return benchChecks(dir, QStringLiteral(VANTREL_DATA_DIR), traced);
}
