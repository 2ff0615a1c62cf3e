// Add folder on a large tree: how long the real window takes to list every
// file, against `find` on the same tree, and the longest time its event loop
// went without turning while the list filled.
//
//   bench_folderscan [files-per-folder [tree-folder]]
//
// The default of 50 files per folder makes 100,000 files in 2,000 folders.
// The tree is made in a temporary folder and removed at the end; given a
// tree-folder, it is made there (unless an earlier run left it there) and
// kept, for profiling. Both sides run on a warm cache, interleaved, the one
// that goes first alternating from run to run; the figures are medians of 5.
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <vector>

#if defined(Q_OS_UNIX)
#include <time.h>
#endif

#include "filelist/filesearch.h"
#include "ui/desktop.h"
#include "ui/dialogbackend.h"
#include "ui/frmmain.h"

namespace {

// CPU time the calling thread has used, in ms (0 where not known): a stall
// measured by the clock also counts the time other programs on a busy
// machine held the core, this only what the window's own thread did.
double threadCpuMs() {
#if defined(Q_OS_UNIX)
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
#else
  return 0;
#endif
}

constexpr int kTopFolders = 40;
constexpr int kSubFolders = 49;  // 40 + 40 * 49 = 2,000 folders

class PickFolder : public DialogBackend {
 public:
  QString folder;
  std::optional<QString> openFile(QWidget*, const QString&, const QString&, const QString&,
                                  const QString&) override {
    return std::nullopt;
  }
  std::optional<QString> existingFolder(QWidget*, const QString&, const QString&) override {
    return folder;
  }
};

class QuietShell : public DesktopShell {
 public:
  void openFolder(const QString&) override {}
  void openUrl(const QUrl&) override {}
  void playSound(const QString&, std::function<void()> done) override { done(); }
};

// Counts the repaints of one widget.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

bool makeTree(const QString& root, int filesPerFolder, int& files) {
  files = 0;
  // A tree kept from an earlier run with the same size is used again.
  const QString marker =
      QStringLiteral("%1/tree-%2-files-per-folder").arg(QFileInfo(root).path()).arg(filesPerFolder);
  if (QFile::exists(marker)) {
    files = kTopFolders * (1 + kSubFolders) * filesPerFolder;
    return true;
  }
  const QByteArray data("x");
  auto fill = [&](const QString& folder) {
    for (int f = 0; f < filesPerFolder; ++f) {
      QFile file(QStringLiteral("%1/Clip %2.avi").arg(folder).arg(f, 3, 10, QLatin1Char('0')));
      if (!file.open(QIODevice::WriteOnly)) return false;
      file.write(data);
      ++files;
    }
    return true;
  };
  QDir dir;
  for (int t = 0; t < kTopFolders; ++t) {
    const QString top = QStringLiteral("%1/Folder %2").arg(root).arg(t, 2, 10, QLatin1Char('0'));
    if (!dir.mkpath(top) || !fill(top)) return false;
    for (int s = 0; s < kSubFolders; ++s) {
      const QString sub = QStringLiteral("%1/sub%2").arg(top).arg(s, 2, 10, QLatin1Char('0'));
      if (!dir.mkpath(sub) || !fill(sub)) return false;
    }
  }
  QFile done(marker);
  return done.open(QIODevice::WriteOnly);
}

double findMs(const QString& root) {
  QProcess find;
  find.setStandardOutputFile(QProcess::nullDevice());
  QElapsedTimer t;
  t.start();
  find.start(QStringLiteral("find"), {root});
  if (!find.waitForFinished(120000) || find.exitCode() != 0) return -1;
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

double walkMs(const QString& root, qsizetype& count) {
  QElapsedTimer t;
  t.start();
  QStringList list;
  SearchFolder(root, list);
  count = list.size();
  return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

struct WindowRun {
  double ms = 0;
  double stallMs = 0;
  double stallCpuMs = 0;  // the window thread's own CPU time in its longest stall
  double cpuMs = 0;       // the window thread's CPU time for the whole scan
  int paints = 0;
  int rows = 0;
};

WindowRun scanInWindow(const QString& root) {
  PickFolder dialogs;
  dialogs.folder = root;
  QuietShell shell;
  frmMain window(frmMain::Services{&dialogs, &shell});
  window.show();
  PaintCounter counter;
  window.findChild<QTreeView*>("LV")->viewport()->installEventFilter(&counter);
  for (int i = 0; i < 5; ++i) QApplication::processEvents();

  // A timer that fires every 2 ms: the longest gap between two of its ticks
  // is the longest the event loop was held up.
  WindowRun run;
  QElapsedTimer clock;
  qint64 lastTick = 0;
  double lastCpu = threadCpuMs();
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(2);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    const double cpu = threadCpuMs();
    run.stallMs = std::max(run.stallMs, static_cast<double>(now - lastTick) / 1e6);
    run.stallCpuMs = std::max(run.stallCpuMs, cpu - lastCpu);
    lastTick = now;
    lastCpu = cpu;
  });

  QEventLoop loop;
  QObject::connect(&window, &frmMain::folderScanFinished, &loop, &QEventLoop::quit);
  const int paintsBefore = counter.paints;
  const double cpuBefore = threadCpuMs();
  lastCpu = cpuBefore;
  clock.start();
  ticker.start();
  window.AddFolder();
  if (window.folderScanRunning()) loop.exec();
  run.ms = static_cast<double>(clock.nsecsElapsed()) / 1e6;
  // The gap up to the end counts too.
  run.stallMs = std::max(run.stallMs, static_cast<double>(clock.nsecsElapsed() - lastTick) / 1e6);
  run.stallCpuMs = std::max(run.stallCpuMs, threadCpuMs() - lastCpu);
  run.cpuMs = threadCpuMs() - cpuBefore;
  ticker.stop();
  run.paints = counter.paints - paintsBefore;
  run.rows = window.lstFile.count();
  window.findChild<QTreeView*>("LV")->viewport()->removeEventFilter(&counter);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int perFolder = argc > 1 ? std::max(1, atoi(argv[1])) : 50;

  QTemporaryDir tmp;
  if (argc <= 2 && !tmp.isValid()) {
    std::fprintf(stderr, "no temporary folder\n");
    return 1;
  }
  const QString base = argc > 2 ? QDir(QString::fromLocal8Bit(argv[2])).absolutePath() : tmp.path();
  const QString root = QDir::toNativeSeparators(base + QStringLiteral("/tree"));
  int files = 0;
  QElapsedTimer made;
  made.start();
  if (!makeTree(root, perFolder, files)) {
    std::fprintf(stderr, "could not make the tree in %s\n", qPrintable(root));
    return 1;
  }
  std::printf("tree: %d files in %d folders (made in %.0f ms)\n", files,
              kTopFolders * (1 + kSubFolders), static_cast<double>(made.nsecsElapsed()) / 1e6);

  // Warm the caches for both sides first.
  qsizetype walked = 0;
  findMs(root);
  walkMs(root, walked);
  scanInWindow(root);

  // Interleaved, each side going first in every other run, so that a change
  // in the machine's load falls on both alike.
  constexpr int kRuns = 5;
  std::vector<double> finds, walks, ratios;
  std::vector<WindowRun> runs;
  for (int i = 0; i < kRuns; ++i) {
    if (i % 2 == 0) finds.push_back(findMs(root));
    runs.push_back(scanInWindow(root));
    if (i % 2 == 1) finds.push_back(findMs(root));
    walks.push_back(walkMs(root, walked));
    ratios.push_back(runs.back().ms / finds.back());
  }

  for (int i = 0; i < kRuns; ++i)
    std::printf("run %d: find %.1f ms | Add folder %.1f ms (%.2f x), %d rows, longest stall %.1f ms "
                "(%.1f ms its own CPU), window thread CPU %.1f ms, %d repaints of the list | "
                "walk alone %.1f ms\n",
                i + 1, finds[i], runs[i].ms, ratios[i], runs[i].rows, runs[i].stallMs,
                runs[i].stallCpuMs, runs[i].cpuMs, runs[i].paints, walks[i]);

  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  std::vector<double> times;
  double worstStall = 0, worstStallCpu = 0;
  int fewestPaints = runs.front().paints;
  for (const WindowRun& r : runs) {
    times.push_back(r.ms);
    worstStall = std::max(worstStall, r.stallMs);
    worstStallCpu = std::max(worstStallCpu, r.stallCpuMs);
    fewestPaints = std::min(fewestPaints, r.paints);
  }
  const double findMedian = median(finds);
  const double scanMedian = median(times);
  const double ratio = scanMedian / findMedian;

  std::printf("walk alone (median): %.1f ms = %.2f x find, %lld files\n", median(walks),
              median(walks) / findMedian, static_cast<long long>(walked));
  std::printf("median of %d: Add folder %.1f ms vs find %.1f ms = %.2f x (goal <= 1.5) %s; "
              "median of the runs' own ratios %.2f x\n",
              kRuns, scanMedian, findMedian, ratio, ratio <= 1.5 ? "ok" : "MISSED", median(ratios));
  std::printf("longest stall of the event loop: %.1f ms (goal < 50) %s; of it the window "
              "thread's own CPU time at most %.1f ms\n",
              worstStall, worstStall < 50 ? "ok" : "MISSED", worstStallCpu);
  std::printf("repaints of the list while it filled: at least %d per run %s\n", fewestPaints,
              fewestPaints >= 2 ? "ok" : "MISSED");

  bool complete = walked == files;
  for (const WindowRun& r : runs) complete = complete && r.rows == files;
  if (!complete) std::printf("ERROR: the scan did not list every file\n");
  return complete ? 0 : 1;
}
