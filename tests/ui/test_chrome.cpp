// The main window's frame: tool bar and command switch, hot spots, links,
// output-folder picker and moving the window by its body.
// Mouse events travel through the window, as the window system delivers them.
#define QTEST_QPA_MOUSE_HANDLING
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "chrome_support.h"
#include "filelist/pathhelpers.h"
#include "settings/core/appdirs.h"
#include "ui/frmoptions.h"
#include "ui/formhelpers.h"
#include "ui/frmmain.h"
#include "ui/frmsuggest.h"


class ChromeTest : public QObject {
  Q_OBJECT

  QTemporaryDir programDir_;
  FakeDialogs dialogs_;
  RecordingDesktop shell_;
  std::unique_ptr<frmMain> w_;
  QList<QWidget*> moves_;  // windows whose move was started

  frmMain& w() { return *w_; }

  static bool lit(const QLabel* spot) { return !spot->pixmap().isNull(); }

  // A point of the window's body that no control covers.
  static QPoint bodyPoint() { return {473, 200}; }

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(programDir_.isValid());
    AppDirs::setProgramFolder(programDir_.path());
    setWindowMoveHandler([this](QWidget* window) {
      moves_.append(window);
      return true;
    });
  }
  void cleanupTestCase() { setWindowMoveHandler({}); }

  void init() {
    dialogs_ = FakeDialogs();
    shell_.urls.clear();
    shell_.folders.clear();
    shell_.sounds.clear();
    moves_.clear();
    w_ = std::make_unique<frmMain>(frmMain::Services{&dialogs_, &shell_});
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
  }
  void cleanup() { w_.reset(); }

  void layoutAtTheDocumentedPixels() {
    QCOMPARE(w().size(), QSize(698, 455));
    const struct {
      QWidget* control;
      QRect geometry;
    } expected[] = {
        {w().CmdToolsBar[0], {0, 0, 95, 66}},    {w().CmdToolsBar[1], {94, 0, 95, 66}},
        {w().CmdToolsBar[2], {188, 0, 95, 66}},  {w().CmdToolsBar[4], {282, 0, 95, 66}},
        {w().CmdToolsBar[5], {376, 0, 95, 66}},  {w().imgHelp, {635, 8, 15, 15}},
        {w().imgMin, {652, 9, 14, 14}},          {w().imgExit, {672, 10, 15, 15}},
        {w().lblFeed, {624, 432, 48, 13}},       {w().lblWeb, {6, 430, 165, 13}},
        {w().cmdBrowse, {630, 326, 47, 20}},
    };
    for (const auto& e : expected) {
      QVERIFY(e.control);
      QCOMPARE(e.control->geometry(), e.geometry);
      QVERIFY(e.control->isVisible());
    }
    QVERIFY(!w().CmdToolsBar[3] && !w().CmdToolsBar[6]);
    const char* captions[] = {"添加文件", "添加文件夹", "移除文件", nullptr, "提示设置", "退出程序"};
    for (int i : {0, 1, 2, 4, 5}) {
      QCOMPARE(w().CmdToolsBar[i]->text(), QString::fromUtf8(captions[i]));
      QVERIFY(!w().CmdToolsBar[i]->icon().isNull());
    }
    // The point used as "the body" below is free of controls.
    QCOMPARE(w().childAt(bodyPoint()), nullptr);
  }

  void toolbarButtonsRunTheirCommands() {
    // Button index -> command index; the gaps in the bar run nothing.
    const int expected[] = {0, 6, 1, -1, 2, 4, -1};
    for (int i = 0; i < 7; ++i) QCOMPARE(frmMain::toolbarCommand(i), expected[i]);
    for (int i : {-1, 7, 100}) QCOMPARE(frmMain::toolbarCommand(i), -1);
  }

  void commandSwitchHelpAndUnknownIndices() {
    w().imgToolbar_Click(3);
    QCOMPARE(shell_.urls.size(), 1);
    QCOMPARE(shell_.urls[0],
             QUrl::fromLocalFile(JoinPath(programDir_.path(), QStringLiteral("help.html"))));
    // Indices without a command do nothing at all.
    shell_.urls.clear();
    for (int index : {-1, 5, 7, 8, 1000}) w().imgToolbar_Click(index);
    // Tool-bar slots without a button (5 is the exit button).
    for (int index : {-1, 3, 6, 7, 1000}) w().CmdToolsBar_Click(index);
    QCOMPARE(shell_.calls(), 0);
    QCOMPARE(dialogs_.folderCalls.size(), 0);
    QCOMPARE(dialogs_.openRequests.size(), 0);
    QVERIFY(w().isVisible() && !w().isMinimized());
  }

  void hotSpotsLightUnderTheMouseAndClearOnTheBody() {
    QLabel* spots[] = {w().imgHelp, w().imgMin, w().imgExit};
    for (QLabel* s : spots) QVERIFY(!lit(s));  // no picture at rest
    for (QLabel* s : spots) {
      QTest::mouseMove(s, QPoint(7, 7));
      QTRY_VERIFY(lit(s));
    }
    QTest::mouseMove(w().lblFeed, QPoint(20, 6));
    QTRY_VERIFY(w().lblFeed->font().bold());
    // Moving on without a button only resets the hover states.
    QTest::mouseMove(&w(), bodyPoint());
    QTRY_VERIFY(!w().lblFeed->font().bold());
    for (QLabel* s : spots) QVERIFY(!lit(s));
    QVERIFY(moves_.isEmpty());
  }

  void helpAndMinimiseClearTheirPictureOnClick() {
    QTest::mouseMove(w().imgHelp, QPoint(7, 7));
    QTRY_VERIFY(lit(w().imgHelp));
    QTest::mouseClick(w().imgHelp, Qt::LeftButton, {}, QPoint(7, 7));
    QCOMPARE(shell_.urls.size(), 1);
    QVERIFY(shell_.urls[0].toLocalFile().endsWith(QStringLiteral("/help.html")));
    QVERIFY(!lit(w().imgHelp));  // although the mouse still rests on it
    QVERIFY(moves_.isEmpty());   // a press on a hot spot is no window drag

    QTest::mouseMove(w().imgMin, QPoint(7, 7));
    QTRY_VERIFY(lit(w().imgMin));
    QTest::mouseClick(w().imgMin, Qt::LeftButton, {}, QPoint(7, 7));
    QTRY_VERIFY(w().isMinimized());
    QVERIFY(!lit(w().imgMin));
  }

  void hotSpotClickNeedsPressAndReleaseOnIt() {
    // Released elsewhere: no click.
    QTest::mousePress(w().imgHelp, Qt::LeftButton, {}, QPoint(7, 7));
    QTest::mouseRelease(w().imgHelp, Qt::LeftButton, {}, QPoint(40, 40));
    QCOMPARE(shell_.urls.size(), 0);
    // A double click opens help once, not twice.
    QTest::mouseDClick(w().imgHelp, Qt::LeftButton, {}, QPoint(7, 7));
    QCOMPARE(shell_.urls.size(), 1);
  }

  void homeLinkOpensTheHomePage() {
    QTest::mouseClick(w().lblWeb, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(shell_.urls, QList<QUrl>{QUrl(QStringLiteral(VANTREL_HOME_PAGE))});
  }

  void browsePicksOrResetsTheOutputFolder() {
    dialogs_.folderAnswers = {QStringLiteral("/media/videos/out")};
    QTest::mouseClick(w().cmdBrowse, Qt::LeftButton);
    QCOMPARE(dialogs_.folderCalls.size(), 1);
    QCOMPARE(dialogs_.folderCalls[0].prompt, QStringLiteral("请选择一个文件夹:"));
    QCOMPARE(dialogs_.folderCalls[0].owner, &w());
    QCOMPARE(w().txtPath->text(), QStringLiteral("/media/videos/out"));
    // Cancel replaces whatever the box held with the default output folder.
    w().txtPath->setText(QStringLiteral("/somewhere/typed by hand"));
    QTest::mouseClick(w().cmdBrowse, Qt::LeftButton);
    QCOMPARE(w().txtPath->text(), AppDirs::defaultOutputFolder());
    QCOMPARE(w().txtPath->text(), JoinPath(programDir_.path(), QStringLiteral("output")));
  }

  void pressAndDragOnTheBodyMovesTheWindow() {
    QTest::mouseMove(w().imgExit, QPoint(7, 7));
    QTRY_VERIFY(lit(w().imgExit));
    QTest::mousePress(&w(), Qt::LeftButton, {}, bodyPoint());
    QVERIFY(moves_.isEmpty());  // a press alone does not move
    QTest::mouseMove(&w(), bodyPoint() + QPoint(5, 3));
    QCOMPARE(moves_, QList<QWidget*>{&w()});
    QVERIFY(!lit(w().imgExit));
    QTest::mouseRelease(&w(), Qt::LeftButton, {}, bodyPoint() + QPoint(5, 3));
    // Later moves without the button do not move it again.
    QTest::mouseMove(&w(), bodyPoint() + QPoint(9, 9));
    QCOMPARE(moves_.size(), 1);
  }

  void dragThatBeganOnAControlDoesNotMoveTheWindow() {
    // The button keeps the mouse while it is held; released off the button,
    // nothing is clicked either.
    QTest::mousePress(w().cmdBrowse, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(&w(), bodyPoint());
    QTest::mouseRelease(&w(), Qt::LeftButton, {}, bodyPoint());
    QVERIFY(moves_.isEmpty());
    QCOMPARE(dialogs_.folderCalls.size(), 0);
    // A drag with another button does not move the window.
    QTest::mousePress(&w(), Qt::RightButton, {}, bodyPoint());
    QTest::mouseMove(&w(), bodyPoint() + QPoint(4, 4));
    QTest::mouseRelease(&w(), Qt::RightButton, {}, bodyPoint() + QPoint(4, 4));
    QVERIFY(moves_.isEmpty());
  }

  // The options dialog and the feedback form move by their body the same way,
  // through the same window move as the main window.
  void dialogsMoveByTheirBodyLikeTheWindow() {
    frmOptions options;
    frmSuggest feedback;
    for (QWidget* form : std::initializer_list<QWidget*>{&options, &feedback}) {
      moves_.clear();
      form->show();
      QVERIFY(QTest::qWaitForWindowExposed(form));
      const QPoint body(2, form->height() - 3);
      QTest::mouseMove(form, body);  // moving with no button never moves it
      QVERIFY(moves_.isEmpty());
      QTest::mousePress(form, Qt::RightButton, {}, body);
      QTest::mouseMove(form, body + QPoint(1, 0));
      QTest::mouseRelease(form, Qt::RightButton, {}, body + QPoint(1, 0));
      QVERIFY2(moves_.isEmpty(), qPrintable(form->objectName()));
      QTest::mousePress(form, Qt::LeftButton, {}, body);
      QVERIFY(moves_.isEmpty());
      QTest::mouseMove(form, body + QPoint(1, -1));
      QTest::mouseMove(form, body + QPoint(2, -2));  // one move per press
      QCOMPARE(moves_, QList<QWidget*>{form});
      QTest::mouseRelease(form, Qt::LeftButton, {}, body + QPoint(2, -2));
      form->hide();
    }
  }

  void feedbackLinkOpensAFreshModalFormEachTime() {
    struct Seen {
      bool found = false, modal = false, ownerless = false, fresh = false;
    };
    auto inspect = [](Seen* seen, bool typeSomething) {
      QTimer::singleShot(0, [seen, typeSomething] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
          auto* form = qobject_cast<frmSuggest*>(top);
          if (!form || !form->isVisible()) continue;
          seen->found = true;
          seen->modal = form->windowModality() == Qt::ApplicationModal;
          seen->ownerless = form->parentWidget() == nullptr;
          seen->fresh = form->txtName->text().isEmpty() && form->lblSending->isHidden() &&
                        form->Command3->isEnabled();
          if (typeSomething) {
            form->txtName->setText(QStringLiteral("someone"));
            form->Command1_Click();  // prompts for the e-mail address
          }
          form->Command4->click();  // "返回"
        }
      });
    };
    Seen first, second;
    inspect(&first, true);
    QTest::mouseClick(w().lblFeed, Qt::LeftButton, {}, QPoint(20, 6));
    QVERIFY(first.found && first.modal && first.ownerless && first.fresh);
    inspect(&second, false);
    QTest::mouseClick(w().lblFeed, Qt::LeftButton, {}, QPoint(20, 6));
    QVERIFY(second.found && second.fresh);
    for (QWidget* top : QApplication::topLevelWidgets())
      QVERIFY(!qobject_cast<frmSuggest*>(top));  // each form is gone when closed
  }

  void lockedFeedbackLinkDoesNothing() {
    bool opened = false;
    QTimer guard;
    connect(&guard, &QTimer::timeout, [&opened] {
      for (QWidget* top : QApplication::topLevelWidgets())
        if (auto* form = qobject_cast<frmSuggest*>(top); form && form->isVisible()) {
          opened = true;
          form->close();
        }
    });
    guard.start(0);
    w().setBatchLock(true);
    QTest::mouseMove(w().lblFeed, QPoint(20, 6));
    QTest::mouseClick(w().lblFeed, Qt::LeftButton, {}, QPoint(20, 6));
    QTest::qWait(50);
    QVERIFY(!opened);
    QVERIFY(!w().lblFeed->font().bold());
  }
};

QTEST_MAIN(ChromeTest)
#include "test_chrome.moc"
