// What the whole road costs over the encoders alone: 8 clips to MP3 and to
// 3GP, vantrel-cli -j 1 against the same encoder command lines run one after
// another by xargs -P 1, and -j 2 against xargs -P 2, each pair side by side in
// every round (medians of the rounds). The 3GP road runs its two tools per file
// on both sides. Arguments: seconds of each clip (10), rounds (5).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "cli/cliargs.h"
#include "engine/commandline.h"
#include "settings/core/formats.h"

namespace {
const QString kCli = QStringLiteral(VANTREL_DATA_DIR "/../vantrel-cli");

[[noreturn]] void fail(const QString& what) {
  std::fprintf(stderr, "bench_cli: %s\n", qPrintable(what));
  std::exit(1);
}

double timed(const QString& program, const QStringList& args, const QString& out, int files,
             const QString& input = {}) {
  QDir(out).removeRecursively();
  QDir().mkpath(out);
  QProcess p;
  p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  p.setStandardOutputFile(QProcess::nullDevice());
  if (!input.isEmpty()) p.setStandardInputFile(input);
  QElapsedTimer t;
  t.start();
  p.start(program, args);
  if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    fail(program + QStringLiteral(" failed (exit %1)").arg(p.exitCode()));
  const double seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
  const qsizetype made = QDir(out).entryList(QDir::Files).size();
  if (made != files) fail(QStringLiteral("%1 wrote %2 of %3 files").arg(program).arg(made).arg(files));
  return seconds;
}

QString shellQuoted(const QString& arg) {
  QString q = arg;
  q.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
  return QLatin1Char('\'') + q + QLatin1Char('\'');
}

QString shellLine(const ToolCommand& c) {
  QStringList words{shellQuoted(c.program)};
  for (const QString& a : c.args) words << shellQuoted(a);
  return words.join(QLatin1Char(' '));
}

// One shell script a clip with the encoder command lines the CLI would run
// for it (each with its own work file, as each lane has), and the list of
// scripts xargs reads.
QString writeScripts(const QString& format, const QStringList& clips, const QString& dir,
                     const QString& out) {
  QString error;
  const auto request = parseCliArguments({kCli, QStringLiteral("-f"), format, clips.first()}, error);
  if (!request) fail(error);
  const Formats::Format& f = *Formats::format(request->panel.format);
  const QString list = QDir(dir).filePath(format + QStringLiteral("-scripts.txt"));
  QFile listFile(list);
  if (!listFile.open(QIODevice::WriteOnly)) fail(list);
  for (int i = 0; i < clips.size(); ++i) {
    const BuildContext ctx{QStringLiteral(VANTREL_DATA_DIR),
                           QDir(dir).filePath(QStringLiteral("work-%1-%2.mp4").arg(format).arg(i))};
    const QString output =
        QDir(out).filePath(QStringLiteral("clip%1.%2").arg(i).arg(QString::fromLatin1(f.extension)));
    QStringList lines{shellLine(CommandLines::stageOne(request->panel, clips[i], output, ctx)) +
                      QStringLiteral(" >/dev/null 2>&1 || exit 1")};
    if (f.stageCount > 1)
      lines << shellLine(CommandLines::stageTwo(request->panel, output, ctx)) +
                   QStringLiteral(" >/dev/null 2>&1 || exit 1");
    const QString script = QDir(dir).filePath(QStringLiteral("%1-%2.sh").arg(format).arg(i));
    QFile s(script);
    if (!s.open(QIODevice::WriteOnly)) fail(script);
    s.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
    listFile.write((script + QLatin1Char('\n')).toUtf8());
  }
  return list;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int seconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10;
  const int rounds = std::max(1, argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 5);
  QTemporaryDir dir;
  QStringList clips;
  for (int i = 0; i < 8; ++i) {
    const QString clip = dir.filePath(QStringLiteral("clip%1.mp4").arg(i));
    const QString d = QString::number(seconds);
    QProcess::execute("ffmpeg", {"-v", "error", "-f", "lavfi", "-i", "testsrc=size=640x360:rate=25:duration=" + d,
                                 "-f", "lavfi", "-i", "sine=frequency=440:duration=" + d, "-c:v", "libx264",
                                 "-preset", "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-shortest", "-y", clip});
    clips << clip;
  }
  const int files = int(clips.size());
  std::printf("8 clips of %d s, 640x360, on %d cores, medians of %d rounds\n", seconds,
              QThread::idealThreadCount(), rounds);
  std::printf("%-6s %4s %12s %12s %7s %12s\n", "format", "jobs", "vantrel (s)", "xargs (s)",
              "ratio", "ms a file");
  for (const QString format : {"mp3", "3gp"}) {
    const QString out = dir.filePath(QStringLiteral("out"));
    const QString scripts = writeScripts(format, clips, dir.path(), out);
    for (const int jobs : {1, 2}) {
      std::vector<double> cli, alone;
      for (int round = 0; round < rounds; ++round) {
        // Which side goes first alternates, so neither has the warmer cache.
        const auto runCli = [&] {
          cli.push_back(timed(kCli, QStringList{"-q", "-j", QString::number(jobs), "-f", format, "-o", out} + clips,
                              out, files));
        };
        const auto runAlone = [&] {
          alone.push_back(timed(QStringLiteral("xargs"),
                                {"-P", QString::number(jobs), "-n", "1", "sh"}, out, files, scripts));
        };
        if (round % 2) {
          runAlone();
          runCli();
        } else {
          runCli();
          runAlone();
        }
      }
      const double c = median(cli), a = median(alone);
      std::printf("%-6s %4d %12.3f %12.3f %7.3f %12.1f\n", qPrintable(format), jobs, c, a, c / a,
                  (c - a) * 1000.0 * jobs / files);
      std::fflush(stdout);
    }
  }
  return 0;
}
