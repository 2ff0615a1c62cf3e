// Time per file of a batch over instantly exiting tools, against starting the
// same tool the same number of times in a plain loop (measured in one run).
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

#include "engine/batchdriver.h"
#include "filelist/filequeue.h"
#include "settings/core/appdirs.h"

namespace {
class Host : public BatchHost {
 public:
  FileQueue files;
  QString folder;
  FileQueue& queue() override { return files; }
  BatchJob batchJob() const override {
    return {{8, "600", "25", "原始大小", "44100", "128", 1}, AppDirs::toolFolder(), AppDirs::dataFolder(),
            AppDirs::workFolder(), AppDirs::defaultOutputFolder(), 1, false};
  }
  QString outputFolderText() const override { return folder; }
  void setOutputFolderText(const QString& t) override { folder = t; }
  void setBatchLock(bool) override {}
  void warnEmptyList() override {}
  bool confirmStop() override { return false; }
  void batchFinished(const BatchSummary&) override {}
};
class Quiet : public Shell {
 public:
  void openFolder(const QString&) override {}
  void playSound(const QString&, std::function<void()> done) override { done(); }
};
}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int files = argc > 1 ? QString(argv[1]).toInt() : 200;
  QTemporaryDir root;
  QDir().mkpath(root.filePath("data"));
  const QString tool = root.filePath("data/coder");
  {
    QFile f(tool);
    f.open(QIODevice::WriteOnly);
    f.write("#!/bin/sh\nexit 0\n");
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  AppDirs::setProgramFolder(root.path());
  qputenv("XDG_CACHE_HOME", root.filePath("cache").toUtf8());

  // Plain loop: start the tool and wait for it, nothing else.
  QElapsedTimer t;
  t.start();
  for (int i = 0; i < files; ++i) {
    QProcess p;
    p.start(tool, {});
    p.waitForFinished();
  }
  const double plainMs = static_cast<double>(t.nsecsElapsed()) / 1e6 / files;

  Host host;
  host.folder = root.filePath("out");
  QStringList sources;
  for (int i = 0; i < files; ++i) sources << root.filePath(QStringLiteral("clip%1.wav").arg(i));
  host.files.appendFiles(sources);
  Quiet shell;
  BatchDriver driver(host, shell);
  QObject::connect(&driver, &BatchDriver::batchEnded, &app, &QCoreApplication::quit);
  t.restart();
  driver.start();
  app.exec();
  const double batchMs = (static_cast<double>(t.nsecsElapsed()) / 1e6 - 100 /* the deferred start */) / files;

  std::printf("files: %d (queue left: %d)\n", files, host.files.count());
  std::printf("batch driver: %.2f ms per file (goal: under 5 ms)\n", batchMs);
  std::printf("plain start-and-wait loop: %.2f ms per file\n", plainMs);
  std::printf("driver / plain loop: %.2f\n", batchMs / plainMs);
  return host.files.count() == 0 ? 0 : 1;
}
