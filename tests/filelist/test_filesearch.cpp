// The folder walk of Add folder: order, limits, links, and the worker that
// hands the paths back in batches.
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>

#include "filelist/filesearch.h"
#include "filelist_support.h"

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

class TestFileSearch : public QObject {
  Q_OBJECT

  static QStringList scan(const QString& folder) {
    QStringList list;
    SearchFolder(folder, list);
    return list;
  }
  static QStringList under(const QString& root, const QStringList& names) {
    QStringList out;
    for (const QString& n : names) out.append(QDir::toNativeSeparators(root + QLatin1Char('/') + n));
    return out;
  }

 private Q_SLOTS:
  void trimFindName_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("name");
    QTest::newRow("NUL padding") << QStringLiteral("clip.avi").append(QString(252, QChar(0)))
                                 << QStringLiteral("clip.avi");
    QTest::newRow("blank padding") << QStringLiteral("clip.avi    ") << QStringLiteral("clip.avi");
    QTest::newRow("blanks then NULs") << QStringLiteral("a b  ").append(QString(3, QChar(0)))
                                      << QStringLiteral("a b");
    QTest::newRow("stale text after the NUL")
        << QStringLiteral("ab").append(QChar(0)).append(QStringLiteral("old-name"))
        << QStringLiteral("ab");
    QTest::newRow("leading blanks stay") << QStringLiteral("  x") << QStringLiteral("  x");
    QTest::newRow("only padding") << QStringLiteral("   ").append(QChar(0)).append(QStringLiteral("  "))
                                  << QString();
    QTest::newRow("empty") << QString() << QString();
  }
  void trimFindName() {
    QFETCH(QString, field);
    QFETCH(QString, name);
    QCOMPARE(TrimFindName(field), name);
  }

  // Upper-cased units compared by value: "_" (0x5F) sorts after letters,
  // unlike a lower-case fold; names equal but for case keep an exact order.
  void listingOrderIgnoresCaseTheWayNtfsDoes() {
    QStringList names{QStringLiteral("_x"),      QStringLiteral("b.avi"),   QStringLiteral("a.avi"),
                      QStringLiteral("A.avi"),   QStringLiteral("Z"),       QStringLiteral("clip"),
                      QStringLiteral("clip.avi"), QStringLiteral("\u00e9t\u00e9"), QStringLiteral("10"),
                      QStringLiteral("9")};
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return FileSearch::nameLess(a, b); });
    const QStringList expected{QStringLiteral("10"),   QStringLiteral("9"),
                               QStringLiteral("A.avi"), QStringLiteral("a.avi"),
                               QStringLiteral("b.avi"), QStringLiteral("clip"),
                               QStringLiteral("clip.avi"), QStringLiteral("Z"),
                               QStringLiteral("_x"),    QStringLiteral("\u00e9t\u00e9")};
    QCOMPARE(names, expected);
  }

  void ownFilesFirstThenSubFoldersDepthFirst() {
    QTemporaryDir tmp;
    const QString r = tmp.path();
    QVERIFY(makeFiles(r, {"b.avi", "A.mp4", ".hidden", "Sub2/z.avi", "sub1/y.avi",
                          "sub1/deep/x.avi", "sub1/a.avi", "empty/"}));
    QCOMPARE(scan(r), under(r, {".hidden", "A.mp4", "b.avi", "sub1/a.avi", "sub1/y.avi",
                                "sub1/deep/x.avi", "Sub2/z.avi"}));
  }

  void emptyMissingAndTrailingSeparator() {
    QTemporaryDir tmp;
    QVERIFY(makeFiles(tmp.path(), {"e/", "f/one.avi"}));
    QVERIFY(scan(tmp.path() + QStringLiteral("/e")).isEmpty());
    QVERIFY(scan(tmp.path() + QStringLiteral("/no such folder")).isEmpty());
    // A folder that already ends with a separator gets no second one.
    const QString f = QDir::toNativeSeparators(tmp.path() + QStringLiteral("/f/"));
    QCOMPARE(scan(f), QStringList{f + QStringLiteral("one.avi")});
  }

  // Only the first 200 sub-folders in listing order are scanned; every file
  // of the folder itself still is.
  void twoHundredSubFoldersAtMost() {
    QTemporaryDir tmp;
    const QString r = tmp.path();
    QStringList names{"z1.avi", "Z2.avi", "y.avi"};
    for (int i = 249; i >= 0; --i)  // made in reverse: the order must not come from the disk
      names.append(QStringLiteral("d%1/f.avi").arg(i, 3, 10, QLatin1Char('0')));
    names.append(QStringLiteral("d000/inner/g.avi"));
    QVERIFY(makeFiles(r, names));

    const QStringList found = scan(r);
    QCOMPARE(found.size(), 3 + 200 + 1);
    QCOMPARE(found.mid(0, 3), under(r, {"y.avi", "z1.avi", "Z2.avi"}));
    QCOMPARE(found.mid(3, 3), under(r, {"d000/f.avi", "d000/inner/g.avi", "d001/f.avi"}));
    QCOMPARE(found.last(), under(r, {"d199/f.avi"}).first());
    QVERIFY(!found.contains(under(r, {"d200/f.avi"}).first()));

    FileSearch::Listing listing;
    QVERIFY(FileSearch::listFolder(r, listing));
    QCOMPARE(listing.folders.size(), FileSearch::MaxSubFolders);
    QCOMPARE(listing.files.size(), 3);
  }

  // Links to folders are neither queued nor descended, so a link to a parent
  // cannot make the walk loop; links to files are files.
  void linksToFoldersAreNotDescended() {
    QTemporaryDir tmp;
    const QString r = tmp.path();
    QTemporaryDir outside;
    QVERIFY(makeFiles(r, {"a/clip.avi", "b.avi"}));
    QVERIFY(makeFiles(outside.path(), {"elsewhere.avi"}));
    QVERIFY(QFile::link(r, r + QStringLiteral("/a/up")));
    QVERIFY(QFile::link(r + QStringLiteral("/a"), r + QStringLiteral("/a/self")));
    QVERIFY(QFile::link(outside.path(), r + QStringLiteral("/outside")));
    QVERIFY(QFile::link(r + QStringLiteral("/b.avi"), r + QStringLiteral("/c-link.avi")));
    QVERIFY(QFile::link(r + QStringLiteral("/gone"), r + QStringLiteral("/dangling")));
    QCOMPARE(scan(r), under(r, {"b.avi", "c-link.avi", "dangling", "a/clip.avi"}));
  }

  void unreadableFolderIsSkipped() {
#ifdef Q_OS_UNIX
    if (::geteuid() == 0) QSKIP("root reads every folder");
#endif
    QTemporaryDir tmp;
    const QString r = tmp.path();
    QVERIFY(makeFiles(r, {"a/x.avi", "b/y.avi"}));
    QFile::setPermissions(r + QStringLiteral("/a"), QFileDevice::Permissions());
    const QStringList found = scan(r);
    QFile::setPermissions(r + QStringLiteral("/a"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                        QFileDevice::ExeOwner);
    QCOMPARE(found, under(r, {"b/y.avi"}));
  }

  // Scans queued one behind the other hand back exactly what the walk finds,
  // in order, and report their end once.
  void workerKeepsOrderAcrossQueuedScans() {
    QTemporaryDir tmp;
    const QString r = tmp.path();
    QStringList names;
    for (int d = 0; d < 40; ++d)
      for (int f = 0; f < 25; ++f) names.append(QStringLiteral("A/d%1/f%2.avi").arg(d).arg(f));
    names.append(QStringLiteral("B/one.avi"));
    QVERIFY(makeFiles(r, names));
    const QString a = QDir::toNativeSeparators(r + QStringLiteral("/A"));
    const QString b = QDir::toNativeSeparators(r + QStringLiteral("/B"));

    FolderScan scan;
    QStringList got;
    int batches = 0;
    connect(&scan, &FolderScan::found, this, [&](const QStringList& p) {
      got += p;
      ++batches;
    });
    QSignalSpy finished(&scan, &FolderScan::finished);
    scan.start(a);
    scan.start(b);
    scan.start(a);
    QVERIFY(scan.isRunning());
    QVERIFY(finished.wait(20000));
    QTest::qWait(50);
    QCOMPARE(finished.size(), 1);
    QVERIFY(!scan.isRunning());
    QCOMPARE(got, this->scan(a) + this->scan(b) + this->scan(a));
    QVERIFY(batches >= 1);

    // It can be used again after it finished.
    got.clear();
    scan.start(b);
    QVERIFY(finished.wait(20000));
    QCOMPARE(got, this->scan(b));
  }

  void destroyingMidScanStopsTheWorker() {
    QTemporaryDir tmp;
    QStringList names;
    for (int d = 0; d < 100; ++d) names.append(QStringLiteral("d%1/f.avi").arg(d));
    QVERIFY(makeFiles(tmp.path(), names));
    QElapsedTimer t;
    t.start();
    {
      FolderScan scan;
      for (int i = 0; i < 50; ++i) scan.start(tmp.path());
    }
    QVERIFY(t.elapsed() < 5000);
  }
};

QTEST_GUILESS_MAIN(TestFileSearch)
#include "test_filesearch.moc"
