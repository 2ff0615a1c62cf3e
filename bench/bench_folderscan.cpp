// Add folder on a large tree: how long the real window takes to list every
// file, against `find` on the same tree, and the longest time its event loop
// went without turning while the list filled.
//
//   bench_folderscan [files-per-folder]   (default 50: 100,000 files in 2,000 folders)
//
// The tree is made in a temporary folder and removed at the end. Runs on the
// offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "filelist/filesearch.h"
#include "ui/desktop.h"
#include "ui/dialogbackend.h"
#include "ui/frmmain.h"

namespace {

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
  return true;
}

double findMs(const QString& root) {
  QProcess find;
  find.setStandardOutputFile(QProcess::nullDevice());
  QElapsedTimer t;
  t.start();
  find.start(QStringLiteral("find"), {root});
  if (!find.waitForFinished(120000) || find.exitCode() != 0) return -1;
  return t.nsecsElapsed() / 1e6;
}

double walkMs(const QString& root, qsizetype& count) {
  QElapsedTimer t;
  t.start();
  QStringList list;
  SearchFolder(root, list);
  count = list.size();
  return t.nsecsElapsed() / 1e6;
}

struct WindowRun {
  double ms = 0;
  double stallMs = 0;
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
  window.LV->viewport()->installEventFilter(&counter);
  for (int i = 0; i < 5; ++i) QApplication::processEvents();

  // A timer that fires every 2 ms: the longest gap between two of its ticks
  // is the longest the event loop was held up.
  WindowRun run;
  QElapsedTimer clock;
  qint64 lastTick = 0;
  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(2);
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    const qint64 now = clock.nsecsElapsed();
    run.stallMs = std::max(run.stallMs, (now - lastTick) / 1e6);
    lastTick = now;
  });

  QEventLoop loop;
  QObject::connect(&window, &frmMain::folderScanFinished, &loop, &QEventLoop::quit);
  const int paintsBefore = counter.paints;
  clock.start();
  ticker.start();
  window.AddFolder();
  if (window.folderScanRunning()) loop.exec();
  run.ms = clock.nsecsElapsed() / 1e6;
  // The gap up to the end counts too.
  run.stallMs = std::max(run.stallMs, (clock.nsecsElapsed() - lastTick) / 1e6);
  ticker.stop();
  run.paints = counter.paints - paintsBefore;
  run.rows = window.lstFile.count();
  window.LV->viewport()->removeEventFilter(&counter);
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const int perFolder = argc > 1 ? std::max(1, atoi(argv[1])) : 50;

  QTemporaryDir tmp;
  if (!tmp.isValid()) {
    std::fprintf(stderr, "no temporary folder\n");
    return 1;
  }
  const QString root = QDir::toNativeSeparators(tmp.path() + QStringLiteral("/tree"));
  int files = 0;
  QElapsedTimer made;
  made.start();
  if (!makeTree(root, perFolder, files)) {
    std::fprintf(stderr, "could not make the tree in %s\n", qPrintable(root));
    return 1;
  }
  std::printf("tree: %d files in %d folders (made in %.0f ms)\n", files,
              kTopFolders * (1 + kSubFolders), made.nsecsElapsed() / 1e6);

  // Warm the caches for both sides first.
  qsizetype walked = 0;
  findMs(root);
  walkMs(root, walked);

  constexpr int kRuns = 3;
  std::vector<double> finds;
  std::vector<WindowRun> runs;
  for (int i = 0; i < kRuns; ++i) {
    finds.push_back(findMs(root));
    runs.push_back(scanInWindow(root));
  }
  double walkBest = 1e9;
  for (int i = 0; i < kRuns; ++i) walkBest = std::min(walkBest, walkMs(root, walked));

  for (int i = 0; i < kRuns; ++i)
    std::printf("run %d: find %.1f ms | Add folder %.1f ms, %d rows, longest stall %.1f ms, "
                "%d repaints of the list\n",
                i + 1, finds[i], runs[i].ms, runs[i].rows, runs[i].stallMs, runs[i].paints);

  std::sort(finds.begin(), finds.end());
  std::vector<WindowRun> byTime = runs;
  std::sort(byTime.begin(), byTime.end(),
            [](const WindowRun& a, const WindowRun& b) { return a.ms < b.ms; });
  const WindowRun& median = byTime[kRuns / 2];
  double worstStall = 0;
  for (const WindowRun& r : runs) worstStall = std::max(worstStall, r.stallMs);
  const double findMedian = finds[kRuns / 2];
  const double ratio = median.ms / findMedian;

  std::printf("walk alone (best): %.1f ms, %lld files\n", walkBest, static_cast<long long>(walked));
  std::printf("median: Add folder %.1f ms vs find %.1f ms = %.2f x (goal <= 1.5) %s\n", median.ms,
              findMedian, ratio, ratio <= 1.5 ? "ok" : "MISSED");
  std::printf("longest stall of the event loop: %.1f ms (goal < 50) %s\n", worstStall,
              worstStall < 50 ? "ok" : "MISSED");

  bool complete = walked == files;
  for (const WindowRun& r : runs) complete = complete && r.rows == files;
  if (!complete) std::printf("ERROR: the scan did not list every file\n");
  return complete ? 0 : 1;
}
