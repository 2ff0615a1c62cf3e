// CCommonDialogs: what each dialog is asked to show, what is read back, and
// that a cancelled dialog changes nothing.
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include "filelist_support.h"
#include "settings/core/appdirs.h"
#include "ui/ccommondialogs.h"

namespace {
QString withNul(const QString& before, const QString& after) {
  return before + QChar(0) + after;
}
QString native(const QString& p) { return QDir::toNativeSeparators(p); }
}  // namespace

class TestCommonDialogs : public QObject {
  Q_OBJECT
  QString startDir_;

 private Q_SLOTS:
  void init() { startDir_ = QDir::currentPath(); }
  void cleanup() { QDir::setCurrent(startDir_); }

  void fourPropertiesReadUpToTheFirstNul() {
    FakeDialogs fake;
    CCommonDialogs d(fake);
    d.setFileTitle(withNul("clip.avi", "junk"));
    d.setPath(withNul("/videos", "junk"));
    d.setFileName(withNul("/videos/clip.avi", "junk"));
    d.setTitle(withNul("Open Files", "junk"));
    QCOMPARE(d.FileTitle(), QStringLiteral("clip.avi"));
    QCOMPARE(d.Path(), QStringLiteral("/videos"));
    QCOMPARE(d.FileName(), QStringLiteral("/videos/clip.avi"));
    QCOMPARE(d.Title(), QStringLiteral("Open Files"));
    d.setTitle(withNul(QString(), "junk"));
    QCOMPARE(d.Title(), QString());
    // The others read back what was written.
    d.setFilter(withNul("a", "b"));
    d.setDefExt(withNul("avi", "x"));
    QCOMPARE(d.Filter(), withNul("a", "b"));
    QCOMPARE(d.DefExt(), withNul("avi", "x"));
  }

  void filterBecomesQtForm_data() {
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("qt");
    QTest::newRow("one entry") << QStringLiteral("所有格式文件(*.*)|*.*")
#ifdef Q_OS_WIN
                               << QStringLiteral("所有格式文件(*.*) (*.*)");
#else
                               << QStringLiteral("所有格式文件(*.*) (*)");
#endif
    QTest::newRow("several patterns") << QStringLiteral("Videos|*.avi;*.mp4|Audio|*.mp3")
                                      << QStringLiteral("Videos (*.avi *.mp4);;Audio (*.mp3)");
    QTest::newRow("description without pattern") << QStringLiteral("A|*.a|B")
                                                 << QStringLiteral("A (*.a)");
    QTest::newRow("empty") << QString() << QString();
  }
  void filterBecomesQtForm() {
    QFETCH(QString, filter);
    QFETCH(QString, qt);
    QCOMPARE(CCommonDialogs::qtFilter(filter), qt);
  }

  // ShowOpen starts in the current folder, which it moves to the folder of
  // the file picked, so the second call starts where the first ended. A
  // cancelled call keeps everything, the current folder too.
  void showOpenSettingsReadBackAndCancel() {
    QTemporaryDir tmp;
    QVERIFY(makeFiles(tmp.path(), {"one/a.avi", "two/b.mp4"}));
    const QString a = native(tmp.path() + "/one/a.avi");
    const QString b = native(tmp.path() + "/two/b.mp4");
    FakeDialogs fake;
    fake.fileAnswers = {a, std::nullopt, QString(), b};
    CCommonDialogs d(fake);
    d.setTitle(withNul("Open Files", "x"));
    d.setFilter(QStringLiteral("Videos|*.avi"));
    d.setDefExt(QStringLiteral("avi"));
    d.setFileName(withNul("start.avi", "x"));
    d.setPath(QStringLiteral("/not/read"));

    QVERIFY(d.ShowOpen());
    QCOMPARE(fake.openRequests.size(), 1);
    const auto& first = fake.openRequests[0];
    QCOMPARE(first.title, QStringLiteral("Open Files"));
    QCOMPARE(first.startFolder, startDir_);
    QCOMPARE(first.filter, QStringLiteral("Videos (*.avi)"));
    QCOMPARE(first.initialName, QStringLiteral("start.avi"));
    QCOMPARE(first.defaultSuffix, QStringLiteral("avi"));
    QCOMPARE(d.FileName(), a);
    QCOMPARE(d.FileTitle(), QStringLiteral("a.avi"));
    QCOMPARE(d.Path(), native(tmp.path() + "/one"));
    const QString afterFirst = QDir::currentPath();
    QCOMPARE(QDir(afterFirst).canonicalPath(), QDir(tmp.path() + "/one").canonicalPath());

    // Cancelled, and answered with nothing: no change at all.
    QVERIFY(!d.ShowOpen());
    QVERIFY(!d.ShowOpen());
    QCOMPARE(d.FileName(), a);
    QCOMPARE(d.FileTitle(), QStringLiteral("a.avi"));
    QCOMPARE(d.Path(), native(tmp.path() + "/one"));
    QCOMPARE(QDir::currentPath(), afterFirst);

    QVERIFY(d.ShowOpen());
    QCOMPARE(fake.openRequests[3].startFolder, afterFirst);
    QCOMPARE(fake.openRequests[3].initialName, a);
    QCOMPARE(d.FileName(), b);
    QCOMPARE(d.Path(), native(tmp.path() + "/two"));
  }

  void showSaveStartFolder() {
    QTemporaryDir program, other;
    AppDirs::setProgramFolder(program.path());
    FakeDialogs fake;
    CCommonDialogs d(fake);
    d.setFilter(QStringLiteral("All|*.*"));

    const QString sep = QDir::separator();
    const QString existing = native(other.path());
    d.setPath(existing);
    QVERIFY(!d.ShowSave());
    d.setPath(existing + sep);
    QVERIFY(!d.ShowSave());
    d.setPath(QString());
    QVERIFY(!d.ShowSave());
    d.setPath(existing + sep + QStringLiteral("missing"));
    QVERIFY(!d.ShowSave());

    QCOMPARE(fake.saveRequests.size(), 4);
    QCOMPARE(fake.saveRequests[0].title, QStringLiteral("Save"));
    QCOMPARE(fake.saveRequests[0].startFolder, existing + sep);
    QCOMPARE(fake.saveRequests[1].startFolder, existing + sep);
    QCOMPARE(fake.saveRequests[2].startFolder, AppDirs::programFolder());
    QCOMPARE(fake.saveRequests[3].startFolder, AppDirs::programFolder());
    QVERIFY(fake.saveRequests[0].initialName.isEmpty());
    // Cancelled: Path stays what it was.
    QCOMPARE(d.Path(), existing + sep + QStringLiteral("missing"));

    fake.fileAnswers = {native(other.path() + "/out.mp4")};
    const QString cwd = QDir::currentPath();
    QVERIFY(d.ShowSave());
    QCOMPARE(d.FileName(), native(other.path() + "/out.mp4"));
    QCOMPARE(d.FileTitle(), QStringLiteral("out.mp4"));
    QCOMPARE(d.Path(), existing);
    QCOMPARE(QDir::currentPath(), cwd);
  }

  void showFolderReadBack() {
    FakeDialogs fake;
    fake.folderAnswers = {std::nullopt, QStringLiteral("/media/clips")};
    CCommonDialogs d(fake);
    d.setTitle(withNul("Pick one", "x"));
    d.setFileName(QStringLiteral("/a/b.avi"));
    d.setFileTitle(QStringLiteral("b.avi"));
    d.setPath(QStringLiteral("/a"));

    QVERIFY(!d.ShowFolder());
    QCOMPARE(d.Path(), QStringLiteral("/a"));
    QCOMPARE(d.FileName(), QStringLiteral("/a/b.avi"));

    QVERIFY(d.ShowFolder());
    QCOMPARE(fake.folderPrompts(), QStringList({"Pick one", "Pick one"}));
    QCOMPARE(d.Path(), QStringLiteral("/media/clips"));
    QVERIFY(d.FileName().isEmpty());
    QVERIFY(d.FileTitle().isEmpty());
  }

  // Color holds red in its low byte.
  void showColor() {
    FakeDialogs fake;
    CCommonDialogs d(fake);
    d.setColor(0x0000ffu);
    QVERIFY(!d.ShowColor(true));
    QCOMPARE(fake.colorInitial, QColor(255, 0, 0));
    QVERIFY(fake.colorFullOpen);
    QCOMPARE(d.Color(), 0x0000ffu);

    fake.colorAnswer = QColor(0x12, 0x34, 0x56);
    QVERIFY(d.ShowColor());
    QVERIFY(!fake.colorFullOpen);
    QCOMPARE(d.Color(), 0x563412u);
  }

  void showFont() {
    FakeDialogs fake;
    CCommonDialogs d(fake);
    d.setFontName(QStringLiteral("Noto Sans"));
    d.setFontSize(12);
    d.setFontBold(false);
    d.setFontItalic(false);
    d.setFontUnderline(true);

    QVERIFY(!d.ShowFont());
    QCOMPARE(fake.fontInitial.family(), QStringLiteral("Noto Sans"));
    QCOMPARE(fake.fontInitial.pointSize(), 12);
    QVERIFY(!fake.fontInitial.bold());
    QVERIFY(fake.fontInitial.underline());
    QCOMPARE(d.FontName(), QStringLiteral("Noto Sans"));
    QCOMPARE(d.FontSize(), qint16(12));

    QFont picked(QStringLiteral("DejaVu Serif"));
    picked.setPointSizeF(10.5);
    picked.setBold(true);
    picked.setItalic(true);
    picked.setUnderline(false);
    fake.fontAnswer = picked;
    QVERIFY(d.ShowFont());
    QCOMPARE(d.FontName(), QStringLiteral("DejaVu Serif"));
    QCOMPARE(d.FontSize(), qint16(10));  // whole points of 105 tenths
    QVERIFY(d.FontBold());
    QVERIFY(d.FontItalic());
    QVERIFY(d.FontUnderline());  // not read back
  }

  void showPrinterReadsNothingBack() {
    FakeDialogs fake;
    CCommonDialogs d(fake);
    d.setPath(QStringLiteral("/x"));
    QVERIFY(!d.ShowPrinter());
    fake.printerAnswer = true;
    QVERIFY(d.ShowPrinter());
    QCOMPARE(fake.printerCalls, 2);
    QCOMPARE(d.Path(), QStringLiteral("/x"));
    // The base answers "cancelled" for what a backend does not offer.
    QVERIFY(!d.ShowPrinterProperties());
  }
};

QTEST_MAIN(TestCommonDialogs)
#include "test_commondialogs.moc"
