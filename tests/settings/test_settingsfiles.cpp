// The settings files' field reader, conversions and file handling, and the
// single-copy lock.
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QtTest>

#include "settings/core/settingsfiles.h"
#include "settings/core/singlecopy.h"

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

using namespace SettingsFiles;
using OptInt = std::optional<int>;
using OptLong = std::optional<qint64>;
Q_DECLARE_METATYPE(OptInt)
Q_DECLARE_METATYPE(OptLong)

namespace {
QByteArray fileBytes(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}
void putFile(const QString& path, const QByteArray& data) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly));
  f.write(data);
}
}  // namespace

class TestSettingsFiles : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void readFields_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("quoted CRLF lines") << "\"13\"\r\n\"1\"\r\n" << QStringList{"13", "1"};
    QTest::newRow("comma inside quotes") << "\"/a,b\"\r\n\"7\"" << QStringList{"/a,b", "7"};
    QTest::newRow("bare fields split at commas") << "1,2\r\n3" << QStringList{"1", "2", "3"};
    QTest::newRow("blanks around bare fields") << "  a \t, b\r\n" << QStringList{"a", "b"};
    QTest::newRow("blanks inside quotes kept") << "  \" a \"\r\n" << QStringList{" a "};
    QTest::newRow("text after closing quote dropped") << "\"x\"junk,\"y\"" << QStringList{"x", "y"};
    QTest::newRow("quoted field over a line end") << "\"two\r\nlines\"\r\n5"
                                                   << QStringList{"two\r\nlines", "5"};
    QTest::newRow("LF and lone CR") << "1\n2\r3" << QStringList{"1", "2", "3"};
    QTest::newRow("empty lines are empty fields") << "\r\n\"\"\r\n" << QStringList{"", ""};
    QTest::newRow("empty text") << "" << QStringList{};
    QTest::newRow("unmatched quote ends the list") << "7\r\n\"open\r\n8\r\n" << QStringList{"7"};
  }
  void readFields() {
    QFETCH(QString, text);
    QFETCH(QStringList, fields);
    QCOMPARE(SettingsFiles::readFields(text), fields);
  }

  void toInteger_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<OptInt>("value");
    QTest::newRow("digits") << "12" << OptInt(12);
    QTest::newRow("blanks and minus") << " -1 " << OptInt(-1);
    QTest::newRow("plus") << "+7" << OptInt(7);
    QTest::newRow("fraction rounds") << "2.6" << OptInt(3);
    QTest::newRow("half to even") << "2.5" << OptInt(2);
    QTest::newRow("empty") << "" << OptInt();
    QTest::newRow("word") << "abc" << OptInt();
    QTest::newRow("trailing text") << "3x" << OptInt();
    QTest::newRow("exponent") << "1e3" << OptInt();
    QTest::newRow("beyond int") << "99999999999" << OptInt();
    QTest::newRow("beyond double") << QString(400, QLatin1Char('9')) << OptInt();
  }
  void toInteger() {
    QFETCH(QString, field);
    QFETCH(OptInt, value);
    QCOMPARE(SettingsFiles::toInteger(field), value);
  }

  void leadingNumber_data() {
    QTest::addColumn<QString>("field");
    QTest::addColumn<OptLong>("value");
    QTest::newRow("number then text") << "12abc" << OptLong(12);
    QTest::newRow("no number") << "abc" << OptLong(0);
    QTest::newRow("empty") << "" << OptLong(0);
    QTest::newRow("lone minus") << "-" << OptLong(0);
    QTest::newRow("negative") << "-5" << OptLong(-5);
    QTest::newRow("leading blanks") << "  7" << OptLong(7);
    QTest::newRow("exponent") << "1.5e2" << OptLong(150);
    QTest::newRow("dangling exponent") << "4e" << OptLong(4);
    QTest::newRow("bare fraction") << ".6" << OptLong(1);
    QTest::newRow("above 16 bits") << "32768" << OptLong();
    QTest::newRow("below 16 bits") << "-32769" << OptLong();
    QTest::newRow("16-bit edge") << "-32768" << OptLong(-32768);
    QTest::newRow("beyond double") << "1e400" << OptLong();
  }
  void leadingNumber() {
    QFETCH(QString, field);
    QFETCH(OptLong, value);
    QCOMPARE(SettingsFiles::leadingNumber(field, -32768, 32767), value);
  }

  void setupFormat() {
    QCOMPARE(formatSetup(13, 1, 1, "/home/u/out,put/", 7),
             QByteArray("\"13\"\r\n\"1\"\r\n\"1\"\r\n\"/home/u/out,put/\"\r\n\"7\"\r\n"));
    QCOMPARE(formatSetup(-1, -1, 0, "", 0), QByteArray("\"-1\"\r\n\"-1\"\r\n\"0\"\r\n\"\"\r\n\"0\"\r\n"));
    // A quote in the folder would cut it short at the next start: stored empty.
    const SetupValues q = parseSetup(formatSetup(9, 2, 0, "/x/a\"b", 5));
    QCOMPARE(q.outputFolder, std::optional<QString>(QString()));
    QCOMPARE(q.format, OptInt(5));
  }

  void setupRoundTrip() {
    const QString folder = QStringLiteral("/home/用户/视频, 输出/");
    const SetupValues v = parseSetup(formatSetup(9, 7, 0, folder, 8));
    QCOMPARE(v.audioBitrate, OptInt(9));
    QCOMPARE(v.sampleRate, OptInt(7));
    QCOMPARE(v.channel, OptInt(0));
    QCOMPARE(v.outputFolder, std::optional<QString>(folder));
    QCOMPARE(v.format, OptInt(8));
  }

  void setupShortAndBadLines() {
    const SetupValues v = parseSetup("\"x\"\r\n\"4\"\r\n");
    QCOMPARE(v.audioBitrate, OptInt());
    QCOMPARE(v.sampleRate, OptInt(4));
    QVERIFY(!v.channel && !v.outputFolder && !v.format);
  }

  void optionsRoundTrip() {
    const OptionValues v{-1, 1, -90, 2147483647};
    QCOMPARE(formatOptions(v), QByteArray("-1\r\n1\r\n-90\r\n2147483647\r\n"));
    const OptionValues back = parseOptions(formatOptions(v), OptionValues{});
    QCOMPARE(back.soundSwitch, v.soundSwitch);
    QCOMPARE(back.cutterSwitch, v.cutterSwitch);
    QCOMPARE(back.cutStart, v.cutStart);
    QCOMPARE(back.cutEnd, v.cutEnd);
  }

  void optionsUnreadableLinesKeepValues() {
    const OptionValues before{3, 1, 40, 50};
    // Line 2 overflows 16 bits, line 3 overflows 32 bits, line 4 is missing.
    const OptionValues v = parseOptions("x\r\n70000\r\n9999999999\r\n", before);
    QCOMPARE(v.soundSwitch, qint16(0));  // no number: 0
    QCOMPARE(v.cutterSwitch, qint16(1));
    QCOMPARE(v.cutStart, 40);
    QCOMPARE(v.cutEnd, 50);
  }

  void confirmRule_data() {
    QTest::addColumn<int>("cutter");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("end");
    QTest::addColumn<bool>("kept");
    QTest::newRow("on with start") << 1 << 90 << 0 << true;
    QTest::newRow("on with end") << 1 << 0 << 5 << true;
    QTest::newRow("on without times") << 1 << 0 << 0 << false;
    QTest::newRow("off with times") << 0 << 90 << 120 << false;
    QTest::newRow("other switch value") << 2 << 90 << 120 << false;
  }
  void confirmRule() {
    QFETCH(int, cutter);
    QFETCH(int, start);
    QFETCH(int, end);
    QFETCH(bool, kept);
    const OptionValues v = confirmOptions({0, qint16(cutter), start, end}, -1);
    QCOMPARE(v.soundSwitch, qint16(-1));
    QCOMPARE(v.cutterSwitch, qint16(kept ? cutter : 0));
    QCOMPARE(v.cutStart, kept ? start : 0);
    QCOMPARE(v.cutEnd, kept ? end : 0);
  }

  void readFileLimits() {
    QTemporaryDir dir;
    QVERIFY(!readFile(dir.filePath("missing.ini")));
    QVERIFY(!readFile(dir.path()));  // a folder of that name
    // A 10 MB file: only whole lines of its beginning are read.
    QByteArray big = "\"9\"\r\n\"2\"\r\n";
    big += QByteArray(10 * 1024 * 1024, 'a');
    big += "\r\n\"5\"\r\n";
    putFile(dir.filePath("big.ini"), big);
    const auto data = readFile(dir.filePath("big.ini"));
    QVERIFY(data);
    QCOMPARE(*data, QByteArray("\"9\"\r\n\"2\"\r\n"));
#ifdef Q_OS_UNIX
    // A pipe of that name would block a read for ever.
    const QString fifo = dir.filePath("fifo.ini");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    QVERIFY(!readFile(fifo));
#endif
  }

  void writeFileReplacesWhole() {
    QTemporaryDir dir;
    const QString file = dir.filePath("setup.ini");
    putFile(file, QByteArray(1000, 'x'));
    QVERIFY(writeFile(file, "short\r\n"));
    QCOMPARE(fileBytes(file), QByteArray("short\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"setup.ini"});
    // A target that cannot be replaced fails and leaves nothing behind.
    QVERIFY(QDir(dir.path()).mkdir("options.ini"));
    QVERIFY(!writeFile(dir.filePath("options.ini"), "0\r\n"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"setup.ini"});
    QVERIFY(!writeFile(dir.filePath("no/such/folder/setup.ini"), "0\r\n"));
  }

  void lockRefusesSecondCopy() {
    QTemporaryDir dir;
    const QString path = dir.filePath("vantrel.lock");
    SingleCopyLock first(path);
    QVERIFY(first.acquire());
    SingleCopyLock second(path);
    QVERIFY(!second.acquire());
    QVERIFY(QFile::exists(path));  // the holder's lock stays
    // Even with its owner data unreadable, a held lock is not taken over.
    putFile(path, "");
    SingleCopyLock third(path);
    QVERIFY(!third.acquire());
  }

  void lockOfCrashedCopyTakenOver_data() {
    QTest::addColumn<bool>("deadOwner");
    QTest::newRow("owner process gone") << true;
    QTest::newRow("empty lock file") << false;
  }
  void lockOfCrashedCopyTakenOver() {
    QFETCH(bool, deadOwner);
    QTemporaryDir dir;
    const QString path = dir.filePath("vantrel.lock");
    QByteArray contents;
    if (deadOwner) {
      QProcess gone;
      gone.start(QStringLiteral("true"), {});
      QVERIFY(gone.waitForStarted());
      const qint64 pid = gone.processId();
      QVERIFY(gone.waitForFinished());
      contents = QByteArray::number(pid) + "\nvantrel\n" + QSysInfo::machineHostName().toUtf8() + "\n";
    }
    putFile(path, contents);
    SingleCopyLock lock(path);
    QVERIFY(lock.acquire());
    SingleCopyLock again(path);
    QVERIFY(!again.acquire());
  }

  void lockThatCannotBeMadeLetsProgramRun() {
    QTemporaryDir dir;
    putFile(dir.filePath("file"), "x");
    SingleCopyLock lock(dir.filePath("file/vantrel.lock"));
    QVERIFY(lock.acquire());
  }
};

QTEST_GUILESS_MAIN(TestSettingsFiles)
#include "test_settingsfiles.moc"
