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
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include "filelist/dirlisting.h"
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

  // The walk sorts a folder on its own (keys upper-cased once per name); it
  // must come to the order above, also for names beyond ASCII, names equal
  // but for case, and a name that is the start of another. Files and
  // folders alike.
  void walkListsInTheSameOrder() {
    QTemporaryDir tmp;
    const QString r = tmp.path();
    const QStringList names{QStringLiteral("\u00e9t\u00e9"), QStringLiteral("_x"),   QStringLiteral("b.avi"),
                            QStringLiteral("clip.avi"),      QStringLiteral("a.avi"), QStringLiteral("9"),
                            QStringLiteral("\u00c9t\u00e9"), QStringLiteral("A.avi"), QStringLiteral("clip"),
                            QStringLiteral("Z"),             QStringLiteral("10"),    QStringLiteral("\u00c9T\u00c9")};
    QStringList sorted = names;
    std::sort(sorted.begin(), sorted.end(),
              [](const QString& a, const QString& b) { return FileSearch::nameLess(a, b); });
    QCOMPARE(sorted.mid(0, 5), QStringList({"10", "9", "A.avi", "a.avi", "b.avi"}));
    QCOMPARE(sorted.mid(9), QStringList({QStringLiteral("\u00c9T\u00c9"), QStringLiteral("\u00c9t\u00e9"),
                                         QStringLiteral("\u00e9t\u00e9")}));

    QStringList files, folders;
    for (const QString& n : names) {
      files.append(QStringLiteral("f/") + n);
      folders.append(QStringLiteral("d/") + n + QStringLiteral("/x"));
    }
    QVERIFY(makeFiles(r, files + folders));
    QCOMPARE(scan(r + QStringLiteral("/f")), under(r + QStringLiteral("/f"), sorted));
    QStringList inFolders;
    for (const QString& n : sorted) inFolders.append(n + QStringLiteral("/x"));
    QCOMPARE(scan(r + QStringLiteral("/d")), under(r + QStringLiteral("/d"), inFolders));
  }

#ifdef Q_OS_UNIX
  // Names are bytes on Linux: UTF-8 ones come out whole (also after an
  // ASCII start), a byte sequence that is not UTF-8 becomes U+FFFD, and
  // neither upsets the entries around it.
  void namesThatAreNotAscii() {
    QTemporaryDir tmp;
    const QByteArray r = QFile::encodeName(tmp.path());
    const char* names[] = {"clip\xe8\xa7\x86\xe9\xa2\x91.avi", "bad\xff\xfe.avi", "a.avi", "\xe8\xa7\x86.avi"};
    for (const char* name : names) {
      const int fd = ::open((r + '/' + name).constData(), O_CREAT | O_WRONLY, 0600);
      QVERIFY(fd >= 0);
      ::close(fd);
    }
    const QStringList found = scan(tmp.path());
    // QTemporaryDir cannot remove a name it cannot spell.
    for (const char* name : names) ::unlink((r + '/' + name).constData());
    QCOMPARE(found, under(tmp.path(), {"a.avi", QStringLiteral("bad\ufffd\ufffd.avi"),
                                       QStringLiteral("clip\u89c6\u9891.avi"), QStringLiteral("\u89c6.avi")}));
  }

  // Some file systems report no type in their listings (DT_UNKNOWN): the
  // file system is asked then, without following links first.
  void entryKindWhenTheListingDoesNotSay() {
    QTemporaryDir tmp;
    const QString r = tmp.path();
    QVERIFY(makeFiles(r, {"file.avi", "folder/"}));
    QVERIFY(QFile::link(r + QStringLiteral("/folder"), r + QStringLiteral("/to-folder")));
    QVERIFY(QFile::link(r + QStringLiteral("/file.avi"), r + QStringLiteral("/to-file")));
    QVERIFY(QFile::link(r + QStringLiteral("/gone"), r + QStringLiteral("/dangling")));
    const int fd = ::open(QFile::encodeName(r).constData(), O_RDONLY | O_DIRECTORY);
    QVERIFY(fd >= 0);
    using DirListing::Kind;
    const struct {
      const char* name;
      unsigned char type;
      Kind kind;
    } cases[] = {
        {"file.avi", DT_UNKNOWN, Kind::File},     {"folder", DT_UNKNOWN, Kind::Folder},
        {"to-folder", DT_UNKNOWN, Kind::LinkToFolder}, {"to-file", DT_UNKNOWN, Kind::File},
        {"dangling", DT_UNKNOWN, Kind::File},     {"vanished", DT_UNKNOWN, Kind::File},
        {"to-folder", DT_LNK, Kind::LinkToFolder}, {"dangling", DT_LNK, Kind::File},
        {"folder", DT_DIR, Kind::Folder},          {"file.avi", DT_REG, Kind::File},
    };
    for (const auto& c : cases)
      QVERIFY2(DirListing::kindOf(fd, c.name, c.type) == c.kind, c.name);
    ::close(fd);
  }
#endif

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
