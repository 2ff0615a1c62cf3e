// The batch as the window shows it: its message boxes, the controls it locks,
// its caption, with fake encoders written by the test.
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>
#include <QTreeView>

#include "batchwindow_support.h"

class TestBatchWindow : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void emptyListWarns();
  void lockCoversExactlyTheDocumentedControls();
  void failedFileIsReportedInOneBox();
  void stopAsksAndStops();
  void stopAnswerAfterTheEndActsOnNothing();
  void closingDuringABatchAsks_data();
  void closingDuringABatchAsks();
  void startFailureSaysWhatFailed();
};

void TestBatchWindow::emptyListWarns() {
  BatchRig rig;
  rig.w->findChild<QPushButton*>("Command3")->click();
  QCOMPARE(rig.boxes.messages, QStringList{"warning:添加:请先添加一个文件"});
  QVERIFY(!rig.w->batchDriver().isRunning());
  QVERIFY(rig.w->findChild<QComboBox*>("cmbOF")->isEnabled());
  QVERIFY(rig.w->findChild<QToolButton*>(QStringLiteral("CmdToolsBar%1").arg(0))->isEnabled());
}

void TestBatchWindow::lockCoversExactlyTheDocumentedControls() {
  BatchRig rig;
  rig.w->findChild<QComboBox*>("cmbOF")->setCurrentIndex(8);
  rig.w->AppendFile(rig.source("slow.wav"));
  rig.w->findChild<QPushButton*>("Command3")->click();
  QVERIFY(rig.w->batchDriver().isRunning());
  QVERIFY(rig.calls().isEmpty());  // nothing starts inside the click
  auto& w = *rig.w;
  QCOMPARE(w.findChild<QPushButton*>("Command3")->text(), QStringLiteral("停止转换"));
  for (int i : {0, 1, 2, 4, 5}) QVERIFY(!w.findChild<QToolButton*>(QStringLiteral("CmdToolsBar%1").arg(i))->isEnabled());
  for (QWidget* c : std::initializer_list<QWidget*>{w.findChild<QComboBox*>("cmbOF"), w.findChild<QComboBox*>("cmbR"), w.findChild<QComboBox*>("cmbBR"), w.findChild<QComboBox*>("cmbS"), w.findChild<QComboBox*>("cmbVB"), w.findChild<QComboBox*>("cmbF"), w.findChild<QComboBox*>("cmbChannel"), w.findChild<QLabel*>("lblFeed")})
    QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
  for (QWidget* c : std::initializer_list<QWidget*>{w.findChild<QPushButton*>("Command3"), w.findChild<QLineEdit*>("txtPath"), w.findChild<QPushButton*>("cmdBrowse"), w.findChild<QTreeView*>("LV")})
    QVERIFY(c->isEnabled());
  rig.boxes.answer = true;
  QSignalSpy ended(&w.batchDriver(), &BatchDriver::batchEnded);
  QTRY_VERIFY(!rig.calls().isEmpty());
  w.findChild<QPushButton*>("Command3")->click();
  QVERIFY(ended.wait(10000));
  for (int i : {0, 1, 2, 4, 5}) QVERIFY(w.findChild<QToolButton*>(QStringLiteral("CmdToolsBar%1").arg(i))->isEnabled());
  for (QWidget* c : std::initializer_list<QWidget*>{w.findChild<QComboBox*>("cmbOF"), w.findChild<QComboBox*>("cmbR"), w.findChild<QComboBox*>("cmbBR"), w.findChild<QComboBox*>("cmbS"), w.findChild<QComboBox*>("cmbVB"), w.findChild<QComboBox*>("cmbF"), w.findChild<QComboBox*>("cmbChannel"), w.findChild<QLabel*>("lblFeed")})
    QVERIFY(c->isEnabled());
  QCOMPARE(w.findChild<QPushButton*>("Command3")->text(), QStringLiteral("立刻开始转换！"));
}

void TestBatchWindow::failedFileIsReportedInOneBox() {
  BatchRig rig;
  rig.w->findChild<QComboBox*>("cmbOF")->setCurrentIndex(8);
  const QString bad = rig.source("bad.wav");
  const QString unreadable = rig.source("reason:not-media.wav");
  rig.w->AppendFile(bad);
  rig.w->AppendFile(unreadable);
  rig.w->AppendFile(rig.source("good.wav"));
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.w->lstFile.paths(), (QStringList{bad, unreadable}));
  QCOMPARE(rig.boxes.messages.size(), 1);
  const QString box = rig.boxes.messages[0];
  QVERIFY(box.startsWith("warning:Vantrel:"));
  QVERIFY(box.contains(bad) && box.contains(unreadable));
  // The Chinese reason a user can act on, and the encoder's own line.
  QVERIFY(box.contains(QStringLiteral("编码程序异常结束")));
  QVERIFY(box.contains(QStringLiteral("不是可识别的媒体文件")));
  QVERIFY(box.contains("coder: error: the not-media happened"));
  QVERIFY(!box.contains("Pos: "));  // never a progress line
  QCOMPARE(rig.w->findChild<QLabel*>("lblPB")->text(), QStringLiteral("Done."));
  QVERIFY(rig.w->findChild<QComboBox*>("cmbOF")->isEnabled());
  QVERIFY(rig.w->findChild<QFrame*>("picText")->isHidden());  // the hint never stands over rows
  // The notice's action opens the folder the batch end opened.
  QCOMPARE(rig.shell.folders.size(), 1);
  QCOMPARE(rig.shell.notices,
           QStringList{QStringLiteral("已转换 1 个文件，2 个失败|") + rig.shell.folders.first()});
}

void TestBatchWindow::stopAsksAndStops() {
  BatchRig rig;
  rig.w->findChild<QComboBox*>("cmbOF")->setCurrentIndex(8);
  const QString slow = rig.source("slow.wav");
  rig.w->AppendFile(slow);
  rig.boxes.answer = true;
  QSignalSpy ended(&rig.w->batchDriver(), &BatchDriver::batchEnded);
  rig.w->findChild<QPushButton*>("Command3")->click();
  QTRY_VERIFY(!rig.outputs().isEmpty());  // partial output written
  rig.w->findChild<QPushButton*>("Command3")->click();
  QVERIFY(ended.wait(10000));
  QCOMPARE(rig.boxes.messages, QStringList{"question:Vantrel:正在转换，要停止吗？"});
  QCOMPARE(rig.w->findChild<QLabel*>("lblPB")->text(), QStringLiteral("已停止"));
  QVERIFY(rig.outputs().isEmpty());
  QVERIFY(rig.shell.folders.isEmpty());  // nothing new to show
  QVERIFY(rig.shell.notices.isEmpty());  // the user stopped it: nothing to announce
  QCOMPARE(rig.w->lstFile.paths(), QStringList{slow});
}

// The batch ends by itself while the stop question stands; its "yes" comes
// after the end and stops, drops or starts nothing.
void TestBatchWindow::stopAnswerAfterTheEndActsOnNothing() {
  BatchRig rig;
  rig.w->findChild<QComboBox*>("cmbOF")->setCurrentIndex(8);
  const QString file = rig.source("wait.wav");
  rig.w->AppendFile(file);
  QSignalSpy ended(&rig.w->batchDriver(), &BatchDriver::batchEnded);
  bool endedWhileAsked = false;
  rig.boxes.answer = true;
  rig.boxes.onQuestion = [&] {
    QFile(file + ".go").open(QIODevice::WriteOnly);
    endedWhileAsked = ended.wait(10000);
  };
  auto* start = rig.w->findChild<QPushButton*>("Command3");
  start->click();
  QTRY_VERIFY(!rig.calls().isEmpty());
  start->click();
  QVERIFY(endedWhileAsked);
  QTest::qWait(100);
  QCOMPARE(ended.count(), 1);
  QVERIFY(!rig.w->batchDriver().isRunning());
  QCOMPARE(rig.w->findChild<QLabel*>("lblPB")->text(), QStringLiteral("Done."));
  QVERIFY(rig.w->lstFile.isEmpty());
  QCOMPARE(rig.outputs().size(), 1);
  QCOMPARE(rig.calls().size(), 1);
}

// The window's × (the frame's or the skin's) during a batch asks; only "是"
// ends the batch and the program, "否" leaves both running.
void TestBatchWindow::closingDuringABatchAsks_data() {
  QTest::addColumn<bool>("skin");
  QTest::addColumn<bool>("yes");
  QTest::newRow("frame, no") << false << false;
  QTest::newRow("frame, yes") << false << true;
  QTest::newRow("skin, no") << true << false;
  QTest::newRow("skin, yes") << true << true;
}
void TestBatchWindow::closingDuringABatchAsks() {
  QFETCH(bool, skin);
  QFETCH(bool, yes);
  BatchRig rig;
  int ends = 0;
  rig.w->endProgram = [&ends] { ++ends; };
  rig.w->show();
  rig.w->findChild<QComboBox*>("cmbOF")->setCurrentIndex(8);
  rig.w->AppendFile(rig.source("slow.wav"));
  rig.w->AppendFile(rig.source("queued.wav"));
  rig.w->findChild<QPushButton*>("Command3")->click();
  QTRY_VERIFY(!rig.outputs().isEmpty());  // partial output written
  rig.boxes.answer = yes;
  if (skin)
    rig.w->imgExit_Click();
  else
    rig.w->close();
  QCOMPARE(rig.boxes.messages, QStringList{"question:Vantrel:正在转换，要停止并退出吗？"});
  QCOMPARE(ends, yes ? 1 : 0);
  QCOMPARE(rig.w->isVisible(), !yes);
  QCOMPARE(rig.w->batchDriver().isRunning(), !yes);
  if (yes) QTRY_VERIFY(rig.outputs().isEmpty());  // the partial file goes with the batch
  // Idle again, the window closes without a question.
  if (!yes) {
    rig.w->batchDriver().abort();
    rig.w->close();
    QCOMPARE(rig.boxes.messages.size(), 1);
    QCOMPARE(ends, 1);
  }
}

void TestBatchWindow::startFailureSaysWhatFailed() {
  BatchRig rig;
  QFile::remove(rig.app + "/data/coder");
  rig.w->findChild<QComboBox*>("cmbOF")->setCurrentIndex(8);
  rig.w->AppendFile(rig.source("a.wav"));
  QVERIFY(rig.runBatch());
  QCOMPARE(rig.boxes.messages, QStringList{"critical:File or command not found"});
  QCOMPARE(rig.w->findChild<QLabel*>("lblPB")->text(), QStringLiteral("无法启动编码程序"));
  QVERIFY(rig.shell.folders.isEmpty());
  QVERIFY(rig.shell.notices.isEmpty());
  QVERIFY(rig.w->findChild<QComboBox*>("cmbOF")->isEnabled());
}

QTEST_MAIN(TestBatchWindow)
#include "test_batchwindow.moc"
