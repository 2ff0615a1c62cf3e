// The window's side of a batch, on the real main window: the title and the
// row being converted, the failure marks of the list, the failure box and the
// stop question.
#include <QAbstractButton>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolTip>
#include <QTreeView>
#include <QtTest>

#include "chrome_support.h"
#include "filelist/filequeue.h"
#include "modal_support.h"
#include "settings/core/appdirs.h"
#include "ui/chinese.h"
#include "ui/detailsbox.h"
#include "ui/frmmain.h"


namespace {

BatchProgress progressOf(int index, int count, const QString& source) {
  BatchProgress p;
  p.fileIndex = index;
  p.fileCount = count;
  p.stage = 1;
  p.stageCount = 2;
  p.percent = 0;
  p.source = source;
  return p;
}

FileFailure failureOf(const QString& source, const QString& code,
                      const QString& detail = QStringLiteral("conv: error: it went wrong")) {
  return {source, code, detail};
}

// The real message boxes, installed for one test.
struct RealBoxes {
  MessageBoxPrompter boxes;
  RealBoxes() { setPrompter(&boxes); }
  ~RealBoxes() { setPrompter(nullptr); }
};

QAbstractButton* buttonWithText(QWidget* box, const QString& text) {
  for (auto* b : box->findChildren<QAbstractButton*>())
    if (b->text() == text) return b;
  return nullptr;
}

}  // namespace

class TestBatchView : public QObject {
  Q_OBJECT
  QTemporaryDir programDir_;
  FakeDialogs dialogs_;
  RecordingDesktop shell_;
  std::unique_ptr<frmMain> w_;

  frmMain& w() { return *w_; }
  QModelIndex cell(int row, int column = 0) { return w().findChild<QTreeView*>("LV")->model()->index(row, column); }
  bool marked(int row) { return !cell(row).data(Qt::DecorationRole).value<QIcon>().isNull(); }

  // The tool tip the list shows when the mouse rests on a row.
  QString toolTipAt(int row) {
    QToolTip::hideText();
    const QPoint at = w().findChild<QTreeView*>("LV")->visualRect(cell(row)).center();
    QHelpEvent help(QEvent::ToolTip, at, w().findChild<QTreeView*>("LV")->viewport()->mapToGlobal(at));
    QApplication::sendEvent(w().findChild<QTreeView*>("LV")->viewport(), &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
  }

  // The colour the list paints behind a row, away from its text.
  QColor backgroundOf(int row) {
    const QImage shot = w().findChild<QTreeView*>("LV")->viewport()->grab().toImage();
    const QRect r = w().findChild<QTreeView*>("LV")->visualRect(cell(row, 1));
    return shot.pixelColor(r.right() - 3, r.center().y());
  }

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(programDir_.isValid());
    AppDirs::setProgramFolder(programDir_.path());
    QVERIFY(Chinese::installQtTranslation(qApp));
  }
  void init() {
    w_ = std::make_unique<frmMain>(frmMain::Services{&dialogs_, &shell_});
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
  }
  void cleanup() { w_.reset(); }

  // ---- where the batch stands ---------------------------------------------------

  void titleNamesTheFileAndItsPlace() {
    const QString a = programDir_.filePath(QStringLiteral("视频 一.mp4"));
    const QString b = programDir_.filePath(QStringLiteral("clip.two.avi"));
    w().AppendFile(a);
    w().AppendFile(b);
    QCOMPARE(w().windowTitle(), QStringLiteral("Vantrel"));
    w().batchHost().batchProgress(progressOf(1, 2, a));
    QCOMPARE(w().windowTitle(), QStringLiteral("Vantrel \u2014 1/2 视频 一.mp4"));
    w().lstFile.removeAt(0);
    w().batchHost().batchProgress(progressOf(2, 2, b));
    QCOMPARE(w().windowTitle(), QStringLiteral("Vantrel \u2014 2/2 clip.two.avi"));
    // The documented controls stay where they are.
    QCOMPARE(w().findChild<QTreeView*>("LV")->geometry(), QRect(4, 90, 455, 274));
    QCOMPARE(w().findChild<QLabel*>("lblPB")->pos(), QPoint(218, 378));
    w().batchHost().batchFinished({});
    QCOMPARE(w().windowTitle(), QStringLiteral("Vantrel"));
    // A stopped or failed start ends the same way.
    w().batchHost().batchProgress(progressOf(1, 1, b));
    BatchSummary stopped;
    stopped.stopped = true;
    w().batchHost().batchFinished(stopped);
    QCOMPARE(w().windowTitle(), QStringLiteral("Vantrel"));
  }

  // Only the head row stands out, and only while it is the file converting:
  // when it is done the next head waits for its own start.
  void runningRowStandsOut() {
    const QString a = QStringLiteral("/v/a.mp4"), b = QStringLiteral("/v/b.mp4");
    w().AppendFile(a);
    w().AppendFile(b);
    w().AppendFile(a);  // the same file again, further down
    const QColor plain = backgroundOf(1);
    QCOMPARE(backgroundOf(0), plain);

    w().batchHost().batchProgress(progressOf(1, 3, a));
    QVERIFY(backgroundOf(0) != plain);
    QVERIFY(cell(0).data(Qt::FontRole).value<QFont>().bold());
    QCOMPARE(backgroundOf(1), plain);
    QCOMPARE(backgroundOf(2), plain);  // same path, not the one converting

    w().lstFile.removeAt(0);  // a is done; b has not started yet
    QCOMPARE(backgroundOf(0), plain);
    w().batchHost().batchProgress(progressOf(2, 3, b));
    QVERIFY(backgroundOf(0) != plain);

    w().batchHost().batchFinished({});
    QCOMPARE(backgroundOf(0), plain);
    QVERIFY(!cell(0).data(Qt::FontRole).value<QFont>().bold());
  }

  // ---- failed rows ------------------------------------------------------------

  // Failed files come back at the end; each is marked with an icon and its
  // reason as the tool tip, matched from the end when the same path is
  // queued twice, and the mark goes with its row until the row leaves.
  void failedRowsAreMarkedUntilTheyLeave() {
    const QString ok = QStringLiteral("/v/ok.mp4");
    const QString bad = QStringLiteral("/v/bad.mp4");
    const QString gone = QStringLiteral("/v/gone.mp4");
    w().AppendFile(bad);  // queued again by the user, not part of this batch's failures
    w().AppendFile(ok);
    w().AppendFile(bad);
    w().AppendFile(gone);
    RecordingPrompter prompts;
    BatchSummary s;
    s.converted = 1;
    s.failures = {failureOf(bad, QStringLiteral("not-media")),
                  failureOf(gone, QStringLiteral("source-missing"))};
    w().batchHost().batchFinished(s);
    QVERIFY(!marked(0) && !marked(1));
    QVERIFY(marked(2) && marked(3));
    QCOMPARE(toolTipAt(2), QStringLiteral("不是可识别的媒体文件"));
    QCOMPARE(toolTipAt(3), QStringLiteral("源文件不存在"));
    QCOMPARE(toolTipAt(1), ok);  // an unmarked row keeps its path as tool tip
    QVERIFY(w().findChild<QFrame*>("picText")->isHidden());

    // The user removes the first row: the marks stay with their files.
    QTest::mouseClick(w().findChild<QTreeView*>("LV")->viewport(), Qt::LeftButton, {},
                      w().findChild<QTreeView*>("LV")->visualRect(cell(0)).center());
    w().findChild<QAction*>(QStringLiteral("menuRemoveSelected"))->trigger();
    QCOMPARE(w().lstFile.paths(), QStringList({ok, bad, gone}));
    QVERIFY(!marked(0) && marked(1) && marked(2));
    QCOMPARE(toolTipAt(1), QStringLiteral("不是可识别的媒体文件"));

    // A marked file converted in the next batch leaves with its mark; one
    // that fails again gets its new reason.
    w().lstFile.removeAt(0);
    w().batchHost().batchProgress(progressOf(1, 2, bad));
    QVERIFY(marked(0));  // still marked while it converts
    w().lstFile.removeAt(0);
    w().lstFile.removeAt(0);
    w().lstFile.AppendFile(gone);
    QVERIFY(!marked(0));
    s = {};
    s.failures = {failureOf(gone, QStringLiteral("disk-full"))};
    w().batchHost().batchFinished(s);
    QCOMPARE(toolTipAt(0), QStringLiteral("磁盘空间不足"));

    // Remove all takes every mark away; the same path queued anew is clean.
    w().findChild<QAction*>(QStringLiteral("menuRemoveAll"))->trigger();
    w().AppendFile(gone);
    QVERIFY(!marked(0));
    QCOMPARE(toolTipAt(0), gone);
  }

  // ---- the failure box -----------------------------------------------------------

  // However many files failed, the box fits the screen: a short summary, the
  // files with their reasons and the encoder's lines in a scrolling list,
  // and an OK button within reach. The rows are marked behind it already.
  void failureBoxFitsTheScreen() {
    RealBoxes real;
    BatchSummary s;
    s.converted = 2;
    for (int i = 0; i < 300; ++i) {
      const QString f = QStringLiteral("/media/videos/long folder name %1/clip-%1.mp4").arg(i);
      w().AppendFile(f);
      s.failures << failureOf(f, QStringLiteral("source-incomplete"),
                              QStringLiteral("conv: error: the source is cut short: clip-%1").arg(i));
    }
    const QRect screen = w().screen()->availableGeometry();
    struct Seen {
      bool shown = false;
      QRect frame, ok;
      QString caption, text, okText, details;
      int scrollMax = 0;
      bool lastRowMarked = false;
    } seen;
    modal::when<DetailsBox>([&](DetailsBox* box) {
      seen.shown = true;
      seen.frame = box->frameGeometry();
      seen.ok = QRect(box->okButton()->mapToGlobal(QPoint(0, 0)), box->okButton()->size());
      seen.caption = box->windowTitle();
      seen.text = box->text()->text();
      seen.okText = box->okButton()->text();
      seen.details = box->details()->toPlainText();
      seen.scrollMax = box->details()->verticalScrollBar()->maximum();
      seen.lastRowMarked = marked(299);
      QTest::mouseClick(box->okButton(), Qt::LeftButton);
    });
    w().batchHost().batchFinished(s);
    QVERIFY(seen.shown);
    QVERIFY2(screen.contains(seen.frame), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                        .arg(seen.frame.x()).arg(seen.frame.y())
                                                        .arg(seen.frame.width()).arg(seen.frame.height())));
    QVERIFY(screen.contains(seen.ok));
    QCOMPARE(seen.caption, QStringLiteral("Vantrel"));
    QCOMPARE(seen.text, QStringLiteral("已转换 2 个文件，300 个文件转换失败，已放回列表末尾。"));
    QCOMPARE(seen.okText, QStringLiteral("确定"));
    QVERIFY(seen.scrollMax > 0);
    QVERIFY(seen.details.startsWith(QStringLiteral(
        "/media/videos/long folder name 0/clip-0.mp4\n原因：源文件不完整，可能已被截断\n"
        "编码程序：conv: error: the source is cut short: clip-0\n\n")));
    QVERIFY(seen.details.endsWith(QStringLiteral("clip-299")));
    QVERIFY(seen.lastRowMarked);
    QVERIFY(!QApplication::activeModalWidget());
  }

  void noFailuresNoBox() {
    RecordingPrompter prompts;
    w().AppendFile(QStringLiteral("/v/a.mp4"));
    BatchSummary s;
    s.converted = 3;
    w().batchHost().batchFinished(s);
    BatchSummary stopped;
    stopped.stopped = true;
    w().batchHost().batchFinished(stopped);
    QVERIFY(prompts.said("warning").isEmpty());
    QVERIFY(!marked(0));
  }

  // One failure and nothing converted: the summary says just that, and a
  // failure without an encoder line shows no empty line for it.
  void failureBoxForOneFile() {
    RecordingPrompter prompts;
    w().AppendFile(QStringLiteral("/v/a.wav"));
    BatchSummary s;
    s.failures = {failureOf(QStringLiteral("/v/a.wav"), QStringLiteral("crashed"), {})};
    w().batchHost().batchFinished(s);
    QCOMPARE(prompts.said("warning"),
             QStringList{QStringLiteral("Vantrel:1 个文件转换失败，已放回列表末尾。\n\n"
                                        "/v/a.wav\n原因：编码程序异常结束")});
  }

  // "剩余约 …" in the title, from how the batch has gone so far. Each event is
  // "ms file/files stage/stages percent source-seconds" on the test's clock.
  void titleTellsTheTimeLeft_data() {
    QTest::addColumn<QString>("events");
    QTest::addColumn<QString>("left");  // empty: no estimate
    QTest::newRow("nothing done yet") << "0 1/4 1/1 0 0" << "";
    QTest::newRow("too early to tell") << "0 1/4 1/1 0 0;2000 1/4 1/1 50 0" << "";
    QTest::newRow("per file") << "0 1/4 1/1 0 0;10000 2/4 1/1 0 0" << "剩余约 30 秒";
    QTest::newRow("per second of source") << "0 1/2 1/1 0 60;6000 2/2 1/1 0 540" << "剩余约 55 秒";
    QTest::newRow("running file not told yet: the mean")
        << "0 1/3 1/1 0 120;12000 2/3 1/1 0 0" << "剩余约 25 秒";
    QTest::newRow("one file told nothing: per file")
        << "0 1/3 1/1 0 0;10000 2/3 1/1 0 600" << "剩余约 20 秒";
    QTest::newRow("second stage") << "0 1/1 1/2 0 0;10000 1/1 2/2 50 0" << "剩余约 5 秒";
    QTest::newRow("a reading never takes work back")
        << "0 1/2 1/1 0 0;4000 1/2 1/1 50 0;8000 1/2 1/1 10 0" << "剩余约 25 秒";
    QTest::newRow("unknown percent") << "0 1/2 1/1 0 0;8000 1/2 1/1 -1 0" << "";
    QTest::newRow("all but done, never negative") << "0 1/1 1/1 0 0;9000 1/1 1/1 100 0" << "剩余约 5 秒";
    QTest::newRow("minutes") << "0 1/10 1/1 0 0;60000 2/10 1/1 0 0" << "剩余约 9 分钟";
    QTest::newRow("hours") << "0 1/100 1/1 0 0;120000 2/100 1/1 0 0" << "剩余约 3 小时 18 分钟";
    QTest::newRow("too little done: absurd")
        << "0 1/2 1/1 0 1;4000 2/2 1/1 0 400000" << "";
    QTest::newRow("more files handed in meanwhile")
        << "0 1/2 1/1 0 0;10000 2/2 1/1 0 0;10000 2/5 1/1 0 0" << "剩余约 40 秒";
  }
  void titleTellsTheTimeLeft() {
    QFETCH(QString, events);
    QFETCH(QString, left);
    qint64 now = 0;
    w().batchHost().setClock([&now] { return now; });
    w().batchHost().setBatchLock(true);  // the batch starts at 0
    const QString a = programDir_.filePath(QStringLiteral("a.mp4"));
    BatchProgress p;
    for (const QString& event : events.split(';')) {
      const QStringList f = event.split(' ');
      now = f[0].toLongLong();
      p = progressOf(f[1].section('/', 0, 0).toInt(), f[1].section('/', 1).toInt(), a);
      p.stage = f[2].section('/', 0, 0).toInt();
      p.stageCount = f[2].section('/', 1).toInt();
      p.percent = f[3].toInt();
      p.stageSeconds = f[4].toInt();
      w().batchHost().batchProgress(p);
    }
    const QString place = QStringLiteral("Vantrel \u2014 %1/%2 a.mp4").arg(p.fileIndex).arg(p.fileCount);
    QCOMPARE(w().windowTitle(), left.isEmpty() ? place : place + QStringLiteral("  ") + left);
    w().batchHost().setBatchLock(false);
    w().batchHost().batchFinished({});
    QCOMPARE(w().windowTitle(), QStringLiteral("Vantrel"));
    // The next batch starts from nothing.
    w().batchHost().setBatchLock(true);
    w().batchHost().batchProgress(progressOf(1, 4, a));
    QCOMPARE(w().windowTitle(), QStringLiteral("Vantrel \u2014 1/4 a.mp4"));
  }

  // ---- the stop question ----------------------------------------------------------

  void stopQuestionAnswered_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<bool>("stop");
    QTest::newRow("yes") << QStringLiteral("是(&Y)") << true;
    QTest::newRow("no") << QStringLiteral("否(&N)") << false;
  }
  void stopQuestionAnswered() {
    QFETCH(QString, button);
    QFETCH(bool, stop);
    RealBoxes real;
    QString text, caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    bool clicked = false;
    modal::when<QMessageBox>([&](QMessageBox* box) {
      text = box->text();
      caption = box->windowTitle();
      icon = box->icon();
      if (QAbstractButton* b = buttonWithText(box, button)) {
        QTest::mouseClick(b, Qt::LeftButton);
        clicked = true;
      } else {
        box->reject();
      }
    });
    QCOMPARE(w().batchHost().confirmStop(), stop);
    QVERIFY(clicked);
    QCOMPARE(text, QStringLiteral("正在转换，要停止吗？"));
    QCOMPARE(caption, QStringLiteral("Vantrel"));
    QCOMPARE(icon, QMessageBox::Question);
  }

  // The batch ends by itself while the question is open: the box stays until
  // it is answered, and its "是" then stops, starts or unlocks nothing. The
  // next question works as before.
  void stopQuestionStaysWhenTheBatchEnds() {
    RealBoxes real;
    w().AppendFile(QStringLiteral("/v/a.mp4"));
    w().batchHost().batchProgress(progressOf(1, 1, QStringLiteral("/v/a.mp4")));
    QPointer<QMessageBox> asked;
    bool stillOpen = false;
    modal::when<QMessageBox>([&](QMessageBox* box) {
      asked = box;
      w().batchHost().batchFinished({});  // the batch ends inside the question's loop
      QTest::qWait(300);
      stillOpen = box->isVisible() && QApplication::activeModalWidget() == box;
      QTest::mouseClick(buttonWithText(box, QStringLiteral("是(&Y)")), Qt::LeftButton);
    });
    QVERIFY(!w().batchHost().confirmStop());
    QVERIFY(stillOpen);
    QVERIFY(!asked);  // gone once answered
    QCOMPARE(w().windowTitle(), QStringLiteral("Vantrel"));

    modal::when<QMessageBox>([&](QMessageBox* box) {
      QTest::mouseClick(buttonWithText(box, QStringLiteral("是(&Y)")), Qt::LeftButton);
    });
    QVERIFY(w().batchHost().confirmStop());
  }

  // A prompter that cannot close its question and answers yes after the
  // batch has ended: the answer is not taken.
  void lateYesActsOnNothing() {
    RecordingPrompter prompts;
    prompts.answer = true;
    prompts.onQuestion = [this] { w().batchHost().batchFinished({}); };
    QVERIFY(!w().batchHost().confirmStop());
    prompts.onQuestion = nullptr;
    QVERIFY(w().batchHost().confirmStop());
    QCOMPARE(prompts.said("question").size(), 2);
  }

  // The empty-list warning keeps its documented text and caption.
  void emptyListWarning() {
    RecordingPrompter prompts;
    w().batchHost().warnEmptyList();
    QCOMPARE(prompts.said("warning"), QStringList{QStringLiteral("添加:请先添加一个文件")});
  }
};

QTEST_MAIN(TestBatchView)
#include "test_batchview.moc"
