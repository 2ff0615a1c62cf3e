// The file list of the real main window, driven offscreen with answered
// dialogs: adding, removing, the hint, Add folder and drops.
#include <QDir>
#include <QDropEvent>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeView>
#include <QtTest>
#include <memory>

#include "filelist/filesearch.h"
#include "filelist_support.h"
#include "ui/ccommondialogs.h"
#include "ui/frmmain.h"

namespace {
const QString kDropHint = QStringLiteral("拖拽文件到这里开始转换");

QString native(const QString& p) { return QDir::toNativeSeparators(p); }

// What the list view shows, row by row.
QStringList shownPaths(const frmMain& w) {
  QStringList rows;
  const QAbstractItemModel* m = w.findChild<QTreeView*>("LV")->model();
  for (int r = 0; r < m->rowCount(); ++r) rows.append(m->index(r, 0).data().toString());
  return rows;
}

QAction* menuItem(frmMain& w, const char* name) {
  return w.findChild<QAction*>(QString::fromLatin1(name));
}

// Drags `data` over the list and releases it; true when the drop was taken.
// The events only borrow the data; it is deleted here.
bool dropOn(QWidget* target, QMimeData* data) {
  const std::unique_ptr<QMimeData> owned(data);
  const QPointF at(target->width() / 2.0, target->height() / 2.0);
  QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton,
                        Qt::NoModifier);
  QCoreApplication::sendEvent(target, &enter);
  QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(target, &drop);
  return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

QMimeData* urls(const QList<QUrl>& list) {
  auto* data = new QMimeData;
  data->setUrls(list);
  return data;
}
}  // namespace

class TestListWindow : public QObject {
  Q_OBJECT
  FakeDialogs* dialogs_ = nullptr;
  RecordingDesktop* shell_ = nullptr;
  frmMain* w_ = nullptr;
  QString startDir_;

  frmMain& w() { return *w_; }
  void checkInStep() {
    QCOMPARE(shownPaths(w()), w().lstFile.paths());
    const QAbstractItemModel* m = w().findChild<QTreeView*>("LV")->model();
    for (int r = 0; r < m->rowCount(); ++r)
      QCOMPARE(m->index(r, 1).data().toString(), FileQueue::formatTag(w().lstFile.at(r)));
  }
  void addAnswered(const QString& path) {
    dialogs_->fileAnswers.append(path);
    w().imgAdd_Click();
  }
  void select(int row) {
    w().findChild<QTreeView*>("LV")->setCurrentIndex(w().findChild<QTreeView*>("LV")->model()->index(row, 0));
  }
  bool scanAndWait() {
    QSignalSpy done(w_, &frmMain::folderScanFinished);
    w().AddFolder();
    return !w().folderScanRunning() || done.wait(20000);
  }

 private Q_SLOTS:
  void init() {
    startDir_ = QDir::currentPath();
    dialogs_ = new FakeDialogs;
    shell_ = new RecordingDesktop;
    w_ = new frmMain(frmMain::Services{dialogs_, shell_});
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_));
  }
  void cleanup() {
    delete w_;
    delete shell_;
    delete dialogs_;
    QDir::setCurrent(startDir_);
  }

  void startsEmptyWithTheHintAndTwoColumns() {
    QVERIFY(w().findChild<QFrame*>("picText")->isVisible());
    QCOMPARE(w().findChild<QLabel*>("lblText")->text(), kDropHint);
    QCOMPARE(w().findChild<QTreeView*>("LV")->model()->columnCount(), 2);
    QCOMPARE(w().findChild<QTreeView*>("LV")->model()->headerData(0, Qt::Horizontal).toString(), QStringLiteral("文件名"));
    QCOMPARE(w().findChild<QTreeView*>("LV")->model()->headerData(1, Qt::Horizontal).toString(), QStringLiteral("格式"));
  }

  // The two columns fill the list exactly: no horizontal scroll bar, with
  // or without the vertical one, however long the paths.
  void noHorizontalScrollBar() {
    QHeaderView* header = w().findChild<QTreeView*>("LV")->header();
    QApplication::processEvents();
    QCOMPARE(w().findChild<QTreeView*>("LV")->columnWidth(0), 361);
    QCOMPARE(header->length(), w().findChild<QTreeView*>("LV")->viewport()->width());
    const QString longPath = QStringLiteral("/very/long") + QString(300, QLatin1Char('x')) + ".avi";
    for (int i = 0; i < 40; ++i) w().AppendFile(longPath);
    QTRY_VERIFY(w().findChild<QTreeView*>("LV")->verticalScrollBar()->isVisible());
    QVERIFY(!w().findChild<QTreeView*>("LV")->horizontalScrollBar()->isVisible());
    QCOMPARE(w().findChild<QTreeView*>("LV")->columnWidth(0), 361);
    QCOMPARE(header->length(), w().findChild<QTreeView*>("LV")->viewport()->width());
    QVERIFY(w().findChild<QTreeView*>("LV")->columnWidth(1) > 40);
  }

  void addFileAsksTheDialogAndTagsTheRow() {
    QTemporaryDir tmp;
    QVERIFY(makeFiles(tmp.path(), {"one/clip.avi", "two/trip.mpeg"}));
    const QString clip = native(tmp.path() + "/one/clip.avi");
    const QString trip = native(tmp.path() + "/two/trip.mpeg");

    addAnswered(clip);
    QCOMPARE(dialogs_->openRequests.size(), 1);
    QCOMPARE(dialogs_->openRequests[0].title, QStringLiteral("Open Files"));
    QCOMPARE(dialogs_->openRequests[0].filter,
             CCommonDialogs::qtFilter(QStringLiteral("所有格式文件(*.*)|*.*")));
    QCOMPARE(w().lstFile.paths(), QStringList{clip});
    QCOMPARE(w().findChild<QTreeView*>("LV")->model()->index(0, 1).data().toString(), QStringLiteral("AVI"));
    QVERIFY(!w().findChild<QFrame*>("picText")->isVisible());

    // The same file twice gives two rows; the next Add starts where the last
    // one ended.
    addAnswered(clip);
    addAnswered(trip);
    QCOMPARE(w().lstFile.paths(), QStringList({clip, clip, trip}));
    QCOMPARE(w().findChild<QTreeView*>("LV")->model()->index(2, 1).data().toString(), QStringLiteral("PEG"));
    QCOMPARE(QDir(dialogs_->openRequests[2].startFolder).canonicalPath(),
             QDir(tmp.path() + "/one").canonicalPath());
    checkInStep();

    // Cancelled: list, queue, hint and remembered folder stay.
    w().imgAdd_Click();
    QCOMPARE(w().lstFile.count(), 3);
    QVERIFY(!w().findChild<QFrame*>("picText")->isVisible());
    QCOMPARE(w().commonDialogs().Path(), native(tmp.path() + "/two/"));
    addAnswered(clip);
    QCOMPARE(QDir(dialogs_->openRequests.last().startFolder).canonicalPath(),
             QDir(tmp.path() + "/two").canonicalPath());
    QCOMPARE(w().lstFile.count(), 4);
  }

  void cancelledAddOnAnEmptyListKeepsTheHint() {
    w().imgAdd_Click();
    QVERIFY(w().lstFile.isEmpty());
    QVERIFY(w().findChild<QFrame*>("picText")->isVisible());
  }

  void removeMenuItems() {
    auto* menu = w().findChild<QMenu*>(QStringLiteral("menuRemove"));
    QVERIFY(menu);
    QCOMPARE(menu->title(), QStringLiteral("Remove"));
    QAction* selected = menuItem(w(), "menuRemoveSelected");
    QAction* all = menuItem(w(), "menuRemoveAll");
    QVERIFY(selected && all);
    QCOMPARE(selected->text(), QStringLiteral("移除选择项"));
    QCOMPARE(all->text(), QStringLiteral("移除全部"));
    QCOMPARE(menu->actions(), QList<QAction*>({selected, all}));

    for (const char* p : {"/a.avi", "/b.avi", "/c.avi"}) w().AppendFile(QString::fromLatin1(p));
    w().RefreshListHint();

    // Nothing selected: nothing removed.
    selected->trigger();
    QCOMPARE(w().lstFile.count(), 3);

    select(1);
    selected->trigger();
    QCOMPARE(w().lstFile.paths(), QStringList({"/a.avi", "/c.avi"}));
    QVERIFY(w().findChild<QLineEdit*>("txtAction")->text().isEmpty());
    QVERIFY(!w().findChild<QFrame*>("picText")->isVisible());

    // Only the exact command word removes; the box is emptied either way.
    select(0);
    w().findChild<QLineEdit*>("txtAction")->setText(QStringLiteral("removeselected"));
    QCOMPARE(w().lstFile.count(), 2);
    QVERIFY(w().findChild<QLineEdit*>("txtAction")->text().isEmpty());

    select(1);
    selected->trigger();
    select(0);
    selected->trigger();
    QVERIFY(w().lstFile.isEmpty());
    QVERIFY(w().findChild<QFrame*>("picText")->isVisible());
    checkInStep();
  }

  void removeAll() {
    QAction* all = menuItem(w(), "menuRemoveAll");
    for (int i = 0; i < 5; ++i) w().AppendFile(QStringLiteral("/f%1.avi").arg(i));
    w().RefreshListHint();
    QVERIFY(!w().findChild<QFrame*>("picText")->isVisible());
    all->trigger();
    QVERIFY(w().lstFile.isEmpty());
    QCOMPARE(w().findChild<QTreeView*>("LV")->model()->rowCount(), 0);
    QVERIFY(w().findChild<QFrame*>("picText")->isVisible());

    // A batch that emptied the list leaves the hint hidden until the next
    // list command; Remove all on the empty list shows it.
    w().AppendFile(QStringLiteral("/x.avi"));
    w().RefreshListHint();
    w().lstFile.removeAt(0);
    QVERIFY(!w().findChild<QFrame*>("picText")->isVisible());
    all->trigger();
    QVERIFY(w().findChild<QFrame*>("picText")->isVisible());
  }

  // Any mix of adds, drops, removals and finished files keeps the list and
  // the queue in step, and each step changes exactly the right position.
  void inStepAfterAnySequence() {
    QRandomGenerator rng(20240605);
    QStringList model;
    int serial = 0;
    for (int step = 0; step < 400; ++step) {
      const int op = rng.bounded(100);
      if (op < 30) {
        const QString p = QStringLiteral("/in/clip%1.%2").arg(serial++).arg(op % 2 ? "avi" : "rmvb");
        addAnswered(p);
        model.append(p);
      } else if (op < 45) {
        const QString p = QStringLiteral("/dropped/d%1.mp4").arg(serial++);
        QVERIFY(dropOn(w().findChild<QTreeView*>("LV")->viewport(), urls({QUrl::fromLocalFile(p)})));
        model.append(native(p));
      } else if (op < 80) {
        if (!model.isEmpty() && rng.bounded(4) != 0) {
          const int row = rng.bounded(static_cast<int>(model.size()));
          select(row);
          model.removeAt(row);
        } else {
          w().findChild<QTreeView*>("LV")->clearSelection();
        }
        menuItem(w(), "menuRemoveSelected")->trigger();
      } else if (op < 95) {
        if (!model.isEmpty()) {  // the batch finished its head file
          w().lstFile.removeAt(0);
          model.removeFirst();
        }
      } else {
        menuItem(w(), "menuRemoveAll")->trigger();
        model.clear();
      }
      QCOMPARE(w().lstFile.paths(), model);
      checkInStep();
      if (op < 80 && model.isEmpty()) QVERIFY(w().findChild<QFrame*>("picText")->isVisible());
      if (op < 80 && !model.isEmpty()) QVERIFY(!w().findChild<QFrame*>("picText")->isVisible());
    }
  }

  void addFolderQueuesTheTreeInScanOrder() {
    QTemporaryDir tmp;
    const QString r = native(tmp.path());
    QVERIFY(makeFiles(tmp.path(), {"b.avi", "A.avi", "sub/c.avi", "sub/deep/d.avi", "empty/"}));
    dialogs_->folderAnswers = {r};

    QSignalSpy done(w_, &frmMain::folderScanFinished);
    w().AddFolder();
    QCOMPARE(dialogs_->folderPrompts(), QStringList{QStringLiteral("选择一个文件夹:")});
    QVERIFY(w().findChild<QFrame*>("picText")->isVisible());
    QCOMPARE(w().findChild<QLabel*>("lblText")->text(), QStringLiteral("搜索文件..."));
    QVERIFY(w().folderScanRunning());
    QVERIFY(done.wait(20000));

    const QString s = QDir::separator();
    QCOMPARE(w().lstFile.paths(), QStringList({r + s + "A.avi", r + s + "b.avi", r + s + "sub" + s + "c.avi",
                                               r + s + "sub" + s + "deep" + s + "d.avi"}));
    QVERIFY(!w().findChild<QFrame*>("picText")->isVisible());
    QCOMPARE(w().findChild<QLabel*>("lblText")->text(), kDropHint);
    checkInStep();
  }

  void addFolderCancelledOrEmpty() {
    QTemporaryDir tmp;
    QVERIFY(makeFiles(tmp.path(), {"nothing/"}));
    QVERIFY(scanAndWait());  // cancelled
    QVERIFY(w().lstFile.isEmpty());
    QVERIFY(w().findChild<QFrame*>("picText")->isVisible());
    QCOMPARE(w().findChild<QLabel*>("lblText")->text(), kDropHint);

    dialogs_->folderAnswers = {native(tmp.path() + "/nothing")};
    QVERIFY(scanAndWait());
    QVERIFY(w().lstFile.isEmpty());
    QVERIFY(w().findChild<QFrame*>("picText")->isVisible());
    QCOMPARE(w().findChild<QLabel*>("lblText")->text(), kDropHint);
  }

  // Folders picked one after the other are queued one after the other, even
  // when the second is picked while the first is still being scanned.
  void addFolderTwiceAndTwoFolders() {
    QTemporaryDir tmp;
    QStringList names;
    for (int i = 0; i < 30; ++i) names.append(QStringLiteral("A/s%1/f.avi").arg(i));
    names.append(QStringLiteral("B/only.avi"));
    QVERIFY(makeFiles(tmp.path(), names));
    const QString a = native(tmp.path() + "/A"), b = native(tmp.path() + "/B");
    QStringList aFiles, bFiles;
    SearchFolder(a, aFiles);
    SearchFolder(b, bFiles);

    dialogs_->folderAnswers = {a, b, a};
    QSignalSpy done(w_, &frmMain::folderScanFinished);
    w().AddFolder();
    w().AddFolder();
    w().AddFolder();
    QVERIFY(done.wait(20000));
    QCOMPARE(done.size(), 1);
    QCOMPARE(w().lstFile.paths(), aFiles + bFiles + aFiles);

    // A cancelled pick while a scan runs leaves its notice alone.
    dialogs_->folderAnswers = {a};
    w().AddFolder();
    w().AddFolder();  // cancelled
    QCOMPARE(w().findChild<QLabel*>("lblText")->text(), QStringLiteral("搜索文件..."));
    QVERIFY(done.wait(20000));
    QCOMPARE(w().lstFile.count(), 3 * aFiles.size() + bFiles.size());
  }

  void dropAppendsLocalPathsInOrder() {
    QTemporaryDir tmp;
    QVERIFY(makeFiles(tmp.path(), {"x.avi", "y.3gp", "folder/inside.avi"}));
    const QList<QUrl> dropped{QUrl::fromLocalFile(tmp.path() + "/y.3gp"),
                              QUrl::fromLocalFile(tmp.path() + "/x.avi"),
                              QUrl::fromLocalFile(tmp.path() + "/folder")};
    QVERIFY(dropOn(w().findChild<QTreeView*>("LV")->viewport(), urls(dropped)));
    QCOMPARE(w().lstFile.paths(), QStringList({native(tmp.path() + "/y.3gp"), native(tmp.path() + "/x.avi"),
                                               native(tmp.path() + "/folder")}));
    QCOMPARE(w().findChild<QTreeView*>("LV")->model()->index(2, 1).data().toString(), QStringLiteral("DER"));
    QVERIFY(!w().findChild<QFrame*>("picText")->isVisible());
    // A drop queues, it never starts a batch.
    QVERIFY(!w().batchDriver().isRunning());  // not even about to start
    checkInStep();
  }

  void dropOfTextOrRemoteUrlsAddsNothing() {
    auto* text = new QMimeData;
    text->setText(QStringLiteral("/tmp/clip.avi"));
    QVERIFY(!dropOn(w().findChild<QTreeView*>("LV")->viewport(), text));
    QVERIFY(!dropOn(w().findChild<QTreeView*>("LV")->viewport(), urls({QUrl(QStringLiteral("https://example.invalid/a.avi"))})));
    QVERIFY(w().lstFile.isEmpty());
    QVERIFY(w().findChild<QFrame*>("picText")->isVisible());

    // Of a mixed drop only the local file counts.
    QVERIFY(dropOn(w().findChild<QTreeView*>("LV")->viewport(), urls({QUrl(QStringLiteral("ftp://host/b.avi")),
                                             QUrl::fromLocalFile(QStringLiteral("/v/c.avi"))})));
    QCOMPARE(w().lstFile.paths(), QStringList{native(QStringLiteral("/v/c.avi"))});

    // Released over the hint panel, a drop is not the list's.
    w().menuRemoveAll_Click();
    QVERIFY(!dropOn(w().findChild<QFrame*>("picText"), urls({QUrl::fromLocalFile(QStringLiteral("/v/d.avi"))})));
    QVERIFY(w().lstFile.isEmpty());
  }

  // While a batch converts the head file, dropped files join the end of the
  // queue; when the head is done the batch goes on with the next file and
  // the dropped ones follow.
  void dropDuringABatchQueuesBehindTheRunningFile() {
    w().AppendFile(QStringLiteral("/run/head.avi"));
    w().AppendFile(QStringLiteral("/run/next.avi"));
    w().batchHost().setBatchLock(true);
    QVERIFY(!w().findChild<QToolButton*>(QStringLiteral("CmdToolsBar%1").arg(0))->isEnabled());
    QVERIFY(w().findChild<QTreeView*>("LV")->isEnabled());

    QVERIFY(dropOn(w().findChild<QTreeView*>("LV")->viewport(), urls({QUrl::fromLocalFile(QStringLiteral("/new/1.avi")),
                                             QUrl::fromLocalFile(QStringLiteral("/new/2.avi"))})));
    QCOMPARE(w().lstFile.at(0), QStringLiteral("/run/head.avi"));
    w().lstFile.removeAt(0);  // the head file is done
    QCOMPARE(w().lstFile.paths(), QStringList({QStringLiteral("/run/next.avi"), native("/new/1.avi"),
                                               native("/new/2.avi")}));
    checkInStep();
    w().batchHost().setBatchLock(false);
  }
};

QTEST_MAIN(TestListWindow)
#include "test_listwindow.moc"
