// Qt's own dialogs and buttons speak Chinese whatever the system's language
// (this test runs under LC_ALL=C.UTF-8): the folder and file dialogs are Qt's
// own, translated, and so are the buttons of the message boxes. The
// program's own texts stay as they are.
#include <QAbstractButton>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QListView>
#include <QTreeView>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include "chrome_support.h"
#include "modal_support.h"
#include "settings/core/appdirs.h"
#include "ui/chinese.h"
#include "ui/frmmain.h"


namespace {

// The texts a dialog shows: its visible labels and buttons.
QStringList shownTexts(QWidget* dialog) {
  QStringList texts;
  for (auto* l : dialog->findChildren<QLabel*>())
    if (l->isVisible()) texts << l->text();
  for (auto* b : dialog->findChildren<QAbstractButton*>())
    if (b->isVisible()) texts << b->text();
  return texts;
}

QAbstractButton* buttonWithText(QWidget* box, const QString& text) {
  for (auto* b : box->findChildren<QAbstractButton*>())
    if (b->text() == text && b->isVisible()) return b;
  return nullptr;
}

void closeWith(QWidget* dialog, const QString& button) {
  if (QAbstractButton* b = buttonWithText(dialog, button))
    QTest::mouseClick(b, Qt::LeftButton);
  else
    dialog->close();
}

struct Seen {
  bool shown = false;
  bool qtsOwn = false;  // Qt's own widgets, not a desktop's dialog
  QString title;
  QStringList texts;
};

Seen look(QFileDialog* d) {
  Seen s;
  s.shown = true;
  const auto* list = d->findChild<QListView*>(QStringLiteral("listView"));
  const auto* tree = d->findChild<QTreeView*>(QStringLiteral("treeView"));
  s.qtsOwn = d->isVisible() && ((list && list->isVisible()) || (tree && tree->isVisible()));
  s.title = d->windowTitle();
  s.texts = shownTexts(d);
  return s;
}

}  // namespace

class TestChinese : public QObject {
  Q_OBJECT
  QTemporaryDir programDir_;
  RecordingDesktop shell_;
  std::unique_ptr<frmMain> w_;
  MessageBoxPrompter boxes_;

  frmMain& w() { return *w_; }

 private Q_SLOTS:
  void initTestCase() {
    QVERIFY(programDir_.isValid());
    AppDirs::setProgramFolder(programDir_.path());
    QVERIFY(QLocale::system().language() != QLocale::Chinese);
    QVERIFY2(Chinese::installQtTranslation(qApp),
             qPrintable(QLibraryInfo::path(QLibraryInfo::TranslationsPath)));
    Chinese::useQtDialogs();
    setPrompter(&boxes_);
  }
  void cleanupTestCase() { setPrompter(nullptr); }
  void init() {
    // The real dialogs.
    w_ = std::make_unique<frmMain>(frmMain::Services{nullptr, &shell_});
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
  }
  void cleanup() { w_.reset(); }

  void translationAndLocale() {
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
    // A text Qt's translation lacks, and one both have: Qt's own wins.
    QCOMPARE(QCoreApplication::translate("QAbstractFileIconProvider", "Folder", "All other platforms"),
             QStringLiteral("文件夹"));
    QCOMPARE(QCoreApplication::translate("QAbstractFileIconProvider", "Not a Qt text"),
             QStringLiteral("Not a Qt text"));
    QCOMPARE(QLocale().language(), QLocale::Chinese);
  }

  // "浏览": Qt's own folder dialog with the documented prompt as its caption;
  // cancelling it puts back the default output folder.
  void folderDialog() {
    QVERIFY(QDir(programDir_.path()).mkpath(QStringLiteral("子文件夹")));
    Seen seen;
    QString kind;  // what the dialog's list says the subfolder is
    modal::when<QFileDialog>([&](QFileDialog* d) {
      seen = look(d);
      if (auto* tree = d->findChild<QTreeView*>(QStringLiteral("treeView"))) {
        const QAbstractItemModel* m = tree->model();
        if (QTest::qWaitFor([&] { return m->rowCount(tree->rootIndex()) > 0; }, 3000))
          kind = m->index(0, 2, tree->rootIndex()).data().toString();
      }
      closeWith(d, QStringLiteral("取消"));
    });
    w().findChild<QLineEdit*>("txtPath")->setText(programDir_.path());  // where the picker starts
    QTest::mouseClick(w().findChild<QPushButton*>("cmdBrowse"), Qt::LeftButton);
    QVERIFY(seen.shown);
    QVERIFY(seen.qtsOwn);
    QCOMPARE(seen.title, QStringLiteral("请选择一个文件夹:"));
    for (const char* text : {"查找范围：", "目录：", "选择(&C)", "取消"})
      QVERIFY2(seen.texts.contains(QString::fromUtf8(text)), qPrintable(seen.texts.join('|')));
    for (const char* english : {"Look in:", "Directory:", "&Choose", "Cancel"})
      QVERIFY(!seen.texts.contains(QString::fromUtf8(english)));
    QCOMPARE(kind, QStringLiteral("文件夹"));
    QCOMPARE(w().findChild<QLineEdit*>("txtPath")->text(), AppDirs::defaultOutputFolder());
  }

  // "添加文件": Qt's own file dialog under its documented caption; a name
  // that does not exist is refused with a Chinese message and a Chinese OK.
  void fileDialogAndItsMessage() {
    Seen seen;
    QString message, messageOk;
    modal::when<QFileDialog>([&](QFileDialog* d) {
      seen = look(d);
      auto* name = d->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      if (!name) {
        d->reject();
        return;
      }
      modal::when<QMessageBox>([&](QMessageBox* box) {
        message = box->text();
        if (QAbstractButton* ok = box->button(QMessageBox::Ok)) messageOk = ok->text();
        closeWith(box, QStringLiteral("确定"));
      });
      name->setFocus();
      QTest::keyClicks(name, QStringLiteral("no such file.avi"));
      QTest::keyClick(name, Qt::Key_Return);  // the message runs here and is closed
      closeWith(d, QStringLiteral("取消"));
    });
    QTest::mouseClick(w().findChild<QToolButton*>(QStringLiteral("CmdToolsBar%1").arg(0)), Qt::LeftButton);
    QVERIFY(seen.shown);
    QVERIFY(seen.qtsOwn);
    QCOMPARE(seen.title, QStringLiteral("Open Files"));
    for (const char* text : {"查找范围：", "文件名称(&N)：", "文件类型：", "打开(&O)", "取消"})
      QVERIFY2(seen.texts.contains(QString::fromUtf8(text)), qPrintable(seen.texts.join('|')));
    QVERIFY2(message.contains(QStringLiteral("文件未找到。")), qPrintable(message));
    QCOMPARE(messageOk, QStringLiteral("确定"));
    QVERIFY(w().lstFile.isEmpty());
  }

  // The start button on an empty list: the documented warning with a
  // Chinese OK button.
  void messageBoxButton() {
    QString text, caption, ok;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    modal::when<QMessageBox>([&](QMessageBox* box) {
      text = box->text();
      caption = box->windowTitle();
      icon = box->icon();
      if (QAbstractButton* b = box->button(QMessageBox::Ok)) ok = b->text();
      closeWith(box, QStringLiteral("确定"));
    });
    QTest::mouseClick(w().findChild<QPushButton*>("Command3"), Qt::LeftButton);
    QCOMPARE(text, QStringLiteral("请先添加一个文件"));
    QCOMPARE(caption, QStringLiteral("添加"));
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(ok, QStringLiteral("确定"));
    QCOMPARE(w().findChild<QPushButton*>("Command3")->text(), QStringLiteral("立刻开始转换！"));
  }
};

QTEST_MAIN(TestChinese)
#include "test_chinese.moc"
