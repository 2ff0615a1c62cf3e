// The batch driver in the real window, with fake encoders written by the test.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QToolButton>
#include <QTreeView>

#include "batch_support.h"

class TestBatch : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void emptyListWarns();
  void lockCoversExactlyTheDocumentedControls();
  void threeMp3FilesRunToTheEnd();
  void soundSwitchOffIsSilent();
  void failedFileGoesOnAndComesBack();
  void stopAsksAndStops();
  void stopDeclinedChangesNothing();
  void startFailureEndsTheBatch();
  void outputFolderIsMadeAndShown();
  void twoStageRunsBothStagesOnFreshWork();
  void stageOneFailureSkipsStageTwo();
  void singleStageCompletesAfterStageOne();
  void outputsNeverReplaceFiles();
  void filesAddedDuringABatchAreConverted();
};

void TestBatch::emptyListWarns() {
  BatchRig rig;
  rig.w->Command3->click();
  QCOMPARE(rig.boxes.messages, QStringList{"warning:添加:请先添加一个文件"});
  QVERIFY(!rig.w->driver.Timer1.isActive());
  QVERIFY(!rig.w->driver.isRunning());
  QVERIFY(rig.w->cmbOF->isEnabled());
  QVERIFY(rig.w->CmdToolsBar[0]->isEnabled());
}

void TestBatch::lockCoversExactlyTheDocumentedControls() {
  BatchRig rig;
  rig.w->cmbOF->setCurrentIndex(8);
  rig.w->AppendFile(rig.source("slow.wav"));
  rig.w->Command3->click();
  QVERIFY(rig.w->driver.Timer1.isActive());
  QVERIFY(rig.calls().isEmpty());  // nothing starts inside the click
  auto& w = *rig.w;
  for (int i : {0, 1, 2, 4, 5}) QVERIFY(!w.CmdToolsBar[i]->isEnabled());
  for (QWidget* c : std::initializer_list<QWidget*>{w.cmbOF, w.cmbR, w.cmbBR, w.cmbS, w.cmbVB, w.cmbF, w.cmbChannel, w.lblFeed})
    QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
  for (QWidget* c : std::initializer_list<QWidget*>{w.Command3, w.txtPath, w.cmdBrowse, w.LV})
    QVERIFY(c->isEnabled());
  rig.boxes.answer = true;
  QSignalSpy ended(&w.driver, &BatchDriver::batchEnded);
  QTRY_VERIFY(w.driver.objffmpeg.isRunning());
  w.Command3->click();
  QVERIFY(ended.wait(10000));
  for (int i : {0, 1, 2, 4, 5}) QVERIFY(w.CmdToolsBar[i]->isEnabled());
  for (QWidget* c : std::initializer_list<QWidget*>{w.cmbOF, w.cmbR, w.cmbBR, w.cmbS, w.cmbVB, w.cmbF, w.cmbChannel, w.lblFeed})
    QVERIFY(c->isEnabled());
}

void TestBatch::threeMp3FilesRunToTheEnd() {
  BatchRig rig;
  rig.w->cmbOF->setCurrentIndex(8);
  const QStringList sources = {rig.source("one.a.wav"), rig.source("two.wav"), rig.source("three.wav")};
  for (const QString& s : sources) rig.w->AppendFile(s);
  QList<int> counts;
  QList<QString> heads;
  connect(&rig.w->lstFile, &FileQueue::countChanged, [&](int n) { counts << n; });
  connect(&rig.w->driver.objffmpeg, &DOSOutputs::ReceiveOutputs, [&] {
    if (heads.isEmpty() || heads.last() != rig.w->lstFile.at(0)) heads << rig.w->lstFile.at(0);
  });
  QVERIFY(rig.runBatch());
  QCOMPARE(counts, (QList<int>{2, 1, 0}));
  QCOMPARE(heads, sources);
  QCOMPARE(rig.w->lstFile.count(), 0);
  QCOMPARE(rig.w->lblPB->text(), QStringLiteral("Done."));
  QCOMPARE(rig.shell.opened, QStringList{rig.out + "/"});
  QCOMPARE(rig.shell.sounds, QStringList{rig.app + "/sound.wav"});
  QCOMPARE(rig.w->txtPath->text(), rig.out + "/");
  QVERIFY(rig.boxes.messages.isEmpty());
  const QStringList calls = rig.calls();
  QCOMPARE(calls.size(), 3);
  for (int i = 0; i < 3; ++i) QVERIFY(calls[i].startsWith("coder|" + sources[i] + "|" + rig.out + "/"));
  const QStringList outs = rig.outputs();
  QCOMPARE(outs.size(), 3);
  static const QRegularExpression name("^(one|two|three)-\\d{1,6}\\.mp3$");
  for (const QString& o : outs) QVERIFY2(name.match(o).hasMatch(), qPrintable(o));
  QCOMPARE(rig.w->driver.FileDuration(), 0);
}

void TestBatch::soundSwitchOffIsSilent() {
  BatchRig rig;
  options().soundSwitch = 1;
  rig.w->cmbOF->setCurrentIndex(8);
  rig.w->AppendFile(rig.source("a.wav"));
  QVERIFY(rig.runBatch());
  QVERIFY(rig.shell.sounds.isEmpty());
  QCOMPARE(rig.shell.opened.size(), 1);
  QCOMPARE(rig.w->lblPB->text(), QStringLiteral("Done."));
}

void TestBatch::failedFileGoesOnAndComesBack() {
  BatchRig rig;
  rig.w->cmbOF->setCurrentIndex(8);
  const QString bad = rig.source("bad.wav");
  const QString good = rig.source("good.wav");
  rig.w->AppendFile(bad);
  rig.w->AppendFile(good);
  QVERIFY(rig.runBatch());
  // The good file converted; the bad one left nothing behind and is queued again.
  const QStringList outs = rig.outputs();
  QCOMPARE(outs.size(), 1);
  QVERIFY(outs[0].startsWith("good-"));
  QCOMPARE(rig.w->lstFile.paths(), QStringList{bad});
  QCOMPARE(rig.boxes.messages.size(), 1);
  QVERIFY(rig.boxes.messages[0].startsWith("warning:Vantrel:"));
  QVERIFY(rig.boxes.messages[0].contains(bad));
  QVERIFY(rig.boxes.messages[0].contains("Error: not a media file"));
  QCOMPARE(rig.w->driver.failures().size(), 1);
  QVERIFY(rig.w->cmbOF->isEnabled());
  QVERIFY(rig.w->picText->isHidden());  // the hint never stands over rows
  // A retry is one click.
  rig.boxes.messages.clear();
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.w->lstFile.paths(), QStringList{bad});
}

void TestBatch::stopAsksAndStops() {
  BatchRig rig;
  rig.w->cmbOF->setCurrentIndex(8);
  const QString slow = rig.source("slow.wav");
  rig.w->AppendFile(slow);
  rig.w->AppendFile(rig.source("next.wav"));
  rig.boxes.answer = true;
  QSignalSpy ended(&rig.w->driver, &BatchDriver::batchEnded);
  rig.w->Command3->click();
  QTRY_VERIFY(rig.w->driver.objffmpeg.isRunning());
  QTRY_VERIFY(!rig.outputs().isEmpty());  // partial output written
  QTRY_COMPARE(rig.w->driver.FileDuration(), 3600);
  QElapsedTimer t;
  t.start();
  rig.w->Command3->click();
  QVERIFY(ended.wait(10000));
  QVERIFY(t.elapsed() < 5000);
  QCOMPARE(rig.boxes.messages, QStringList{"question:Vantrel:正在转换，要停止吗？"});
  QCOMPARE(rig.w->lstFile.count(), 2);
  QCOMPARE(rig.w->lstFile.at(0), slow);
  QVERIFY(rig.outputs().isEmpty());
  QVERIFY(rig.shell.sounds.isEmpty());
  QCOMPARE(rig.w->lblPB->text(), QStringLiteral("已停止"));
  QVERIFY(rig.w->cmbOF->isEnabled());
  QCOMPARE(rig.calls().size(), 1);
  // The stopped file's length does not carry over to the next batch.
  QCOMPARE(rig.w->driver.FileDuration(), 0);
}

void TestBatch::stopDeclinedChangesNothing() {
  BatchRig rig;
  rig.w->cmbOF->setCurrentIndex(8);
  rig.w->AppendFile(rig.source("slow.wav"));
  rig.boxes.answer = false;
  rig.w->Command3->click();
  QTRY_VERIFY(rig.w->driver.objffmpeg.isRunning());
  rig.w->Command3->click();
  rig.w->Command3->click();
  QTest::qWait(300);
  QVERIFY(rig.w->driver.objffmpeg.isRunning());
  QCOMPARE(rig.calls().size(), 1);  // no second batch
  QVERIFY(!rig.w->cmbOF->isEnabled());
  rig.w->driver.abort();
}

void TestBatch::startFailureEndsTheBatch() {
  BatchRig rig;
  QFile::remove(rig.app + "/data/coder");
  rig.w->cmbOF->setCurrentIndex(8);
  const QString a = rig.source("a.wav");
  rig.w->AppendFile(a);
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.boxes.messages, QStringList{"critical:File or command not found"});
  QCOMPARE(rig.w->lstFile.paths(), QStringList{a});
  QVERIFY(rig.w->cmbOF->isEnabled());
  QVERIFY(rig.shell.sounds.isEmpty());
  // No format chosen: no command line at all.
  rig.boxes.messages.clear();
  rig.w->cmbOF->setCurrentIndex(-1);
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.boxes.messages, QStringList{"critical:Command Line empty"});
  QCOMPARE(rig.w->lstFile.count(), 1);
}

void TestBatch::outputFolderIsMadeAndShown() {
  BatchRig rig;
  rig.w->cmbOF->setCurrentIndex(8);
  const QString deep = rig.root.filePath("x/y/z");
  rig.w->txtPath->setText(deep);
  rig.w->AppendFile(rig.source("a.wav"));
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.w->txtPath->text(), deep + "/");
  QCOMPARE(QDir(deep).entryList(QDir::Files).size(), 1);
  // An empty box means the default output folder, shown in the box.
  rig.w->txtPath->clear();
  rig.w->AppendFile(rig.source("b.wav"));
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.w->txtPath->text(), rig.app + "/output/");
  QCOMPARE(QDir(rig.app + "/output").entryList(QDir::Files).size(), 1);
}

void TestBatch::twoStageRunsBothStagesOnFreshWork() {
  BatchRig rig;
  const QString work = AppDirs::join(AppDirs::workFolder(), "tmp.mp4");
  QVERIFY(work.startsWith(rig.cache));
  QCOMPARE(QFileInfo(AppDirs::workFolder()).permissions() & 0x0077, QFile::Permissions());
  QFile stale(work);
  stale.open(QIODevice::WriteOnly);
  stale.write("bad leftover of an earlier file");
  stale.close();
  rig.w->cmbOF->setCurrentIndex(7);
  const QString a = rig.source("a.mkv");
  rig.w->AppendFile(a);
  QVERIFY(rig.runBatch());
  const QStringList calls = rig.calls();
  QCOMPARE(calls.size(), 2);
  QCOMPARE(calls[0], "conv|" + a + "|" + work);
  QVERIFY(calls[1].startsWith("coder2|" + work + "|" + rig.out + "/a-"));
  QVERIFY(calls[1].endsWith(".3gp"));
  QCOMPARE(rig.outputs().size(), 1);
  QVERIFY(rig.boxes.messages.isEmpty());
}

void TestBatch::stageOneFailureSkipsStageTwo() {
  BatchRig rig;
  rig.w->cmbOF->setCurrentIndex(0);
  const QString bad = rig.source("bad.avi");
  rig.w->AppendFile(bad);
  rig.w->AppendFile(rig.source("fine.avi"));
  QVERIFY(rig.runBatch());
  const QStringList calls = rig.calls();
  QCOMPARE(calls.size(), 3);  // conv (fails), conv, coder
  QVERIFY(calls[0].startsWith("conv|" + bad));
  QVERIFY(calls[1].startsWith("conv|"));
  QVERIFY(calls[2].startsWith("coder|"));
  const QStringList outs = rig.outputs();
  QCOMPARE(outs.size(), 1);
  QVERIFY(outs[0].startsWith("fine-") && outs[0].endsWith(".rmvb"));
  QCOMPARE(rig.w->lstFile.paths(), QStringList{bad});
}

void TestBatch::singleStageCompletesAfterStageOne() {
  BatchRig rig;
  for (int pos : {2, 3, 4}) {
    rig.w->cmbOF->setCurrentIndex(pos);
    rig.w->AppendFile(rig.source(QStringLiteral("p%1.avi").arg(pos)));
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
  BatchRig rig;
  rig.w->cmbOF->setCurrentIndex(8);
  for (const QString d : {"d1", "d2", "d3", "d4"}) {
    QDir().mkpath(rig.root.filePath(d));
    rig.w->AppendFile(rig.source(d + "/same.wav"));
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
  BatchRig rig;
  rig.w->cmbOF->setCurrentIndex(8);
  rig.w->AppendFile(rig.source("first.wav"));
  const QString late = rig.source("late.wav");
  bool added = false;
  connect(&rig.w->driver.objffmpeg, &DOSOutputs::ReceiveOutputs, [&] {
    if (!added) {
      added = true;
      rig.w->AppendFile(late);
    }
  });
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.calls().size(), 2);
  QVERIFY(rig.calls()[1].startsWith("coder|" + late));
  QCOMPARE(rig.w->lstFile.count(), 0);
}

QTEST_MAIN(TestBatch)
#include "test_batch.moc"
