// The batch driver on a recording host, with fake encoders written by the test.
#include <QRegularExpression>
#include "settings/core/formats.h"

#include "batch_support.h"
#include "filelist/pathhelpers.h"

class TestBatch : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void emptyListWarns();
  void lockHoldsForTheWholeBatch();
  void threeMp3FilesRunToTheEnd();
  void soundSwitchOffIsSilent();
  void failedFileGoesOnAndComesBack();
  void failureReasons_data();
  void failureReasons();
  void killedToolLeavesNoPartialFile();
  void stopAsksAndStops();
  void stopDeclinedChangesNothing();
  void lateAnswerActsOnNothing();
  void startFailureEndsTheBatch();
  void folderOpensOnlyWhenSomethingConverted();
  void outputFolderIsMadeAndShown();
  void twoStageRunsBothStagesOnFreshWork();
  void stageOneFailureSkipsStageTwo();
  void singleStageCompletesAfterStageOne();
  void outputsNeverReplaceFiles();
  void filesAddedDuringABatchAreConverted();
  void longSourceNamesConvert_data();
  void longSourceNamesConvert();
  void twoJobsRunTogetherOnTheirOwnWorkFiles();
  void threeJobsStopTogether_data();
  void threeJobsStopTogether();
};

void TestBatch::emptyListWarns() {
  EngineRig rig;
  rig.driver.start();
  QCOMPARE(rig.host.emptyWarnings, 1);
  QVERIFY(rig.boxes.messages.isEmpty());
  QVERIFY(!rig.driver.isRunning());
  QCOMPARE(rig.host.lockChanges, 0);
}

void TestBatch::lockHoldsForTheWholeBatch() {
  EngineRig rig;
  rig.add({rig.source("a.wav")});
  rig.driver.start();
  QVERIFY(rig.host.locked);
  QVERIFY(rig.driver.isRunning());
  QVERIFY(rig.calls().isEmpty());  // nothing starts inside the request
  QSignalSpy ended(&rig.driver, &BatchDriver::batchEnded);
  QVERIFY(ended.wait(10000));
  QVERIFY(!rig.host.locked);
  QCOMPARE(rig.host.lockChanges, 2);
  QCOMPARE(rig.host.summaries.size(), 1);
}

void TestBatch::threeMp3FilesRunToTheEnd() {
  EngineRig rig;
  const QStringList sources = {rig.source("one.a.wav"), rig.source("two.wav"), rig.source("three.wav")};
  rig.add(sources);
  QList<int> counts;
  connect(&rig.host.files, &FileQueue::countChanged, [&](int n) { counts << n; });
  QVERIFY(rig.runBatch());
  QCOMPARE(counts, (QList<int>{2, 1, 0}));
  // Structured progress: each file by its number of three, one stage of one.
  QStringList heads;
  for (const BatchProgress& p : rig.host.progress) {
    QCOMPARE(p.fileCount, 3);
    QCOMPARE(p.source, sources[p.fileIndex - 1]);
    QCOMPARE(p.stage, 1);
    QCOMPARE(p.stageCount, 1);
    if (heads.isEmpty() || heads.last() != p.source) heads << p.source;
  }
  QCOMPARE(heads, sources);
  QVERIFY(std::any_of(rig.host.progress.begin(), rig.host.progress.end(),
                      [](const BatchProgress& p) {
                        return p.percent == 50 && Texts::progressCaption(*p.reading).startsWith("创建中");
                      }));
  QCOMPARE(rig.host.caption, QStringLiteral("Done."));
  QCOMPARE(rig.shell.folders, QStringList{rig.out + "/"});
  QCOMPARE(rig.shell.sounds, QStringList{rig.app + "/sound.wav"});
  QCOMPARE(rig.host.folder, rig.out + "/");
  QVERIFY(rig.boxes.messages.isEmpty());
  const QStringList calls = rig.calls();
  QCOMPARE(calls.size(), 3);
  for (int i = 0; i < 3; ++i) QVERIFY(calls[i].startsWith("coder|" + sources[i] + "|" + rig.out + "/"));
  const QStringList outs = rig.outputs();
  QCOMPARE(outs.size(), 3);
  static const QRegularExpression name("^(one|two|three)-\\d{1,6}\\.mp3$");
  for (const QString& o : outs) QVERIFY2(name.match(o).hasMatch(), qPrintable(o));
  QCOMPARE(rig.driver.FileDuration(), 0);
  QCOMPARE(rig.summary().converted, 3);
  QVERIFY(!rig.summary().stopped && !rig.summary().startFailed && rig.summary().failures.isEmpty());
  QCOMPARE(rig.host.results.size(), 3);
  for (const FileResult& r : rig.host.results) {
    QVERIFY(r.converted);
    QVERIFY(QFileInfo::exists(r.output));
  }
}

void TestBatch::soundSwitchOffIsSilent() {
  EngineRig rig;
  rig.host.job.endSound = false;
  rig.add({rig.source("a.wav")});
  QVERIFY(rig.runBatch());
  QVERIFY(rig.shell.sounds.isEmpty());
  QCOMPARE(rig.shell.folders.size(), 1);
  QCOMPARE(rig.host.caption, QStringLiteral("Done."));
}

void TestBatch::failedFileGoesOnAndComesBack() {
  EngineRig rig;
  const QString bad = rig.source("bad.wav");
  const QString good = rig.source("good.wav");
  rig.add({bad, good});
  QVERIFY(rig.runBatch());
  // The good file converted; the bad one left nothing behind and is queued again.
  const QStringList outs = rig.outputs();
  QCOMPARE(outs.size(), 1);
  QVERIFY(outs[0].startsWith("good-"));
  QCOMPARE(rig.host.files.paths(), QStringList{bad});
  QVERIFY(rig.boxes.messages.isEmpty());  // the host tells the user, not the driver
  QCOMPARE(rig.summary().failures.size(), 1);
  QCOMPARE(rig.summary().failures[0].source, bad);
  QCOMPARE(rig.summary().converted, 1);
  QVERIFY(!rig.host.locked);
  QCOMPARE(rig.host.results.size(), 2);
  QVERIFY(!rig.host.results[0].converted && rig.host.results[0].output.isEmpty());
  // A retry is one request.
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.host.files.paths(), QStringList{bad});
  QVERIFY(rig.shell.folders.size() == 1);  // nothing new the second time
}

void TestBatch::failureReasons_data() {
  QTest::addColumn<QByteArray>("body");
  QTest::addColumn<int>("position");
  QTest::addColumn<QString>("code");
  QTest::addColumn<QString>("reason");
  QTest::addColumn<QString>("detail");
  QTest::newRow("not media") << QByteArray("reason:not-media") << 8 << "not-media"
                             << QStringLiteral("不是可识别的媒体文件") << "coder: error: the not-media happened";
  QTest::newRow("disk full in stage two") << QByteArray("reason:disk-full") << 7 << "disk-full"
                                          << QStringLiteral("磁盘空间不足") << "conv: error: the disk-full happened";
  QTest::newRow("single stage conv") << QByteArray("reason:needs-video") << 2 << "needs-video"
                                     << QStringLiteral("该格式需要视频，但源文件没有视频")
                                     << "conv: error: the needs-video happened";
  QTest::newRow("unknown code") << QByteArray("reason:brand-new") << 8 << "brand-new"
                                << QStringLiteral("编码失败") << "coder: error: the brand-new happened";
  QTest::newRow("no reason line") << QByteArray("bad") << 8 << "crashed"
                                  << QStringLiteral("编码程序异常结束") << "coder exited with status 1 without saying why";
  QTest::newRow("killed") << QByteArray("crash") << 4 << "crashed" << QStringLiteral("编码程序异常结束")
                          << "conv ended abnormally (killed by a signal)";
}

void TestBatch::failureReasons() {
  QFETCH(QByteArray, body);
  QFETCH(int, position);
  QFETCH(QString, code);
  QFETCH(QString, reason);
  QFETCH(QString, detail);
  EngineRig rig;
  rig.host.panel.format = position;
  const QString src = rig.source("clip.avi", body);
  rig.add({src});
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.summary().failures.size(), 1);
  const FileFailure f = rig.summary().failures[0];
  QCOMPARE(f.source, src);
  QCOMPARE(f.code, code);
  QCOMPARE(Texts::reason(f.code), reason);
  QCOMPARE(f.detail, detail);
  QCOMPARE(rig.host.results.value(0).failure.code, code);
  QVERIFY2(rig.outputs().isEmpty(), qPrintable(rig.outputs().join(',')));
  QVERIFY(rig.shell.folders.isEmpty());
  QCOMPARE(rig.host.caption, QStringLiteral("Done."));
}

void TestBatch::killedToolLeavesNoPartialFile() {
  // Killed in stage two, beside a file of another run that must stay.
  EngineRig rig;
  QDir().mkpath(rig.out);
  QFile other(rig.out + "/.vantrel-1.part");
  QVERIFY(other.open(QIODevice::WriteOnly));
  other.close();
  rig.host.panel.format = 0;
  QFile::remove(rig.app + "/data/coder");
  writeScript(rig.app + "/data/coder",
              "for a in \"$@\"; do out=\"$a\"; done\n"
              "echo partial > \"$(dirname \"$out\")/.vantrel-$$.part\"\necho 'time=0.1 bitrate'\nkill -9 $$\n");
  rig.add({rig.source("a.avi")});
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.summary().failures.value(0).code, QStringLiteral("crashed"));
  QCOMPARE(rig.outputs(), QStringList{".vantrel-1.part"});
}

void TestBatch::stopAsksAndStops() {
  EngineRig rig;
  const QString slow = rig.source("slow.wav");
  rig.add({slow, rig.source("next.wav")});
  rig.host.stopAnswer = true;
  QSignalSpy ended(&rig.driver, &BatchDriver::batchEnded);
  rig.driver.start();
  QTRY_VERIFY(!rig.outputs().isEmpty());  // partial output written
  QTRY_COMPARE(rig.driver.FileDuration(), 3600);
  QElapsedTimer t;
  t.start();
  rig.driver.start();
  QVERIFY(ended.wait(10000));
  QVERIFY(t.elapsed() < 5000);
  QCOMPARE(rig.host.stopQuestions, 1);
  QCOMPARE(rig.host.files.count(), 2);
  QCOMPARE(rig.host.files.at(0), slow);
  QVERIFY(rig.outputs().isEmpty());
  QVERIFY(rig.shell.sounds.isEmpty());
  QVERIFY(rig.shell.folders.isEmpty());
  QCOMPARE(rig.host.caption, QStringLiteral("已停止"));
  QVERIFY(!rig.host.locked);
  QCOMPARE(rig.calls().size(), 1);
  QVERIFY(rig.summary().stopped);
  QVERIFY(rig.host.results.isEmpty());  // a stopped file is not over
  // The stopped file's length does not carry over to the next batch.
  QCOMPARE(rig.driver.FileDuration(), 0);
}

void TestBatch::stopDeclinedChangesNothing() {
  EngineRig rig;
  rig.add({rig.source("slow.wav")});
  rig.driver.start();
  QTRY_VERIFY(!rig.calls().isEmpty());
  rig.driver.start();
  rig.driver.start();
  QTest::qWait(300);
  QCOMPARE(rig.host.stopQuestions, 2);
  QVERIFY(rig.driver.isRunning());
  QCOMPARE(rig.calls().size(), 1);  // no second batch
  QVERIFY(rig.host.locked);
  QVERIFY(rig.host.summaries.isEmpty());
}

void TestBatch::lateAnswerActsOnNothing() {
  // The batch ends while the question stands; "yes" then stops nothing,
  // starts nothing and leaves the controls as they are.
  EngineRig rig;
  rig.add({rig.source("a.wav")});
  rig.host.stopAnswer = true;
  rig.host.onQuestion = [&] { QTRY_VERIFY(!rig.driver.isRunning()); };
  bool asked = false;
  rig.host.onProgress = [&](const BatchProgress&) {
    if (asked) return;
    asked = true;
    QMetaObject::invokeMethod(&rig.driver, [&] { rig.driver.start(); }, Qt::QueuedConnection);
  };
  QVERIFY(rig.runBatch());
  QTRY_COMPARE(rig.host.stopQuestions, 1);
  QTest::qWait(300);
  QVERIFY(!rig.driver.isRunning());
  QCOMPARE(rig.host.summaries.size(), 1);
  QVERIFY(!rig.host.summaries[0].stopped);
  QCOMPARE(rig.host.caption, QStringLiteral("Done."));
  QVERIFY(!rig.host.locked);
  QCOMPARE(rig.host.lockChanges, 2);
  QCOMPARE(rig.calls().size(), 1);
}

void TestBatch::startFailureEndsTheBatch() {
  EngineRig rig;
  QFile::remove(rig.app + "/data/coder");
  const QString a = rig.source("a.wav");
  rig.add({a});
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.boxes.messages, QStringList{"critical:File or command not found"});
  QCOMPARE(rig.host.files.paths(), QStringList{a});
  QVERIFY(!rig.host.locked);
  QVERIFY(rig.shell.sounds.isEmpty());
  QVERIFY(rig.shell.folders.isEmpty());
  // The caption says what failed; nobody stopped anything.
  QCOMPARE(rig.host.caption, QStringLiteral("无法启动编码程序"));
  QVERIFY(rig.summary().startFailed);
  QVERIFY(!rig.summary().stopped);
  // No format chosen: no command line at all.
  rig.boxes.messages.clear();
  rig.host.panel.format = -1;
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.boxes.messages, QStringList{"critical:Command Line empty"});
  QCOMPARE(rig.host.files.count(), 1);
  QVERIFY(rig.summary().startFailed);
}

void TestBatch::folderOpensOnlyWhenSomethingConverted() {
  EngineRig rig;
  rig.add({rig.source("bad.wav")});
  QVERIFY(rig.runBatch());
  QVERIFY(rig.shell.folders.isEmpty());  // all failed
  rig.add({rig.source("fine.wav")});
  QVERIFY(rig.runBatch());  // bad fails again, fine converts
  QCOMPARE(rig.shell.folders, QStringList{rig.out + "/"});
}

void TestBatch::outputFolderIsMadeAndShown() {
  EngineRig rig;
  const QString deep = rig.root.filePath("x/y/z");
  rig.host.folder = deep;
  rig.add({rig.source("a.wav")});
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.host.folder, deep + "/");
  QCOMPARE(QDir(deep).entryList(QDir::Files).size(), 1);
  // An empty box means the default output folder, shown in the box.
  rig.host.folder.clear();
  rig.add({rig.source("b.wav")});
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.host.folder, rig.app + "/output/");
  QCOMPARE(QDir(rig.app + "/output").entryList(QDir::Files).size(), 1);
}

void TestBatch::twoStageRunsBothStagesOnFreshWork() {
  EngineRig rig;
  const QString work = JoinPath(rig.host.job.workFolder, "tmp.mp4");
  QVERIFY(work.startsWith(rig.cache));
  QCOMPARE(QFileInfo(AppDirs::workFolder()).permissions() & 0x0077, QFile::Permissions());
  QFile stale(work);
  stale.open(QIODevice::WriteOnly);
  stale.write("bad leftover of an earlier file");
  stale.close();
  rig.host.panel.format = 7;
  const QString a = rig.source("a.mkv");
  rig.add({a});
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.workFile(0), work);
  const QStringList calls = rig.calls();
  QCOMPARE(calls.size(), 2);
  QCOMPARE(calls[0], "conv|" + a + "|" + work);
  QVERIFY(calls[1].startsWith("coder2|" + work + "|" + rig.out + "/a-"));
  QVERIFY(calls[1].endsWith(".3gp"));
  QCOMPARE(rig.outputs().size(), 1);
  QVERIFY(rig.boxes.messages.isEmpty());
  QList<int> stages;
  for (const BatchProgress& p : rig.host.progress) {
    QCOMPARE(p.stageCount, 2);
    if (stages.isEmpty() || stages.last() != p.stage) stages << p.stage;
  }
  QCOMPARE(stages, (QList<int>{1, 2}));
}

void TestBatch::stageOneFailureSkipsStageTwo() {
  EngineRig rig;
  rig.host.panel.format = 0;
  const QString bad = rig.source("bad.avi");
  rig.add({bad, rig.source("fine.avi")});
  QVERIFY(rig.runBatch());
  const QStringList calls = rig.calls();
  QCOMPARE(calls.size(), 3);  // conv (fails), conv, coder
  QVERIFY(calls[0].startsWith("conv|" + bad));
  QVERIFY(calls[1].startsWith("conv|"));
  QVERIFY(calls[2].startsWith("coder|"));
  const QStringList outs = rig.outputs();
  QCOMPARE(outs.size(), 1);
  QVERIFY(outs[0].startsWith("fine-") && outs[0].endsWith(".rmvb"));
  QCOMPARE(rig.host.files.paths(), QStringList{bad});
  QVERIFY(!QFileInfo::exists(rig.workFile(0)) ||
          QFileInfo(rig.workFile(0)).size() > 0);  // never a failed run's half work
}

void TestBatch::singleStageCompletesAfterStageOne() {
  EngineRig rig;
  for (int pos : {2, 3, 4}) {
    rig.host.panel.format = pos;
    rig.add({rig.source(QStringLiteral("p%1.avi").arg(pos))});
    QVERIFY(rig.runBatch());
  }
  QCOMPARE(rig.calls().size(), 3);
  for (const QString& c : rig.calls()) QVERIFY(c.startsWith("conv|"));
  QStringList exts;
  for (const QString& o : rig.outputs()) exts << QFileInfo(o).suffix();
  exts.sort();
  QCOMPARE(exts, (QStringList{"avi", "mp4", "mpg"}));
}

void TestBatch::outputsNeverReplaceFiles() {
  // Four sources with one base name in one second: four outputs.
  EngineRig rig;
  for (const QString d : {"d1", "d2", "d3", "d4"}) {
    QDir().mkpath(rig.root.filePath(d));
    rig.add({rig.source(d + "/same.wav", (d + "/same.wav").toUtf8())});
  }
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.outputs().size(), 4);
  QStringList bodies;
  for (const QString& o : rig.outputs()) {
    QFile f(rig.out + "/" + o);
    f.open(QIODevice::ReadOnly);
    bodies << QString::fromUtf8(f.readAll()).trimmed();
  }
  bodies.sort();
  QCOMPARE(bodies, (QStringList{"d1/same.wav", "d2/same.wav", "d3/same.wav", "d4/same.wav"}));
}

void TestBatch::filesAddedDuringABatchAreConverted() {
  EngineRig rig;
  rig.add({rig.source("first.wav")});
  const QString late = rig.source("late.wav");
  bool added = false;
  rig.host.onProgress = [&](const BatchProgress& p) {
    if (added || p.percent < 0) return;
    added = true;
    rig.host.files.AppendFile(late);
  };
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.calls().size(), 2);
  QVERIFY(rig.calls()[1].startsWith("coder|" + late));
  QCOMPARE(rig.host.files.count(), 0);
}

void TestBatch::longSourceNamesConvert_data() {
  QTest::addColumn<QString>("base");
  QTest::addColumn<int>("position");
  QTest::newRow("246 ASCII to mp3") << QString(246, 'a') << 8;
  QTest::newRow("82 CJK to rmvb") << QString(82, QChar(0x7247)) << 0;
  QTest::newRow("81 CJK and an emoji to mpg") << QString(81, QChar(0x7247)) + QString::fromUcs4(U"\U0001F600") << 2;
}

void TestBatch::longSourceNamesConvert() {
  QFETCH(QString, base);
  QFETCH(int, position);
  EngineRig rig;
  rig.host.panel.format = position;
  const QString ext = QString::fromLatin1(Formats::format(position)->extension);
  // The source name itself fits (255 bytes with ".mkv" at most).
  const QString src = rig.source(base + ".mkv", "clip");
  QVERIFY(QFileInfo::exists(src));
  // A second source of the same name, converted in the same second, gets "(2)".
  QDir().mkpath(rig.root.filePath("twin"));
  rig.add({src, rig.source("twin/" + base + ".mkv", "clip")});
  QVERIFY(rig.runBatch());
  QVERIFY2(rig.summary().failures.isEmpty(), qPrintable(rig.summary().failures.value(0).detail));
  QStringList outs = rig.outputs();
  QCOMPARE(outs.size(), 2);
  static const QRegularExpression tail("-\\d{1,6}(\\(2\\))?\\.[a-z0-9]+$");
  int copies = 0;
  for (const QString& o : outs) {
    QVERIFY2(QFile::encodeName(o).size() <= 255, qPrintable(o));
    QVERIFY2(QFile::encodeName(o).size() >= 250, qPrintable(o));  // only as short as it must be
    QVERIFY(o.endsWith(ext));
    const auto m = tail.match(o);
    QVERIFY2(m.hasMatch(), qPrintable(o));
    if (!m.captured(1).isEmpty()) ++copies;
    QVERIFY(base.startsWith(o.left(m.capturedStart())));  // whole characters only
    QVERIFY(!o.left(m.capturedStart()).isEmpty());
  }
  // Both were made in one second or in two: either way two names.
  QVERIFY(copies <= 1);
}

void TestBatch::twoJobsRunTogetherOnTheirOwnWorkFiles() {
  EngineRig rig;
  rig.host.job.jobs = 2;
  rig.host.panel.format = 7;
  const QString work = rig.host.job.workFolder;
  QCOMPARE(rig.workFile(0), JoinPath(work, "tmp.mp4"));
  QCOMPARE(rig.workFile(1), JoinPath(work, "lane-2/tmp.mp4"));
  const QString laneFolder = QFileInfo(rig.workFile(1)).path();
  // A link in the second lane's place: the work never goes where it points,
  // and nothing there is removed with the lane folder.
  QDir().mkpath(rig.root.filePath("elsewhere"));
  const QString kept = rig.source("elsewhere/keep", "keep");
  QVERIFY(QFile::link(rig.root.filePath("elsewhere"), laneFolder));
  // A pause in stage one shows whether both lanes are busy at once; each
  // stage one records the mode of the folder it writes in.
  writeScript(rig.app + "/data/conv",
              QString::fromUtf8("lanes=\"$(dirname \"$0\")/../lanes.log\"\necho start >> \"$lanes\"\nsleep 0.5\n"
                                "echo end >> \"$lanes\"\n") + kFakeTool +
                  "stat -c %a \"$(dirname \"$out\")\" >> \"$(dirname \"$0\")/../modes.log\"\n");
  QStringList sources;
  for (const QString n : {"a", "b", "c", "d"}) {
    QDir().mkpath(rig.root.filePath(n));
    sources << rig.source(n + "/same.avi", (n + "/same.avi").toUtf8());
  }
  rig.add(sources);
  QVERIFY(rig.runBatch());
  QFile lanes(rig.app + "/lanes.log");
  QVERIFY(lanes.open(QIODevice::ReadOnly));
  QVERIFY(lanes.readAll().startsWith("start\nstart\n"));
  QVERIFY(rig.summary().failures.isEmpty());
  QCOMPARE(rig.summary().converted, 4);
  QSet<QString> works;
  for (const QString& c : rig.calls())
    if (c.startsWith("conv|")) works << c.section('|', 2);
  QCOMPARE(works, (QSet<QString>{rig.workFile(0), rig.workFile(1)}));
  QFile modes(rig.app + "/modes.log");
  QVERIFY(modes.open(QIODevice::ReadOnly));
  QCOMPARE(modes.readAll(), QByteArray("700\n700\n700\n700\n"));
  QVERIFY(!QFileInfo::exists(laneFolder) && !QFileInfo(laneFolder).isSymLink());
  QVERIFY(QFileInfo::exists(kept));
  // Every output holds its own source's work, under a name of its own.
  QStringList bodies;
  for (const QString& o : rig.outputs()) {
    QVERIFY(o.startsWith("same-") && o.endsWith(".3gp"));
    QFile f(rig.out + "/" + o);
    f.open(QIODevice::ReadOnly);
    bodies << QString::fromUtf8(f.readAll()).trimmed();
  }
  bodies.sort();
  QCOMPARE(bodies, (QStringList{"a/same.avi", "b/same.avi", "c/same.avi", "d/same.avi"}));
  QCOMPARE(rig.host.files.count(), 0);
  QSet<int> numbers;
  for (const BatchProgress& p : rig.host.progress) numbers << p.fileIndex;
  QCOMPARE(numbers, (QSet<int>{1, 2, 3, 4}));
}

void TestBatch::threeJobsStopTogether_data() {
  QTest::addColumn<int>("format");
  QTest::newRow("mp3, writing the outputs") << 8;
  QTest::newRow("3gp, writing the work files in stage one") << 7;
}

void TestBatch::threeJobsStopTogether() {
  QFETCH(int, format);
  EngineRig rig;
  rig.host.job.jobs = 3;
  rig.host.panel.format = format;
  QStringList folders{rig.out};
  for (int lane = 0; lane < 3; ++lane) folders << QFileInfo(rig.workFile(lane)).path();
  const auto partials = [&] {
    QStringList all;
    for (const QString& folder : folders) all += QDir(folder).entryList({".vantrel-*"}, QDir::Files | QDir::Hidden);
    return all;
  };
  const QStringList sources = {rig.source("slow1.wav", "slow"), rig.source("slow2.wav", "slow"),
                               rig.source("slow3.wav", "slow"), rig.source("fourth.wav")};
  rig.add(sources);
  rig.driver.start();
  QTRY_COMPARE(rig.calls().size(), 3);
  QTRY_COMPARE(partials().size(), 3);  // one in each lane's own folder
  QCOMPARE(QSet<QString>(folders.begin() + 1, folders.end()).size(), 3);
  QSignalSpy ended(&rig.driver, &BatchDriver::batchEnded);
  rig.driver.requestStop();
  QVERIFY(ended.wait(10000));
  QVERIFY(rig.outputs().isEmpty());
  QCOMPARE(partials(), QStringList());
  QVERIFY(!QFileInfo::exists(rig.workFile(0)));
  QVERIFY(!QFileInfo::exists(folders[2]) && !QFileInfo::exists(folders[3]));  // the lane folders are gone
  QCOMPARE(rig.host.files.paths(), sources);
  QCOMPARE(rig.host.caption, QStringLiteral("已停止"));
  QCOMPARE(rig.calls().size(), 3);
}

QTEST_GUILESS_MAIN(TestBatch)
#include "test_batch.moc"
