// vantrel-cli as scripts use it: its options, its exit status, its output
// files (made by the real encoders from tiny clips) and its stop on a signal.
#include <QJsonArray>
#include <QStandardPaths>
#include <signal.h>
#include <unistd.h>

#include "cli_support.h"
#include "filelist/filesearch.h"

namespace {
// True while some process holds a file open in `folder`. The encoders write
// an unnamed file there until it is complete, so nothing shows in a listing.
bool writingInto(const QString& folder) {
  const QString prefix = QDir(folder).absolutePath() + QLatin1Char('/');
  const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  for (const QString& pid : pids) {
    bool ok = false;
    pid.toInt(&ok);
    if (!ok) continue;
    const QString fdDir = QStringLiteral("/proc/%1/fd").arg(pid);
    const QStringList fds = QDir(fdDir).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& fd : fds) {
      char target[4096];
      const ssize_t n = ::readlink(QFile::encodeName(fdDir + QLatin1Char('/') + fd).constData(), target,
                                   sizeof target - 1);
      if (n > 0 && QString::fromUtf8(target, int(n)).startsWith(prefix)) return true;
    }
  }
  return false;
}
}  // namespace

class TestCli : public QObject {
  Q_OBJECT
  QTemporaryDir dir_;
  QString clip_, cache_;
  QString path(const QString& name) const { return dir_.filePath(name); }

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(QFileInfo(cliProgram()).isExecutable());
    cache_ = path("cache");
    clip_ = path("clip.mp4");
    QVERIFY(makeClip(clip_, 1));
  }

  void everyFormatByName_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<bool>("video");
    for (const auto& [n, e, v] : std::initializer_list<std::tuple<const char*, const char*, bool>>{
             {"rmvb", "rmvb", true}, {"rm", "rm", true}, {"mpg", "mpg", true}, {"avi", "avi", true},
             {"mp4", "mp4", true}, {"mov", "mov", true}, {"phone-mp4", "mp4", true}, {"3gp", "3gp", true},
             {"mp3", "mp3", false}})
      QTest::newRow(n) << QString(n) << QString(e) << v;
  }
  void everyFormatByName() {
    QFETCH(QString, name);
    QFETCH(QString, ext);
    QFETCH(bool, video);
    const QString out = path("byname-" + name);
    const CliRun r = runCli({"-q", "-f", name, "-o", out, clip_}, cache_);
    QVERIFY2(r.status == 0, qPrintable(r.err));
    QVERIFY(r.out.isEmpty());  // quiet
    const QStringList files = QDir(out).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(files.size(), 1);
    QVERIFY2(files[0].startsWith("clip-") && files[0].endsWith("." + ext), qPrintable(files[0]));
    QProcess probe;
    probe.start("ffprobe", {"-v", "error", "-show_entries", "stream=codec_type", "-of", "csv=p=0", out + "/" + files[0]});
    QVERIFY(probe.waitForFinished(30000));
    const QString streams = QString::fromUtf8(probe.readAllStandardOutput());
    QCOMPARE(streams.contains("video"), video);
    QVERIFY(streams.contains("audio"));
  }

  // An index names the same format as its name: each index is told which
  // option its format does not use, by name.
  void everyFormatByIndex() {
    const char* names[] = {"rmvb", "rm", "mpg", "avi", "mp4", "mov", "phone-mp4", "3gp", "mp3"};
    const char* unused[] = {"fps", "fps", "sample-rate", "size", "size", "fps", "channels", "video-bitrate", "fps"};
    for (int i = 0; i < 9; ++i) {
      const CliRun r = runCli({"-f", QString::number(i), QStringLiteral("--%1").arg(unused[i]), "2", clip_}, cache_);
      QCOMPARE(r.status, 2);
      QVERIFY2(r.err.contains(QStringLiteral("format %1 does not use --%2").arg(names[i], unused[i])), qPrintable(r.err));
    }
    const CliRun list = runCli({"--list-formats"}, cache_);
    QCOMPARE(list.status, 0);
    for (int i = 0; i < 9; ++i)
      QVERIFY(list.out.contains(QRegularExpression(QStringLiteral("\\b%1\\s+%2\\s").arg(i).arg(names[i]))));
    QVERIFY(list.out.contains(QStringLiteral("3GP(手机3GP格式)")));
  }

  void badOptions_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    const QString c = "@clip";
    QTest::newRow("unknown option") << QStringList{"-f", "mp3", "--bogus", c} << "Unknown option 'bogus'";
    QTest::newRow("no format") << QStringList{c} << "choose an output format with -f";
    QTest::newRow("unknown format") << QStringList{"-f", "flac", c} << "unknown format 'flac'";
    QTest::newRow("index past the end") << QStringList{"-f", "9", c} << "unknown format '9'";
    QTest::newRow("format twice") << QStringList{"-f", "mp3", "-f", "3gp", c} << "--format is given more than once";
    QTest::newRow("option the format ignores") << QStringList{"-f", "mov", "--audio-bitrate", "64", c}
                                               << "format mov does not use --audio-bitrate";
    QTest::newRow("rmvb value without size") << QStringList{"-f", "rmvb", "--sample-rate", "22050", c}
                                             << "format rmvb uses --sample-rate only together with --size";
    QTest::newRow("tiny size") << QStringList{"-f", "3gp", "--size", "10x10", c} << "--size wants WIDTHxHEIGHT";
    QTest::newRow("size words") << QStringList{"-f", "3gp", "--size", "big", c} << "not 'big'";
    QTest::newRow("three channels") << QStringList{"-f", "mp3", "--channels", "3", c} << "--channels wants 1 or 2";
    QTest::newRow("fractional Hz") << QStringList{"-f", "mp3", "--sample-rate", "44.1", c} << "--sample-rate wants whole Hz";
    QTest::newRow("negative bitrate") << QStringList{"-f", "mpg", "--video-bitrate", "-5", c} << "--video-bitrate wants kbit/s";
    QTest::newRow("zero fps") << QStringList{"-f", "avi", "--fps", "0", c} << "--fps wants a frame rate";
    QTest::newRow("value given twice") << QStringList{"-f", "mp3", "--channels", "1", "--channels", "2", c}
                                       << "--channels is given more than once";
    QTest::newRow("no jobs") << QStringList{"-f", "mp3", "-j", "0", c} << "--jobs wants a number from 1 to 64";
    QTest::newRow("jobs word") << QStringList{"-f", "mp3", "--jobs", "many", c} << "not 'many'";
    QTest::newRow("no files") << QStringList{"-f", "mp3"} << "name at least one file or folder";
    QTest::newRow("missing file") << QStringList{"-f", "mp3", "@dir/nothing.mp4"} << "no such file or folder";
    QTest::newRow("output is a file") << QStringList{"-f", "mp3", "-o", c, c} << "--output names a file";
    QTest::newRow("empty folder") << QStringList{"-f", "mp3", "@dir/empty"} << "the folders hold no files";
  }
  void badOptions() {
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    QDir().mkpath(path("empty"));
    for (QString& a : args) a.replace("@clip", clip_).replace("@dir", dir_.path());
    const CliRun r = runCli(args + QStringList{}, cache_);
    QCOMPARE(r.status, 2);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    QVERIFY(r.err.contains("vantrel-cli --help"));
    QVERIFY(r.out.isEmpty());
  }

  // A folder is scanned in the window's order, without following links, and
  // --json tells of every file.
  void folderArgument() {
    const QString src = path("tree");
    QDir().mkpath(src + "/sub/deeper");
    QDir().mkpath(path("elsewhere"));
    for (const QString n : {"tree/b.mp4", "tree/A.mp4", "tree/sub/c.mp4", "tree/sub/deeper/d.mp4", "elsewhere/e.mp4"})
      QVERIFY(QFile::copy(clip_, path(n)));
    QVERIFY(QFile::link(path("elsewhere"), src + "/link"));
    QStringList expected;
    SearchFolder(src, expected);
    QCOMPARE(expected.size(), 4);
    const QString out = path("tree-out");
    const CliRun r = runCli({"--json", "-f", "mp3", "-o", out, src}, cache_);
    QVERIFY2(r.status == 0, qPrintable(r.err));
    const QList<QJsonObject> objects = r.json();
    QCOMPARE(objects.size(), 4);
    QCOMPARE(r.out.count('\n'), 4);  // one object a line, nothing else
    for (int i = 0; i < 4; ++i) {
      const QJsonObject& o = objects[i];
      QCOMPARE(QFileInfo(o["source"].toString()).canonicalFilePath(), QFileInfo(expected[i]).canonicalFilePath());
      QCOMPARE(o["status"].toString(), QStringLiteral("converted"));
      QVERIFY(o["reason"].isNull());
      QVERIFY(QFileInfo(o["output"].toString()).isFile());
      QCOMPARE(QFileInfo(o["output"].toString()).absolutePath(), out);
      QVERIFY(o["seconds"].isDouble() && o["seconds"].toDouble() > 0);
    }
    QCOMPARE(timelessNames(out), (QStringList{"A.mp3", "b.mp3", "c.mp3", "d.mp3"}));
  }

  // Two files at once give the same files as one at a time, each from its
  // own source.
  void twoJobsGiveTheSameFiles() {
    QStringList sources;
    for (const QString n : {"j1", "j2", "j3", "j4"}) {
      QDir().mkpath(path(n));
      QVERIFY(makeClip(path(n + "/same.mp4"), 1 + int(sources.size() % 2)));
      sources << path(n + "/same.mp4");
    }
    QMap<QString, QStringList> names;
    QMap<QString, QList<double>> lengths;
    for (const QString jobs : {"1", "2"}) {
      const QString out = path("jobs" + jobs);
      const CliRun r = runCli(QStringList{"--json", "-j", jobs, "-f", "3gp", "-o", out} + sources, cache_);
      QVERIFY2(r.status == 0, qPrintable(r.err));
      names[jobs] = timelessNames(out);
      QMap<QString, double> bySource;
      for (const QJsonObject& o : r.json()) {
        QProcess probe;
        probe.start("ffprobe", {"-v", "error", "-show_entries", "format=duration", "-of", "csv=p=0", o["output"].toString()});
        QVERIFY(probe.waitForFinished(30000));
        bySource[o["source"].toString()] = probe.readAllStandardOutput().trimmed().toDouble();
      }
      lengths[jobs] = bySource.values();
    }
    QCOMPARE(names["1"].size(), 4);
    QCOMPARE(names["2"], names["1"]);
    QCOMPARE(lengths["2"].size(), 4);
    for (int i = 0; i < 4; ++i) QVERIFY(qAbs(lengths["2"][i] - lengths["1"][i]) < 0.2);
    QVERIFY(qAbs(lengths["1"][0] - lengths["1"][1]) > 0.5);  // the sources do differ
    QVERIFY(QDir(cache_ + "/Vantrel/work").entryList({"cli-*"}, QDir::Dirs).isEmpty());
  }

  // A signal in the middle of a batch ends the encoders and leaves no
  // partial file, in the output folder or in the work folder.
  void interruptLeavesNoPartialFiles_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("format");
    QTest::newRow("Ctrl-C in stage two") << int(SIGINT) << 130 << "3gp";
    QTest::newRow("kill while writing the output") << int(SIGTERM) << 143 << "mpg";
    QTest::newRow("terminal closed") << int(SIGHUP) << 129 << "mp3";
  }
  void interruptLeavesNoPartialFiles() {
    QFETCH(int, signal);
    QFETCH(int, status);
    QFETCH(QString, format);
    const QString longClip = path("long.mp4");
    if (!QFileInfo::exists(longClip)) QVERIFY(makeClip(longClip, 40, "320x240"));
    const QString out = path("stopped-" + format);
    QProcess p;
    prepareCli(p, cache_);
    p.setArguments({"-f", format, "-o", out, longClip, clip_});
    p.start();
    QVERIFY(p.waitForStarted());
    // Stop once the encoder writes the first output.
    QVERIFY(QTest::qWaitFor([&] { return writingInto(out); }, 60000));
    ::kill(pid_t(p.processId()), signal);
    QVERIFY(p.waitForFinished(10000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), status);
    QVERIFY(QString::fromUtf8(p.readAllStandardError()).contains("stopping"));
    QTest::qWait(300);  // anything still running would write now
    QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden), QStringList());
    QVERIFY(QDir(cache_ + "/Vantrel/work").entryList({"cli-*"}, QDir::Dirs).isEmpty());
  }

  // The README's way to spread a batch over machines, with this machine as
  // the only one (":"): every clip comes back in a folder of its own.
  void gnuParallelSpreadsABatch() {
    if (QStandardPaths::findExecutable("parallel").isEmpty()) QSKIP("GNU parallel is not installed");
    const QString work = path("parallel");
    QDir().mkpath(work);
    for (const QString n : {"one.mp4", "two words.mp4"}) QVERIFY(QFile::copy(clip_, work + "/" + n));
    QProcess p;
    prepareCli(p, cache_);
    p.setWorkingDirectory(work);
    p.setProgram("parallel");
    p.setArguments({"-S", ":", "--trc", "{.}.out", cliProgram(), "-q", "-f", "3gp", "-o", "{.}.out", "{}", ":::",
                    "one.mp4", "two words.mp4"});
    p.start();
    QVERIFY(p.waitForFinished(120000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
    QCOMPARE(timelessNames(work + "/one.out"), QStringList{"one.3gp"});
    QCOMPARE(timelessNames(work + "/two words.out"), QStringList{"two words.3gp"});
  }

  void failedFileGivesExitOne() {
    const QString bad = path("not media.mp4");
    QFile f(bad);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("this is text, not a clip");
    f.close();
    const QString out = path("failed-out");
    const CliRun r = runCli({"--json", "-f", "mp3", "-o", out, bad, clip_}, cache_);
    QCOMPARE(r.status, 1);
    const QList<QJsonObject> objects = r.json();
    QCOMPARE(objects.size(), 2);
    QCOMPARE(objects[0]["status"].toString(), QStringLiteral("failed"));
    QVERIFY(!objects[0]["reason"].toString().isEmpty());
    QVERIFY(objects[0]["output"].isNull());
    QCOMPARE(objects[1]["status"].toString(), QStringLiteral("converted"));
    // The failed file is named on standard error with its reason.
    const QString line = r.err.split('\n').filter("failed: " + bad).value(0);
    QVERIFY2(line.contains(objects[0]["message"].toString()), qPrintable(r.err));
    QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden).size(), 1);
    // Without --json each finished file is a plain line.
    const CliRun plain = runCli({"-f", "mp3", "-o", out, bad}, cache_);
    QCOMPARE(plain.status, 1);
    QVERIFY(plain.out.startsWith("failed: " + bad + ": "));
  }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
