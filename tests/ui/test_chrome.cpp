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
  QToolButton* button(int index) {
    return w().findChild<QToolButton*>(QStringLiteral("CmdToolsBar%1").arg(index));
  }

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

  void layoutHoldsEveryControlApart() {
    QCOMPARE(w().size(), QSize(698, 455));
    // The tool bar: five buttons in one row from the left edge, in command
    // order, each with its caption and picture; slots 3 and 6 have none.
    QVERIFY(!button(3) && !button(6));
    int lastX = -1;
    for (int i : {0, 1, 2, 4, 5}) {
      QToolButton* b = button(i);
      QVERIFY(b);
      QVERIFY(b->isVisible());
      QCOMPARE(b->y(), 0);
      QVERIFY(b->x() > lastX);
      lastX = b->x();
      QVERIFY(!b->text().isEmpty());
      QVERIFY(!b->icon().isNull());
    }
    // Every visible control lies inside the window, and no two of the panel's
    // and the list's controls cover each other (a wrong number in the layout
    // hides one under another).
    QList<QWidget*> shown;
    for (QWidget* c : w().findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      if (!c->isVisible() || c->objectName().isEmpty()) continue;
      QVERIFY2(w().rect().contains(c->geometry()), qPrintable(c->objectName()));
      if (c->objectName() != "picText") shown << c;
    }
    // The empty-list hint stands inside the list.
    QVERIFY(w().findChild<QWidget*>("LV")->geometry().contains(w().findChild<QWidget*>("picText")->geometry()));
    for (const char* name : {"LV", "cmbOF", "cmbVB", "cmbF", "cmbS", "cmbR", "cmbBR", "cmbChannel",
                             "txtPath", "cmdBrowse", "Command3", "pb", "lblFeed", "lblWeb", "imgHelp",
                             "imgMin", "imgExit"})
      QVERIFY2(w().findChild<QWidget*>(name) && shown.contains(w().findChild<QWidget*>(name)), name);
    for (qsizetype a = 0; a < shown.size(); ++a)
      for (qsizetype b = a + 1; b < shown.size(); ++b) {
        const bool bar = shown[a]->objectName().startsWith("CmdToolsBar") &&
                         shown[b]->objectName().startsWith("CmdToolsBar");
        if (bar) continue;  // the tool-bar buttons share their edge pixel
        QVERIFY2(!shown[a]->geometry().intersects(shown[b]->geometry()),
                 qPrintable(shown[a]->objectName() + " / " + shown[b]->objectName()));
      }
    // The point used as "the body" below is free of controls.
    QCOMPARE(w().childAt(bodyPoint()), nullptr);
  }

  void toolbarButtonsRunTheirCommands() {
    // Add file asks for a file, Add folder for a folder, and nothing else.
    QTest::mouseClick(button(0), Qt::LeftButton);
    QCOMPARE(dialogs_.openRequests.size(), 1);
    QCOMPARE(dialogs_.folderCalls.size(), 0);
    QTest::mouseClick(button(1), Qt::LeftButton);
    QCOMPARE(dialogs_.folderCalls.size(), 1);
    QCOMPARE(dialogs_.openRequests.size(), 1);
    QCOMPARE(shell_.calls(), 0);
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
    QLabel* spots[] = {w().findChild<QLabel*>("imgHelp"), w().findChild<QLabel*>("imgMin"), w().findChild<QLabel*>("imgExit")};
    for (QLabel* s : spots) QVERIFY(!lit(s));  // no picture at rest
    for (QLabel* s : spots) {
      QTest::mouseMove(s, QPoint(7, 7));
      QTRY_VERIFY(lit(s));
    }
    QTest::mouseMove(w().findChild<QLabel*>("lblFeed"), QPoint(20, 6));
    QTRY_VERIFY(w().findChild<QLabel*>("lblFeed")->font().bold());
    // Moving on without a button only resets the hover states.
    QTest::mouseMove(&w(), bodyPoint());
    QTRY_VERIFY(!w().findChild<QLabel*>("lblFeed")->font().bold());
    for (QLabel* s : spots) QVERIFY(!lit(s));
    QVERIFY(moves_.isEmpty());
  }

  void helpAndMinimiseClearTheirPictureOnClick() {
    QTest::mouseMove(w().findChild<QLabel*>("imgHelp"), QPoint(7, 7));
    QTRY_VERIFY(lit(w().findChild<QLabel*>("imgHelp")));
    QTest::mouseClick(w().findChild<QLabel*>("imgHelp"), Qt::LeftButton, {}, QPoint(7, 7));
    QCOMPARE(shell_.urls.size(), 1);
    QVERIFY(shell_.urls[0].toLocalFile().endsWith(QStringLiteral("/help.html")));
    QVERIFY(!lit(w().findChild<QLabel*>("imgHelp")));  // although the mouse still rests on it
    QVERIFY(moves_.isEmpty());   // a press on a hot spot is no window drag

    QTest::mouseMove(w().findChild<QLabel*>("imgMin"), QPoint(7, 7));
    QTRY_VERIFY(lit(w().findChild<QLabel*>("imgMin")));
    QTest::mouseClick(w().findChild<QLabel*>("imgMin"), Qt::LeftButton, {}, QPoint(7, 7));
    QTRY_VERIFY(w().isMinimized());
    QVERIFY(!lit(w().findChild<QLabel*>("imgMin")));
  }

  void hotSpotClickNeedsPressAndReleaseOnIt() {
    // Released elsewhere: no click.
    QTest::mousePress(w().findChild<QLabel*>("imgHelp"), Qt::LeftButton, {}, QPoint(7, 7));
    QTest::mouseRelease(w().findChild<QLabel*>("imgHelp"), Qt::LeftButton, {}, QPoint(40, 40));
    QCOMPARE(shell_.urls.size(), 0);
    // A double click opens help once, not twice.
    QTest::mouseDClick(w().findChild<QLabel*>("imgHelp"), Qt::LeftButton, {}, QPoint(7, 7));
    QCOMPARE(shell_.urls.size(), 1);
  }

  void homeLinkOpensTheHomePage() {
    QTest::mouseClick(w().findChild<QLabel*>("lblWeb"), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(shell_.urls, QList<QUrl>{QUrl(QStringLiteral(VANTREL_HOME_PAGE))});
  }

  void browsePicksOrResetsTheOutputFolder() {
    dialogs_.folderAnswers = {QStringLiteral("/media/videos/out")};
    QTest::mouseClick(w().findChild<QPushButton*>("cmdBrowse"), Qt::LeftButton);
    QCOMPARE(dialogs_.folderCalls.size(), 1);
    QCOMPARE(dialogs_.folderCalls[0].prompt, QStringLiteral("请选择一个文件夹:"));
    QCOMPARE(dialogs_.folderCalls[0].owner, &w());
    QCOMPARE(w().findChild<QLineEdit*>("txtPath")->text(), QStringLiteral("/media/videos/out"));
    // Cancel replaces whatever the box held with the default output folder.
    w().findChild<QLineEdit*>("txtPath")->setText(QStringLiteral("/somewhere/typed by hand"));
    QTest::mouseClick(w().findChild<QPushButton*>("cmdBrowse"), Qt::LeftButton);
    QCOMPARE(w().findChild<QLineEdit*>("txtPath")->text(), AppDirs::defaultOutputFolder());
    QCOMPARE(w().findChild<QLineEdit*>("txtPath")->text(), JoinPath(programDir_.path(), QStringLiteral("output")));
  }

  void pressAndDragOnTheBodyMovesTheWindow() {
    QTest::mouseMove(w().findChild<QLabel*>("imgExit"), QPoint(7, 7));
    QTRY_VERIFY(lit(w().findChild<QLabel*>("imgExit")));
    QTest::mousePress(&w(), Qt::LeftButton, {}, bodyPoint());
    QVERIFY(moves_.isEmpty());  // a press alone does not move
    QTest::mouseMove(&w(), bodyPoint() + QPoint(5, 3));
    QCOMPARE(moves_, QList<QWidget*>{&w()});
    QVERIFY(!lit(w().findChild<QLabel*>("imgExit")));
    QTest::mouseRelease(&w(), Qt::LeftButton, {}, bodyPoint() + QPoint(5, 3));
    // Later moves without the button do not move it again.
    QTest::mouseMove(&w(), bodyPoint() + QPoint(9, 9));
    QCOMPARE(moves_.size(), 1);
  }

  void dragThatBeganOnAControlDoesNotMoveTheWindow() {
    // The button keeps the mouse while it is held; released off the button,
    // nothing is clicked either.
    QTest::mousePress(w().findChild<QPushButton*>("cmdBrowse"), Qt::LeftButton, {}, QPoint(5, 5));
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
    QTest::mouseClick(w().findChild<QLabel*>("lblFeed"), Qt::LeftButton, {}, QPoint(20, 6));
    QVERIFY(first.found && first.modal && first.ownerless && first.fresh);
    inspect(&second, false);
    QTest::mouseClick(w().findChild<QLabel*>("lblFeed"), Qt::LeftButton, {}, QPoint(20, 6));
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
    w().batchHost().setBatchLock(true);
    QTest::mouseMove(w().findChild<QLabel*>("lblFeed"), QPoint(20, 6));
    QTest::mouseClick(w().findChild<QLabel*>("lblFeed"), Qt::LeftButton, {}, QPoint(20, 6));
    QTest::qWait(50);
    QVERIFY(!opened);
    QVERIFY(!w().findChild<QLabel*>("lblFeed")->font().bold());
  }
};

QTEST_MAIN(ChromeTest)
#include "test_chrome.moc"
