// vantrel-cli with one and with two files at once: a batch of 8 clips to MP3
// and to 3GP, each measured with -j 1 and -j 2 side by side in one run (the
// better of two rounds each), and the ratio of the times.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <cstdio>

namespace {
const QString kCli = QStringLiteral(VANTREL_DATA_DIR "/../vantrel-cli");

double runBatch(const QString& format, int jobs, const QStringList& clips, const QString& out) {
  QDir(out).removeRecursively();
  QElapsedTimer t;
  t.start();
  const int rc = QProcess::execute(kCli, QStringList{"-q", "-j", QString::number(jobs), "-f", format, "-o", out} + clips);
  const double seconds = static_cast<double>(t.nsecsElapsed()) / 1e9;
  if (rc != 0 || QDir(out).entryList(QDir::Files).size() != clips.size()) {
    std::fprintf(stderr, "batch %s -j %d failed (exit %d)\n", qPrintable(format), jobs, rc);
    std::exit(1);
  }
  return seconds;
}
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int seconds = argc > 1 ? QString(argv[1]).toInt() : 8;
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
  std::printf("8 clips of %d s, 640x360, on %d cores\n", seconds, QThread::idealThreadCount());
  std::printf("%-6s %10s %10s %8s\n", "format", "-j 1 (s)", "-j 2 (s)", "j1/j2");
  for (const QString format : {"mp3", "3gp"}) {
    double one = 1e9, two = 1e9;
    for (int round = 0; round < 2; ++round) {
      one = std::min(one, runBatch(format, 1, clips, dir.filePath("out1")));
      two = std::min(two, runBatch(format, 2, clips, dir.filePath("out2")));
    }
    std::printf("%-6s %10.2f %10.2f %8.2f\n", qPrintable(format), one, two, one / two);
  }
  return 0;
}
